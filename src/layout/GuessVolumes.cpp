#include "layout/GuessVolumes.h"

#include "layout/GuessPeriods.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <vector>

namespace GuessDetail
{
namespace
{

constexpr double MinVolumeEvidence = 0.5; // slices one volume apart must differ at most half as much as the slices half
                                          // and one and a half volumes apart
constexpr double NearlyAsClear = 0.85; // the share of the clearest volume's evidence that a shorter volume needs
constexpr double SharpEdge = 8.0; // a frame boundary this many times sharper than the typical change from row to row is
                                  // full evidence of frames
// Frames are told in slices of up to MaxFrameRows rows, FrameColumns of each
// read, each frame at least MinFrameRows rows.
constexpr std::int64_t MaxFrameRows = 4096;
constexpr std::int64_t FrameColumns = 64;
constexpr std::int64_t MinFrameRows = 8;

// Accumulates mean absolute differences of pairs of finite values.
struct DiffSum
{
    double sum = 0.0;
    std::int64_t count = 0;

    void add(double a, double b)
    {
        if (std::isfinite(a) && std::isfinite(b)) {
            sum += std::fabs(a - b);
            ++count;
        }
    }
    double mean() const { return count > 0 ? sum / static_cast<double>(count) : std::nan(""); }
};

} // namespace

std::int64_t detectVolumes(Sampler& sampler, const Decoding& d, const VolumeLayout& l, std::int64_t slices,
                           std::size_t maxCounts)
{
    if (slices < 4)
        return 1;
    const std::int64_t rowVoxels = l.dims[0];
    const std::int64_t rowBytes = rowVoxels * d.width;
    const std::int64_t window = std::min<std::int64_t>(rowVoxels, 128);
    std::map<std::int64_t, std::vector<double>> signatures;
    const auto signature = [&](std::int64_t z) -> const std::vector<double>& {
        auto it = signatures.find(z);
        if (it != signatures.end())
            return it->second;
        // The middle of the middle row of slice z.
        const std::int64_t at =
            l.headerBytes + (z * l.dims[1] + l.dims[1] / 2) * rowBytes + (rowVoxels - window) / 2 * d.width;
        const auto bytes = sampler.bytes(at, window * d.width);
        return signatures.emplace(z, decodeRun(bytes, at, d, static_cast<std::size_t>(window))).first->second;
    };
    // From every `every`-th of the sampled slices (the rest a second look
    // adds).
    const auto sliceDiff = [&](std::int64_t lag, std::int64_t every = 1) {
        constexpr std::int64_t Samples = 12;
        DiffSum sum;
        if (lag < 1 || lag >= slices)
            return std::nan("");
        for (std::int64_t s = 0; s < Samples; s += every) {
            // The same sampled slices for every lag (each a small read), the
            // pair's other slice after them where it fits, else before.
            std::int64_t z = s * slices / Samples;
            if (z + lag >= slices)
                z -= lag;
            if (z < 0)
                continue;
            // (A map: the first reference stays valid when the second is added.)
            const std::vector<double>& a = signature(z);
            const std::vector<double>& b = signature(z + lag);
            for (std::size_t i = 0; i < std::min(a.size(), b.size()); ++i)
                sum.add(a[i], b[i]);
        }
        return sum.count >= 8 ? sum.mean() : std::nan("");
    };

    // Volume counts that divide the slices, fewest first: time series and
    // diffusion series hold tens or hundreds of short volumes.
    std::vector<std::int64_t> counts;
    for (std::int64_t v = 2; v <= slices / 2 && counts.size() < maxCounts; ++v)
        if (slices % v == 0)
            counts.push_back(v);
    std::vector<std::pair<std::int64_t, double>> found; // volume count, evidence
    for (const std::int64_t v : counts) {
        const std::int64_t lag = slices / v;
        std::vector<double> diff(static_cast<std::size_t>(lag + lag / 2 + 1), std::nan(""));
        const std::int64_t half = (lag + 1) / 2;
        // Slices one volume apart that are no more alike than slices half a
        // volume apart show no volume: seen from half the samples first (a
        // volume boundary shows plainly), the rest and the third lag are not
        // read then.
        if (!(sliceDiff(lag, 2) < sliceDiff(half, 2)))
            continue;
        diff[static_cast<std::size_t>(lag)] = sliceDiff(lag);
        diff[static_cast<std::size_t>(half)] = sliceDiff(half);
        if (!(diff[static_cast<std::size_t>(lag)] < diff[static_cast<std::size_t>(half)]))
            continue;
        diff[static_cast<std::size_t>(lag + lag / 2)] = sliceDiff(lag + lag / 2);
        const double e = periodEvidence(
            [&](std::int64_t x) {
                return x >= 1 && x < static_cast<std::int64_t>(diff.size()) ? diff[static_cast<std::size_t>(x)] : std::nan("");
            },
            lag);
        if (std::isfinite(e) && e > MinVolumeEvidence)
            found.emplace_back(v, e);
    }
    // Slices repeat every volume and every few volumes alike: the shortest
    // volume that the clearest is a multiple of, nearly as clear, is the
    // volume.
    double bestEvidence = 0.0;
    std::int64_t clearest = 1;
    for (const auto& [v, e] : found)
        if (e > bestEvidence) {
            bestEvidence = e;
            clearest = v;
        }
    std::int64_t best = clearest;
    for (const auto& [v, e] : found)
        if (v % clearest == 0 && e >= NearlyAsClear * bestEvidence)
            best = std::max(best, v);
    return best;
}

std::vector<double> frameEdgeEvidence(Sampler& sampler, const Decoding& d, std::int64_t header, std::int64_t rowVoxels,
                                      std::int64_t rows, std::int64_t maxFrames)
{
    std::vector<double> evidence(static_cast<std::size_t>(std::max<std::int64_t>(maxFrames, 1) + 1), 0.0);
    if (rows < 2 * MinFrameRows || rows > MaxFrameRows)
        return evidence;
    const std::int64_t columns = std::min(rowVoxels, FrameColumns);
    const std::int64_t rowBytes = rowVoxels * d.width;
    // How much each row differs from the next, over a stretch of columns.
    std::vector<double> change(static_cast<std::size_t>(rows - 1), std::nan(""));
    std::vector<double> before, row;
    for (std::int64_t r = 0; r < rows; ++r) {
        const std::int64_t at = header + r * rowBytes + (rowVoxels - columns) / 2 * d.width;
        row = decodeRun(sampler.bytes(at, columns * d.width), at, d, static_cast<std::size_t>(columns));
        if (r > 0) {
            DiffSum sum;
            for (std::size_t i = 0; i < std::min(row.size(), before.size()); ++i)
                sum.add(before[i], row[i]);
            change[static_cast<std::size_t>(r - 1)] = sum.mean();
        }
        std::swap(before, row);
    }
    std::vector<double> sorted;
    for (const double c : change)
        if (std::isfinite(c))
            sorted.push_back(c);
    if (sorted.size() < 2 * MinFrameRows)
        return evidence;
    std::nth_element(sorted.begin(), sorted.begin() + static_cast<std::ptrdiff_t>(sorted.size() / 2), sorted.end());
    const double typical = sorted[sorted.size() / 2];
    for (std::int64_t frames = 2; frames <= maxFrames; ++frames) {
        if (rows % frames != 0 || rows / frames < MinFrameRows)
            continue;
        // Every boundary sharp, and no other change of rows nearly as sharp
        // as the weakest boundary (a volume's slices read as one slice have
        // a sharp edge at every slice).
        double weakest = std::numeric_limits<double>::infinity();
        for (std::int64_t f = 1; f < frames; ++f) {
            const double c = change[static_cast<std::size_t>(f * rows / frames - 1)];
            weakest = std::isfinite(c) ? std::min(weakest, c) : 0.0;
        }
        bool unique = true;
        for (std::size_t i = 0; i < change.size() && unique; ++i)
            if (static_cast<std::int64_t>(i + 1) % (rows / frames) != 0 && change[i] > weakest / 2)
                unique = false;
        if (!unique || !(weakest > 0.0))
            continue;
        // A boundary SharpEdge times the typical change counts fully; one
        // no sharper, not at all.
        const double sharpness = typical > 0.0 ? weakest / typical : SharpEdge;
        evidence[static_cast<std::size_t>(frames)] = clamp01((sharpness - 1.0) / (SharpEdge - 1.0));
    }
    return evidence;
}

} // namespace GuessDetail
