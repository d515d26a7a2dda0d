#pragma once

// The scalar pixel rule and the voxel loads shared by the renderer's loops
// (plain, AVX2 and AVX-512): every vector loop falls back to these for its
// tail and for the rare values it cannot prove.

#include "volume/GreyKernels.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

namespace GreyKernels::Rule
{

// The smallest double whose rounding to a float overflows: FLT_MAX plus half
// a unit in its last place (2^128 - 2^103).
inline constexpr double FloatOverflow = 0x1.ffffffp127;
// Adding and taking away 2^23 rounds a float in 0..2^23 to an integer,
// halves to the even neighbour, under the default rounding mode.
inline constexpr float RoundToEven = 8388608.0f;

inline std::uint16_t load16(const std::uint8_t* p, bool bigEndian)
{
    std::uint16_t v;
    std::memcpy(&v, p, sizeof v);
    return bigEndian ? __builtin_bswap16(v) : v;
}

inline std::uint32_t load32(const std::uint8_t* p, bool bigEndian)
{
    std::uint32_t v;
    std::memcpy(&v, p, sizeof v);
    return bigEndian ? __builtin_bswap32(v) : v;
}

// The scalar pixel rule for one value, taken as the double v (a float, an
// integer's nearest float or a Float-64 voxel); red reports NaN and overflow.
inline std::uint8_t greyOfValue(double v, Window w, std::uint8_t& red)
{
    const double t = (v - w.lo) * w.scale;
    const bool overflows = !(std::fabs(t) < FloatOverflow);
    const bool finite = std::fabs(v) <= std::numeric_limits<double>::max();
    red = (v != v) | (overflows & finite);
    // A NaN falls to 0 here; the caller paints it red.
    const double clamped = t >= 0.0 ? (t <= 255.0 ? t : 255.0) : 0.0;
    const float rounded = (static_cast<float>(clamped) + RoundToEven) - RoundToEven;
    return static_cast<std::uint8_t>(static_cast<std::int32_t>(rounded));
}

inline std::uint8_t greyOf(float v, Window w, std::uint8_t& red)
{
    return greyOfValue(static_cast<double>(v), w, red);
}

// The nearest float of a Float-64 value as the observed range records it.
inline float nearestFloat(double v)
{
    if (std::fabs(v) >= FloatOverflow)
        return v > 0 ? std::numeric_limits<float>::infinity() : -std::numeric_limits<float>::infinity();
    return static_cast<float>(v);
}

// The pixel of value v: red (255, 0, 0) or (g, g, g).
inline void storeRuled(std::uint8_t* out, double v, Window w)
{
    std::uint8_t red;
    const std::uint8_t g = greyOfValue(v, w, red);
    out[0] = red ? 255 : g;
    out[1] = red ? 0 : g;
    out[2] = red ? 0 : g;
}

inline void storePixel(std::uint8_t* out, std::uint8_t g)
{
    out[0] = g;
    out[1] = g;
    out[2] = g;
}

// Folds v into mn and mx as "if v < mn then mn := v" meets it.
template <typename T>
inline void meet(T v, T& mn, T& mx)
{
    mn = v < mn ? v : mn;
    mx = v > mx ? v : mx;
}

} // namespace GreyKernels::Rule
