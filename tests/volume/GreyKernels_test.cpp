// The renderer's direct pixel loops and the pixel widening, against the
// pixel rule written out plainly, with each set of loops forced in turn:
// plain, AVX2 and AVX-512 (those the processor lacks are skipped).

#include "volume/GreyKernels.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <ostream>
#include <tuple>
#include <type_traits>
#include <vector>

namespace GreyKernels
{
// The loops by name in the parameters of the tests.
void PrintTo(VectorUnits units, std::ostream* os)
{
    *os << (units == VectorUnits::Plain ? "plain" : (units == VectorUnits::Avx2 ? "AVX2" : "AVX-512"));
}
} // namespace GreyKernels

namespace
{

constexpr std::int32_t IntMin = std::numeric_limits<std::int32_t>::min();
constexpr std::int32_t IntMax = std::numeric_limits<std::int32_t>::max();

GreyKernels::Window windowOf(std::int32_t intensityMin, std::int32_t intensityMax)
{
    float span = static_cast<float>(static_cast<std::int64_t>(intensityMax) - intensityMin);
    if (span == 0.0f)
        span = 1.0f;
    return {static_cast<float>(intensityMin), static_cast<double>(255.0f / span)};
}

// The rule for an integer value: double product rounded to a float, held
// to 0..255, rounded to the nearest integer with halves to even.
std::uint8_t ruleGrey(std::int32_t value, GreyKernels::Window w)
{
    const auto t = static_cast<float>((static_cast<double>(static_cast<float>(value)) - w.lo) * w.scale);
    const float held = t > 255.0f ? 255.0f : (t < 0.0f ? 0.0f : t);
    return static_cast<std::uint8_t>(std::nearbyint(held));
}

// Windows near the edges of the single-precision route (low ends about 2^23
// and 2^24 away from the values) as well as ordinary, inverted and empty ones.
const std::pair<std::int32_t, std::int32_t> Windows[]{
    {0, 255},          {0, 510},          {255, 0},           {10, 10},
    {-1000, 3000},     {300, -300},       {IntMin, IntMax},   {IntMax, IntMin},
    {8355840, 8356000}, {8355841, 8355842}, {8388608, 8388700}, {8388609, 8388300},
    {-16744449, -16744000}, {-16744450, 0}, {-16776961, 0},      {-16776962, 5},
    {-16777216, 16777216}, {-8388608, -8388000},
    // One wide, as far below the 16-bit values as the direct route goes:
    // their t reaches 2^32, beyond a 32-bit integer.
    {-16744449, -16744448}, {-16711681, -16711680},
    // From 0 and wide: every t of an Int-32 within 2^29.
    {0, 4000}, {0, -100000},
    // Narrow and fractional scales for the bytes' fixed-point form.
    {3, 7}, {-50, 200}, {0, 1000}, {17, 300}, {200, 199}, {0, 256},
    // Inverted windows 2^24 wide put those far values mid-grey, where being
    // one off in v - lo moves an edge between two grey levels.
    {8355840, -8421376},   {8355841, -8421375}, {8388608, -8388608}, {8388609, -8388607},
};

using GreyKernels::VectorUnits;
constexpr VectorUnits EveryUnits[]{VectorUnits::Plain, VectorUnits::Avx2, VectorUnits::Avx512};

// Tests whose parameter names the loops (alone or last in a tuple) run with
// those loops forced, and are skipped where the processor lacks them.
template <class Param>
class ForcedUnits : public ::testing::TestWithParam<Param>
{
protected:
    void SetUp() override
    {
        VectorUnits units;
        if constexpr (std::is_same_v<Param, VectorUnits>)
            units = this->GetParam();
        else
            units = std::get<std::tuple_size_v<Param> - 1>(this->GetParam());
        if (GreyKernels::useVectorUnits(units) != units)
            GTEST_SKIP() << "these vector units are missing here";
    }
    void TearDown() override { GreyKernels::useVectorUnits(true); }
};

class DirectPixels : public ForcedUnits<std::tuple<std::pair<std::int32_t, std::int32_t>, VectorUnits>>
{
};

TEST_P(DirectPixels, BytesMatchTheRuleAndTheirRange)
{
    const auto [window, vector] = GetParam();
    GreyKernels::useVectorUnits(vector);
    const GreyKernels::Window w = windowOf(window.first, window.second);
    // Every byte value, in a run whose length leaves a tail after the
    // 32-voxel steps; the range misses 0 and 255 on purpose.
    std::vector<std::uint8_t> bytes;
    for (int i = 0; i < 301; ++i)
        bytes.push_back(static_cast<std::uint8_t>(1 + (i * 7) % 254));
    for (int v = 0; v < 256; ++v)
        bytes.push_back(static_cast<std::uint8_t>(v));
    std::vector<std::uint8_t> pixels(3 * bytes.size() + 1, 0xEE);
    std::uint8_t mn = 200, mx = 100;
    GreyKernels::pixelsFromUInt8(bytes.data(), 301, w, pixels.data(), &mn, &mx);
    EXPECT_EQ(mn, 1);
    EXPECT_EQ(mx, 254);
    GreyKernels::pixelsFromUInt8(bytes.data() + 301, 256, w, pixels.data() + 3 * 301);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const std::uint8_t g = ruleGrey(bytes[i], w);
        ASSERT_EQ(pixels[3 * i], g) << "byte " << int(bytes[i]) << " window " << window.first;
        ASSERT_EQ(pixels[3 * i + 1], g);
        ASSERT_EQ(pixels[3 * i + 2], g);
    }
    EXPECT_EQ(pixels.back(), 0xEE) << "written past the run";
}

TEST_P(DirectPixels, Int16InBothByteOrdersMatchTheRuleAndTheirRange)
{
    const auto [window, vector] = GetParam();
    GreyKernels::useVectorUnits(vector);
    const GreyKernels::Window w = windowOf(window.first, window.second);
    std::vector<std::int16_t> values;
    for (int v = -32768; v <= 32767; ++v)
        values.push_back(static_cast<std::int16_t>(v));
    values.push_back(5); // 65537 values: a tail after the 32-voxel steps
    for (const bool big : {false, true}) {
        std::vector<std::uint8_t> raw(2 * values.size());
        for (std::size_t i = 0; i < values.size(); ++i) {
            const auto u = static_cast<std::uint16_t>(values[i]);
            raw[2 * i + (big ? 1 : 0)] = static_cast<std::uint8_t>(u & 0xFF);
            raw[2 * i + (big ? 0 : 1)] = static_cast<std::uint8_t>(u >> 8);
        }
        std::vector<std::uint8_t> pixels(3 * values.size() + 1, 0xEE);
        std::int16_t mn = 0, mx = 0;
        // The inner part first, so that the range is folded, not replaced.
        GreyKernels::pixelsFromInt16(raw.data() + 2 * 1000, 100, big, w, pixels.data() + 3 * 1000, &mn, &mx);
        EXPECT_EQ(mn, -31768);
        EXPECT_EQ(mx, 0);
        GreyKernels::pixelsFromInt16(raw.data(), values.size(), big, w, pixels.data(), &mn, &mx);
        EXPECT_EQ(mn, -32768);
        EXPECT_EQ(mx, 32767);
        for (std::size_t i = 0; i < values.size(); ++i) {
            const std::uint8_t g = ruleGrey(values[i], w);
            ASSERT_EQ(pixels[3 * i], g) << "value " << values[i] << " window " << window.first << " big " << big;
            ASSERT_EQ(pixels[3 * i + 1], g);
            ASSERT_EQ(pixels[3 * i + 2], g);
        }
        EXPECT_EQ(pixels.back(), 0xEE) << "written past the run";
    }
}

INSTANTIATE_TEST_SUITE_P(WindowsAndLoops, DirectPixels,
                         ::testing::Combine(::testing::ValuesIn(Windows), ::testing::ValuesIn(EveryUnits)));

TEST_P(DirectPixels, UInt16InBothByteOrdersMatchTheRuleAndTheirRange)
{
    const auto [window, vector] = GetParam();
    GreyKernels::useVectorUnits(vector);
    const GreyKernels::Window w = windowOf(window.first, window.second);
    std::vector<std::uint16_t> values;
    for (int v = 0; v <= 65535; ++v)
        values.push_back(static_cast<std::uint16_t>(v));
    values.push_back(40000); // 65537 values: a tail after the 32-voxel steps
    for (const bool big : {false, true}) {
        std::vector<std::uint8_t> raw(2 * values.size());
        for (std::size_t i = 0; i < values.size(); ++i) {
            raw[2 * i + (big ? 1 : 0)] = static_cast<std::uint8_t>(values[i] & 0xFF);
            raw[2 * i + (big ? 0 : 1)] = static_cast<std::uint8_t>(values[i] >> 8);
        }
        std::vector<std::uint8_t> pixels(3 * values.size() + 1, 0xEE);
        // The range across the sign bit of Int-16: 32000 .. 33099.
        std::uint16_t mn = 40000, mx = 0;
        GreyKernels::pixelsFromUInt16(raw.data() + 2 * 32000, 1100, big, w, pixels.data() + 3 * 32000, &mn, &mx);
        EXPECT_EQ(mn, 32000);
        EXPECT_EQ(mx, 33099);
        GreyKernels::pixelsFromUInt16(raw.data(), values.size(), big, w, pixels.data(), &mn, &mx);
        EXPECT_EQ(mn, 0);
        EXPECT_EQ(mx, 65535);
        for (std::size_t i = 0; i < values.size(); ++i) {
            const std::uint8_t g = ruleGrey(values[i], w);
            ASSERT_EQ(pixels[3 * i], g) << "value " << values[i] << " window " << window.first << " big " << big;
            ASSERT_EQ(pixels[3 * i + 1], g);
            ASSERT_EQ(pixels[3 * i + 2], g);
        }
        EXPECT_EQ(pixels.back(), 0xEE) << "written past the run";
    }
}

TEST(GreyKernels, DirectRouteCoversWindowsNearTheValues)
{
    if (!GreyKernels::useVectorUnits(true))
        GTEST_SKIP() << "no AVX2 here";
    EXPECT_TRUE(GreyKernels::directUInt8(windowOf(0, 255)));
    EXPECT_TRUE(GreyKernels::directInt16(windowOf(-1000, 3000)));
    EXPECT_TRUE(GreyKernels::directInt16(windowOf(8355840, 0)));
    // Beyond, v - lo is no longer exact in a float for every value.
    EXPECT_FALSE(GreyKernels::directInt16(windowOf(8355841, 0)));
    // UInt-16 values lie 2^15 higher: the low end may too.
    EXPECT_TRUE(GreyKernels::directUInt16(windowOf(0, 65535)));
    EXPECT_TRUE(GreyKernels::directUInt16(windowOf(8388608, 0)));
    EXPECT_FALSE(GreyKernels::directUInt16(windowOf(8388609, 0)));
    // Bytes also take a fixed-point form checked against all 256 values:
    // here every byte is mid-grey.
    EXPECT_TRUE(GreyKernels::directUInt8(windowOf(IntMin, IntMax)));
    // The plain loops take the table route.
    GreyKernels::useVectorUnits(false);
    EXPECT_FALSE(GreyKernels::directUInt8(windowOf(0, 255)));
    GreyKernels::useVectorUnits(true);
}

// The rule for any float value as a pixel: red for NaN and for a finite
// value whose scaled form overflows a float.
std::array<std::uint8_t, 3> rulePixel(float v, GreyKernels::Window w)
{
    if (std::isnan(v))
        return {255, 0, 0};
    const double product = (static_cast<double>(v) - w.lo) * w.scale;
    if (std::isfinite(v) && std::fabs(product) >= 0x1.ffffffp127)
        return {255, 0, 0};
    const auto t = static_cast<float>(product);
    const float held = t > 255.0f ? 255.0f : (t < 0.0f ? 0.0f : t);
    const auto g = static_cast<std::uint8_t>(std::nearbyint(held));
    return {g, g, g};
}

// Values whose scaled form lies on, just beside and near every half between
// two grey levels, where single and double precision can part.
std::vector<float> edgeValues(GreyKernels::Window w)
{
    std::vector<float> values;
    for (int k = -2; k <= 257; ++k) {
        const auto edge = static_cast<float>(w.lo + (k + 0.5) / w.scale);
        float below = edge, above = edge;
        values.push_back(edge);
        for (int step = 0; step < 3; ++step) {
            below = std::nextafter(below, -std::numeric_limits<float>::infinity());
            above = std::nextafter(above, std::numeric_limits<float>::infinity());
            values.push_back(below);
            values.push_back(above);
        }
        values.push_back(std::nearbyint(edge));
    }
    return values;
}

class SinglePrecisionPixels : public DirectPixels
{
};

TEST_P(SinglePrecisionPixels, Int32InBothByteOrdersMatchTheRuleAndTheirRange)
{
    const auto [window, vector] = GetParam();
    GreyKernels::useVectorUnits(vector);
    const GreyKernels::Window w = windowOf(window.first, window.second);
    std::vector<std::int32_t> values{IntMin, IntMax, 0, -1, 1, window.first, window.second};
    for (const float v : edgeValues(w)) {
        if (v >= -2147483648.0f && v < 2147483648.0f) {
            const auto i = static_cast<std::int32_t>(v);
            for (std::int32_t d = -2; d <= 2; ++d)
                values.push_back(static_cast<std::int32_t>(static_cast<std::uint32_t>(i) + static_cast<std::uint32_t>(d)));
        }
    }
    std::uint32_t seed = 12345;
    for (int i = 0; i < 3000; ++i) {
        seed = seed * 1664525u + 1013904223u;
        values.push_back(static_cast<std::int32_t>(seed));
    }
    values.resize(values.size() / 32 * 32 + 7); // a tail after the 32-voxel steps
    std::int32_t lowest = IntMax, highest = IntMin;
    for (const std::int32_t v : values) {
        lowest = std::min(lowest, v);
        highest = std::max(highest, v);
    }
    for (const bool big : {false, true}) {
        std::vector<std::uint8_t> raw(4 * values.size());
        for (std::size_t i = 0; i < values.size(); ++i) {
            const auto u = static_cast<std::uint32_t>(values[i]);
            for (int b = 0; b < 4; ++b)
                raw[4 * i + static_cast<std::size_t>(big ? 3 - b : b)] = static_cast<std::uint8_t>(u >> (8 * b));
        }
        std::vector<std::uint8_t> pixels(3 * values.size() + 1, 0xEE);
        std::int32_t mn = 0, mx = 0;
        GreyKernels::pixelsFromInt32(raw.data(), values.size(), big, w, pixels.data(), &mn, &mx);
        EXPECT_EQ(mn, std::min(lowest, 0));
        EXPECT_EQ(mx, std::max(highest, 0));
        for (std::size_t i = 0; i < values.size(); ++i) {
            const std::uint8_t g = ruleGrey(values[i], w);
            ASSERT_EQ(pixels[3 * i], g) << "value " << values[i] << " window " << window.first << " big " << big;
            ASSERT_EQ(pixels[3 * i + 1], g);
            ASSERT_EQ(pixels[3 * i + 2], g);
        }
        EXPECT_EQ(pixels.back(), 0xEE) << "written past the run";
    }
}

TEST_P(SinglePrecisionPixels, Float32InBothByteOrdersMatchTheRuleAndTheirRange)
{
    const auto [window, vector] = GetParam();
    GreyKernels::useVectorUnits(vector);
    const GreyKernels::Window w = windowOf(window.first, window.second);
    constexpr float Inf = std::numeric_limits<float>::infinity();
    std::vector<float> values{std::numeric_limits<float>::quiet_NaN(),
                              Inf,
                              -Inf,
                              3.0e38f,
                              -3.0e38f,
                              std::numeric_limits<float>::max(),
                              std::numeric_limits<float>::lowest(),
                              std::numeric_limits<float>::denorm_min(),
                              -0.0f,
                              0.0f,
                              1.0e30f,
                              -1.0e30f};
    for (const float v : edgeValues(w))
        values.push_back(v);
    std::uint32_t seed = 777;
    for (int i = 0; i < 3000; ++i) {
        seed = seed * 1664525u + 1013904223u;
        // Half of them arbitrary bit patterns, half spread over the window.
        values.push_back(i % 2 ? std::bit_cast<float>(seed)
                               : static_cast<float>(w.lo + (static_cast<double>(seed >> 8) / 65536.0 - 64.0) / w.scale));
    }
    values.resize(values.size() / 32 * 32 + 19);
    for (const bool big : {false, true}) {
        std::vector<std::uint8_t> raw(4 * values.size());
        for (std::size_t i = 0; i < values.size(); ++i) {
            const auto u = std::bit_cast<std::uint32_t>(values[i]);
            for (int b = 0; b < 4; ++b)
                raw[4 * i + static_cast<std::size_t>(big ? 3 - b : b)] = static_cast<std::uint8_t>(u >> (8 * b));
        }
        std::vector<std::uint8_t> pixels(3 * values.size() + 1, 0xEE);
        float mn = 2147483648.0f, mx = -2147483648.0f;
        GreyKernels::pixelsFromFloat32(raw.data(), values.size(), big, w, pixels.data(), &mn, &mx);
        EXPECT_EQ(mn, -Inf);
        EXPECT_EQ(mx, Inf);
        for (std::size_t i = 0; i < values.size(); ++i) {
            const auto expected = rulePixel(values[i], w);
            ASSERT_EQ(pixels[3 * i], expected[0]) << "value " << values[i] << " window " << window.first;
            ASSERT_EQ(pixels[3 * i + 1], expected[1]) << "value " << values[i];
            ASSERT_EQ(pixels[3 * i + 2], expected[2]) << "value " << values[i];
        }
        EXPECT_EQ(pixels.back(), 0xEE) << "written past the run";
    }
}

// ---- every voxel type through the plain loops of its description ----------

// The bytes of value v of the type at p, under the byte order, written here
// without the project's decoding.
void putValue(std::uint8_t* p, int bytes, std::uint64_t bits, bool big)
{
    for (int b = 0; b < bytes; ++b)
        p[big ? bytes - 1 - b : b] = static_cast<std::uint8_t>(bits >> (8 * b));
}

// The rule for a value as the type holds it: integers and Float-32 values as
// floats, Float-64 values as doubles; red for NaN and for a finite value
// whose scaled form overflows a float.
std::array<std::uint8_t, 3> rulePixelOf(double v, GreyKernels::Window w)
{
    if (std::isnan(v))
        return {255, 0, 0};
    const double product = (v - w.lo) * w.scale;
    if (std::isfinite(v) && std::fabs(product) >= 0x1.ffffffp127)
        return {255, 0, 0};
    const auto t = static_cast<float>(product);
    const float held = t > 255.0f ? 255.0f : (t < 0.0f ? 0.0f : t);
    const auto g = static_cast<std::uint8_t>(std::nearbyint(held));
    return {g, g, g};
}

struct TypedValues
{
    TVoxelDataType type;
    int bytes;
    std::vector<std::uint64_t> bits; // the voxels' bit patterns
    std::vector<double> held;        // the values the rule takes
    std::vector<float> ranged;       // the values the observed range records
};

TypedValues typedValues(TVoxelDataType type, GreyKernels::Window w)
{
    TypedValues t{type, 0, {}, {}, {}};
    const auto add = [&](std::uint64_t bits, double held, float ranged) {
        t.bits.push_back(bits);
        t.held.push_back(held);
        t.ranged.push_back(ranged);
    };
    std::uint64_t seed = 12345;
    const auto next = [&] {
        seed = seed * 6364136223846793005u + 1442695040888963407u;
        return seed;
    };
    switch (type) {
    case vdtInt8:
        t.bytes = 1;
        for (int v = -128; v <= 127; ++v)
            add(static_cast<std::uint8_t>(v), v, static_cast<float>(v));
        break;
    case vdtUInt32:
        t.bytes = 4;
        for (const std::uint32_t v : {0u, 1u, 16777217u, 2147483647u, 2147483648u, 4294967295u, 4294967040u})
            add(v, static_cast<float>(v), static_cast<float>(v));
        for (int i = 0; i < 2000; ++i) {
            const auto v = static_cast<std::uint32_t>(next() >> 32);
            add(v, static_cast<float>(v), static_cast<float>(v));
        }
        break;
    case vdtFloat64: {
        t.bytes = 8;
        constexpr double Inf = std::numeric_limits<double>::infinity();
        for (const double v : {0.0, -0.0, 1.0, -1.0, Inf, -Inf, std::numeric_limits<double>::quiet_NaN(), 1.0e300,
                               -1.0e300, 3.4e38, 3.5e38, 1.0e-300, std::numeric_limits<double>::denorm_min(),
                               0x1.ffffffp127, 0x1.fffffefffffffp127}) {
            const float r = std::fabs(v) >= 0x1.ffffffp127 ? (v > 0 ? std::numeric_limits<float>::infinity()
                                                                     : -std::numeric_limits<float>::infinity())
                                                           : static_cast<float>(v);
            add(std::bit_cast<std::uint64_t>(v), v, r);
        }
        // Values on and beside every half between two grey levels, in double.
        for (int k = -2; k <= 257; ++k) {
            const double edge = w.lo + (k + 0.5) / w.scale;
            for (const double v : {edge, std::nextafter(edge, -Inf), std::nextafter(edge, Inf)}) {
                if (std::fabs(v) < 1e38)
                    add(std::bit_cast<std::uint64_t>(v), v, static_cast<float>(v));
            }
        }
        for (int i = 0; i < 2000; ++i) {
            const double v = w.lo + (static_cast<double>(next() >> 11) / 0x1p53 * 300.0 - 20.0) / w.scale;
            add(std::bit_cast<std::uint64_t>(v), v, static_cast<float>(v));
        }
        break;
    }
    default:
        break;
    }
    return t;
}

class EveryTypeByItsDescription
    : public ForcedUnits<std::tuple<TVoxelDataType, std::pair<std::int32_t, std::int32_t>, VectorUnits>>
{
};

TEST_P(EveryTypeByItsDescription, GreyRedAndRangeFollowTheRule)
{
    const auto [type, window, vector] = GetParam();
    GreyKernels::useVectorUnits(vector);
    const GreyKernels::Window w = windowOf(window.first, window.second);
    const TypedValues t = typedValues(type, w);
    ASSERT_EQ(t.bytes, bytesPerVoxelOf(type));
    for (const bool big : {false, true}) {
        std::vector<std::uint8_t> raw(t.bits.size() * static_cast<std::size_t>(t.bytes));
        for (std::size_t i = 0; i < t.bits.size(); ++i)
            putValue(raw.data() + i * static_cast<std::size_t>(t.bytes), t.bytes, t.bits[i], big);
        std::vector<std::uint8_t> grey(t.bits.size()), red(t.bits.size());
        const bool anyRed = GreyKernels::fromVoxels(type, raw.data(), t.bits.size(), big, w, grey.data(), red.data());
        bool expectRed = false;
        float mn = 2147483648.0f, mx = -2147483648.0f;
        for (std::size_t i = 0; i < t.bits.size(); ++i) {
            const auto expected = rulePixelOf(t.held[i], w);
            const bool isRed = std::isnan(t.held[i])
                || (std::isfinite(t.held[i]) && std::fabs((t.held[i] - w.lo) * w.scale) >= 0x1.ffffffp127);
            expectRed |= isRed;
            ASSERT_EQ(red[i] != 0, isRed) << "value " << t.held[i] << " big " << big;
            if (!isRed) {
                ASSERT_EQ(grey[i], expected[0]) << "value " << t.held[i] << " window " << window.first;
            }
            mn = t.ranged[i] < mn ? t.ranged[i] : mn;
            mx = t.ranged[i] > mx ? t.ranged[i] : mx;
        }
        EXPECT_EQ(anyRed, expectRed);
        float lo = 2147483648.0f, hi = -2147483648.0f;
        GreyKernels::rangeVoxels(type, raw.data(), t.bits.size(), big, lo, hi);
        EXPECT_EQ(lo, mn);
        EXPECT_EQ(hi, mx);

        if (type != vdtFloat64)
            continue;
        // The direct Float-64 loop: the same pixels and range, a tail after
        // its 32-voxel steps, nothing written past the run.
        const std::size_t n = t.bits.size() / 32 * 32 - 19; // 32 k + 13 voxels
        std::vector<std::uint8_t> pixels(3 * n + 1, 0xEE);
        float dlo = 2147483648.0f, dhi = -2147483648.0f;
        GreyKernels::pixelsFromFloat64(raw.data(), n, big, w, pixels.data(), &dlo, &dhi);
        float elo = 2147483648.0f, ehi = -2147483648.0f;
        for (std::size_t i = 0; i < n; ++i) {
            const auto expected = rulePixelOf(t.held[i], w);
            ASSERT_EQ(pixels[3 * i], expected[0]) << "value " << t.held[i] << " window " << window.first;
            ASSERT_EQ(pixels[3 * i + 1], expected[1]) << "value " << t.held[i];
            ASSERT_EQ(pixels[3 * i + 2], expected[2]) << "value " << t.held[i];
            elo = t.ranged[i] < elo ? t.ranged[i] : elo;
            ehi = t.ranged[i] > ehi ? t.ranged[i] : ehi;
        }
        EXPECT_EQ(pixels.back(), 0xEE) << "written past the run";
        EXPECT_EQ(dlo, elo);
        EXPECT_EQ(dhi, ehi);
    }
}

INSTANTIATE_TEST_SUITE_P(TypesWindowsAndLoops, EveryTypeByItsDescription,
                         ::testing::Combine(::testing::Values(vdtInt8, vdtUInt32, vdtFloat64),
                                            ::testing::ValuesIn(Windows), ::testing::ValuesIn(EveryUnits)));

INSTANTIATE_TEST_SUITE_P(WindowsAndLoops, SinglePrecisionPixels,
                         ::testing::Combine(::testing::ValuesIn(Windows), ::testing::ValuesIn(EveryUnits)));

TEST(GreyKernels, SinglePrecisionRouteTakesEveryRendererWindow)
{
    if (!GreyKernels::useVectorUnits(true))
        GTEST_SKIP() << "no AVX2 here";
    for (const auto& [low, high] : Windows)
        EXPECT_TRUE(GreyKernels::directSingle(windowOf(low, high))) << low << " to " << high;
    // A low end that is no float is left to the double-precision route.
    EXPECT_FALSE(GreyKernels::directSingle({0.1, 1.0}));
    GreyKernels::useVectorUnits(false);
    EXPECT_FALSE(GreyKernels::directSingle(windowOf(0, 255)));
    GreyKernels::useVectorUnits(true);
}

class WidenPixels : public ForcedUnits<VectorUnits>
{
};

TEST_P(WidenPixels, GivesOpaqueWordsOfEveryRunLength)
{
    GreyKernels::useVectorUnits(GetParam());
    std::vector<std::uint8_t> rgb(3 * 40);
    for (std::size_t i = 0; i < rgb.size(); ++i)
        rgb[i] = static_cast<std::uint8_t>(i * 37 + 11);
    for (std::size_t n = 0; n <= 40; ++n) {
        std::vector<std::uint32_t> words(n + 1, 0xDEADBEEF);
        GreyKernels::widenPixels(rgb.data(), n, words.data());
        for (std::size_t i = 0; i < n; ++i) {
            const std::uint32_t expected = 0xFF000000u | std::uint32_t{rgb[3 * i]} << 16
                | std::uint32_t{rgb[3 * i + 1]} << 8 | rgb[3 * i + 2];
            ASSERT_EQ(words[i], expected) << "pixel " << i << " of " << n;
        }
        EXPECT_EQ(words[n], 0xDEADBEEF) << "written past " << n << " pixels";
    }
}

INSTANTIATE_TEST_SUITE_P(VectorAndPlainLoops, WidenPixels, ::testing::ValuesIn(EveryUnits));

// ---- every direct loop from unaligned starts ------------------------------

// Runs of arbitrary bit patterns (so NaNs, infinities, denormals and values
// far beyond the window among them) at odd byte offsets into odd pixel
// offsets, in both byte orders, longer and shorter than a vector step,
// against the rule; the range starts empty (lowest above highest). A vector
// loop that loads or stores on alignment, or folds its lanes' range wrongly,
// shows here; with pixels written past the caches, so does one that starts
// its lines wrongly or loses a mended lane.
class UnalignedRuns : public ForcedUnits<std::tuple<TVoxelDataType, bool, VectorUnits>>
{
};

TEST_P(UnalignedRuns, DirectLoopsMatchTheRuleAndTheRange)
{
    const TVoxelDataType type = std::get<0>(GetParam());
    const GreyKernels::StreamingPixels streaming(std::get<1>(GetParam()));
    const int bytes = bytesPerVoxelOf(type);
    constexpr std::size_t Longest = 64 * 5 + 37;
    std::uint64_t seed = 99;
    std::vector<std::uint64_t> bits(Longest);
    for (std::uint64_t& b : bits) {
        seed = seed * 6364136223846793005u + 1442695040888963407u;
        b = seed >> (64 - 8 * bytes);
    }
    // Narrow integers spread over the window too, not only over the type.
    for (std::size_t i = 0; i < Longest && bytes < 4; i += 2)
        bits[i] = static_cast<std::uint64_t>(static_cast<std::int64_t>(bits[i] % 4000) - 1000) & ((1ull << (8 * bytes)) - 1);
    const auto held = [&](std::uint64_t b) -> double {
        switch (type) {
        case vdtByte: return static_cast<double>(b);
        case vdtInt16: return static_cast<std::int16_t>(b);
        case vdtUInt16: return static_cast<double>(b);
        case vdtInt32: return static_cast<float>(static_cast<std::int32_t>(b));
        case vdtFloat32: return std::bit_cast<float>(static_cast<std::uint32_t>(b));
        default: return std::bit_cast<double>(b);
        }
    };
    for (const auto& [low, high] : {std::pair{0, 255}, std::pair{0, 3000}, std::pair{-1000, 3000}, std::pair{300, -300}}) {
        const GreyKernels::Window w = windowOf(low, high);
        for (const bool big : {false, true}) {
            // Pixels from a line's start, 1 and 3 bytes after it, and 48
            // (a step's pixels cross lines two voxels later).
            for (const auto& [offset, N] : {std::pair<std::size_t, std::size_t>{1, Longest}, {3, Longest}, {1, 37},
                                            {0, Longest}, {48, Longest}}) {
                std::vector<std::uint8_t> raw(offset + N * static_cast<std::size_t>(bytes));
                for (std::size_t i = 0; i < N; ++i)
                    putValue(raw.data() + offset + i * static_cast<std::size_t>(bytes), bytes, bits[i], big);
                std::vector<std::uint8_t> pixels(3 * N + 128 + offset + 1, 0xEE);
                const std::uint8_t* src = raw.data() + offset;
                std::uint8_t* const line = pixels.data() + 64 - reinterpret_cast<std::uintptr_t>(pixels.data()) % 64;
                std::uint8_t* dst = line + offset;
                double mn = 0, mx = 0;
                switch (type) {
                case vdtByte: {
                    std::uint8_t a = 255, b = 0;
                    GreyKernels::pixelsFromUInt8(src, N, w, dst, &a, &b);
                    mn = a, mx = b;
                    break;
                }
                case vdtInt16: {
                    std::int16_t a = 32767, b = -32768;
                    GreyKernels::pixelsFromInt16(src, N, big, w, dst, &a, &b);
                    mn = a, mx = b;
                    break;
                }
                case vdtUInt16: {
                    std::uint16_t a = 65535, b = 0;
                    GreyKernels::pixelsFromUInt16(src, N, big, w, dst, &a, &b);
                    mn = a, mx = b;
                    break;
                }
                case vdtInt32: {
                    std::int32_t a = IntMax, b = IntMin;
                    GreyKernels::pixelsFromInt32(src, N, big, w, dst, &a, &b);
                    mn = a, mx = b;
                    break;
                }
                case vdtFloat32: {
                    float a = std::numeric_limits<float>::infinity(), b = -a;
                    GreyKernels::pixelsFromFloat32(src, N, big, w, dst, &a, &b);
                    mn = a, mx = b;
                    break;
                }
                default: {
                    float a = std::numeric_limits<float>::infinity(), b = -a;
                    GreyKernels::pixelsFromFloat64(src, N, big, w, dst, &a, &b);
                    mn = a, mx = b;
                    break;
                }
                }
                double lowest = std::numeric_limits<double>::infinity(), highest = -lowest;
                for (std::size_t i = 0; i < N; ++i) {
                    const double v = held(bits[i]);
                    // Integers' range is exact; Float-64 values' as their nearest floats.
                    const double r = type == vdtInt32 ? static_cast<std::int32_t>(bits[i])
                        : type != vdtFloat64      ? v
                        : std::fabs(v) >= 0x1.ffffffp127 ? (v > 0 ? 1.0 : -1.0) * std::numeric_limits<double>::infinity()
                                                         : static_cast<float>(v);
                    lowest = r < lowest ? r : lowest;
                    highest = r > highest ? r : highest;
                    const auto expected = rulePixelOf(v, w);
                    ASSERT_EQ(dst[3 * i], expected[0]) << "voxel " << i << " value " << v << " big " << big;
                    ASSERT_EQ(dst[3 * i + 1], expected[1]) << "voxel " << i << " value " << v;
                    ASSERT_EQ(dst[3 * i + 2], expected[2]) << "voxel " << i << " value " << v;
                }
                EXPECT_EQ(mn, lowest) << "window " << low << " big " << big;
                EXPECT_EQ(mx, highest) << "window " << low << " big " << big;
                EXPECT_EQ(dst[-1], 0xEE) << "written before the run";
                EXPECT_EQ(dst[3 * N], 0xEE) << "written past the run";
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(TypesAndLoops, UnalignedRuns,
                         ::testing::Combine(::testing::Values(vdtByte, vdtInt16, vdtUInt16, vdtInt32, vdtFloat32,
                                                              vdtFloat64),
                                            ::testing::Bool(), ::testing::ValuesIn(EveryUnits)));

// The first float zero of either sign, where a run holds one at the start,
// inside a vector step, in the tail, or none (only values next to zero: the
// smallest denormals and a sign bit alone in another byte order).
class FirstFloatZero : public ForcedUnits<std::tuple<int, VectorUnits>>
{
};

TEST_P(FirstFloatZero, FindsTheFirstZeroOfEitherSign)
{
    const int bytes = std::get<0>(GetParam());
    constexpr std::size_t N = 64 * 4 + 21;
    const std::uint64_t sign = std::uint64_t{1} << (8 * bytes - 1);
    for (const bool big : {false, true}) {
        for (const std::size_t at : {std::size_t{0}, std::size_t{1}, std::size_t{77}, std::size_t{200}, N - 1, N}) {
            for (const std::uint64_t zero : {std::uint64_t{0}, sign}) {
                std::vector<std::uint8_t> raw(static_cast<std::size_t>(bytes) * N + 1);
                for (std::size_t i = 0; i < N; ++i) {
                    const std::uint64_t bits = i == at ? zero : (i % 3 == 0 ? 1 : (i % 3 == 1 ? sign | 1 : 0x80));
                    putValue(raw.data() + 1 + i * static_cast<std::size_t>(bytes), bytes, bits, big);
                }
                // A later zero of the other sign must not be taken for it.
                if (at + 5 < N)
                    putValue(raw.data() + 1 + (at + 5) * static_cast<std::size_t>(bytes), bytes, zero ^ sign, big);
                EXPECT_EQ(GreyKernels::firstFloatZero(raw.data() + 1, N, bytes, big), at)
                    << bytes << " bytes, big " << big << ", zero at " << at;
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(WidthsAndLoops, FirstFloatZero,
                         ::testing::Combine(::testing::Values(4, 8), ::testing::ValuesIn(EveryUnits)));

} // namespace
