#include "volume/GreyKernels.h"

#include <bit>
#include <cmath>
#include <cstring>
#include <limits>

// Each kernel is built twice, for AVX2 and for the baseline, and the loader
// picks the one the processor runs. Same arithmetic, same results: only the
// vector width differs.
#if defined(__x86_64__) && defined(__GNUC__)
#define KELVOX_VECTOR_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define KELVOX_VECTOR_CLONES
#endif

namespace GreyKernels
{
namespace
{

// The smallest double whose rounding to a float overflows: FLT_MAX plus half
// a unit in its last place (2^128 - 2^103).
constexpr double FloatOverflow = 0x1.ffffffp127;
// Adding and taking away 2^23 rounds a float in 0..2^23 to an integer,
// halves to the even neighbour, under the default rounding mode.
constexpr float RoundToEven = 8388608.0f;

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

// t rounded to a float, held to 0..255 (a NaN to 0), rounded half to even.
inline std::uint8_t greyOf(double t)
{
    const double clamped = t >= 0.0 ? (t <= 255.0 ? t : 255.0) : 0.0;
    const float rounded = (static_cast<float>(clamped) + RoundToEven) - RoundToEven;
    return static_cast<std::uint8_t>(static_cast<std::int32_t>(rounded));
}

template <bool Big>
inline void int32Run(const std::uint8_t* __restrict src, std::size_t n, Window w, std::uint8_t* __restrict grey)
{
    for (std::size_t i = 0; i < n; ++i) {
        const auto v = static_cast<float>(static_cast<std::int32_t>(load32(src + 4 * i, Big)));
        grey[i] = greyOf((static_cast<double>(v) - w.lo) * w.scale);
    }
}

template <bool Big>
inline bool float32Run(const std::uint8_t* __restrict src, std::size_t n, Window w, std::uint8_t* __restrict grey,
                       std::uint8_t* __restrict red)
{
    std::uint8_t anyRed = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const float v = std::bit_cast<float>(load32(src + 4 * i, Big));
        const double t = (static_cast<double>(v) - w.lo) * w.scale;
        const bool overflows = !(std::fabs(t) < FloatOverflow);
        const bool finite = std::fabs(v) <= std::numeric_limits<float>::max();
        const std::uint8_t isRed = (v != v) | (overflows & finite);
        grey[i] = greyOf(t);
        red[i] = isRed;
        anyRed |= isRed;
    }
    return anyRed != 0;
}

} // namespace

KELVOX_VECTOR_CLONES
void fromTable8(const std::uint8_t* __restrict src, std::size_t n, const std::uint8_t* __restrict table,
                std::uint8_t* __restrict grey)
{
    for (std::size_t i = 0; i < n; ++i)
        grey[i] = table[src[i]];
}

KELVOX_VECTOR_CLONES
void fromTable16(const std::uint8_t* __restrict src, std::size_t n, bool bigEndian,
                 const std::uint8_t* __restrict table, std::int32_t base, std::uint8_t* __restrict grey)
{
    if (bigEndian) {
        for (std::size_t i = 0; i < n; ++i)
            grey[i] = table[static_cast<std::int16_t>(load16(src + 2 * i, true)) - base];
    } else {
        for (std::size_t i = 0; i < n; ++i)
            grey[i] = table[static_cast<std::int16_t>(load16(src + 2 * i, false)) - base];
    }
}

KELVOX_VECTOR_CLONES
void fromInt32(const std::uint8_t* src, std::size_t n, bool bigEndian, Window window, std::uint8_t* grey)
{
    if (bigEndian)
        int32Run<true>(src, n, window, grey);
    else
        int32Run<false>(src, n, window, grey);
}

KELVOX_VECTOR_CLONES
bool fromFloat32(const std::uint8_t* src, std::size_t n, bool bigEndian, Window window, std::uint8_t* grey,
                 std::uint8_t* red)
{
    return bigEndian ? float32Run<true>(src, n, window, grey, red) : float32Run<false>(src, n, window, grey, red);
}

KELVOX_VECTOR_CLONES
void expandGrey(const std::uint8_t* __restrict grey, std::size_t n, std::uint8_t* __restrict dst)
{
    for (std::size_t i = 0; i < n; ++i) {
        dst[3 * i] = grey[i];
        dst[3 * i + 1] = grey[i];
        dst[3 * i + 2] = grey[i];
    }
}

KELVOX_VECTOR_CLONES
void rangeInt16(const std::uint8_t* src, std::size_t n, bool bigEndian, std::int16_t& mn, std::int16_t& mx)
{
    std::int16_t lo = mn, hi = mx;
    for (std::size_t i = 0; i < n; ++i) {
        const auto v = static_cast<std::int16_t>(load16(src + 2 * i, bigEndian));
        lo = v < lo ? v : lo;
        hi = v > hi ? v : hi;
    }
    mn = lo;
    mx = hi;
}

KELVOX_VECTOR_CLONES
void rangeInt32(const std::uint8_t* src, std::size_t n, bool bigEndian, std::int32_t& mn, std::int32_t& mx)
{
    std::int32_t lo = mn, hi = mx;
    for (std::size_t i = 0; i < n; ++i) {
        const auto v = static_cast<std::int32_t>(load32(src + 4 * i, bigEndian));
        lo = v < lo ? v : lo;
        hi = v > hi ? v : hi;
    }
    mn = lo;
    mx = hi;
}

} // namespace GreyKernels
