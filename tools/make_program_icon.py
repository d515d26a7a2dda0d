#!/usr/bin/env python3
"""Draws the About box picture: a grey brain slice with a large blue question mark.

The slice is the middle slice of the unsigned 8-bit sample volume that the
build generates (tools/make_samples.cpp: 256 x 256 x 64 voxels), scaled down
to 72 x 72 pixels with its orientation marker left out; the question mark is
drawn over it with antialiased edges. The result is a 24-bit PNG written with
the standard library only. --size draws the same picture at another size (the
desktop icons: 48, 128 and 256 pixels, see data/icons/).

    tools/make_program_icon.py [--sample head_256x256x64_u8.raw] [--size N] [output.png]

Without --sample the first build/*/samples/head_256x256x64_u8.raw is used
(build the `samples` target first); the default output is
src/app/images/ProgramIcon.png.
"""

import argparse
import glob
import math
import os
import struct
import zlib

SIZE = 72
SAMPLE_NAME = "head_256x256x64_u8.raw"
SAMPLE_DIMS = (256, 256, 64)  # voxels per row, rows per slice, slices
SUPERSAMPLE = 4

BLUE = (20, 70, 235)
OUTLINE = (0, 20, 90)


def grey_slice(sample_path, size=SIZE):
    d0, d1, d2 = SAMPLE_DIMS
    with open(sample_path, "rb") as f:
        f.seek(d0 * d1 * (d2 // 2))
        plane = f.read(d0 * d1)
    if len(plane) != d0 * d1:
        raise SystemExit(f"{sample_path}: too short for {d0} x {d1} x {d2} voxels")
    pixels = []
    for row in range(size):
        line = []
        for col in range(size):
            total = 0
            for sy in range(SUPERSAMPLE):
                for sx in range(SUPERSAMPLE):
                    i = int((col + (sx + 0.5) / SUPERSAMPLE) * d0 / size)
                    j = int((row + (sy + 0.5) / SUPERSAMPLE) * d1 / size)
                    # The orientation marker in the top-left corner is left out.
                    total += 0 if (i < d0 // 8 and j < d1 // 8) else plane[j * d0 + i]
            line.append(round(total / SUPERSAMPLE ** 2))
        pixels.append(line)
    return pixels


def segment_distance(p, a, b):
    ax, ay = a
    bx, by = b
    px, py = p
    vx, vy = bx - ax, by - ay
    t = max(0.0, min(1.0, ((px - ax) * vx + (py - ay) * vy) / (vx * vx + vy * vy)))
    return math.hypot(px - ax - t * vx, py - ay - t * vy)


def question_mark_distance(p):
    """Distance from p to the centre line of the question mark's stroke."""
    cx, cy, r = 36.0, 24.0, 13.0
    start, end = math.radians(165), math.radians(420)
    # The hook: an arc from the left over the top and down to the lower right.
    phi = math.atan2(p[1] - cy, p[0] - cx)
    while phi < start:
        phi += 2 * math.pi
    if phi <= end:
        hook = abs(math.hypot(p[0] - cx, p[1] - cy) - r)
    else:
        ends = [(cx + r * math.cos(a), cy + r * math.sin(a)) for a in (start, end)]
        hook = min(math.hypot(p[0] - e[0], p[1] - e[1]) for e in ends)
    tail = (cx + r * math.cos(end), cy + r * math.sin(end))
    knee = (36.0, 41.0)
    stem = min(segment_distance(p, tail, knee), segment_distance(p, knee, (36.0, 46.0)))
    return min(hook, stem)


def coverage(distance, half_width):
    return max(0.0, min(1.0, half_width + 0.5 - distance))


def icon(sample_path, size=SIZE):
    # The question mark is laid out on the 72-pixel grid; other sizes scale
    # it, the edges staying one output pixel soft.
    scale = size / SIZE
    grey = grey_slice(sample_path, size)
    rows = []
    for row in range(size):
        line = []
        for col in range(size):
            p = ((col + 0.5) / scale, (row + 0.5) / scale)
            stroke = question_mark_distance(p) * scale
            dot = math.hypot(p[0] - 36.0, p[1] - 57.0) * scale
            fill = max(coverage(stroke, 4.5 * scale), coverage(dot, 5.5 * scale))
            edge = max(coverage(stroke, 5.7 * scale), coverage(dot, 6.7 * scale))
            g = grey[row][col]
            pixel = tuple(g + (o - g) * edge for o in OUTLINE)
            pixel = tuple(round(q + (b - q) * fill) for q, b in zip(pixel, BLUE))
            line.append(pixel)
        rows.append(line)
    return rows


def png_bytes(rows):
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    raw = b"".join(b"\x00" + bytes(c for pixel in line for c in pixel) for line in rows)
    header = struct.pack(">IIBBBBB", len(rows[0]), len(rows), 8, 2, 0, 0, 0)  # 8 bits per channel, RGB
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b"")


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    parser = argparse.ArgumentParser(description="Draws the About box picture.")
    parser.add_argument("--sample", help="the generated " + SAMPLE_NAME)
    parser.add_argument("--size", type=int, default=SIZE, help="width and height in pixels (default 72)")
    parser.add_argument("output", nargs="?", default=os.path.join(root, "src", "app", "images", "ProgramIcon.png"))
    args = parser.parse_args()
    sample = args.sample
    if sample is None:
        found = sorted(glob.glob(os.path.join(root, "build", "*", "samples", SAMPLE_NAME)))
        if not found:
            raise SystemExit("no " + SAMPLE_NAME + " found; build the samples target or pass --sample")
        sample = found[0]
    with open(args.output, "wb") as out:
        out.write(png_bytes(icon(sample, args.size)))
    print(args.output)


if __name__ == "__main__":
    main()
