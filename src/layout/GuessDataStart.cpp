#include "layout/GuessDataStart.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <span>
#include <vector>

namespace GuessDetail
{
namespace
{

// A window is rough when its roughness exceeds this many times the upper
// quartile of the middle of the file: header bytes jump about far more than
// voxels.
constexpr double RoughFactor = 4.0;
// The header runs to the last rough window while at least this share of the
// windows so far are rough (a rough window in the voxels is no header).
constexpr double RoughShare = 0.6;

} // namespace

DataStart findDataStart(Sampler& sampler, const Decoding& d)
{
    constexpr std::int64_t Window = 16; // voxels
    const std::int64_t windowBytes = Window * d.width;
    const std::int64_t size = sampler.size();
    // The roughness of a window: the median neighbour difference (an edge
    // between tissues moves it little, noise and header bytes do).
    const auto roughness = [&](std::span<const std::uint8_t> bytes, std::int64_t at, std::vector<double>& out) {
        const std::vector<double> v = decodeRun(bytes, at, d, bytes.size());
        std::vector<double> diffs;
        for (std::size_t w = 0; w + Window <= v.size(); w += Window) {
            diffs.clear();
            for (std::size_t i = w; i + 1 < w + Window; ++i)
                diffs.push_back(v[i] == v[i] && v[i + 1] == v[i + 1] ? std::fabs(v[i + 1] - v[i])
                                                                     : std::numeric_limits<double>::infinity());
            std::nth_element(diffs.begin(), diffs.begin() + static_cast<std::ptrdiff_t>(diffs.size() / 2), diffs.end());
            out.push_back(diffs[diffs.size() / 2]);
        }
    };
    std::vector<double> reference;
    const std::int64_t middle = size / 2 - size / 2 % 8;
    roughness(sampler.bytes(middle, 64 * windowBytes), middle, reference);
    const std::int64_t scan = std::min<std::int64_t>(size / 2, 8192 + 1024);
    std::vector<double> start;
    roughness(sampler.bytes(0, scan), 0, start);
    DataStart found;
    found.precision = windowBytes + d.width;
    if (reference.empty() || start.empty())
        return found;
    std::nth_element(reference.begin(), reference.begin() + static_cast<std::ptrdiff_t>(reference.size() * 3 / 4),
                     reference.end());
    const double typical = reference[reference.size() * 3 / 4];
    const auto rough = [&](double r) { return r > RoughFactor * typical && r > 0.0; };
    std::int64_t roughCount = 0;
    std::int64_t last = -1;
    for (std::size_t w = 0; w < start.size(); ++w) {
        if (rough(start[w])) {
            ++roughCount;
            if (static_cast<double>(roughCount) >= RoughShare * static_cast<double>(w + 1))
                last = static_cast<std::int64_t>(w);
        }
    }
    const std::int64_t phase = d.phase;
    if (last >= 0)
        found.offset = phase + (last + 1) * windowBytes;
    found.dataFromStart = last < 0 && start.size() >= 4 &&
                          std::all_of(start.begin(), start.begin() + 4, [](double r) { return r > 0.0; });
    return found;
}

} // namespace GuessDetail
