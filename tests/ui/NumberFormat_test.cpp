#include "ui/NumberFormat.h"

#include "support/VectorImage.h"

#include "ui/IntText.h"

#include "volume/Kelvox_DataMgr.h"
#include "volume/ViewImage.h"

#include <QLocale>
#include <QString>
#include <QTemporaryFile>

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <ostream>
#include <vector>

namespace {

constexpr std::int32_t Int32Max = std::numeric_limits<std::int32_t>::max();
constexpr std::int32_t Int32Min = std::numeric_limits<std::int32_t>::min();
constexpr double Inf = std::numeric_limits<double>::infinity();
const double QuietNaN = std::numeric_limits<double>::quiet_NaN();

QLocale usLocale()
{
    return QLocale(QLocale::English, QLocale::UnitedStates);
}

QLocale germanLocale()
{
    return QLocale(QLocale::German, QLocale::Germany);
}

// ---- "%W.Df" ---------------------------------------------------------------

struct FixedCase
{
    double value;
    int decimals;
    int width;
    const char* expected;
};

void PrintTo(const FixedCase& c, std::ostream* os)
{
    *os << c.value << " %" << c.width << '.' << c.decimals << "f";
}

class FormatFixed : public testing::TestWithParam<FixedCase>
{
};

TEST_P(FormatFixed, WritesLikeCPrintf)
{
    const FixedCase& c = GetParam();
    EXPECT_EQ(formatFixed(c.value, c.decimals, c.width, usLocale()),
              QString::fromLatin1(c.expected));
}

INSTANTIATE_TEST_SUITE_P(Finite, FormatFixed, testing::Values(
    FixedCase{1.5, 4, 10, "    1.5000"},
    FixedCase{300.0, 0, 10, "       300"},
    FixedCase{-300.0, 0, 10, "      -300"},
    FixedCase{0.0, 2, 10, "      0.00"},
    FixedCase{-12.5, 2, 10, "    -12.50"},
    FixedCase{2147483648.0, 2, 10, "2147483648.00"},
    FixedCase{-2147483648.0, 2, 10, "-2147483648.00"},
    FixedCase{123456.789, 4, 0, "123456.7890"},
    FixedCase{4.6006e-41, 4, 10, "    0.0000"},
    // Exact halves go to the even neighbour, as glibc's printf does.
    FixedCase{0.5, 0, 10, "         0"},
    FixedCase{1.5, 0, 10, "         2"},
    FixedCase{2.5, 0, 10, "         2"},
    FixedCase{0.125, 2, 0, "0.12"},
    FixedCase{0.375, 2, 0, "0.38"},
    // The largest double below 1e18 still takes the fixed form.
    FixedCase{999999999999999872.0, 2, 10, "999999999999999872.00"}));

INSTANTIATE_TEST_SUITE_P(Special, FormatFixed, testing::Values(
    FixedCase{QuietNaN, 4, 10, "       NAN"},
    FixedCase{-QuietNaN, 4, 10, "      -NAN"},
    FixedCase{Inf, 0, 10, "       INF"},
    FixedCase{-Inf, 2, 10, "      -INF"},
    FixedCase{QuietNaN, 2, 0, "NAN"},
    FixedCase{1e18, 2, 10, "1.000000E+18"},
    FixedCase{-1e18, 0, 10, "-1.000000E+18"},
    FixedCase{3.0e38, 4, 10, "3.000000E+38"},
    FixedCase{static_cast<double>(std::numeric_limits<float>::max()), 2, 20,
              "        3.402823E+38"},
    FixedCase{1.7976931348623157e308, 2, 10, "1.797693E+308"},
    FixedCase{1.0, -1, 10, "     Error"},
    FixedCase{1.0, 21, 10, "     Error"}));

// ---- "%W.0n" ---------------------------------------------------------------

struct GroupedCase
{
    std::int32_t value;
    const char* expected;
};

void PrintTo(const GroupedCase& c, std::ostream* os)
{
    *os << c.value;
}

class FormatGrouped : public testing::TestWithParam<GroupedCase>
{
};

TEST_P(FormatGrouped, GroupsByThreesRightAligned)
{
    EXPECT_EQ(formatGrouped(GetParam().value, 10, usLocale()), QString::fromLatin1(GetParam().expected));
}

INSTANTIATE_TEST_SUITE_P(Boundaries, FormatGrouped, testing::Values(
    GroupedCase{0, "         0"},
    GroupedCase{999, "       999"},
    GroupedCase{1000, "     1,000"},
    GroupedCase{-999, "      -999"},
    GroupedCase{-1000, "    -1,000"},
    GroupedCase{-100000, "  -100,000"},
    GroupedCase{1234567, " 1,234,567"},
    GroupedCase{Int32Max, "2,147,483,647"},
    GroupedCase{Int32Min, "-2,147,483,648"}));

TEST(NumberFormat, IntToStrPaddedPadsButNeverCuts)
{
    EXPECT_EQ(IntToStrPadded(12, 4), QStringLiteral("  12"));
    EXPECT_EQ(IntToStrPadded(-5, 4), QStringLiteral("  -5"));
    EXPECT_EQ(IntToStrPadded(1234, 4), QStringLiteral("1234"));
    EXPECT_EQ(IntToStrPadded(10001, 4), QStringLiteral("10001"));
    EXPECT_EQ(IntToStrPadded(Int32Min, 4), QStringLiteral("-2147483648"));
    EXPECT_EQ(IntToStrPadded(7, 0), QStringLiteral("7"));
}

TEST(NumberFormat, HexOffsetIsTwoGroupsBelowFourGiBAndMoreAbove)
{
    EXPECT_EQ(formatHexOffset(0), QStringLiteral("0x0000.0000"));
    EXPECT_EQ(formatHexOffset(2469134), QStringLiteral("0x0025.AD0E"));
    EXPECT_EQ(formatHexOffset(0xABCDEF), QStringLiteral("0x00AB.CDEF"));
    EXPECT_EQ(formatHexOffset(Int32Max), QStringLiteral("0x7FFF.FFFF"));
    EXPECT_EQ(formatHexOffset(0xFFFFFFFFLL), QStringLiteral("0xFFFF.FFFF"));
    // From 2^32 on, groups of four more from the left.
    EXPECT_EQ(formatHexOffset(4294967296LL), QStringLiteral("0x0001.0000.0000"));
    EXPECT_EQ(formatHexOffset(4294967396LL), QStringLiteral("0x0001.0000.0064"));
    EXPECT_EQ(formatHexOffset(0xFFFFFFFFFFFFLL), QStringLiteral("0xFFFF.FFFF.FFFF"));
    EXPECT_EQ(formatHexOffset(0x1000000000000LL), QStringLiteral("0x0001.0000.0000.0000"));
    EXPECT_EQ(formatHexOffset(std::numeric_limits<std::int64_t>::max()), QStringLiteral("0x7FFF.FFFF.FFFF.FFFF"));
    // Negative values (nowhere in a file) as 64-bit two's complement.
    EXPECT_EQ(formatHexOffset(-1), QStringLiteral("0xFFFF.FFFF.FFFF.FFFF"));
}

TEST(NumberFormat, IntensityLabelShowsBothEndsWithTwoDecimals)
{
    const QLocale us = usLocale();
    EXPECT_EQ(intensityLabelText(2147483648.0f, -2147483648.0f, us),
              QStringLiteral("Intens: 2147483648.00 to -2147483648.00"));
    EXPECT_EQ(intensityLabelText(0.0f, 0.0f, us), QStringLiteral("Intens:       0.00 to       0.00"));
    EXPECT_EQ(intensityLabelText(-12.5f, 300.5f, us), QStringLiteral("Intens:     -12.50 to     300.50"));
    EXPECT_EQ(intensityLabelText(-std::numeric_limits<float>::infinity(), 3.0e38f, us),
              QStringLiteral("Intens:       -INF to 3.000000E+38"));
}

// ---- the "Apply" conversion -------------------------------------------------

struct ObservedCase
{
    float value;
    std::int32_t expected;
};

void PrintTo(const ObservedCase& c, std::ostream* os)
{
    *os << c.value;
}

class ObservedToInt : public testing::TestWithParam<ObservedCase>
{
};

TEST_P(ObservedToInt, ClampsAndRoundsHalvesToEven)
{
    EXPECT_EQ(observedToInt(GetParam().value), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Rounding, ObservedToInt, testing::Values(
    ObservedCase{-12.5f, -12},
    ObservedCase{300.5f, 300},
    ObservedCase{2.5f, 2},
    ObservedCase{3.5f, 4},
    ObservedCase{-2.5f, -2},
    ObservedCase{-3.5f, -4},
    ObservedCase{0.5f, 0},
    ObservedCase{-0.5f, 0},
    ObservedCase{1.5f, 2},
    ObservedCase{0.49999997f, 0},
    ObservedCase{0.50000006f, 1},
    ObservedCase{-1.7f, -2},
    ObservedCase{8388606.5f, 8388606},
    ObservedCase{8388607.5f, 8388608},
    ObservedCase{0.0f, 0},
    ObservedCase{-0.0f, 0}));

INSTANTIATE_TEST_SUITE_P(Limits, ObservedToInt, testing::Values(
    ObservedCase{3.0e38f, Int32Max},
    ObservedCase{-3.0e38f, Int32Min},
    ObservedCase{2147483648.0f, Int32Max},
    ObservedCase{-2147483648.0f, Int32Min},
    ObservedCase{2147483520.0f, 2147483520},
    ObservedCase{-2147483520.0f, -2147483520},
    ObservedCase{std::numeric_limits<float>::infinity(), Int32Max},
    ObservedCase{-std::numeric_limits<float>::infinity(), Int32Min},
    ObservedCase{std::numeric_limits<float>::quiet_NaN(), Int32Max},
    ObservedCase{-std::numeric_limits<float>::quiet_NaN(), Int32Max}));

// ---- presets -----------------------------------------------------------------

using Range = std::pair<std::int32_t, std::int32_t>;

struct PresetColumn
{
    TVoxelDataType dataType;
    // FullRange, PositiveRange, ZeroToOne, MinusOneToOne, ZeroTo255, ZeroTo10000
    Range ranges[6];
};

void PrintTo(const PresetColumn& c, std::ostream* os)
{
    *os << "data type " << static_cast<int>(c.dataType);
}

class IntensityPresets : public testing::TestWithParam<PresetColumn>
{
};

TEST_P(IntensityPresets, GiveTheRangeOfTheDataType)
{
    const PresetColumn& c = GetParam();
    const IntensityPreset presets[] = {IntensityPreset::FullRange, IntensityPreset::PositiveRange,
                                       IntensityPreset::ZeroToOne, IntensityPreset::MinusOneToOne,
                                       IntensityPreset::ZeroTo255, IntensityPreset::ZeroTo10000};
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(intensityPresetRange(presets[i], c.dataType), c.ranges[i]) << "preset " << i + 1;
    EXPECT_EQ(intensityPresetRange(IntensityPreset::FromSelectedSlice, c.dataType), Range(0, 0));
}

INSTANTIATE_TEST_SUITE_P(EveryDataType, IntensityPresets, testing::Values(
    PresetColumn{vdtByte, {{0, 255}, {0, 255}, {0, 1}, {0, 1}, {0, 255}, {0, 255}}},
    PresetColumn{vdtInt16, {{-32768, 32767}, {0, 32767}, {0, 1}, {-1, 1}, {0, 255}, {0, 10000}}},
    PresetColumn{vdtInt32, {{Int32Min, Int32Max}, {0, Int32Max}, {0, 1}, {-1, 1}, {0, 255}, {0, 10000}}},
    PresetColumn{vdtFloat32, {{-10000, 10000}, {0, 10000}, {0, 1}, {-1, 1}, {0, 255}, {0, 10000}}},
    PresetColumn{vdtUInt16, {{0, 65535}, {0, 65535}, {0, 1}, {0, 1}, {0, 255}, {0, 10000}}},
    PresetColumn{vdtInt8, {{-128, 127}, {0, 127}, {0, 1}, {-1, 1}, {0, 255}, {0, 127}}},
    PresetColumn{vdtUInt32, {{0, Int32Max}, {0, Int32Max}, {0, 1}, {0, 1}, {0, 255}, {0, 10000}}},
    PresetColumn{vdtFloat64, {{-10000, 10000}, {0, 10000}, {0, 1}, {-1, 1}, {0, 255}, {0, 10000}}}));

// "Apply" on an observed extreme: integer types as before, UInt-32 up to
// 4294967295, float types exact; the edit text reads back as the same end.
TEST(NumberFormat, ApplyTakesExactEndsThatTheEditsReadBack)
{
    struct Case
    {
        float observed;
        TVoxelDataType type;
        double end;
        const char* text;
    };
    constexpr float Big = std::numeric_limits<float>::max();
    for (const Case& c : {Case{2.5f, vdtInt32, 2, "2"}, Case{3.5f, vdtInt16, 4, "4"},
                          Case{3e9f, vdtInt32, 2147483647, "2147483647"},
                          Case{3000015104.0f, vdtUInt32, 3000015104.0, "3000015104"},
                          Case{5e9f, vdtUInt32, 4294967295.0, "4294967295"}, Case{-1.0f, vdtUInt32, 0, "0"},
                          Case{0.001f, vdtFloat32, 0.001f, "0.001"}, Case{-12.5f, vdtFloat64, -12.5, "-12.50"},
                          Case{1e-30f, vdtFloat32, 1e-30f, "1e-30"}, Case{3e9f, vdtFloat32, 3e9f, "3000000000.00"},
                          Case{-std::numeric_limits<float>::infinity(), vdtFloat32, -Big, "-3.4028235e+38"}}) {
        const double end = observedWindowEnd(c.observed, c.type);
        EXPECT_EQ(end, c.end) << c.text;
        const QString text = intensityEditText(end, c.type, usLocale());
        EXPECT_EQ(text, QString::fromLatin1(c.text));
        const std::optional<double> back = parseIntensityText(text, c.type, usLocale());
        ASSERT_TRUE(back.has_value()) << c.text;
        EXPECT_EQ(static_cast<float>(*back), static_cast<float>(end)) << c.text;
    }
    EXPECT_EQ(intensityEditText(0.5, vdtFloat32, germanLocale()), QStringLiteral("0,50"));
}

TEST(NumberFormat, PresetOfAnUnknownDataTypeIsEmpty)
{
    EXPECT_EQ(intensityPresetRange(IntensityPreset::FullRange, static_cast<TVoxelDataType>(8)), Range(0, 0));
    EXPECT_EQ(intensityPresetRange(IntensityPreset::ZeroTo255, static_cast<TVoxelDataType>(255)), Range(0, 0));
}

// ---- the voxel readout -------------------------------------------------------

class VoxelReadout : public testing::Test
{
protected:
    // Writes the words little-endian into a fresh file and opens it.
    void openWords(const std::vector<std::uint32_t>& words)
    {
        ASSERT_TRUE(m_file.open());
        for (const std::uint32_t w : words) {
            const char bytes[4] = {static_cast<char>(w & 0xFF), static_cast<char>((w >> 8) & 0xFF),
                                   static_cast<char>((w >> 16) & 0xFF), static_cast<char>(w >> 24)};
            ASSERT_EQ(m_file.write(bytes, 4), 4);
        }
        ASSERT_TRUE(m_file.flush());
        m_dataMgr.OpenFile(m_file.fileName().toStdString());
        ASSERT_EQ(m_dataMgr.ErrorText, "");
    }

    void renderSlice(std::int32_t d0, std::int32_t d1, TVoxelDataType type)
    {
        m_dataMgr.SetParams(d0, d1, 1, type, boLittleEndian, 0, 255);
        m_dataMgr.RenderView(0, 0, vkSlice, m_image);
    }

    // The guess as the views were last rendered with it (no file: nothing
    // is read, but the readout follows the render's geometry and type).
    void renderGuess(std::int32_t d0, std::int32_t d1, std::int32_t d2, TVoxelDataType type,
                     std::int64_t header = 0)
    {
        m_dataMgr.SetParams(d0, d1, d2, type, boLittleEndian, 0, 256, header);
        for (const TViewKind view : {vkSlice, vkNextSlice, vkCrossSlice, vkOtherVolume})
            m_dataMgr.RenderView(0, 0, view, m_image);
    }

    ReadoutTexts readout(TViewKind view, std::int32_t x, std::int32_t y, ShownPosition shown = {},
                         const QLocale& locale = usLocale()) const
    {
        return voxelReadout(m_dataMgr, view, x, y, shown, locale);
    }

    QTemporaryFile m_file;
    TKelvoxDataMgr m_dataMgr;
    VectorImage m_image;
};

TEST_F(VoxelReadout, IndicesFollowTheView)
{
    m_dataMgr.SetParams(256, 256, 256, vdtInt16, boLittleEndian, 0, 256);
    EXPECT_EQ(readout(vkSlice, 12, 34, {7, 0, 0}).panel0, QStringLiteral("[  12,   34,    7,    0 ]"));
    EXPECT_EQ(readout(vkCrossSlice, 5, 9, {0, 40, 0}).panel0, QStringLiteral("[   5,   40,    9,    0 ]"));
    EXPECT_EQ(readout(vkNextSlice, 1, 2, {3, 0, 0}).panel0, QStringLiteral("[   1,    2,    4,    0 ]"));
    EXPECT_EQ(readout(vkOtherVolume, 1, 2, {3, 0, 2}).panel0, QStringLiteral("[   1,    2,    3,    2 ]"));
    // Five digits are not cut, and the next slice of the last int32 slice wraps.
    EXPECT_EQ(readout(vkNextSlice, 0, 0, {10000, 0, 0}).panel0,
              QStringLiteral("[   0,    0, 10001,    0 ]"));
    EXPECT_EQ(readout(vkNextSlice, 0, 0, {Int32Max, 0, 0}).panel0,
              QStringLiteral("[   0,    0, -2147483648,    0 ]"));
}

TEST_F(VoxelReadout, OffsetsInDecimalAndHexadecimal)
{
    renderGuess(1000, 1000, 10, vdtInt16);
    EXPECT_EQ(readout(vkSlice, 567, 234, {1, 0, 0}).panel2,
              QStringLiteral("Voxel:  1,234,567  Byte Offset:  2,469,134 = 0x0025.AD0E"));
    EXPECT_EQ(readout(vkSlice, 0, 0).panel2,
              QStringLiteral("Voxel:          0  Byte Offset:          0 = 0x0000.0000"));
    // The cross-slice view's row is its slice: (3, 7, 2, 0) in voxels.
    EXPECT_EQ(readout(vkCrossSlice, 3, 2, {0, 7, 0}).panel2,
              QStringLiteral("Voxel:  2,007,003  Byte Offset:  4,014,006 = 0x003D.3FB6"));
}

TEST_F(VoxelReadout, OffsetsBeyondFourGiBAreExact)
{
    // Slice 5000 of 1000 x 1000 int32 slices starts at voxel 5 * 10^9, byte
    // 2 * 10^10: far beyond every 32-bit offset.
    renderGuess(1000, 1000, 10000, vdtInt32);
    EXPECT_EQ(readout(vkSlice, 0, 0, {5000, 0, 0}).panel2,
              QStringLiteral("Voxel: 5,000,000,000  Byte Offset: 20,000,000,000 = 0x0004.A817.C800"));
    // A guess waiting for the timer does not change what the readout says of
    // the pictures on screen (those of 100^3 int32 voxels).
    renderGuess(100, 100, 100, vdtInt32);
    m_dataMgr.SetParams(10000, 10000, 10000, vdtInt32, boLittleEndian, 0, 256);
    EXPECT_EQ(readout(vkSlice, 99, 99, {99, 0, 0}).panel2,
              QStringLiteral("Voxel:    999,999  Byte Offset:  3,999,996 = 0x003D.08FC"))
        << "the readout follows the last render's geometry, not the waiting one";
}

TEST_F(VoxelReadout, ByteOffsetIsThePositionInTheFileHeaderIncluded)
{
    renderGuess(1000, 1000, 10, vdtInt16, 512);
    EXPECT_EQ(readout(vkSlice, 567, 234, {1, 0, 0}).panel2,
              QStringLiteral("Voxel:  1,234,567  Byte Offset:  2,469,646 = 0x0025.AF0E"));
    // 2^32 - 100 bytes of header put voxel 100 of bytes at 4,294,967,296.
    renderGuess(1000, 1000, 10, vdtByte, 4294967196LL);
    EXPECT_EQ(readout(vkSlice, 100, 0).panel2,
              QStringLiteral("Voxel:        100  Byte Offset: 4,294,967,296 = 0x0001.0000.0000"));
}

TEST_F(VoxelReadout, FollowsTheDataTypeOfTheLastRender)
{
    openWords({0x3FC00000u, 0x40200000u});
    renderSlice(2, 1, vdtFloat32);
    // A new type waits for the timer: the picture is still that of floats.
    m_dataMgr.SetParams(2, 1, 1, vdtInt32, boLittleEndian, 0, 255);
    EXPECT_EQ(readout(vkSlice, 1, 0).panel1, QStringLiteral("Intens:     2.5000"));
    EXPECT_EQ(readout(vkSlice, 1, 0).panel2,
              QStringLiteral("Voxel:          1  Byte Offset:          4 = 0x0000.0004"));
}

TEST_F(VoxelReadout, FloatValuesShowFourDecimalsAndSpecials)
{
    const std::uint32_t quietNaN = 0x7FC00000u;
    const std::uint32_t negativeNaN = 0xFFC00000u;
    openWords({std::bit_cast<std::uint32_t>(1.5f), quietNaN, 0x7F800000u, 0xFF800000u, negativeNaN,
               std::bit_cast<std::uint32_t>(-12.25f)});
    renderSlice(3, 3, vdtFloat32);
    EXPECT_EQ(readout(vkSlice, 0, 0).panel1, QStringLiteral("Intens:     1.5000"));
    EXPECT_EQ(readout(vkSlice, 1, 0).panel1, QStringLiteral("Intens:        NAN"));
    EXPECT_EQ(readout(vkSlice, 2, 0).panel1, QStringLiteral("Intens:        INF"));
    EXPECT_EQ(readout(vkSlice, 0, 1).panel1, QStringLiteral("Intens:       -INF"));
    EXPECT_EQ(readout(vkSlice, 1, 1).panel1, QStringLiteral("Intens:       -NAN"));
    EXPECT_EQ(readout(vkSlice, 2, 1).panel1, QStringLiteral("Intens:   -12.2500"));
    // Beyond the end of the file the value is 0; the offsets are still shown.
    const ReadoutTexts beyond = readout(vkSlice, 2, 2);
    EXPECT_EQ(beyond.panel1, QStringLiteral("Intens:     0.0000"));
    EXPECT_EQ(beyond.panel2, QStringLiteral("Voxel:          8  Byte Offset:         32 = 0x0000.0020"));
}

TEST_F(VoxelReadout, IntegerValuesShowNoDecimals)
{
    // Little-endian int16 300, -2, then 32767 and 0.
    openWords({0xFFFE012Cu, 0x00007FFFu});
    renderSlice(2, 2, vdtInt16);
    EXPECT_EQ(readout(vkSlice, 0, 0).panel1, QStringLiteral("Intens:        300"));
    EXPECT_EQ(readout(vkSlice, 1, 0).panel1, QStringLiteral("Intens:         -2"));
    EXPECT_EQ(readout(vkSlice, 0, 1).panel1, QStringLiteral("Intens:      32767"));
}

TEST_F(VoxelReadout, UsesTheLocaleSeparators)
{
    openWords({std::bit_cast<std::uint32_t>(1.5f)});
    renderSlice(1000, 1, vdtFloat32);
    const QLocale german = germanLocale();
    ASSERT_EQ(german.groupSeparator(), QStringLiteral("."));
    ASSERT_EQ(german.decimalPoint(), QStringLiteral(","));
    EXPECT_EQ(readout(vkSlice, 0, 0, {}, german).panel1, QStringLiteral("Intens:     1,5000"));

    renderGuess(1000, 1000, 10, vdtInt16);
    EXPECT_EQ(readout(vkSlice, 567, 234, {1, 0, 0}, german).panel2,
              QStringLiteral("Voxel:  1.234.567  Byte Offset:  2.469.134 = 0x0025.AD0E"));
    EXPECT_EQ(intensityLabelText(2147483648.0f, -12.5f, german),
              QStringLiteral("Intens: 2147483648,00 to     -12,50"));
    EXPECT_EQ(formatFixed(1e18, 2, 10, german), QStringLiteral("1,000000E+18"));
}

} // namespace
