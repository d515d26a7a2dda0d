#pragma once

#include "layout/GuessDecode.h"
#include "layout/GuessKernels.h"
#include "layout/GuessSampler.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <span>
#include <utility>
#include <vector>

// Steps 2 and 3 of the guess: voxels per row (the strongest period of the
// sampled values) and rows per slice (the strongest period of whole rows).
// Every statistic compares decoded values at a lag: neighbouring voxels,
// rows one row length apart and rows one slice apart are alike in real
// volumes, voxels at an unrelated lag are not. A lag L counts as a period
// when the values L apart differ much less than the values L/2 and 3L/2
// apart; that test prefers the fundamental period over its multiples (2L is
// alike but so is L) and its fractions (L/2 is not).

namespace GuessDetail
{

// Rows longer than this are not looked for in the bytes (only in the name).
inline constexpr std::int64_t MaxRowVoxels = 16384;
// Lags up to this are compared from every position of the coarse table;
// longer ones (long rows: camera frames, micro-CT) from every
// LongLagSparsity-th, which tells a period of such a length as well.
inline constexpr std::int64_t DenseCoarseLags = 4097;
inline constexpr std::int64_t LongLagSparsity = 4;
// Rows of one kept block that the slice test reads at most.
inline constexpr std::int64_t MaxBlockRows = 2048;
// Slices of more rows are not looked for in the bytes (only in the name).
inline constexpr std::int64_t MaxSliceRows = 1024;
// A period needs the values at its lag to differ at most this much, relative
// to the values at half and one and a half times the lag.
inline constexpr double MaxPeriodRatio = 0.75;
// Pairs of values a dense difference compares at most (per sampled part).
inline constexpr std::int64_t DensePositions = 2048;
// Against one reference lag only (the other not measured), the period test
// is weaker: its evidence counts this much.
inline constexpr double OneReferenceWeight = 0.85;

// Whole numbers of a magnitude below this have clipped differences below
// 2^33; the few hundred thousand pairs a dense mean adds then sum below
// 2^53, exactly, in whatever order they are added.
inline constexpr double ExactMagnitude = 4294967296.0; // 2^32
// Whether each of the n values is a whole number below ExactMagnitude in
// magnitude.
bool wholeNumbersBelowExactMagnitude(const double* v, std::int64_t n);
// Whether such whole numbers clipped at clip stay whole numbers.
bool clipKeepsWholeNumbers(double clip);

// Adds to sum the clipped differences min(|v[i] - v[i + lag]|, clip) of
// `pairs` pairs of values, i = start, start + step, ..., each weighted by
// w[i] * w[i + lag] (w nullptr: every weight 1), and to count the weights.
// exact: every value is a whole number and the clip keeps them so (see
// ExactMagnitude); the sums may then be added in any order. The sums are
// bit for bit those of adding one pair after another either way.
void addClippedPairs(bool exact, const double* v, const double* w, std::int64_t start, std::int64_t pairs,
                     std::int64_t step, std::int64_t lag, double clip, double& sum, double& count);

// The k-th smallest of values (counting from 0), the value std::nth_element
// selects, when every one is a whole number from 0 below SmallWholeLimit (the
// neighbour differences of most integer data): counted, not selected, and
// values left in their order. NaN when some value is not such a number or k
// is past the values.
inline constexpr std::size_t SmallWholeLimit = 4096;
double smallWholeQuantile(std::span<const double> values, std::size_t k);

// A robust scale of the differences: their upper quartile (edges between
// tissues are rare and huge; noise is everywhere and small). Differences are
// clipped at a few times this scale, so that a lag's mean difference tells
// how often values differ rather than by how much the rare edges do.
double clipLimit(std::span<double> diffs); // reorders diffs

// 1 - how much the values at lag L differ relative to the values at L/2 and
// 3L/2 (the period test), from a mean difference by lag (NaN where not
// measured). NaN when it cannot be told.
template<typename DiffAt>
double periodEvidence(const DiffAt& at, std::int64_t lag)
{
    const double d = at(lag);
    const double half = at((lag + 1) / 2 == lag ? lag - 1 : (lag + 1) / 2);
    const double threeHalves = at(lag + lag / 2);
    double reference = 0.0;
    int n = 0;
    for (const double r : {half, threeHalves}) {
        if (std::isfinite(r)) {
            reference += r;
            ++n;
        }
    }
    if (!std::isfinite(d) || n == 0 || reference <= 0.0)
        return std::nan("");
    return (1.0 - d / (reference / n)) * (n == 2 ? 1.0 : OneReferenceWeight);
}

// Mean (clipped) differences of values by lag: a coarse table from a few
// positions for every lag, and the dense mean from every position of the
// sample for the few lags that are tested closely.
struct LagDiffs
{
    std::vector<double> coarse; // index = lag; NaN where not measured
    std::function<double(std::int64_t)> measure; // the dense mean; NaN where not measured
    std::shared_ptr<std::map<std::int64_t, double>> known = std::make_shared<std::map<std::int64_t, double>>();

    double dense(std::int64_t lag) const
    {
        const auto it = known->find(lag);
        if (it != known->end())
            return it->second;
        return known->emplace(lag, measure(lag)).first->second;
    }

    double coarseAt(std::int64_t lag) const
    {
        return lag >= 1 && lag < static_cast<std::int64_t>(coarse.size()) ? coarse[static_cast<std::size_t>(lag)]
                                                                          : std::nan("");
    }
    double evidence(std::int64_t lag) const
    {
        return periodEvidence([this](std::int64_t l) { return dense(l); }, lag);
    }
};

// The lags (>= 2) that are the strongest periods with their evidence, best
// first, at most count of them (three times as many with close calls): the
// peaks of the coarse table, each moved to the least dense difference
// within a few lags. closeCall > 0 keeps lags whose evidence is within
// closeCall of a peak's.
std::vector<std::pair<std::int64_t, double>> strongestPeriods(const LagDiffs& diffs, std::size_t count,
                                                             double closeCall = 0.0);

// Room for voxelLagDiffs' and rowLagDiffs' work (doubles), taken once per
// guess (fresh memory is slow to touch; see BlockMemory).
inline constexpr std::int64_t LagPositions = 64; // per segment, for the coarse table
inline constexpr std::int64_t LagStride = 29;
inline constexpr std::int64_t LagSegments = 8;
// A segment holds the coarse table's positions and one and a half of the
// longest row after them; files too small for LagSegments such segments
// apart look for rows up to ShortRowVoxels only (in shorter segments).
inline constexpr std::int64_t ShortRowVoxels = DenseCoarseLags - 1;
inline constexpr std::int64_t SegmentVoxelsFor(std::int64_t rowVoxels)
{
    return LagPositions * LagStride + rowVoxels + 1 + rowVoxels / 2 + 1;
}
inline constexpr std::int64_t SegmentVoxels = SegmentVoxelsFor(MaxRowVoxels);
inline constexpr std::size_t LagScratchDoubles = static_cast<std::size_t>(3 * LagSegments * SegmentVoxels);
inline constexpr std::size_t RowScratchDoubles = static_cast<std::size_t>(2 * MaxBlockRows * RowColumns * 3);

// Step 2: differences of values by lag in voxels (1 .. 3/2 MaxRowVoxels + 1),
// from a few segments of the sample. scratch holds LagScratchDoubles and
// must outlive the result.
LagDiffs voxelLagDiffs(Sampler& sampler, const Decoding& d, double* scratch);

// Step 3: differences of whole rows of rowVoxels (a few columns of each) by
// lag in rows, from the kept blocks. scratch holds RowScratchDoubles and
// must outlive the result.
LagDiffs rowLagDiffs(const Sampler& sampler, const Decoding& d, std::int64_t rowVoxels, double* scratch);

} // namespace GuessDetail

namespace GuessDetail
{

// Slices taller than the kept blocks show (more than MaxSliceRows rows, up
// to MaxTallSliceRows): the heights that divide the file's rows of rowVoxels
// (after no header or a common one) into two or more slices, each with its
// period evidence from rows sampled sparsely over the file (a few voxels of
// each, read one and a half slices apart at most). Best first.
inline constexpr std::int64_t MaxTallSliceRows = 16384;
std::vector<std::pair<std::int64_t, double>> tallSlicePeriods(Sampler& sampler, const Decoding& d,
                                                              std::int64_t rowVoxels);

} // namespace GuessDetail
