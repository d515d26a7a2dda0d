#pragma once

// Generated test volumes for the layout guesser: a head-like phantom (skull
// shell, brain with a smooth gradient, two dark ventricles, a bright spot)
// with noise, written in any voxel type and byte order behind any header.

#include "layout/VolumeLayout.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

namespace phantom
{

struct Spec
{
    VolumeLayout layout;
    bool nanBackground = false; // floats: the left edge of every slice is NaN
    std::uint32_t seed = 1;
};

// Value range of the phantom in each type: signed types go below zero,
// unsigned ones above the signed maximum (the brain's gradient crosses it),
// so each type reads differently.
struct Range
{
    double offset, scale;
};

inline Range rangeOf(TVoxelDataType type)
{
    switch (type) {
    case vdtByte: return {0.0, 240.0};
    case vdtInt8: return {-100.0, 200.0};
    case vdtInt16: return {-1000.0, 4000.0};
    case vdtUInt16: return {10000.0, 50000.0};
    case vdtInt32: return {-100000.0, 400000.0};
    case vdtUInt32: return {2.0e8, 3.6e9};
    case vdtFloat32: return {-100.0, 1000.0};
    case vdtFloat64: return {0.0, 1.0};
    }
    return {0.0, 1.0};
}

struct Ellipsoid
{
    double cx, cy, cz, rx, ry, rz;
    double at(double x, double y, double z) const
    {
        const double dx = (x - cx) / rx, dy = (y - cy) / ry, dz = (z - cz) / rz;
        return dx * dx + dy * dy + dz * dz;
    }
};

// Phantom intensity 0..1 along one row (fixed y, z; x from -1 to 1), the
// y and z parts of every ellipsoid worked out once per row; `second` adds a
// lesion.
class PhantomRow
{
public:
    PhantomRow(double y, double z, bool second) : m_y(y), m_z(z), m_second(second)
    {
        for (std::size_t e = 0; e < Shapes.size(); ++e) {
            const double dy = (y - Shapes[e].cy) / Shapes[e].ry;
            const double dz = (z - Shapes[e].cz) / Shapes[e].rz;
            m_yz[e] = dy * dy + dz * dz;
        }
    }

    double at(double x) const
    {
        if (!inside(Head, x))
            return 0.02;
        if (!inside(Brain, x))
            return 1.0;
        if (inside(Spot, x))
            return 0.9;
        if (m_second && inside(Lesion, x))
            return 0.75;
        if (inside(VentricleL, x) || inside(VentricleR, x))
            return 0.15;
        return 0.45 + 0.1 * m_y + 0.05 * m_z;
    }

private:
    enum Shape : std::size_t { Head, Brain, VentricleL, VentricleR, Spot, Lesion };
    static constexpr std::array<Ellipsoid, 6> Shapes{{
        {0.0, 0.05, 0.0, 0.80, 0.88, 0.95},
        {0.0, 0.07, 0.0, 0.70, 0.78, 0.85},
        {-0.17, 0.0, 0.10, 0.09, 0.26, 0.32},
        {0.19, 0.02, 0.12, 0.10, 0.24, 0.30},
        {0.42, 0.30, -0.30, 0.10, 0.10, 0.15},
        {-0.40, -0.20, -0.10, 0.15, 0.12, 0.25},
    }};

    bool inside(Shape e, double x) const
    {
        if (m_yz[e] > 1.0)
            return false;
        const double dx = (x - Shapes[e].cx) / Shapes[e].rx;
        return dx * dx + m_yz[e] <= 1.0;
    }

    double m_y, m_z;
    bool m_second;
    std::array<double, 6> m_yz{};
};

inline void store(std::uint8_t* p, double v, TVoxelDataType type, bool big)
{
    std::uint64_t bits = 0;
    const int bytes = voxelTypeInfo(type)->bytes;
    const auto clampRound = [&](double lo, double hi) { return std::nearbyint(std::clamp(v, lo, hi)); };
    switch (type) {
    case vdtByte: bits = static_cast<std::uint8_t>(clampRound(0, 255)); break;
    case vdtInt8: bits = static_cast<std::uint8_t>(static_cast<std::int8_t>(clampRound(-128, 127))); break;
    case vdtInt16: bits = static_cast<std::uint16_t>(static_cast<std::int16_t>(clampRound(-32768, 32767))); break;
    case vdtUInt16: bits = static_cast<std::uint16_t>(clampRound(0, 65535)); break;
    case vdtInt32: bits = static_cast<std::uint32_t>(static_cast<std::int32_t>(clampRound(-2147483648.0, 2147483647.0))); break;
    case vdtUInt32: bits = static_cast<std::uint32_t>(clampRound(0, 4294967295.0)); break;
    case vdtFloat32: bits = std::bit_cast<std::uint32_t>(static_cast<float>(v)); break;
    case vdtFloat64: bits = std::bit_cast<std::uint64_t>(v); break;
    }
    for (int i = 0; i < bytes; ++i) {
        const int shift = 8 * (big ? bytes - 1 - i : i);
        p[i] = static_cast<std::uint8_t>(bits >> shift);
    }
}

// The file: header bytes (a short text and random bytes), then the voxels.
inline std::vector<std::uint8_t> make(const Spec& spec)
{
    const VolumeLayout& l = spec.layout;
    const int bytes = voxelTypeInfo(l.dataType)->bytes;
    const bool big = l.byteOrder == boBigEndian;
    std::vector<std::uint8_t> file(static_cast<std::size_t>(l.headerBytes + layoutDataBytes(l)));
    std::mt19937 header(spec.seed);
    for (std::int64_t i = 0; i < l.headerBytes; ++i)
        file[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(header());
    constexpr char Text[] = "PHANTOM VOLUME";
    std::memcpy(file.data(), Text, static_cast<std::size_t>(std::min<std::int64_t>(l.headerBytes, sizeof Text - 1)));

    const Range range = rangeOf(l.dataType);
    // Noise of standard deviation 0.01: the sum of two uniform numbers
    // (triangular), from a xorshift generator (cheap in unoptimised builds).
    std::uint64_t state = 0x9E3779B97F4A7C15ull ^ spec.seed;
    const auto uniform = [&state] {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return static_cast<double>(state >> 11) * 0x1.0p-53;
    };
    const auto noise = [&] { return (uniform() + uniform() - 1.0) * 0.0245; };
    const auto [d0, d1, d2] = l.dims;
    std::uint8_t* p = file.data() + l.headerBytes;
    for (std::int64_t v = 0; v < l.volumes; ++v)
        for (std::int64_t k = 0; k < d2; ++k)
            for (std::int64_t j = 0; j < d1; ++j) {
                const double y = (j + 0.5) / static_cast<double>(d1) * 2.0 - 1.0;
                const double z = d2 == 1 ? 0.1 : (k + 0.5) / static_cast<double>(d2) * 2.0 - 1.0;
                const PhantomRow row(y, z, v > 0);
                for (std::int64_t i = 0; i < d0; ++i, p += bytes) {
                    const double x = (i + 0.5) / static_cast<double>(d0) * 2.0 - 1.0;
                    double value = range.offset + range.scale * (row.at(x) + noise());
                    if (spec.nanBackground && x < -0.85)
                        value = std::nan("");
                    store(p, value, l.dataType, big);
                }
            }
    return file;
}

} // namespace phantom
