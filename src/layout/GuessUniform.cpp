#include "layout/GuessUniform.h"

#include "volume/VoxelType.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace GuessDetail
{
namespace
{

constexpr std::int64_t UniformHeadBytes = 65536; // of the head, these bytes are looked at besides the kept blocks
// A uniform reading's decoding score: fair for the roundest value, less
// for every further digit, and a little more for wider voxels (a pattern
// of four bytes is one voxel more often than two or four).
constexpr double UniformScore = 0.5;
constexpr double DigitShare = 0.9;
constexpr double NarrowerShare = 0.98;

} // namespace

int repeatPeriod(std::span<const std::uint8_t> bytes, std::int64_t at, std::array<std::uint8_t, 8>& pattern)
{
    for (const int period : {1, 2, 4, 8}) {
        const auto p = static_cast<std::size_t>(period);
        if (bytes.size() < 2 * p)
            return 0;
        bool same = true;
        for (std::size_t k = p; k < bytes.size() && same; ++k)
            same = bytes[k] == bytes[k - p];
        if (!same)
            continue;
        for (std::size_t k = 0; k < p; ++k)
            pattern[static_cast<std::size_t>((at + static_cast<std::int64_t>(k)) % period)] = bytes[k];
        for (std::size_t k = p; k < pattern.size(); ++k)
            pattern[k] = pattern[k % p];
        return period;
    }
    return 0;
}

std::array<std::int64_t, 2> squarestSlice(std::int64_t voxels)
{
    if (voxels < 4)
        return {0, 0};
    for (auto rows = static_cast<std::int64_t>(std::sqrt(static_cast<double>(voxels))) + 1; rows >= 2; --rows)
        if (rows * rows <= voxels && voxels % rows == 0)
            return {voxels / rows, rows};
    return {0, 0};
}

int significantDigits(double v, bool single)
{
    if (v == 0.0 || !std::isfinite(v))
        return 0;
    // The shortest %.*e that reads back as v.
    for (int digits = 1; digits <= 17; ++digits) {
        char text[40];
        std::snprintf(text, sizeof text, "%.*e", digits - 1, v);
        const double back = std::strtod(text, nullptr);
        if (back == v || (single && static_cast<float>(back) == static_cast<float>(v)))
            return digits;
    }
    return 17;
}

std::vector<UniformReading> uniformReadings(Sampler& sampler, std::size_t most)
{
    std::vector<UniformReading> out;
    const std::int64_t size = sampler.size();
    std::array<std::uint8_t, 8> pattern{};
    int period = repeatPeriod(sampler.head(std::min(size, UniformHeadBytes)), 0, pattern);
    if (period == 0)
        return out;
    // Every kept block repeats the same pattern in the same phase.
    for (const Block& b : sampler.blocks()) {
        std::array<std::uint8_t, 8> other{};
        const int p = repeatPeriod(b.data(), b.offset, other);
        if (p == 0 || other != pattern)
            return out;
        period = std::max(period, p);
    }
    for (const VoxelTypeInfo& info : VoxelTypes) {
        const int width = info.bytes;
        if (width % period != 0 || size % width != 0)
            continue;
        const std::array<std::int64_t, 2> slice = squarestSlice(size / width);
        if (slice[0] == 0)
            continue;
        for (const TByteOrder order : {boLittleEndian, boBigEndian}) {
            if (width == 1 && order == boBigEndian)
                continue;
            Decoding d;
            d.type = info.type;
            d.order = order;
            d.width = width;
            double value = 0.0;
            decodeInto(pattern.data(), 1, d, &value);
            if (!std::isfinite(value))
                continue;
            d.smooth = 1.0;
            d.score = UniformScore * std::pow(DigitShare, std::max(0, significantDigits(value, d.type == vdtFloat32) - 1)) *
                      std::pow(NarrowerShare, 8 / width - 1);
            out.push_back({d, slice});
        }
    }
    std::stable_sort(out.begin(), out.end(), [](const UniformReading& a, const UniformReading& b) {
        return a.decoding.score > b.decoding.score;
    });
    if (out.size() > most)
        out.resize(most);
    return out;
}

} // namespace GuessDetail
