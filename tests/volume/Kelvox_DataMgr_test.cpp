#include "volume/Kelvox_DataMgr.h"

#include "volume/GreyKernels.h"

#include "VolumeTestSupport.h"

#include <gtest/gtest.h>

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

// The pixel rule written out step by step for one value, as a reference for
// the renderer's table and batch paths.
Rgb referenceColour(float v, std::int32_t intensityMin, std::int32_t intensityMax)
{
    if (std::isnan(v))
        return Red;
    const float lo = static_cast<float>(intensityMin);
    float span = static_cast<float>(static_cast<std::int64_t>(intensityMax) - intensityMin);
    if (span == 0.0f)
        span = 1.0f;
    const auto scale = static_cast<float>(255.0 / static_cast<double>(span));
    const double t = (static_cast<double>(v) - lo) * scale;
    // IEEE conversion: a product beyond the float range becomes infinite.
    float tf = static_cast<float>(t);
    if (std::isfinite(v) && std::isinf(tf))
        return Red;
    tf = std::clamp(tf, 0.0f, 255.0f);
    return grey(static_cast<int>(std::nearbyint(tf)));
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

struct OffsetCase
{
    std::int32_t d0, d1, d2;
    TVoxelDataType type;
    std::array<std::int32_t, 4> index;
    std::int32_t voxel;
    std::int32_t byte;
};

class OffsetTable : public ::testing::TestWithParam<OffsetCase>
{
};

TEST_P(OffsetTable, VoxelAndByteOffsetWrapInSigned32Bits)
{
    const OffsetCase& c = GetParam();
    TKelvoxDataMgr mgr;
    mgr.SetParams(c.d0, c.d1, c.d2, c.type, boLittleEndian, 0, 0);
    const auto [i0, i1, i2, i3] = c.index;
    EXPECT_EQ(mgr.VoxelOffset(i0, i1, i2, i3), c.voxel);
    EXPECT_EQ(mgr.ByteOffset(i0, i1, i2, i3), c.byte);
}

INSTANTIATE_TEST_SUITE_P(
    Geometries, OffsetTable,
    ::testing::Values(OffsetCase{256, 256, 256, vdtInt16, {1, 2, 3, 0}, 197121, 394242},
                      OffsetCase{256, 256, 256, vdtByte, {1, 2, 3, 0}, 197121, 197121},
                      OffsetCase{100, 80, 30, vdtFloat32, {5, 6, 7, 2}, 536605, 2146420},
                      // 1073741849 voxels of 4 bytes: 4,294,967,396 wraps to 100.
                      OffsetCase{1024, 1024, 1024, vdtInt32, {25, 0, 0, 1}, 1073741849, 100},
                      // Past 2^31 bytes the offset is negative: nowhere in the file.
                      OffsetCase{1024, 1024, 1024, vdtInt16, {0, 0, 0, 1}, 1073741824, IntMin},
                      // Blocks wrap too: 65536 x 65536 voxels per slice is 0 mod 2^32.
                      OffsetCase{65536, 65536, 2, vdtByte, {3, 1, 7, 1}, 65539, 65539},
                      // No index is limited to its dimension; negative indices count back.
                      OffsetCase{10, 10, 10, vdtInt16, {12, -1, 0, 0}, 2, 4}));

TEST_F(DataMgrTest, SetParamsDerivesWrappedBlocksAndTakesAnyValue)
{
    mgr.SetParams(70000, 70000, 3, vdtInt32, boBigEndian, 300, -300);
    EXPECT_EQ(mgr.BlockVoxels(0), 70000);
    EXPECT_EQ(mgr.BlockVoxels(1), static_cast<std::int32_t>(4900000000LL - 4294967296LL));
    EXPECT_EQ(mgr.BlockVoxels(2), static_cast<std::int32_t>((4900000000LL * 3) % 4294967296LL));
    EXPECT_EQ(mgr.IntensityMin, 300);
    EXPECT_EQ(mgr.IntensityMax, -300);
    EXPECT_EQ(mgr.ByteOrder, boBigEndian);
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

struct GreyCase
{
    std::int32_t intensityMin, intensityMax;
    std::int32_t value;
    int expected;
};

class GreyTable : public ::testing::TestWithParam<GreyCase>
{
};

// One int32 voxel per case, rendered through the whole pipeline.
TEST_P(GreyTable, MapsValueToGreyLevel)
{
    const GreyCase& c = GetParam();
    TempDir dir;
    TKelvoxDataMgr mgr;
    mgr.OpenFile(dir.write("v.raw", bytesOf32({static_cast<std::uint32_t>(c.value)}, false)));
    mgr.SetParams(1, 1, 1, vdtInt32, boLittleEndian, c.intensityMin, c.intensityMax);
    VectorImage image;
    mgr.RenderView(0, 0, vkSlice, image);
    EXPECT_EQ(image.at(0, 0), grey(c.expected));
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
    TempDir dir;
    TKelvoxDataMgr mgr;
    mgr.OpenFile(dir.write("f.raw", bytesOfFloats({c.value}, true)));
    mgr.SetParams(1, 1, 1, vdtFloat32, boBigEndian, c.intensityMin, c.intensityMax);
    for (TViewKind view : {vkSlice, vkNextSlice, vkCrossSlice, vkOtherVolume}) {
        VectorImage image;
        mgr.RenderView(0, 0, view, image);
        EXPECT_EQ(image.at(0, 0), c.expected) << "view " << int(view);
    }
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
    // A slice is 2^30 bytes: slice 1 lies beyond the file, slices 2 and 3
    // wrap to negative offsets, slice 4 wraps all the way round to offset 0.
    mgr.SetParams(4, 268435456, 5, vdtByte, boLittleEndian, 0, 255);
    mgr.RenderView(0, 0, vkCrossSlice, image);
    EXPECT_EQ(mgr.ViewCounts[vkCrossSlice], 8);
    for (int x = 0; x < 4; ++x) {
        EXPECT_EQ(image.at(x, 0), grey(x + 1));
        for (int y = 1; y < 4; ++y)
            EXPECT_EQ(image.at(x, y), LightBlue);
        EXPECT_EQ(image.at(x, 4), grey(x + 1));
        EXPECT_EQ(mgr.ViewValue(vkCrossSlice, x, 4), x + 1.0);
        EXPECT_EQ(mgr.ViewValue(vkCrossSlice, x, 1), 0.0);
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

// ---- 32-bit offsets in a file beyond 4 GiB ----------------------------------

class SparseFileTest : public ::testing::Test
{
protected:
    static constexpr std::int64_t FourGiB = std::int64_t{1} << 32;

    void SetUp() override
    {
        path = dir.path("sparse.raw");
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT, 0600);
        ASSERT_GE(fd, 0);
        const bool sized = ::ftruncate(fd, FourGiB + 4096) == 0;
        // Marker bytes at 256 and at 2^32 + 256: a wrapped offset reads the first.
        const bool marked = ::pwrite(fd, "\x07", 1, 256) == 1 && ::pwrite(fd, "\x09", 1, FourGiB + 256) == 1;
        ::close(fd);
        if (!sized || !marked)
            GTEST_SKIP() << "no sparse file of 4 GiB here";
        mgr.OpenFile(path);
        ASSERT_FALSE(mgr.FileName.empty()) << mgr.ErrorText;
        mgr.SetParams(256, 1, 1, vdtByte, boLittleEndian, 0, 255); // one 256-byte row per slice
    }

    TempDir dir;
    std::string path;
    TKelvoxDataMgr mgr;
    VectorImage image;
};

TEST_F(SparseFileTest, OffsetThatWrapsAllTheWayRoundReadsTheWrappedPosition)
{
    const std::int32_t slice = (1 << 24) + 1; // byte 2^32 + 256 wraps to 256
    EXPECT_EQ(mgr.ByteOffset(0, 0, slice, 0), 256);
    mgr.RenderView(0, slice, vkSlice, image);
    EXPECT_EQ(mgr.ViewValue(vkSlice, 0, 0), 7.0);
    EXPECT_EQ(image.at(0, 0), grey(7));
}

TEST_F(SparseFileTest, NegativeOffsetReadsNothingEvenWhereTheFileHasData)
{
    const std::int32_t slice = 1 << 23; // byte 2^31: negative
    EXPECT_LT(mgr.ByteOffset(0, 0, slice, 0), 0);
    mgr.RenderView(0, slice, vkSlice, image);
    EXPECT_EQ(mgr.ViewCounts[vkSlice], 0);
    EXPECT_EQ(image.at(0, 0), LightBlue);

    mgr.RenderView(0, slice - 1, vkSlice, image); // the last slice below 2 GiB is data (zeros)
    EXPECT_EQ(mgr.ViewCounts[vkSlice], 256);
    EXPECT_EQ(image.at(255, 0), grey(0));
}

TEST_F(SparseFileTest, CrossSliceRowsWrapLikeSlices)
{
    mgr.SetParams(1, 1 << 24, 258, vdtByte, boLittleEndian, 0, 255); // slices of 2^24 bytes
    mgr.RenderView(0, 256, vkCrossSlice, image);                     // row 256 of each slice
    EXPECT_EQ(mgr.ViewValue(vkCrossSlice, 0, 0), 7.0);               // byte 256
    EXPECT_EQ(image.at(0, 128), LightBlue);                          // byte 2^31 + 256: negative
    EXPECT_EQ(mgr.ViewValue(vkCrossSlice, 0, 256), 7.0);             // byte 2^32 + 256 wraps to 256
}

} // namespace
