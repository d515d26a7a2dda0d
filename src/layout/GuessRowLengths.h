#pragma once

#include "layout/GuessPeriods.h"

#include <cstdint>
#include <utility>
#include <vector>

// Row lengths tried beside the strongest periods of the voxels: lengths a
// long row repeats almost as well at, and shorter rows a long period may be
// several of. Each with its evidence from the voxels' lag differences.

namespace GuessDetail
{

using RowLengths = std::vector<std::pair<std::int64_t, double>>; // length in voxels, evidence

// Lengths near each found one that divide the voxels of a file of size bytes
// (voxels of width bytes), after a common header or none.
void addDividingRowLengths(RowLengths& rows, const RowLengths& found, const LagDiffs& diff, int width,
                           std::int64_t size);

// Clear periods that divide a found one: near a whole share of one longer
// than ShortRowVoxels, exactly of a shorter one (see addRowOfPeriod).
void addShorterRows(RowLengths& rows, const RowLengths& found, const LagDiffs& diff);

// length with its evidence, unless listed or below 1.
void addRowLength(RowLengths& list, const LagDiffs& diff, std::int64_t length);

} // namespace GuessDetail
