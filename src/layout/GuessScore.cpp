#include "layout/GuessScore.h"

#include "layout/GuessDecode.h"

#include <cmath>
#include <algorithm>
#include <cstdlib>
#include <iterator>

namespace GuessDetail
{
namespace
{

// Header fits: none is the most common; the usual sizes nearly as common;
// any other small header plausible; a large one rare.
constexpr double NoHeaderFit = 1.0;
constexpr double CommonHeaderFit = 0.98;
constexpr double SmallHeaderFit = 0.9;
constexpr double LargeHeaderFit = 0.6;
constexpr std::int64_t SmallHeaderBytes = 65536;
constexpr double StartsElsewhere = 0.85; // the bytes say the voxels start elsewhere (a rough run ends away from h)
constexpr double VoxelsFromStart = 0.9; // the first bytes look like voxels already, yet the header is not empty
// The name states another type / byte order: names are hints, not rules.
constexpr double NameTypeDiffers = 0.85;
constexpr double NameOrderDiffers = 0.9;

} // namespace

bool nameMatches(const NameHints& hints, const VolumeLayout& l)
{
    for (const NameHints::Dims& t : hints.triples)
        if (t.dims == l.dims && t.volumes == l.volumes)
            return true;
    for (const NameHints::Dims& t : hints.triples)
        if (t.volumes == 1 && l.volumes > 1 && t.dims[0] == l.dims[0] && t.dims[1] == l.dims[1] &&
            t.dims[2] == l.dims[2] * l.volumes)
            return false;
    for (const auto& p : hints.pairs)
        if (p[0] == l.dims[0] && p[1] == l.dims[1])
            return true;
    return false;
}

double nameEvidence(const NameHints& hints, bool match)
{
    if (!hints.triples.empty() || !hints.pairs.empty())
        return match ? NameAgrees : NameDisagrees;
    return NameSilent;
}

double headerFit(std::int64_t h, const DataStart& start)
{
    const auto usual = [](std::int64_t bytes) {
        return std::find(std::begin(CommonHeaders), std::end(CommonHeaders), bytes) != std::end(CommonHeaders);
    };
    const bool common = usual(h) || (start.origin > 0 && usual(start.origin + h));
    // A header of any length fits where the voxels seem to start.
    const bool seen = start.offset > 0 && (std::llabs(h - start.offset) <= start.precision ||
                                           std::llabs(h - start.afterPadding) <= start.precision);
    double fit = h == 0                            ? NoHeaderFit
                 : common                          ? CommonHeaderFit
                 : h <= SmallHeaderBytes || seen   ? SmallHeaderFit
                                                   : LargeHeaderFit;
    if (start.offset > 0 && !seen)
        fit *= StartsElsewhere;
    if (start.offset == 0 && h > 0 && start.dataFromStart)
        fit *= VoxelsFromStart;
    return fit;
}

double candidateScore(const Evidence& e, double fit, const NameHints& hints, const VolumeLayout& l, bool multiByte)
{
    double weighted = 0.0;
    for (const WeightedPart& w : EvidenceWeights)
        weighted += w.weight * (e.*w.part);
    double v = fit * weighted * e.statedType;
    if (hints.dataType && *hints.dataType != l.dataType)
        v *= NameTypeDiffers;
    if (hints.byteOrder && multiByte && *hints.byteOrder != l.byteOrder)
        v *= NameOrderDiffers;
    return clamp01(v);
}

constexpr double PlainSliceAspect = 4.0; // a single slice's plain shape (see singleSliceShape)

double singleSliceShape(std::int64_t width, std::int64_t height)
{
    const double aspect = static_cast<double>(std::max(width, height)) / static_cast<double>(std::min(width, height));
    return aspect <= PlainSliceAspect ? 1.0 : std::sqrt(PlainSliceAspect / aspect);
}

} // namespace GuessDetail
