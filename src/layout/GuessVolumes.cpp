#include "layout/GuessVolumes.h"

#include "layout/GuessPeriods.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <unordered_map>
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
// Slices within a volume read as one tall slice (see slicesWithinVolume):
// a slice this many times taller than wide is tall; the slices proposed
// inside are at most this far from square either way, at least this many
// rows; a height further from square than the nearest takes this share of
// its evidence.
constexpr double TallSliceAspect = 2.0;
constexpr double NearSquareAspect = 2.0;
constexpr std::int64_t MinVolumeSliceRows = 4;
constexpr double FartherHeightShare = 0.9;
constexpr double MinSliceSupport = 0.2; // how plainly the rows must show a height (see slicesWithinVolume)
constexpr double SharpBetween = 2.0; // edges this many times sharper than the typical row change between a
                                     // height's edges make it a multiple of a shorter height
constexpr double MultipleRankShare = 0.5; // ... which it then follows, ranked at this share of its support

constexpr std::int64_t EdgeVolumes = 8; // volumes whose rows tell the slice edges within them

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
    // add(a[i], b[i]) for every i of both, in order.
    void addPairs(std::span<const double> a, std::span<const double> b);
    double mean() const { return count > 0 ? sum / static_cast<double>(count) : std::nan(""); }
};

// (Out of line, with the running sum in a local: kept in a register, not
// stored and loaded again for every pair; the same sum, to the bit.)
__attribute__((noinline)) void DiffSum::addPairs(std::span<const double> a, std::span<const double> b)
{
    const std::size_t n = std::min(a.size(), b.size());
    double s = sum;
    std::int64_t c = count;
    for (std::size_t i = 0; i < n; ++i) {
        const double x = a[i];
        const double y = b[i];
        const bool both = std::isfinite(x) && std::isfinite(y);
        s += both ? std::fabs(x - y) : 0.0;
        c += both ? 1 : 0;
    }
    sum = s;
    count = c;
}

// How much more the rows change at the edges of slices of h rows than
// anywhere in the volume (rowChange: see volumeRowChange), at the phase
// where they change most (a header may shift the edges): 0 unmeasured.
double edgeSharpness(std::span<const double> rowChange, std::int64_t h)
{
    const auto n = static_cast<std::int64_t>(rowChange.size());
    double all = 0.0;
    std::int64_t measured = 0;
    for (const double c : rowChange)
        if (std::isfinite(c)) {
            all += c;
            ++measured;
        }
    if (measured == 0 || !(all > 0.0) || h < 1 || n % h != 0)
        return 0.0;
    const double typical = all / static_cast<double>(measured);
    double sharpest = 0.0;
    for (std::int64_t phase = 0; phase < h; ++phase) {
        DiffSum edges;
        for (std::int64_t r = phase; r < n; r += h)
            if (std::isfinite(rowChange[static_cast<std::size_t>(r)]))
                edges.add(rowChange[static_cast<std::size_t>(r)], 0.0);
        if (edges.count > 0)
            sharpest = std::max(sharpest, edges.mean() / typical);
    }
    return sharpest;
}

// The period evidence of h in the change of the rows through the volume,
// read round (the last row's change is followed by the first's): NaN-free,
// 0 where it cannot be told.
double repeatingChange(std::span<const double> rowChange, std::int64_t h)
{
    const auto n = static_cast<std::int64_t>(rowChange.size());
    if (h < 2 || n < 2 * h)
        return 0.0;
    const auto diffAt = [&](std::int64_t lag) {
        DiffSum sum;
        for (std::int64_t r = 0; r < n; ++r)
            sum.add(rowChange[static_cast<std::size_t>(r)], rowChange[static_cast<std::size_t>((r + lag) % n)]);
        return sum.mean();
    };
    const double e = periodEvidence(diffAt, h);
    return std::isfinite(e) ? clamp01(e) : 0.0;
}

} // namespace

std::vector<std::pair<std::int64_t, double>> volumeCountEvidence(Sampler& sampler, const Decoding& d, const VolumeLayout& l,
                                                                 std::int64_t slices, std::size_t maxCounts)
{
    const std::int64_t rowVoxels = l.dims[0];
    const std::int64_t rowBytes = rowVoxels * d.width;
    const std::int64_t window = std::min<std::int64_t>(rowVoxels, 128);
    // (Elements of an unordered_map stay where they are when others are
    // added: the first reference of a pair stays valid.)
    std::unordered_map<std::int64_t, std::vector<double>> signatures;
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
    // adds). Each lag is measured once: half a volume of one count is the
    // volume of the count twice as large.
    std::vector<std::pair<std::pair<std::int64_t, std::int64_t>, double>> measured; // (lag, every), mean difference
    const auto sliceDiff = [&](std::int64_t lag, std::int64_t every = 1) {
        constexpr std::int64_t Samples = 12;
        if (lag < 1 || lag >= slices)
            return std::nan("");
        const std::pair<std::int64_t, std::int64_t> key{lag, every};
        for (const auto& [k, mean] : measured)
            if (k == key)
                return mean;
        DiffSum sum;
        for (std::int64_t s = 0; s < Samples; s += every) {
            // The same sampled slices for every lag (each a small read), the
            // pair's other slice after them where it fits, else before.
            std::int64_t z = s * slices / Samples;
            if (z + lag >= slices)
                z -= lag;
            if (z < 0)
                continue;
            const std::vector<double>& a = signature(z);
            const std::vector<double>& b = signature(z + lag);
            sum.addPairs(a, b);
        }
        const double mean = sum.count >= 8 ? sum.mean() : std::nan("");
        measured.emplace_back(key, mean);
        return mean;
    };

    // Volume counts that divide the slices, fewest first: time series and
    // diffusion series hold tens or hundreds of short volumes.
    std::vector<std::int64_t> counts;
    for (std::int64_t v = 2; v <= slices / 2 && counts.size() < maxCounts; ++v)
        if (slices % v == 0)
            counts.push_back(v);
    std::vector<std::pair<std::int64_t, double>> evidence; // volume count, evidence
    for (const std::int64_t v : counts) {
        const std::int64_t lag = slices / v;
        const std::int64_t half = (lag + 1) / 2;
        const std::int64_t threeHalves = lag + lag / 2;
        evidence.emplace_back(v, std::nan(""));
        // Slices one volume apart that are no more alike than slices half a
        // volume apart show no volume: seen from half the samples first (a
        // volume boundary shows plainly), the rest and the third lag are not
        // read then.
        if (!(sliceDiff(lag, 2) < sliceDiff(half, 2)))
            continue;
        const double atLag = sliceDiff(lag);
        const double atHalf = sliceDiff(half);
        if (!(atLag < atHalf))
            continue;
        const double atThreeHalves = sliceDiff(threeHalves);
        // (lag >= 2: the three lags differ.)
        evidence.back().second = periodEvidence(
            [&](std::int64_t x) {
                return x == lag ? atLag : x == half ? atHalf : x == threeHalves ? atThreeHalves : std::nan("");
            },
            lag);
    }
    return evidence;
}

std::int64_t detectVolumes(Sampler& sampler, const Decoding& d, const VolumeLayout& l, std::int64_t slices,
                           std::size_t maxCounts)
{
    if (slices < 4)
        return 1;
    std::vector<std::pair<std::int64_t, double>> found; // volume count, evidence
    for (const auto& [v, e] : volumeCountEvidence(sampler, d, l, slices, maxCounts))
        if (std::isfinite(e) && e > MinVolumeEvidence)
            found.emplace_back(v, e);
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

bool mayBeVolume(std::int64_t rowVoxels, std::int64_t volumeRows, double volumeEvidence)
{
    return volumeEvidence >= MinVolumeEvidence && rowVoxels >= 1 &&
           static_cast<double>(volumeRows) >= TallSliceAspect * static_cast<double>(rowVoxels);
}

std::vector<double> volumeRowChange(Sampler& sampler, const Decoding& d, std::int64_t rowVoxels, std::int64_t volumeRows)
{
    const std::int64_t rowBytes = rowVoxels * d.width;
    const std::int64_t volumeBytes = rowBytes * volumeRows;
    const std::int64_t volumes = (sampler.size() - d.phase) / std::max<std::int64_t>(1, volumeBytes);
    if (volumes < 2 || volumeRows > MaxVolumeEdgeRows)
        return {};
    const std::int64_t columns = std::min(rowVoxels, FrameColumns);
    const std::int64_t looked =
        std::min({volumes - 1, EdgeVolumes, std::max<std::int64_t>(1, VolumeEdgeRowBudget / volumeRows)});
    std::vector<DiffSum> sums(static_cast<std::size_t>(volumeRows));
    std::vector<double> before, row;
    for (std::int64_t k = 0; k < looked; ++k) {
        const std::int64_t first = d.phase + k * (volumes - 1) / looked * volumeBytes;
        // The volume's rows and the next volume's first.
        for (std::int64_t r = 0; r <= volumeRows; ++r) {
            const std::int64_t at = first + r * rowBytes + (rowVoxels - columns) / 2 * d.width;
            row = decodeRun(sampler.bytes(at, columns * d.width), at, d, static_cast<std::size_t>(columns));
            if (r > 0)
                for (std::size_t i = 0; i < std::min(row.size(), before.size()); ++i)
                    sums[static_cast<std::size_t>(r - 1)].add(before[i], row[i]);
            std::swap(before, row);
        }
    }
    std::vector<double> change;
    for (const DiffSum& s : sums)
        change.push_back(s.mean());
    return change;
}

VolumeSlices slicesWithinVolume(std::int64_t rowVoxels, std::int64_t volumeRows, double volumeEvidence,
                                std::span<const double> rowChange)
{
    VolumeSlices out;
    if (!mayBeVolume(rowVoxels, volumeRows, volumeEvidence))
        return out;
    // How far a slice of h rows is from square (1 = square).
    const auto aspect = [&](std::int64_t h) {
        return static_cast<double>(std::max(h, rowVoxels)) / static_cast<double>(std::min(h, rowVoxels));
    };
    std::vector<std::int64_t> heights;
    for (std::int64_t h = MinVolumeSliceRows; h <= volumeRows / 2; ++h)
        if (volumeRows % h == 0 && aspect(h) <= NearSquareAspect)
            heights.push_back(h);
    // Only heights the rows show: sharp edges, or a change of the rows
    // that repeats slice after slice (each slice's empty rim and busy
    // middle); the best shown first, then the nearest square, and of two as
    // near, the wider (images are more often wide than tall).
    std::map<std::int64_t, double> sharpness, support;
    for (const std::int64_t h : heights) {
        sharpness[h] = edgeSharpness(rowChange, h);
        support[h] = std::max(clamp01((sharpness[h] - 1.0) / (SharpEdge - 1.0)), repeatingChange(rowChange, h));
    }
    std::erase_if(heights, [&](std::int64_t h) { return !(support[h] >= MinSliceSupport); });
    // Slices taken two or three at a time have every second or third edge
    // of the slices, and by chance these may be sharper than the rest: a
    // height is a shorter one's slices taken together, and follows it,
    // where the shorter one's edges between its own are sharp too. (The
    // edges of the shorter height are the taller's and those between.)
    std::map<std::int64_t, double> rank = support;
    for (const std::int64_t h : heights)
        for (const std::int64_t shorter : heights) {
            if (shorter >= h || h % shorter != 0)
                continue;
            const double times = static_cast<double>(h / shorter);
            const double between = (times * sharpness[shorter] - sharpness[h]) / (times - 1.0);
            if (between >= SharpBetween)
                rank[h] = std::min(rank[h], MultipleRankShare * support[shorter]);
        }
    std::stable_sort(heights.begin(), heights.end(), [&](std::int64_t a, std::int64_t b) {
        if (rank[a] != rank[b])
            return rank[a] > rank[b];
        return aspect(a) < aspect(b) || (aspect(a) == aspect(b) && a < b);
    });
    if (heights.size() > MaxVolumeSliceHeights)
        heights.resize(MaxVolumeSliceHeights);
    for (std::size_t i = 0; i < heights.size(); ++i)
        out.heights.push_back({heights[i], volumeRows / heights[i], volumeEvidence * (i == 0 ? 1.0 : FartherHeightShare)});
    // The tall reading loses as a single slice of that shape would (see
    // singleSliceShape), from twice as tall as wide on.
    if (!out.heights.empty())
        out.tallFactor = std::sqrt(TallSliceAspect / aspect(volumeRows));
    return out;
}

} // namespace GuessDetail

