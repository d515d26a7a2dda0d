#include "layout/GuessRowLengths.h"

#include "layout/GuessScore.h"

#include <algorithm>
#include <cmath>

namespace GuessDetail
{
namespace
{

// A long period is looked at as up to MaxRowsInPeriod rows of a shorter
// one with at least this evidence.
constexpr std::int64_t MaxRowsInPeriod = 16;
constexpr double ClearShorterRow = 0.35;
constexpr std::int64_t MinRowOfPeriod = 3; // shorter periods are pairs of values (complex numbers, vectors)
constexpr std::int64_t MinRowsOfPeriod = 8; // see addRowOfPeriod
constexpr std::int64_t LongRowSlack = 512; // row lengths within the found length / LongRowSlack of it are tried
                                           // where they divide the file's voxels

// A period that is a whole number of rows (at least MinRowsOfPeriod) of a
// shorter clear period is a slice or a volume whose slices are alike (those
// of many short volumes are), not a row; a row of periodic content repeats
// only a few times. The shortest clear period that divides it exactly is
// tried as the row, with the evidence of the period it divides (the
// rows of one slice may differ more than the slices do).
void addRowOfPeriod(RowLengths& rows, std::int64_t length, double evidence, const LagDiffs& diff)
{
    for (std::int64_t row = MinRowOfPeriod; MinRowsOfPeriod * row <= length; ++row) {
        if (length % row != 0)
            continue;
        const double e = diff.evidence(row);
        if (!(std::isfinite(e) && e >= ClearShorterRow))
            continue;
        const auto listed = std::find_if(rows.begin(), rows.end(), [&](const auto& r) { return r.first == row; });
        if (listed == rows.end())
            rows.emplace_back(row, std::max(e, evidence));
        else
            listed->second = std::max(listed->second, evidence);
        return;
    }
}

} // namespace

// A long row repeats almost as well several voxels beside its length
// (the values change little along a few voxels of a long row), more
// than the round lengths above cover: lengths near it that divide the
// voxels of the file, with a common header or none, are tried too.
void addDividingRowLengths(RowLengths& rows, const RowLengths& found, const LagDiffs& diff, int width,
                           std::int64_t size)
{
    for (const auto& [length, evidence] : found) {
        const std::int64_t near = std::max<std::int64_t>(3, length / LongRowSlack);
        if (near <= 3)
            continue;
        for (std::int64_t q = length - near; q <= length + near; ++q)
            for (const std::int64_t h : CommonHeaders)
                if (q > 1 && q != length && size > h && (size - h) % (q * width) == 0) {
                    addRowLength(rows, diff, q);
                    break;
                }
    }
}

// A period longer than the first look's rows may be a few rows of a
// smooth slice (the rows half way are shifted, so the period test
// favours the multiple): a divisor of it that is a clear period itself
// is tried as the row.
void addShorterRows(RowLengths& rows, const RowLengths& found, const LagDiffs& diff)
{
    for (const auto& [length, evidence] : found) {
        if (length <= ShortRowVoxels) {
            addRowOfPeriod(rows, length, evidence, diff);
            continue;
        }
        for (std::int64_t times = 2; times <= MaxRowsInPeriod; ++times) {
            const std::int64_t near = length / times;
            std::int64_t best = 0;
            double bestEvidence = std::max(0.5 * evidence, ClearShorterRow);
            for (std::int64_t r = near - 2; r <= near + 2; ++r) {
                const double e = diff.evidence(r);
                if (std::isfinite(e) && e >= bestEvidence) {
                    bestEvidence = e;
                    best = r;
                }
            }
            if (best > 0)
                addRowLength(rows, diff, best);
        }
    }
}

void addRowLength(RowLengths& list, const LagDiffs& diff, std::int64_t length)
{
    if (length < 1)
        return;
    for (const auto& [l, e] : list)
        if (l == length)
            return;
    list.emplace_back(length, diff.evidence(length));
}

} // namespace GuessDetail
