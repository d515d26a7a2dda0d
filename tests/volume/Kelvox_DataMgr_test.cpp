#include "volume/Kelvox_DataMgr.h"

#include "volume/GreyKernels.h"

#include "support/TempDir.h"
#include "support/VectorImage.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <chrono>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <limits>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

using Rgb = VectorImage::Rgb;

constexpr float Inf = std::numeric_limits<float>::infinity();
constexpr std::int32_t IntMin = std::numeric_limits<std::int32_t>::min();
constexpr std::int32_t IntMax = std::numeric_limits<std::int32_t>::max();

// Bytes of values in the given byte order.
std::vector<std::uint8_t> bytesOf16(const std::vector<std::int16_t>& values, bool big)
{
    std::vector<std::uint8_t> out;
    for (std::int16_t v : values) {
        const auto u = static_cast<std::uint16_t>(v);
        const std::uint8_t lo = u & 0xFF, hi = u >> 8;
        out.push_back(big ? hi : lo);
        out.push_back(big ? lo : hi);
    }
    return out;
}

std::vector<std::uint8_t> bytesOf32(const std::vector<std::uint32_t>& values, bool big)
{
    std::vector<std::uint8_t> out;
    for (std::uint32_t u : values)
        for (int b = 0; b < 4; ++b)
            out.push_back(static_cast<std::uint8_t>(u >> (big ? 24 - 8 * b : 8 * b)));
    return out;
}

std::vector<std::uint8_t> bytesOfFloats(const std::vector<float>& values, bool big)
{
    std::vector<std::uint32_t> bits;
    for (float f : values)
        bits.push_back(std::bit_cast<std::uint32_t>(f));
    return bytesOf32(bits, big);
}

// The pixel rule written out step by step for one value (a double: a
// Float-64 is scaled as the double it is, every other type as its float), as
// a reference for the renderer's table and batch paths.
Rgb referenceColourOf(double v, std::int32_t intensityMin, std::int32_t intensityMax)
{
    if (std::isnan(v))
        return Red;
    const float lo = static_cast<float>(intensityMin);
    float span = static_cast<float>(static_cast<std::int64_t>(intensityMax) - intensityMin);
    if (span == 0.0f)
        span = 1.0f;
    const auto scale = static_cast<float>(255.0 / static_cast<double>(span));
    const double t = (v - lo) * scale;
    // IEEE conversion: a product beyond the float range becomes infinite.
    float tf = static_cast<float>(t);
    if (std::isfinite(v) && std::isinf(tf))
        return Red;
    tf = std::clamp(tf, 0.0f, 255.0f);
    return grey(static_cast<int>(std::nearbyint(tf)));
}

Rgb referenceColour(float v, std::int32_t intensityMin, std::int32_t intensityMax)
{
    return referenceColourOf(static_cast<double>(v), intensityMin, intensityMax);
}

class DataMgrTest : public ::testing::Test
{
protected:
    // A manager with file bytes open and the given guess applied.
    void openBytes(const std::vector<std::uint8_t>& bytes)
    {
        mgr.OpenFile(dir.write("volume.raw", bytes));
        ASSERT_FALSE(mgr.FileName.empty()) << mgr.ErrorText;
    }

    TempDir dir;
    std::unique_ptr<TKelvoxDataMgr> owned = std::make_unique<TKelvoxDataMgr>();
    TKelvoxDataMgr& mgr = *owned;
    VectorImage image;
};

// ---- construction, parameters, offsets ------------------------------------

TEST_F(DataMgrTest, StartsWithDefaultGeometryAndNoBlocks)
{
    for (int d = 0; d < 3; ++d) {
        EXPECT_EQ(mgr.DimSize(d), 256);
        EXPECT_EQ(mgr.BlockVoxels(d), 0);
    }
    EXPECT_TRUE(mgr.FileName.empty());
    EXPECT_EQ(mgr.Stream, nullptr);
    EXPECT_EQ(mgr.ObservedMin, 0.0f);
    EXPECT_EQ(mgr.ObservedMax, 0.0f);
    EXPECT_EQ(mgr.ViewCounts, (std::array<std::int32_t, 4>{0, 0, 0, 0}));
    EXPECT_GE(mgr.ViewBuffers[vkSlice].capacity(), static_cast<std::size_t>(ViewBufferSize));
}

// The pixel loops read the buffer in 64-byte steps that must not straddle
// cache lines: the bytes start on a page, zeroed, and stay so on growth.
TEST(ViewBufferMemory, StartsOnAPageZeroedAtEveryCapacity)
{
    ViewBuffer buffer(12345);
    for (const std::size_t capacity : {std::size_t{12345}, std::size_t{3} << 20, (std::size_t{5} << 20) + 7}) {
        ASSERT_TRUE(buffer.reserve(capacity));
        EXPECT_EQ(buffer.capacity(), capacity);
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(buffer.data()) % ViewBuffer::Alignment, 0u) << capacity;
        const std::span<const std::uint8_t> bytes = buffer.bytes();
        EXPECT_EQ(bytes.data(), buffer.data());
        EXPECT_EQ(std::count(bytes.begin(), bytes.end(), 0), static_cast<std::ptrdiff_t>(capacity)) << capacity;
        std::fill_n(buffer.data(), capacity, std::uint8_t{0xA5});
    }
}

struct OffsetCase
{
    std::int32_t d0, d1, d2;
    TVoxelDataType type;
    std::array<std::int32_t, 4> index;
    std::int64_t voxel;
    std::int64_t byte;
};

class OffsetTable : public ::testing::TestWithParam<OffsetCase>
{
};

TEST_P(OffsetTable, VoxelAndByteOffsetAreExactIn64Bits)
{
    const OffsetCase& c = GetParam();
    TKelvoxDataMgr mgr;
    mgr.SetParams(c.d0, c.d1, c.d2, c.type, boLittleEndian, 0, 0);
    const auto [i0, i1, i2, i3] = c.index;
    EXPECT_EQ(mgr.VoxelOffset(i0, i1, i2, i3), c.voxel);
    EXPECT_EQ(mgr.ByteOffset(i0, i1, i2, i3), c.byte);
    EXPECT_EQ(mgr.FilePosition(i0, i1, i2, i3), c.byte < 0 ? -1 : c.byte);
}

constexpr std::int64_t Int64Min = std::numeric_limits<std::int64_t>::min();

INSTANTIATE_TEST_SUITE_P(
    Geometries, OffsetTable,
    ::testing::Values(OffsetCase{256, 256, 256, vdtInt16, {1, 2, 3, 0}, 197121, 394242},
                      OffsetCase{256, 256, 256, vdtByte, {1, 2, 3, 0}, 197121, 197121},
                      OffsetCase{100, 80, 30, vdtFloat32, {5, 6, 7, 2}, 536605, 2146420},
                      // 1073741849 voxels of 4 bytes: 4,294,967,396, not 100 as 32 bits had it.
                      OffsetCase{1024, 1024, 1024, vdtInt32, {25, 0, 0, 1}, 1073741849, 4294967396LL},
                      // 2^31 bytes: positive, where 32 bits made it negative.
                      OffsetCase{1024, 1024, 1024, vdtInt16, {0, 0, 0, 1}, 1073741824, 2147483648LL},
                      // The largest position of the window: 10000^4 - 1 voxels of 8 bytes.
                      OffsetCase{10000, 10000, 10000, vdtFloat64, {9999, 9999, 9999, 9999}, 9999999999999999LL,
                                 79999999999999992LL},
                      // Blocks are exact: 65536 x 65536 voxels per slice.
                      OffsetCase{65536, 65536, 2, vdtByte, {3, 1, 7, 1}, 38654771203LL, 38654771203LL},
                      // No index is limited to its dimension; negative indices count back.
                      OffsetCase{10, 10, 10, vdtInt16, {12, -1, 0, 0}, 2, 4},
                      OffsetCase{10, 10, 10, vdtUInt16, {0, 0, -1, 0}, -100, -200},
                      // Beyond the 64-bit range: nowhere.
                      OffsetCase{2147483647, 2147483647, 2147483647, vdtByte, {0, 0, 0, 2147483647}, Int64Min,
                                 Int64Min},
                      // (2^31 - 1)^2 voxels fit, eight bytes each do not.
                      OffsetCase{2147483647, 2147483647, 1, vdtFloat64, {0, 0, 1, 0}, 4611686014132420609LL,
                                 Int64Min}));

TEST_F(DataMgrTest, SetParamsDerivesExactBlocksAndTakesAnyValue)
{
    mgr.SetParams(70000, 70000, 3, vdtInt32, boBigEndian, 300, -300, 1024);
    EXPECT_EQ(mgr.BlockVoxels(0), 70000);
    EXPECT_EQ(mgr.BlockVoxels(1), 4900000000LL);
    EXPECT_EQ(mgr.BlockVoxels(2), 14700000000LL);
    EXPECT_EQ(mgr.IntensityMin, 300);
    EXPECT_EQ(mgr.IntensityMax, -300);
    EXPECT_EQ(mgr.ByteOrder, boBigEndian);
    EXPECT_EQ(mgr.HeaderBytes, 1024);
    EXPECT_EQ(mgr.FilePosition(1, 0, 0, 0), 1028);
    // A header at the end of the 64-bit range puts every voxel but the
    // first nowhere.
    mgr.SetParams(10, 10, 10, vdtByte, boLittleEndian, 0, 0, std::numeric_limits<std::int64_t>::max());
    EXPECT_EQ(mgr.FilePosition(0, 0, 0, 0), std::numeric_limits<std::int64_t>::max());
    EXPECT_EQ(mgr.FilePosition(1, 0, 0, 0), -1);
}

// ---- decoding -------------------------------------------------------------

struct DecodeCase
{
    std::vector<std::uint8_t> bytes;
    TVoxelDataType type;
    double little;
    double big;
};

class DecodeTable : public ::testing::TestWithParam<DecodeCase>
{
};

TEST_P(DecodeTable, DecodesBothByteOrders)
{
    const DecodeCase& c = GetParam();
    TKelvoxDataMgr mgr;
    for (TByteOrder order : {boLittleEndian, boBigEndian, static_cast<TByteOrder>(7)}) {
        mgr.SetParams(1, 1, 1, c.type, order, 0, 0);
        const double expected = order == boBigEndian ? c.big : c.little;
        const std::span<const std::uint8_t> buffer(c.bytes);
        switch (c.type) {
        case vdtInt16: EXPECT_EQ(mgr.DecodeInt16(0, buffer), expected); break;
        case vdtInt32: EXPECT_EQ(mgr.DecodeInt32(0, buffer), expected); break;
        default: EXPECT_EQ(static_cast<double>(mgr.DecodeFloat32(0, buffer)), expected); break;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Elements, DecodeTable,
    ::testing::Values(DecodeCase{{0x01, 0x02}, vdtInt16, 513, 258}, DecodeCase{{0xFF, 0xFE}, vdtInt16, -257, -2},
                      DecodeCase{{0x00, 0x80}, vdtInt16, -32768, 128},
                      DecodeCase{{0x01, 0x02, 0x03, 0x84}, vdtInt32, -2080177663, 16909188},
                      DecodeCase{{0x3F, 0x80, 0x00, 0x00}, vdtFloat32,
                                 static_cast<double>(std::bit_cast<float>(0x0000803Fu)), 1.0}));

TEST(DataMgrDecode, LittleEndianOneIsAnUnchangedDenormal)
{
    TKelvoxDataMgr mgr;
    const std::vector<std::uint8_t> bytes{0x3F, 0x80, 0x00, 0x00};
    const float f = mgr.DecodeFloat32(0, bytes);
    EXPECT_EQ(std::fpclassify(f), FP_SUBNORMAL);
    EXPECT_NEAR(f, 4.6006e-41, 1e-44);
}

TEST(DataMgrDecode, RefusesElementsOutsideTheBuffer)
{
    TKelvoxDataMgr mgr;
    const std::vector<std::uint8_t> bytes(7, 0);
    EXPECT_NO_THROW((void)mgr.DecodeInt16(2, bytes));
    EXPECT_THROW((void)mgr.DecodeInt16(3, bytes), std::out_of_range);
    EXPECT_THROW((void)mgr.DecodeInt32(1, bytes), std::out_of_range);
    EXPECT_THROW((void)mgr.DecodeFloat32(-1, bytes), std::out_of_range);
}

// ---- the four newer types, end to end ---------------------------------------

struct NewTypeCase
{
    TVoxelDataType type;
    std::vector<std::uint64_t> bits; // four voxels' patterns
    std::array<double, 4> values;    // what ViewValue gives for them
    float observedMin, observedMax;
    std::int32_t intensityMin, intensityMax;
    std::array<Rgb, 4> pixels;
};

class NewTypes : public ::testing::TestWithParam<std::tuple<NewTypeCase, TByteOrder>>
{
};

TEST_P(NewTypes, RenderDecodeAndObserveInBothByteOrders)
{
    const auto& [c, order] = GetParam();
    const int bytes = static_cast<int>(bytesPerVoxelOf(c.type));
    std::vector<std::uint8_t> file(3, 0xAB); // a 3-byte header
    for (const std::uint64_t bits : c.bits)
        for (int b = 0; b < bytes; ++b)
            file.push_back(static_cast<std::uint8_t>(bits >> (8 * (order == boBigEndian ? bytes - 1 - b : b))));
    TempDir dir;
    TKelvoxDataMgr mgr;
    mgr.OpenFile(dir.write("typed.raw", file));
    ASSERT_FALSE(mgr.FileName.empty());
    mgr.SetParams(2, 2, 1, c.type, order, c.intensityMin, c.intensityMax, 3);
    VectorImage image;
    mgr.RenderView(0, 0, vkSlice, image);
    EXPECT_EQ(mgr.ViewCounts[vkSlice], 4);
    for (int i = 0; i < 4; ++i) {
        const double v = mgr.ViewValue(vkSlice, i % 2, i / 2);
        if (std::isnan(c.values[static_cast<std::size_t>(i)]))
            EXPECT_TRUE(std::isnan(v)) << i;
        else
            EXPECT_EQ(v, c.values[static_cast<std::size_t>(i)]) << i;
        EXPECT_EQ(image.at(i % 2, i / 2), c.pixels[static_cast<std::size_t>(i)]) << i;
    }
    EXPECT_EQ(mgr.ObservedMin, c.observedMin);
    EXPECT_EQ(mgr.ObservedMax, c.observedMax);
}

constexpr float FloatInf = std::numeric_limits<float>::infinity();

INSTANTIATE_TEST_SUITE_P(
    Types, NewTypes,
    ::testing::Combine(
        ::testing::Values(
            // Above 32767 stays positive; 65535 is white in the full window.
            NewTypeCase{vdtUInt16, {0, 32768, 40000, 65535}, {0, 32768, 40000, 65535}, 0.0f, 65535.0f, 0, 65535,
                        {grey(0), grey(128), grey(156), grey(255)}},
            NewTypeCase{vdtInt8, {0x80, 0xFF, 0x00, 0x7F}, {-128, -1, 0, 127}, -128.0f, 127.0f, -128, 127,
                        {grey(0), grey(127), grey(128), grey(255)}},
            // 4294967295 is held as the float 2^32 and reads out exactly.
            NewTypeCase{vdtUInt32, {0, 2147483648u, 4294967295u, 16777217u}, {0, 2147483648.0, 4294967295.0, 16777217},
                        0.0f, 4294967296.0f, 0, 2147483647, {grey(0), grey(255), grey(255), grey(2)}},
            // A signalling NaN pattern reads 0 and is red; 1e300 overflows
            // the scaled range (red) and the observed range as +infinity;
            // a quiet NaN is red and reads NaN.
            NewTypeCase{vdtFloat64,
                        {std::bit_cast<std::uint64_t>(0.5), 0x7FF0000000000001u, std::bit_cast<std::uint64_t>(1e300),
                         0x7FF8000000000000u},
                        {0.5, 0.0, 1e300, std::numeric_limits<double>::quiet_NaN()}, 0.5f, FloatInf, 0, 1,
                        {grey(128), Red, Red, Red}}),
        ::testing::Values(boLittleEndian, boBigEndian)));

// Every type in both byte orders, with the vector loops on and off, under
// windows that take each type's direct path and windows that do not (far
// ends, inverted, empty, every preset): pixels, ViewValue and the observed
// range against the rule written plainly. No type may reach another's loops.
class EveryType : public ::testing::TestWithParam<std::tuple<TVoxelDataType, TByteOrder, bool>>
{
protected:
    void TearDown() override { GreyKernels::useVectorUnits(true); }
};

TEST_P(EveryType, PixelsValuesAndRangeFollowTheRuleUnderEveryWindow)
{
    const auto [type, order, vector] = GetParam();
    GreyKernels::useVectorUnits(vector);
    const VoxelTypeInfo& info = VoxelTypes[type];
    const bool big = order == boBigEndian;
    // 61 x 37 voxels: specials first, then small values of the type's range
    // and pseudo-random bit patterns; the last row ends early (light blue).
    constexpr int W = 61, H = 37, Count = W * H - 20;
    std::vector<std::uint8_t> file;
    std::uint64_t x = 88172645463325252u;
    for (int i = 0; i < Count; ++i) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        std::uint64_t bits = x;
        if (i % 2 == 0) {
            const double v = (i % 7) * 1000.0 - 300.0 + i * 0.37;
            bits = info.isFloat ? (info.bytes == 4 ? std::bit_cast<std::uint32_t>(static_cast<float>(v))
                                                   : std::bit_cast<std::uint64_t>(v))
                                : static_cast<std::uint64_t>(static_cast<std::int64_t>(v));
        }
        for (int b = 0; b < info.bytes; ++b)
            file.push_back(static_cast<std::uint8_t>(bits >> (8 * (big ? info.bytes - 1 - b : b))));
    }
    TempDir dir;
    TKelvoxDataMgr mgr;
    mgr.OpenFile(dir.write("typed.raw", file));
    ASSERT_FALSE(mgr.FileName.empty());

    std::vector<std::pair<std::int32_t, std::int32_t>> windows(info.presets.begin(), info.presets.end());
    windows.insert(windows.end(), {{IntMin, IntMax}, {IntMax, IntMin}, {255, 0}, {-7, -7}, {-100000, 100000}});
    for (const auto& [lo, hi] : windows) {
        SCOPED_TRACE(testing::Message() << "window " << lo << ".." << hi);
        mgr.SetParams(W, H, 1, type, order, lo, hi);
        VectorImage image;
        mgr.RenderView(0, 0, vkSlice, image);
        ASSERT_EQ(mgr.ViewCounts[vkSlice], Count);
        float mn = 2147483648.0f, mx = -2147483648.0f;
        const auto fold = [&](float v) {
            mn = v < mn ? v : mn;
            mx = v > mx ? v : mx;
        };
        for (int i = 0; i < W * H; ++i) {
            const int col = i % W, row = i / W;
            if (i >= Count) {
                ASSERT_EQ(image.at(col, row), LightBlue) << i;
                ASSERT_EQ(mgr.ViewValue(vkSlice, col, row), 0.0) << i;
                continue;
            }
            const std::uint8_t* p = file.data() + static_cast<std::size_t>(i) * info.bytes;
            const double v = voxelValue(p, type, big);
            const bool signalling = isSignallingNaN(p, type, big);
            const double got = mgr.ViewValue(vkSlice, col, row);
            if (std::isnan(v) && !signalling)
                ASSERT_TRUE(std::isnan(got)) << i;
            else
                ASSERT_EQ(got, signalling ? 0.0 : v) << i;
            // Integers and Float-32 count as their float; a Float-64 as itself.
            const double ruleValue = info.bytes == 8 && info.isFloat ? v : static_cast<double>(static_cast<float>(v));
            ASSERT_EQ(image.at(col, row), referenceColourOf(ruleValue, lo, hi)) << i << " value " << v;
            if (!std::isnan(v))
                fold(static_cast<float>(v)); // beyond the float range: an infinity of its sign
        }
        fold(0.0f); // the positions beyond the data
        EXPECT_EQ(mgr.ObservedMin, mn);
        EXPECT_EQ(mgr.ObservedMax, mx);
    }
}

std::string everyTypeName(const testing::TestParamInfo<EveryType::ParamType>& info)
{
    const auto& [type, order, vector] = info.param;
    return std::string(VoxelTypes[type].shortName) + (order == boBigEndian ? "Big" : "Little")
        + (vector ? "Vector" : "Plain");
}

INSTANTIATE_TEST_SUITE_P(TypesOrdersAndLoops, EveryType,
                         ::testing::Combine(::testing::Values(vdtByte, vdtInt16, vdtInt32, vdtFloat32, vdtUInt16,
                                                              vdtInt8, vdtUInt32, vdtFloat64),
                                            ::testing::Values(boLittleEndian, boBigEndian), ::testing::Bool()),
                         everyTypeName);


// A slice of several read pieces, rows of odd width straddling them, whose
// values spread further with every row (the Int-16 table grows both ways
// as it is painted) and whose first float zero, a negative one, lies in
// a later piece: the pieces leave no trace in pixels, values or range.
class SliceInPieces : public ::testing::TestWithParam<std::tuple<TVoxelDataType, bool>>
{
protected:
    void TearDown() override { GreyKernels::useVectorUnits(true); }
};

// A bitmap whose rows do not follow one another in memory (as a toolkit's
// rows padded to whole words); padding bytes must stay untouched.
class PaddedImage final : public ViewImage
{
public:
    static constexpr std::size_t Padding = 5;
    void setSize24(int w, int h) override
    {
        stride = 3 * static_cast<std::size_t>(w) + Padding;
        pixels.assign(stride * static_cast<std::size_t>(h), 7);
    }
    std::uint8_t* rowPointer(int y) override { return pixels.data() + static_cast<std::size_t>(y) * stride; }
    void repaintNow() override {}

    std::size_t stride = 0;
    std::vector<std::uint8_t> pixels;
};

TEST_P(SliceInPieces, PaintsAsOneWhole)
{
    const auto [type, vector] = GetParam();
    GreyKernels::useVectorUnits(vector);
    const VoxelTypeInfo& info = VoxelTypes[type];
    const int W = 1031;
    const int H = static_cast<int>(2 * ReadAheadPieceBytes / (W * info.bytes)) + 2;
    const int Count = W * H - 17;
    const int negativeZero = static_cast<int>(ReadAheadPieceBytes / info.bytes) + 5;
    std::vector<std::uint8_t> file;
    for (int i = 0; i < Count; ++i) {
        const double spread = 1.0 + 40.0 * i / Count;
        double v = ((i * 37 % 201) - 100) * spread + (info.isFloat ? 0.25 : 0.0);
        // Floats go down to 0 only, so that the sign of the smallest value
        // is that of the first zero.
        if (!info.isSigned || info.isFloat)
            v = std::fabs(v);
        if (info.isFloat && (i == negativeZero || (i > negativeZero && i % 997 == 0)))
            v = i == negativeZero ? -0.0 : 0.0;
        const std::uint64_t bits = info.isFloat ? (info.bytes == 4 ? std::bit_cast<std::uint32_t>(static_cast<float>(v))
                                                                   : std::bit_cast<std::uint64_t>(v))
                                                : static_cast<std::uint64_t>(static_cast<std::int64_t>(v));
        for (int b = 0; b < info.bytes; ++b)
            file.push_back(static_cast<std::uint8_t>(bits >> (8 * b)));
    }
    TempDir dir;
    TKelvoxDataMgr mgr;
    mgr.OpenFile(dir.write("pieces.raw", file));
    for (const auto& [lo, hi] : {std::pair{0, 255}, std::pair{-7, -7}, std::pair{-2000, 3000}}) {
        SCOPED_TRACE(testing::Message() << "window " << lo << ".." << hi);
        mgr.SetParams(W, H, 1, type, boLittleEndian, lo, hi);
        VectorImage image;
        mgr.RenderView(0, 0, vkSlice, image);
        ASSERT_EQ(mgr.ViewCounts[vkSlice], Count);
        float mn = 2147483648.0f, mx = -2147483648.0f;
        for (int i = 0; i < W * H; ++i) {
            const int col = i % W, row = i / W;
            if (i >= Count) {
                ASSERT_EQ(image.at(col, row), LightBlue) << i;
                continue;
            }
            const double v = voxelValue(file.data() + static_cast<std::size_t>(i) * info.bytes, type, false);
            ASSERT_EQ(mgr.ViewValue(vkSlice, col, row), v) << i;
            const double ruleValue = info.bytes == 8 && info.isFloat ? v : static_cast<double>(static_cast<float>(v));
            ASSERT_EQ(image.at(col, row), referenceColourOf(ruleValue, lo, hi)) << i << " value " << v;
            const auto f = static_cast<float>(v);
            mn = f < mn ? f : mn;
            mx = f > mx ? f : mx;
        }
        mn = 0.0f < mn ? 0.0f : mn; // the positions beyond the data
        EXPECT_EQ(mgr.ObservedMin, mn);
        EXPECT_EQ(mgr.ObservedMax, mx);
        EXPECT_EQ(std::signbit(mgr.ObservedMin), std::signbit(mn));

        // The same view with each piece read on a second thread while the
        // one before is painted.
        mgr.ReadAheadFrom = 0;
        VectorImage ahead;
        mgr.RenderView(0, 0, vkSlice, ahead);
        mgr.ReadAheadFrom = ReadAheadSliceBytes;
        ASSERT_TRUE(ahead.pixels == image.pixels);
        EXPECT_EQ(mgr.ViewCounts[vkSlice], Count);
        EXPECT_EQ(std::bit_cast<std::uint32_t>(mgr.ObservedMin), std::bit_cast<std::uint32_t>(mn));
        EXPECT_EQ(mgr.ObservedMax, mx);
        for (const int i : {0, negativeZero, Count - 1})
            EXPECT_EQ(mgr.ViewValue(vkSlice, i % W, i / W),
                      voxelValue(file.data() + static_cast<std::size_t>(i) * info.bytes, type, false));

        // The same pixels row by row into rows apart in memory, written
        // past the caches where the loops can.
        PaddedImage padded;
        {
            const GreyKernels::StreamingPixels streaming(true);
            mgr.RenderView(0, 0, vkSlice, padded);
        }
        for (int row = 0; row < H; ++row) {
            const std::uint8_t* p = padded.pixels.data() + static_cast<std::size_t>(row) * padded.stride;
            const auto expected = image.pixels.begin() + 3 * static_cast<std::ptrdiff_t>(row) * W;
            ASSERT_TRUE(std::equal(p, p + 3 * W, expected)) << row;
            ASSERT_TRUE(std::all_of(p + 3 * W, p + padded.stride, [](std::uint8_t b) { return b == 7; })) << row;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(TypesAndLoops, SliceInPieces,
                         ::testing::Combine(::testing::Values(vdtByte, vdtInt16, vdtInt32, vdtFloat32, vdtUInt16,
                                                              vdtInt8, vdtUInt32, vdtFloat64),
                                            ::testing::Bool()),
                         [](const testing::TestParamInfo<SliceInPieces::ParamType>& info) {
                             return std::string(VoxelTypes[std::get<0>(info.param)].shortName)
                                 + (std::get<1>(info.param) ? "Vector" : "Plain");
                         });
// ---- opening and closing --------------------------------------------------

TEST_F(DataMgrTest, MissingPathAndDirectoryDoNotExist)
{
    for (const std::string& path : {dir.path("missing.raw"), dir.path(""), std::string()}) {
        mgr.OpenFile(path);
        EXPECT_EQ(mgr.ErrorText, "File does not exist") << path;
        EXPECT_TRUE(mgr.FileName.empty());
        EXPECT_EQ(mgr.Stream, nullptr);
    }
}

TEST_F(DataMgrTest, FifoIsRefusedWithoutBlocking)
{
    const std::string fifo = dir.path("pipe");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const auto start = std::chrono::steady_clock::now();
    mgr.OpenFile(fifo);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    EXPECT_EQ(mgr.ErrorText, "Cannot open file " + fifo);
    EXPECT_TRUE(mgr.FileName.empty());
    EXPECT_EQ(mgr.Stream, nullptr);
}

TEST_F(DataMgrTest, CharacterDeviceIsRefused)
{
    mgr.OpenFile("/dev/zero");
    EXPECT_EQ(mgr.ErrorText, "Cannot open file /dev/zero");
    EXPECT_TRUE(mgr.FileName.empty());
}

TEST_F(DataMgrTest, UnreadableFileGivesCannotOpen)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "root reads every file";
    const std::string path = dir.write("locked.raw", {1, 2, 3});
    ASSERT_EQ(::chmod(path.c_str(), 0), 0);
    mgr.OpenFile(path);
    EXPECT_EQ(mgr.ErrorText, "Cannot open file " + path);
}

TEST_F(DataMgrTest, NamesThatLeadNowhereDoNotExistOtherUnresolvableNamesCannotOpen)
{
    const std::string file = dir.write("plain.raw", {1});
    const std::string loopA = dir.path("loop-a");
    const std::string loopB = dir.path("loop-b");
    ASSERT_EQ(::symlink(loopB.c_str(), loopA.c_str()), 0);
    ASSERT_EQ(::symlink(loopA.c_str(), loopB.c_str()), 0);
    const std::string dangling = dir.path("dangling");
    ASSERT_EQ(::symlink(dir.path("nowhere").c_str(), dangling.c_str()), 0);
    const std::string longComponent = dir.path(std::string(300, 'n'));
    std::string longPath = dir.path("");
    while (longPath.size() <= 5000)
        longPath += "d/";
    longPath += "x.raw";

    const std::pair<std::string, bool> cases[] = {
        {loopA, false},           // ELOOP
        {loopA + "/x.raw", false}, // ELOOP on the way
        {longComponent, false},   // ENAMETOOLONG: one component
        {longPath, false},        // ENAMETOOLONG: the whole path
        {file + "/x.raw", true},  // ENOTDIR: a plain file on the way
        {dangling, true},         // ENOENT behind a symlink
    };
    for (const auto& [path, missing] : cases) {
        mgr.OpenFile(path);
        EXPECT_EQ(mgr.ErrorText, missing ? std::string("File does not exist") : "Cannot open file " + path)
            << path.substr(0, 80);
        EXPECT_TRUE(mgr.FileName.empty());
        EXPECT_EQ(mgr.Stream, nullptr);
    }
}

TEST_F(DataMgrTest, FileInAFolderWithoutSearchPermissionCannotOpen)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "root searches every folder";
    const std::string folder = dir.path("closed");
    ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
    const std::string path = folder + "/inside.raw";
    { std::ofstream(path) << 'x'; }
    ASSERT_EQ(::chmod(folder.c_str(), 0600), 0);
    mgr.OpenFile(path);
    EXPECT_EQ(mgr.ErrorText, "Cannot open file " + path);
    ASSERT_EQ(::chmod(folder.c_str(), 0700), 0);
}

TEST_F(DataMgrTest, FileHeldOpenForWritingElsewhereOpensAndShowsLaterWrites)
{
    const std::string path = dir.write("shared.raw", {5});
    const int writer = ::open(path.c_str(), O_WRONLY);
    ASSERT_GE(writer, 0);
    mgr.OpenFile(path);
    EXPECT_EQ(mgr.FileName, path);
    EXPECT_TRUE(mgr.ErrorText.empty());
    ASSERT_EQ(::pwrite(writer, "\x09", 1, 0), 1);
    mgr.SetParams(1, 1, 1, vdtByte, boLittleEndian, 0, 255);
    mgr.RenderView(0, 0, vkSlice, image);
    EXPECT_EQ(mgr.ViewValue(vkSlice, 0, 0), 9.0);
    ::close(writer);
}

TEST_F(DataMgrTest, OpeningReplacesTheFileAndAFailureLeavesNone)
{
    const std::string first = dir.write("first.raw", {1});
    const std::string second = dir.write("second.raw", {2});
    mgr.OpenFile(first);
    mgr.OpenFile(second);
    EXPECT_EQ(mgr.FileName, second);
    mgr.SetParams(1, 1, 1, vdtByte, boLittleEndian, 0, 255);
    mgr.RenderView(0, 0, vkSlice, image);
    EXPECT_EQ(mgr.ViewValue(vkSlice, 0, 0), 2.0);

    mgr.OpenFile(dir.path("gone.raw"));
    EXPECT_TRUE(mgr.FileName.empty());
    EXPECT_EQ(mgr.Stream, nullptr);
    EXPECT_EQ(mgr.ErrorText, "File does not exist");

    mgr.CloseFile();
    EXPECT_EQ(mgr.ErrorText, "File does not exist"); // kept by CloseFile
    mgr.CloseFile();                                  // harmless twice

    mgr.OpenFile(first);
    EXPECT_TRUE(mgr.ErrorText.empty());
    EXPECT_EQ(mgr.DimSize(0), 1); // the guess survives opening and closing
}

// ---- colour rules -----------------------------------------------------------

// One voxel of the given bytes rendered through the whole pipeline in view:
// the pixel it shows.
Rgb renderedVoxel(const std::vector<std::uint8_t>& bytes, TVoxelDataType type, TByteOrder order,
                  std::int32_t intensityMin, std::int32_t intensityMax, TViewKind view = vkSlice)
{
    TempDir dir;
    TKelvoxDataMgr mgr;
    mgr.OpenFile(dir.write("v.raw", bytes));
    mgr.SetParams(1, 1, 1, type, order, intensityMin, intensityMax);
    VectorImage image;
    mgr.RenderView(0, 0, view, image);
    return image.at(0, 0);
}

struct GreyCase
{
    std::int32_t intensityMin, intensityMax;
    std::int32_t value;
    int expected;
};

class GreyTable : public ::testing::TestWithParam<GreyCase>
{
};

// One int32 voxel per case.
TEST_P(GreyTable, MapsValueToGreyLevel)
{
    const GreyCase& c = GetParam();
    EXPECT_EQ(renderedVoxel(bytesOf32({static_cast<std::uint32_t>(c.value)}, false), vdtInt32, boLittleEndian,
                            c.intensityMin, c.intensityMax),
              grey(c.expected));
}

INSTANTIATE_TEST_SUITE_P(
    Windows, GreyTable,
    ::testing::Values(
        // Halves go to the even neighbour: 0.5 -> 0, 1.5 -> 2, 2.5 -> 2.
        GreyCase{0, 510, 1, 0}, GreyCase{0, 510, 3, 2}, GreyCase{0, 510, 5, 2}, GreyCase{0, 510, 255, 128},
        GreyCase{0, 510, 509, 254},
        // The full int32 window: Span 2^32 as a float, 0 scales to 127.5.
        GreyCase{IntMin, IntMax, 0, 128}, GreyCase{IntMin, IntMax, IntMin, 0}, GreyCase{IntMin, IntMax, IntMax, 255},
        // Inverted window.
        GreyCase{255, 0, 0, 255}, GreyCase{255, 0, 255, 0}, GreyCase{255, 0, 100, 155},
        // Zero span counts as 1: up to 10 black, from 11 white.
        GreyCase{10, 10, 10, 0}, GreyCase{10, 10, 9, 0}, GreyCase{10, 10, 11, 255},
        // Clamped ends.
        GreyCase{0, 255, -5, 0}, GreyCase{0, 255, 256, 255}, GreyCase{0, 255, IntMax, 255},
        // Beyond 2^24 an int32 loses its lowest bits as a float.
        GreyCase{16777216, 16777218, 16777217, 0}));

struct FloatCase
{
    float value;
    std::int32_t intensityMin, intensityMax;
    Rgb expected;
};

class FloatColourTable : public ::testing::TestWithParam<FloatCase>
{
};

TEST_P(FloatColourTable, PaintsNanRedInfinitiesClampedAndOverflowRed)
{
    const FloatCase& c = GetParam();
    for (TViewKind view : {vkSlice, vkNextSlice, vkCrossSlice, vkOtherVolume})
        EXPECT_EQ(renderedVoxel(bytesOfFloats({c.value}, true), vdtFloat32, boBigEndian, c.intensityMin,
                                c.intensityMax, view),
                  c.expected)
            << "view " << int(view);
}

INSTANTIATE_TEST_SUITE_P(
    Specials, FloatColourTable,
    ::testing::Values(FloatCase{std::numeric_limits<float>::quiet_NaN(), 0, 255, Red},
                      FloatCase{-std::numeric_limits<float>::quiet_NaN(), 0, 255, Red},
                      FloatCase{std::bit_cast<float>(0x7F800001u), 0, 255, Red}, // signalling NaN
                      FloatCase{Inf, 0, 255, grey(255)}, FloatCase{-Inf, 0, 255, grey(0)},
                      FloatCase{Inf, 255, 0, grey(0)}, // inverted window
                      FloatCase{3.0e38f, 0, 1, Red}, FloatCase{-3.0e38f, 0, 1, Red},
                      FloatCase{3.0e38f, 0, 255, grey(255)}, // 3e38 * 1 still fits a float
                      FloatCase{1.3e36f, 0, 1, grey(255)},   // 3.3e38 fits
                      FloatCase{1.4e36f, 0, 1, Red},         // 3.57e38 does not
                      FloatCase{0.5f, 0, 1, grey(128)}, FloatCase{2.5f / 255.0f, 0, 1, grey(2)},
                      FloatCase{-0.0f, 0, 255, grey(0)}, FloatCase{1e-45f, 0, 255, grey(0)}));

// Every int16 value in one slice, both byte orders, several windows: the
// table built per render agrees pixel for pixel with the rule.
class Int16SweepTable : public ::testing::TestWithParam<std::tuple<TByteOrder, std::pair<int, int>, bool>>
{
protected:
    void TearDown() override { GreyKernels::useVectorUnits(true); }
};

TEST_P(Int16SweepTable, EveryValueMatchesTheRule)
{
    const auto [order, window, vector] = GetParam();
    GreyKernels::useVectorUnits(vector);
    std::vector<std::int16_t> values;
    for (int v = -32768; v <= 32767; ++v)
        values.push_back(static_cast<std::int16_t>(v));
    TempDir dir;
    TKelvoxDataMgr mgr;
    mgr.OpenFile(dir.write("sweep.raw", bytesOf16(values, order == boBigEndian)));
    mgr.SetParams(256, 256, 1, vdtInt16, order, window.first, window.second);
    VectorImage image;
    mgr.RenderView(0, 0, vkSlice, image);
    EXPECT_EQ(mgr.ObservedMin, -32768.0f);
    EXPECT_EQ(mgr.ObservedMax, 32767.0f);
    for (int i = 0; i < 65536; ++i) {
        const Rgb expected = referenceColour(values[i], window.first, window.second);
        ASSERT_EQ(image.at(i % 256, i / 256), expected) << "value " << values[i];
        ASSERT_EQ(mgr.ViewValue(vkSlice, i % 256, i / 256), values[i]);
    }
}

INSTANTIATE_TEST_SUITE_P(Windows, Int16SweepTable,
                         ::testing::Combine(::testing::Values(boLittleEndian, boBigEndian),
                                            ::testing::Values(std::pair{-1000, 3000}, std::pair{300, -300},
                                                              std::pair{-7, -7}, std::pair{IntMin, IntMax},
                                                              std::pair{0, 1}),
                                            ::testing::Bool()));

// Pseudo-random bit patterns (NaNs, infinities, denormals, huge values)
// through the float batch path and pseudo-random int32s through the integer
// one, against the rule.
class BitPatternSweep : public ::testing::TestWithParam<bool>
{
protected:
    void TearDown() override { GreyKernels::useVectorUnits(true); }
};

TEST_P(BitPatternSweep, Int32FloatAndByteValuesMatchTheRule)
{
    GreyKernels::useVectorUnits(GetParam());
    std::vector<std::uint32_t> bits;
    std::uint32_t x = 12345;
    for (int i = 0; i < 40000; ++i) {
        x = x * 1664525u + 1013904223u;
        bits.push_back(i % 4 == 0 ? x : i % 4 == 1 ? (x & 0x4FFFFFFFu) : i % 4 == 2 ? (x >> 8) : (x | 0x7F800000u));
    }
    for (std::uint32_t special : {0x7F800000u, 0xFF800000u, 0x80000000u, 0x00000001u, 0x7F7FFFFFu, 0x43000000u})
        bits.push_back(special);
    const auto n = static_cast<std::int32_t>(bits.size());
    TempDir dir;
    const std::string path = dir.write("bits.raw", bytesOf32(bits, false));
    for (auto [lo, hi] : {std::pair{0, 1}, std::pair{-100, 100}, std::pair{IntMin, IntMax}, std::pair{1000, -1000000}}) {
        TKelvoxDataMgr mgr;
        mgr.OpenFile(path);
        for (TVoxelDataType type : {vdtInt32, vdtFloat32, vdtByte}) {
            mgr.SetParams(n, 1, 1, type, boLittleEndian, lo, hi);
            VectorImage image;
            mgr.RenderView(0, 0, vkOtherVolume, image);
            for (std::int32_t i = 0; i < n; ++i) {
                const float v = type == vdtInt32 ? static_cast<float>(static_cast<std::int32_t>(bits[i]))
                    : type == vdtFloat32         ? std::bit_cast<float>(bits[i])
                                                 : static_cast<float>(bits[i / 4] >> (8 * (i % 4)) & 0xFF);
                ASSERT_EQ(image.at(i, 0), referenceColour(v, lo, hi)) << std::hex << bits[i] << " window " << lo;
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(VectorAndPlainLoops, BitPatternSweep, ::testing::Bool());

// ---- reading: partial voxels, positions beyond the file -------------------

TEST_F(DataMgrTest, ByteFileEndingInsideTheSliceShowsLightBlueAfterTheData)
{
    openBytes(std::vector<std::uint8_t>(1000, 77));
    mgr.SetParams(32, 32, 1, vdtByte, boLittleEndian, 0, 255);
    mgr.RenderView(0, 0, vkSlice, image);
    EXPECT_EQ(mgr.ViewCounts[vkSlice], 1000);
    EXPECT_EQ(image.width, 32);
    EXPECT_EQ(image.height, 32);
    EXPECT_EQ(image.repaints, 1);
    for (int i = 0; i < 1024; ++i)
        ASSERT_EQ(image.at(i % 32, i / 32), i < 1000 ? grey(77) : LightBlue) << i;
    EXPECT_EQ(mgr.ViewValue(vkSlice, 7, 31), 77.0);  // element 999
    EXPECT_EQ(mgr.ViewValue(vkSlice, 8, 31), 0.0);   // element 1000, beyond the file
    // Positions beyond the data count as 0 in the observed range.
    EXPECT_EQ(mgr.ObservedMin, 0.0f);
    EXPECT_EQ(mgr.ObservedMax, 77.0f);
}

TEST_F(DataMgrTest, TrailingPartOfAVoxelIsNotAVoxel)
{
    openBytes({0x10, 0x00, 0x20, 0x00, 0x30}); // two int16 voxels and one byte
    mgr.SetParams(3, 1, 1, vdtInt16, boLittleEndian, 0, 255);
    mgr.RenderView(0, 0, vkSlice, image);
    EXPECT_EQ(mgr.ViewCounts[vkSlice], 2);
    EXPECT_EQ(image.at(0, 0), grey(16));
    EXPECT_EQ(image.at(1, 0), grey(32));
    EXPECT_EQ(image.at(2, 0), LightBlue);
    EXPECT_EQ(mgr.ViewValue(vkSlice, 2, 0), 0.0);
}

TEST_F(DataMgrTest, SliceHalfBeyondTheFileObservesZero)
{
    openBytes(std::vector<std::uint8_t>(48, 100));
    mgr.SetParams(8, 4, 4, vdtByte, boLittleEndian, 0, 255);
    mgr.RenderView(0, 1, vkSlice, image); // bytes 32..63: half in the file
    EXPECT_EQ(mgr.ViewCounts[vkSlice], 16);
    EXPECT_EQ(mgr.ObservedMin, 0.0f);
    EXPECT_EQ(mgr.ObservedMax, 100.0f);
    EXPECT_EQ(image.at(7, 1), grey(100));
    EXPECT_EQ(image.at(0, 2), LightBlue);

    mgr.RenderView(0, 2, vkSlice, image); // wholly beyond the end
    EXPECT_EQ(mgr.ViewCounts[vkSlice], 0);
    EXPECT_EQ(image.at(0, 0), LightBlue);
    EXPECT_EQ(mgr.ObservedMin, 0.0f);
    EXPECT_EQ(mgr.ObservedMax, 0.0f);
}

TEST_F(DataMgrTest, NoFileShowsEverythingLightBlue)
{
    mgr.SetParams(5, 3, 2, vdtFloat32, boLittleEndian, 0, 1);
    for (TViewKind view : {vkSlice, vkNextSlice, vkCrossSlice, vkOtherVolume}) {
        mgr.RenderView(0, 0, view, image);
        EXPECT_EQ(mgr.ViewCounts[view], 0);
        for (int y = 0; y < image.height; ++y)
            for (int x = 0; x < image.width; ++x)
                ASSERT_EQ(image.at(x, y), LightBlue);
    }
    EXPECT_EQ(mgr.ObservedMin, 0.0f);
    EXPECT_EQ(mgr.ObservedMax, 0.0f);
}

TEST_F(DataMgrTest, EmptyViewKeepsTheStartOfTheObservedRange)
{
    openBytes({1, 2, 3});
    for (auto [d0, d1] : {std::pair{0, 5}, std::pair{5, 0}, std::pair{-3, 4}}) {
        mgr.SetParams(d0, d1, 1, vdtByte, boLittleEndian, 0, 255);
        mgr.RenderView(0, 0, vkSlice, image);
        EXPECT_EQ(image.width * image.height, 0);
        EXPECT_EQ(mgr.ObservedMin, 2147483648.0f);
        EXPECT_EQ(mgr.ObservedMax, -2147483648.0f);
        EXPECT_EQ(mgr.ViewValue(vkSlice, 0, 0), 0.0);
    }
}

TEST_F(DataMgrTest, ObservedRangeOfFloatsSkipsNanAndKeepsTheFirstZeroSign)
{
    openBytes(bytesOfFloats({std::nanf(""), -0.0f, 0.0f, 7.5f, -Inf, 3.0e38f, 0.0f, -0.0f, 1.0f}, false));
    mgr.SetParams(9, 1, 1, vdtFloat32, boLittleEndian, 0, 1);
    mgr.RenderView(0, 0, vkSlice, image);
    EXPECT_EQ(mgr.ObservedMin, -Inf);
    EXPECT_EQ(mgr.ObservedMax, 3.0e38f);
    EXPECT_EQ(image.at(5, 0), Red);       // 3e38 under the window 0..1 overflows
    EXPECT_EQ(image.at(4, 0), grey(0));   // -infinity is black

    // All values zero: the extremes are the first zero met, sign included.
    openBytes(bytesOfFloats({-0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f}, false));
    mgr.SetParams(10, 1, 1, vdtFloat32, boLittleEndian, 0, 1);
    mgr.RenderView(0, 0, vkSlice, image);
    EXPECT_TRUE(std::signbit(mgr.ObservedMin));
    EXPECT_TRUE(std::signbit(mgr.ObservedMax));
}

TEST_F(DataMgrTest, OnlyTheSliceViewTouchesTheObservedRange)
{
    openBytes({10, 20, 30, 40});
    mgr.SetParams(2, 1, 2, vdtByte, boLittleEndian, 0, 255);
    mgr.RenderView(0, 0, vkSlice, image);
    mgr.RenderView(0, 1, vkNextSlice, image);
    mgr.RenderView(0, 0, vkCrossSlice, image);
    mgr.RenderView(5, 0, vkOtherVolume, image);
    EXPECT_EQ(mgr.ObservedMin, 10.0f);
    EXPECT_EQ(mgr.ObservedMax, 20.0f);
    EXPECT_EQ(mgr.ViewValue(vkNextSlice, 1, 0), 40.0);
    EXPECT_EQ(mgr.ViewValue(vkSlice, 1, 0), 20.0); // other views' buffers untouched
}

TEST_F(DataMgrTest, NextSliceAfterTheLastSliceIsTheNextVolume)
{
    std::vector<std::uint8_t> bytes;
    for (int v = 0; v < 2; ++v)
        for (int s = 0; s < 3; ++s)
            for (int i = 0; i < 4; ++i)
                bytes.push_back(static_cast<std::uint8_t>(100 * v + 10 * s + i));
    openBytes(bytes);
    mgr.SetParams(2, 2, 3, vdtByte, boLittleEndian, 0, 255);
    mgr.RenderView(0, 3, vkNextSlice, image);
    EXPECT_EQ(mgr.ViewValue(vkNextSlice, 1, 1), 103.0);
    mgr.RenderView(1, 2, vkOtherVolume, image);
    EXPECT_EQ(mgr.ViewValue(vkOtherVolume, 0, 1), 122.0);
    mgr.RenderView(0, 6, vkNextSlice, image);
    EXPECT_EQ(image.at(0, 0), LightBlue);
}

TEST_F(DataMgrTest, CrossSliceTakesOneRowPerSliceAndRowsPastDimOne)
{
    std::vector<std::uint8_t> bytes;
    for (int s = 0; s < 4; ++s)
        for (int r = 0; r < 3; ++r)
            for (int i = 0; i < 2; ++i)
                bytes.push_back(static_cast<std::uint8_t>(10 * s + 3 * r + i));
    openBytes(bytes);
    mgr.SetParams(2, 3, 4, vdtByte, boLittleEndian, 0, 255);
    mgr.RenderView(0, 1, vkCrossSlice, image);
    EXPECT_EQ(image.width, 2);
    EXPECT_EQ(image.height, 4);
    EXPECT_EQ(mgr.ViewCounts[vkCrossSlice], 8);
    for (int s = 0; s < 4; ++s)
        EXPECT_EQ(mgr.ViewValue(vkCrossSlice, 1, s), 10 * s + 3 + 1);

    // Row 4 of a 3-row slice is row 1 of the next slice; the last slice's
    // row runs beyond the file.
    mgr.RenderView(0, 4, vkCrossSlice, image);
    EXPECT_EQ(mgr.ViewValue(vkCrossSlice, 0, 0), 13.0);
    EXPECT_EQ(mgr.ViewValue(vkCrossSlice, 0, 2), 33.0);
    EXPECT_EQ(image.at(0, 3), LightBlue);
    EXPECT_EQ(mgr.ViewCounts[vkCrossSlice], 6);
}

// Rows are read at their own offsets: once offsets wrap, a row can hold data
// after rows that hold none, and each row shows exactly what it read.
TEST_F(DataMgrTest, CrossSliceRowsAfterAnEmptyRowStillShowTheirData)
{
    openBytes({1, 2, 3, 4, 5, 6, 7, 8});
    // With -1 rows per slice each slice starts a row before the last one:
    // row 2 of slice 0 lies beyond the file, of slice 1 at byte 4, of slice 2
    // at byte 0.
    mgr.SetParams(4, -1, 3, vdtByte, boLittleEndian, 0, 255);
    mgr.RenderView(0, 2, vkCrossSlice, image);
    EXPECT_EQ(mgr.ViewCounts[vkCrossSlice], 8);
    for (int x = 0; x < 4; ++x) {
        EXPECT_EQ(image.at(x, 0), LightBlue);
        EXPECT_EQ(mgr.ViewValue(vkCrossSlice, x, 0), 0.0);
        EXPECT_EQ(image.at(x, 1), grey(x + 5));
        EXPECT_EQ(mgr.ViewValue(vkCrossSlice, x, 1), x + 5.0);
        EXPECT_EQ(image.at(x, 2), grey(x + 1));
        EXPECT_EQ(mgr.ViewValue(vkCrossSlice, x, 2), x + 1.0);
    }
}

// ---- buffers larger than the first 4 MiB --------------------------------------

struct BufferCase
{
    std::int32_t d0, d1;
    TVoxelDataType type;
};

class BufferSizeTable : public ::testing::TestWithParam<BufferCase>
{
};

TEST_P(BufferSizeTable, EveryPositionShowsRealData)
{
    const BufferCase& c = GetParam();
    const std::int64_t bpv = bytesPerVoxelOf(c.type);
    const std::int64_t voxels = std::int64_t{c.d0} * c.d1;
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(voxels * bpv));
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<std::uint8_t>(i * 7 + i / 251);
    TempDir dir;
    TKelvoxDataMgr mgr;
    mgr.OpenFile(dir.write("big.raw", bytes));
    mgr.SetParams(c.d0, c.d1, 2, c.type, boLittleEndian, IntMin, IntMax);
    VectorImage image;
    for (TViewKind view : {vkSlice, vkCrossSlice}) {
        // Slice 0 in full; the cross-slice view of row 0 over d1 slices
        // reads the same bytes when each slice is one row.
        if (view == vkCrossSlice)
            mgr.SetParams(c.d0, 1, c.d1, c.type, boLittleEndian, IntMin, IntMax);
        mgr.RenderView(0, 0, view, image);
        EXPECT_EQ(mgr.ViewCounts[view], voxels);
        for (std::int64_t i : {std::int64_t{0}, voxels / 2, voxels - 1}) {
            const auto x = static_cast<std::int32_t>(i % c.d0), y = static_cast<std::int32_t>(i / c.d0);
            double expected = 0;
            const std::uint8_t* p = bytes.data() + i * bpv;
            if (c.type == vdtByte)
                expected = *p;
            else if (c.type == vdtInt16)
                expected = static_cast<std::int16_t>(p[0] | p[1] << 8);
            else
                expected = static_cast<std::int32_t>(p[0] | p[1] << 8 | p[2] << 16 | static_cast<std::uint32_t>(p[3]) << 24);
            EXPECT_EQ(mgr.ViewValue(view, x, y), expected) << i;
            EXPECT_NE(image.at(x, y), LightBlue);
        }
    }
    EXPECT_GE(mgr.ViewBuffers[vkSlice].capacity(), static_cast<std::size_t>(voxels * bpv));
}

INSTANTIATE_TEST_SUITE_P(Sizes, BufferSizeTable,
                         ::testing::Values(BufferCase{1024, 1024, vdtInt32}, // exactly 4 MiB
                                           BufferCase{2048, 2048, vdtByte},  // exactly 4 MiB
                                           BufferCase{1100, 1000, vdtInt32}, // needs a grown buffer
                                           BufferCase{2000, 1500, vdtInt16}));

// ---- ViewValue --------------------------------------------------------------

TEST_F(DataMgrTest, ViewValueOfFloatsTurnsSignallingNanToZero)
{
    openBytes(bytesOf32({0x7F800001u, 0x7FC00000u, 0xFFA00000u, 0x7F800000u, 0x3FC00000u}, false));
    mgr.SetParams(5, 1, 1, vdtFloat32, boLittleEndian, 0, 1);
    mgr.RenderView(0, 0, vkSlice, image);
    EXPECT_EQ(mgr.ViewValue(vkSlice, 0, 0), 0.0);            // signalling
    EXPECT_TRUE(std::isnan(mgr.ViewValue(vkSlice, 1, 0)));   // quiet
    EXPECT_EQ(mgr.ViewValue(vkSlice, 2, 0), 0.0);            // signalling, negative
    EXPECT_EQ(mgr.ViewValue(vkSlice, 3, 0), std::numeric_limits<double>::infinity());
    EXPECT_EQ(mgr.ViewValue(vkSlice, 4, 0), 1.5);
}

TEST_F(DataMgrTest, ViewValueOutsideTheViewIsZero)
{
    openBytes({1, 2, 3, 4, 5, 6});
    mgr.SetParams(3, 2, 1, vdtByte, boLittleEndian, 0, 255);
    mgr.RenderView(0, 0, vkSlice, image);
    EXPECT_EQ(mgr.ViewValue(vkSlice, 3, 0), 4.0); // x beyond the row runs into the next row
    EXPECT_EQ(mgr.ViewValue(vkSlice, -1, 0), 0.0);
    EXPECT_EQ(mgr.ViewValue(vkSlice, 0, -1), 0.0);
    EXPECT_EQ(mgr.ViewValue(vkSlice, IntMax, IntMax), 0.0);
    EXPECT_EQ(mgr.ViewValue(static_cast<TViewKind>(9), 0, 0), 0.0);
}

// Between a change of the guess and the next render the readout still
// describes the pictures on screen, and never reads past what was rendered.
TEST_F(DataMgrTest, ViewValueServesTheViewAsRendered)
{
    openBytes({1, 2, 3, 4});
    mgr.SetParams(4, 1, 1, vdtByte, boLittleEndian, 0, 255);
    mgr.RenderView(0, 0, vkSlice, image);
    mgr.SetParams(1, 4, 1, vdtInt32, boBigEndian, 0, 255);
    EXPECT_EQ(mgr.ViewValue(vkSlice, 3, 0), 4.0);
    EXPECT_EQ(mgr.ViewValue(vkSlice, 0, 1), 0.0);
}

TEST_F(DataMgrTest, UnknownDataTypeDecodesAsZero)
{
    openBytes({9, 9, 9});
    mgr.SetParams(4, 1, 1, static_cast<TVoxelDataType>(8), boLittleEndian, -10, 10);
    mgr.RenderView(0, 0, vkSlice, image);
    EXPECT_EQ(image.at(0, 0), grey(128));
    EXPECT_EQ(image.at(3, 0), LightBlue);
    EXPECT_EQ(mgr.ViewValue(vkSlice, 0, 0), 0.0);
    EXPECT_EQ(mgr.ObservedMin, 0.0f);
    EXPECT_EQ(mgr.ObservedMax, 0.0f);
}

// ---- exact offsets in a micro-CT sized file ---------------------------------

// Two volumes of 2048 x 2048 x 2060 float32 voxels (34.6 GB each) behind a
// header, as a sparse file: only the marked voxels take room on disk.
class HugeFileTest : public ::testing::TestWithParam<std::int64_t>
{
protected:
    static constexpr std::int32_t Side = 2048;
    static constexpr std::int32_t Slices = 2060;
    static constexpr std::int32_t MarkedRow = 1000;
    static constexpr std::int64_t VolumeBytes = std::int64_t{Side} * Side * Slices * 4;

    std::int64_t header() const { return GetParam(); }
    // Where voxel (i0, i1, i2, i3) lies, computed here independently.
    std::int64_t at(std::int64_t i0, std::int64_t i1, std::int64_t i2, std::int64_t i3) const
    {
        return header() + 4 * (i0 + Side * (i1 + std::int64_t{Side} * (i2 + std::int64_t{Slices} * i3)));
    }

    void SetUp() override
    {
        path = dir.path("microct.raw");
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT, 0600);
        ASSERT_GE(fd, 0);
        bool ok = ::ftruncate(fd, header() + 2 * VolumeBytes) == 0;
        const auto mark = [&](std::int64_t position, float value) {
            ok = ok && ::pwrite(fd, &value, 4, position) == 4;
        };
        mark(at(0, 0, Slices - 1, 0), 7.0f);
        mark(at(Side - 1, Side - 1, Slices - 1, 0), 9.0f); // the last voxel of the volume
        for (std::int32_t k = 0; k < Slices; ++k)
            mark(at(5, MarkedRow, k, 0), static_cast<float>(k)); // one voxel in each slice's row
        mark(at(1, 2, 3, 1), 42.0f); // the second volume
        ::close(fd);
        if (!ok)
            GTEST_SKIP() << "no sparse file of 70 GB here";
        mgr.OpenFile(path);
        ASSERT_FALSE(mgr.FileName.empty()) << mgr.ErrorText;
        mgr.SetParams(Side, Side, Slices, vdtFloat32, boLittleEndian, 0, 10000, header());
    }

    TempDir dir;
    std::string path;
    TKelvoxDataMgr mgr;
    VectorImage image;
};

TEST_P(HugeFileTest, LastSliceIsReadAtItsTruePosition)
{
    EXPECT_EQ(mgr.ByteOffset(0, 0, Slices - 1, 0), at(0, 0, Slices - 1, 0) - header());
    EXPECT_EQ(mgr.FilePosition(Side - 1, Side - 1, Slices - 1, 0), at(Side - 1, Side - 1, Slices - 1, 0));
    mgr.RenderView(0, Slices - 1, vkSlice, image);
    EXPECT_EQ(mgr.ViewCounts[vkSlice], Side * Side);
    EXPECT_EQ(mgr.ViewValue(vkSlice, 0, 0), 7.0);
    EXPECT_EQ(mgr.ViewValue(vkSlice, Side - 1, Side - 1), 9.0);
    EXPECT_EQ(mgr.ViewValue(vkSlice, 1, 0), 0.0);
    EXPECT_EQ(mgr.ViewValue(vkSlice, 5, MarkedRow), static_cast<double>(Slices - 1));
    EXPECT_EQ(mgr.ObservedMin, 0.0f);
    EXPECT_EQ(mgr.ObservedMax, static_cast<float>(Slices - 1));
}

TEST_P(HugeFileTest, CrossSliceReadsEveryRowOfAllSlices)
{
    mgr.RenderView(0, MarkedRow, vkCrossSlice, image);
    EXPECT_EQ(mgr.ViewCounts[vkCrossSlice], Side * Slices);
    for (std::int32_t k : {0, 1, 127, 128, 255, 256, 1024, Slices - 1})
        EXPECT_EQ(mgr.ViewValue(vkCrossSlice, 5, k), static_cast<double>(k)) << "slice " << k;
    EXPECT_EQ(image.at(0, Slices - 1), grey(0));
}

TEST_P(HugeFileTest, SecondVolumeLiesBehindTheFirst)
{
    mgr.RenderView(1, 3, vkOtherVolume, image);
    EXPECT_EQ(mgr.ViewValue(vkOtherVolume, 1, 2), 42.0);
    EXPECT_EQ(mgr.FilePosition(1, 2, 3, 1), at(1, 2, 3, 1));
    // A third volume would lie beyond the end of the file: light blue.
    mgr.RenderView(2, 0, vkOtherVolume, image);
    EXPECT_EQ(mgr.ViewCounts[vkOtherVolume], 0);
    EXPECT_EQ(image.at(0, 0), LightBlue);
}

TEST(DataMgrLargeSlice, FourHundredMegabyteSliceReadsWhole)
{
    // The largest float32 slice of the window, 10000 x 10000 voxels, behind
    // a header in a sparse file: one read of 400 MB that must arrive whole.
    constexpr std::int32_t Side = 10000;
    constexpr std::int64_t Header = 1000;
    TempDir dir;
    const std::string path = dir.path("large.raw");
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT, 0600);
    ASSERT_GE(fd, 0);
    const float last = 100.0f;
    const std::int64_t lastAt = Header + (std::int64_t{Side} * Side - 1) * 4;
    const bool ok = ::ftruncate(fd, lastAt + 4) == 0 && ::pwrite(fd, &last, 4, lastAt) == 4;
    ::close(fd);
    if (!ok)
        GTEST_SKIP() << "no sparse file of 400 MB here";
    TKelvoxDataMgr mgr;
    mgr.OpenFile(path);
    mgr.SetParams(Side, Side, 1, vdtFloat32, boLittleEndian, 0, 255, Header);
    VectorImage image;
    mgr.RenderView(0, 0, vkSlice, image);
    EXPECT_EQ(mgr.ViewCounts[vkSlice], Side * Side);
    EXPECT_EQ(mgr.ViewValue(vkSlice, Side - 1, Side - 1), 100.0);
    EXPECT_EQ(image.at(Side - 1, Side - 1), grey(100));
    EXPECT_EQ(mgr.ObservedMax, 100.0f);
}

INSTANTIATE_TEST_SUITE_P(Headers, HugeFileTest, ::testing::Values(0, 352),
                         [](const auto& info) { return "header" + std::to_string(info.param); });

TEST_F(DataMgrTest, HeaderShiftsEveryReadAndOnePastTheFileReadsNothing)
{
    openBytes({1, 2, 3, 4, 5, 6, 7, 8});
    mgr.SetParams(2, 2, 1, vdtByte, boLittleEndian, 0, 255, 3);
    mgr.RenderView(0, 0, vkSlice, image);
    EXPECT_EQ(mgr.ViewValue(vkSlice, 0, 0), 4.0);
    EXPECT_EQ(mgr.ViewValue(vkSlice, 1, 1), 7.0);
    mgr.RenderView(0, 1, vkNextSlice, image); // bytes 7, 8, then the end of the file
    EXPECT_EQ(mgr.ViewCounts[vkNextSlice], 1);
    EXPECT_EQ(image.at(1, 0), LightBlue);

    for (const std::int64_t beyond : {std::int64_t{8}, std::int64_t{1} << 40, std::numeric_limits<std::int64_t>::max()}) {
        mgr.SetParams(2, 2, 1, vdtByte, boLittleEndian, 0, 255, beyond);
        mgr.RenderView(0, 0, vkSlice, image);
        mgr.RenderView(0, 0, vkCrossSlice, image);
        EXPECT_EQ(mgr.ViewCounts[vkSlice], 0) << beyond;
        EXPECT_EQ(mgr.ViewCounts[vkCrossSlice], 0) << beyond;
        EXPECT_EQ(image.at(0, 0), LightBlue);
    }
}

} // namespace
