#!/usr/bin/env python3
"""Draws the About box picture: a grey brain slice with a large blue question mark.

The slice is the middle axial slice of the head-like ellipsoid phantom the
sample volumes are made of (skull, brain, ventricles and a few small
structures), windowed to grey levels. The result is a 72 x 72 pixel, 24-bit
PNG written with the standard library only.

    tools/make_program_icon.py [output.png]   (default: src/app/images/ProgramIcon.png)
"""

import math
import os
import struct
import sys
import zlib

SIZE = 72
SUPERSAMPLE = 4

# Ellipsoids: value, centre (x, y, z), semi-axes (a, b, c), rotation about z in
# degrees. Values add up where ellipsoids overlap; coordinates span -1 .. 1.
PHANTOM = [
    (1.0, (0.0, 0.0, 0.0), (0.69, 0.92, 0.81), 0),
    (-0.8, (0.0, -0.0184, 0.0), (0.6624, 0.874, 0.78), 0),
    (-0.2, (0.22, 0.0, 0.0), (0.11, 0.31, 0.22), -18),
    (-0.2, (-0.22, 0.0, 0.0), (0.16, 0.41, 0.28), 18),
    (0.1, (0.0, 0.35, 0.0), (0.21, 0.25, 0.41), 0),
    (0.1, (0.0, 0.1, 0.0), (0.046, 0.046, 0.05), 0),
    (0.1, (0.0, -0.1, 0.0), (0.046, 0.046, 0.05), 0),
    (0.1, (-0.08, -0.605, 0.0), (0.046, 0.023, 0.05), 0),
    (0.1, (0.0, -0.605, 0.0), (0.023, 0.023, 0.02), 0),
    (0.1, (0.06, -0.605, 0.0), (0.023, 0.046, 0.02), 0),
]

# Grey window over the phantom's values: brain tissue mid grey, skull white.
WINDOW_LOW, WINDOW_HIGH = 0.0, 0.5

BLUE = (20, 70, 235)
OUTLINE = (0, 20, 90)


def phantom_value(x, y, z=0.0):
    total = 0.0
    for value, (cx, cy, cz), (a, b, c), degrees in PHANTOM:
        t = math.radians(degrees)
        dx, dy, dz = x - cx, y - cy, z - cz
        u = dx * math.cos(t) + dy * math.sin(t)
        v = -dx * math.sin(t) + dy * math.cos(t)
        if (u / a) ** 2 + (v / b) ** 2 + (dz / c) ** 2 <= 1.0:
            total += value
    return total


def grey_slice():
    pixels = []
    for row in range(SIZE):
        line = []
        for col in range(SIZE):
            acc = 0.0
            for sy in range(SUPERSAMPLE):
                for sx in range(SUPERSAMPLE):
                    # Screen rows run downward, phantom y upward; a small margin.
                    x = ((col + (sx + 0.5) / SUPERSAMPLE) / SIZE * 2.0 - 1.0) * 1.02
                    y = -((row + (sy + 0.5) / SUPERSAMPLE) / SIZE * 2.0 - 1.0) * 1.02
                    acc += phantom_value(x, y)
            mean = acc / SUPERSAMPLE ** 2
            level = (mean - WINDOW_LOW) / (WINDOW_HIGH - WINDOW_LOW)
            line.append(round(255 * min(1.0, max(0.0, level))))
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


def icon():
    grey = grey_slice()
    rows = []
    for row in range(SIZE):
        line = []
        for col in range(SIZE):
            p = (col + 0.5, row + 0.5)
            stroke = question_mark_distance(p)
            dot = math.hypot(p[0] - 36.0, p[1] - 57.0)
            fill = max(coverage(stroke, 4.5), coverage(dot, 5.5))
            edge = max(coverage(stroke, 5.7), coverage(dot, 6.7))
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
    header = struct.pack(">IIBBBBB", SIZE, SIZE, 8, 2, 0, 0, 0)  # 8 bits per channel, RGB
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b"")


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    target = sys.argv[1] if len(sys.argv) > 1 else os.path.join(root, "src", "app", "images", "ProgramIcon.png")
    with open(target, "wb") as out:
        out.write(png_bytes(icon()))
    print(target)


if __name__ == "__main__":
    main()
