#pragma once

#include "volume/VoxelType.h"

#include <string>
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace GuessDetail
{

// Values beyond these magnitudes (and NaNs, infinities) are no plausible
// voxel values; they are what a float read in the wrong order looks like.
inline constexpr double MaxSaneMagnitude = 1e15;
inline constexpr double MinSaneMagnitude = 1e-15;

// A way to decode voxels: type, byte order, and the voxels' phase (the
// offset of every voxel modulo its width).
struct Decoding
{
    TVoxelDataType type = vdtByte;
    TByteOrder order = boLittleEndian;
    int width = 1;
    int phase = 0;
    double smooth = 0.0; // 0 (noise) .. 1 (neighbours equal)
    double score = 0.0; // smooth with sanity and preferences
    // Integers: every sampled value reads the same signed and unsigned (the
    // two readings are one answer).
    bool signAlike = false;

    bool bigEndian() const { return order == boBigEndian; }
    // Bytes to skip from file offset `at` to the next voxel start.
    std::int64_t skipFrom(std::int64_t at) const { return ((phase - at) % width + width) % width; }
    // The same bytes read with the other sign (the same width, order and
    // phase), for integer types.
    bool signTwinOf(const Decoding& o) const;
};

// The values of n voxels into out, NaN for a value no volume holds (see
// MaxSaneMagnitude): the voxels from p on, or the voxels at p + offsets[i]
// when offsets are given (nullptr: consecutive voxels).
void decodeAt(const std::uint8_t* p, const std::int64_t* offsets, std::size_t n, const Decoding& d, double* out);

inline void decodeInto(const std::uint8_t* p, std::size_t n, const Decoding& d, double* out)
{
    decodeAt(p, nullptr, n, d, out);
}

// The voxels of bytes that start at or after byte offset `at` of the file
// (bytes[0] lies at `at`), aligned to the decoding's phase, at most `limit`.
std::vector<double> decodeRun(std::span<const std::uint8_t> bytes, std::int64_t at, const Decoding& d,
                              std::size_t limit);

// v within 0 .. 1; 0 for a NaN.
inline double clamp01(double v)
{
    return std::isfinite(v) ? std::clamp(v, 0.0, 1.0) : 0.0;
}

// The words for d in a reason: "i16 big-endian", "u8".
std::string decodingWords(const Decoding& d);
// The name of the other-signed type of d's width ("u16" for i16).
std::string signTwinWords(const Decoding& d);

} // namespace GuessDetail
