#pragma once

#include "layout/GuessDecode.h"
#include "layout/GuessSampler.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

// Data of one value repeated (a fill value, an empty image): no decoding,
// row or slice can be measured, so the simplest reading is listed: no
// header, voxels as wide as the bytes' period or wider, the reading of the
// roundest value (fill values are round: 0, 1000, 3e9, not -1294967296),
// one slice as square as the size allows, wider than tall.

namespace GuessDetail
{

struct UniformReading
{
    Decoding decoding; // phase 0; its score rises with the value's roundness
    std::array<std::int64_t, 2> slice{0, 0}; // row length, rows
};

// The shortest period (1, 2, 4 or 8 bytes) every byte of `bytes` repeats
// with, counted from file offset `at` with the given phase pattern; 0 when
// none. pattern: the period's bytes from a file offset of a multiple of it.
int repeatPeriod(std::span<const std::uint8_t> bytes, std::int64_t at, std::array<std::uint8_t, 8>& pattern);

// The factor pair rows x columns of voxels nearest square, columns >= rows,
// rows >= 2; {0, 0} when none (a prime count).
std::array<std::int64_t, 2> squarestSlice(std::int64_t voxels);

// Significant decimal digits of v as written shortest (3e9: 1, 0.1: 1,
// -1294967296: 10); 0 for zero. single: v is a Float-32 value, written as
// short as reads back as that float.
int significantDigits(double v, bool single = false);

// The readings of a file whose sampled bytes all repeat one pattern, best
// first, at most most; none when the bytes differ.
std::vector<UniformReading> uniformReadings(Sampler& sampler, std::size_t most);

} // namespace GuessDetail
