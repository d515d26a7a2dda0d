#include "ui/IntText.h"

#include <QLocale>
#include <QString>

#include <gtest/gtest.h>

#include <limits>
#include <utility>

#include <optional>
#include <ostream>

namespace {

struct IntTextCase
{
    const char16_t* text;
    std::optional<std::int32_t> expected;
};

void PrintTo(const IntTextCase& c, std::ostream* os)
{
    *os << '"' << QString::fromUtf16(c.text).toStdString() << '"';
}

class IntTextSyntax : public testing::TestWithParam<IntTextCase>
{
};

TEST_P(IntTextSyntax, ConvertsExactlyWhatTheSyntaxAllows)
{
    const IntTextCase& c = GetParam();
    EXPECT_EQ(parseIntText(QString::fromUtf16(c.text)), c.expected);
}

constexpr std::optional<std::int32_t> Refused = std::nullopt;

INSTANTIATE_TEST_SUITE_P(Decimal, IntTextSyntax, testing::Values(
    IntTextCase{u"0", 0},
    IntTextCase{u"12", 12},
    IntTextCase{u"+12", 12},
    IntTextCase{u"-12", -12},
    IntTextCase{u"-0", 0},
    IntTextCase{u"000000000000000000042", 42},
    IntTextCase{u"-0000000000002147483648", -2147483647 - 1},
    IntTextCase{u"2147483647", 2147483647},
    IntTextCase{u"+2147483647", 2147483647},
    IntTextCase{u"-2147483648", -2147483647 - 1},
    IntTextCase{u"2147483648", Refused},
    IntTextCase{u"-2147483649", Refused},
    IntTextCase{u"99999999999999999999999", Refused},
    IntTextCase{u"4294967295", Refused}));

INSTANTIATE_TEST_SUITE_P(Hexadecimal, IntTextSyntax, testing::Values(
    IntTextCase{u"$10", 16},
    IntTextCase{u"x1f", 31},
    IntTextCase{u"X1F", 31},
    IntTextCase{u"0x10", 16},
    IntTextCase{u"0XaBcD", 0xABCD},
    IntTextCase{u"$7FFFFFFF", 2147483647},
    IntTextCase{u"$80000000", -2147483647 - 1},
    IntTextCase{u"$FFFFFFFF", -1},
    IntTextCase{u"$ffffffff", -1},
    IntTextCase{u"$00000000", 0},
    IntTextCase{u"$000000001", Refused},
    IntTextCase{u"$100000000", Refused},
    IntTextCase{u"0x", Refused},
    IntTextCase{u"$", Refused},
    IntTextCase{u"x", Refused},
    IntTextCase{u"-0x10", Refused},
    IntTextCase{u"+$10", Refused},
    IntTextCase{u"-$1", Refused},
    IntTextCase{u"$G", Refused},
    IntTextCase{u"0xx1", Refused},
    IntTextCase{u"$$1", Refused},
    IntTextCase{u"$ 1", Refused},
    IntTextCase{u"00x1", Refused}));

INSTANTIATE_TEST_SUITE_P(BlanksAndJunk, IntTextSyntax, testing::Values(
    IntTextCase{u"", Refused},
    IntTextCase{u" ", Refused},
    IntTextCase{u"-", Refused},
    IntTextCase{u"+", Refused},
    IntTextCase{u"   -", Refused},
    IntTextCase{u" 12", 12},
    IntTextCase{u"    -7", -7},
    IntTextCase{u"  $A", 10},
    IntTextCase{u"12 ", Refused},
    IntTextCase{u"- 12", Refused},
    IntTextCase{u"\t12", Refused},
    IntTextCase{u"12\t", Refused},
    IntTextCase{u"\u00A012", Refused},
    IntTextCase{u"1a", Refused},
    IntTextCase{u"a", Refused},
    IntTextCase{u"--1", Refused},
    IntTextCase{u"+-1", Refused},
    IntTextCase{u"1-", Refused},
    IntTextCase{u"1.0", Refused},
    IntTextCase{u"1,000", Refused},
    IntTextCase{u"1e3", Refused},
    // Digits of other scripts are not ASCII digits.
    IntTextCase{u"\u0661\u0662", Refused},
    IntTextCase{u"\uFF11", Refused},
    IntTextCase{u"$\uFF21", Refused}));

TEST(IntText, StrToIntDefGivesTheDefaultOnlyForRefusedText)
{
    EXPECT_EQ(strToIntDef(u"-1", 0), -1);
    EXPECT_EQ(strToIntDef(u"-1", -1), -1);
    EXPECT_EQ(strToIntDef(u"", 0), 0);
    EXPECT_EQ(strToIntDef(u"", -1), -1);
    EXPECT_EQ(strToIntDef(u"abc", 77), 77);
    EXPECT_EQ(strToIntDef(u"2147483648", 5), 5);
    EXPECT_EQ(strToIntDef(u"$FFFFFFFF", 5), -1);
}

TEST(IntText, ReadsOnlyTheViewItIsGiven)
{
    // A view into a longer text ends where the view ends.
    const QString text = QStringLiteral("1234x");
    EXPECT_EQ(parseIntText(QStringView(text).left(4)), 1234);
    EXPECT_EQ(parseIntText(QStringView(text)), std::nullopt);
    EXPECT_EQ(parseIntText(QStringView(text).left(0)), std::nullopt);

    const char16_t withNul[] = {u'1', u'\0', u'2'};
    EXPECT_EQ(parseIntText(QStringView(withNul, 3)), std::nullopt);
    EXPECT_EQ(parseIntText(QStringView(withNul, 1)), 1);
}

TEST(IntText, ByteCountsSpanSixtyFourBitsAndNeverNegative)
{
    const std::int64_t Max = std::numeric_limits<std::int64_t>::max();
    const std::pair<const char16_t*, std::optional<std::int64_t>> cases[]{
        {u"0", 0},
        {u"352", 352},
        {u"  +1024", 1024},
        {u"-0", 0},
        {u"4294967296", 4294967296LL},
        {u"9223372036854775807", Max},
        {u"0009223372036854775807", Max},
        {u"$FFFFFFFF", 4294967295LL}, // 64 bits: no longer -1
        {u"x7FFFFFFFFFFFFFFF", Max},
        {u"0x200", 512},
        // Refused: beyond 2^63 - 1, negative, malformed.
        {u"9223372036854775808", std::nullopt},
        {u"18446744073709551616", std::nullopt},
        {u"99999999999999999999999", std::nullopt},
        {u"$8000000000000000", std::nullopt},
        {u"$FFFFFFFFFFFFFFFF", std::nullopt},
        {u"$10000000000000000", std::nullopt},
        {u"-1", std::nullopt},
        {u"-9223372036854775808", std::nullopt},
        {u"", std::nullopt},
        {u"12a", std::nullopt},
        {u"1 ", std::nullopt},
    };
    for (const auto& [text, expected] : cases)
        EXPECT_EQ(parseByteCountText(QStringView(text)), expected) << QString::fromUtf16(text).toStdString();
    // The 32-bit syntax is unchanged by the wider one.
    EXPECT_EQ(parseIntText(u"4294967296"), std::nullopt);
    EXPECT_EQ(parseIntText(u"-2147483648"), std::numeric_limits<std::int32_t>::min());
}

} // namespace

// ---- intensity ends: integers as above, decimals, UInt-32's top half -------

struct IntensityTextCase
{
    const char16_t* text;
    std::optional<double> forInt32; // under Int-32 (every type but UInt-32)
    std::optional<double> forUInt32;
};

void PrintTo(const IntensityTextCase& c, std::ostream* os)
{
    *os << '"' << QString::fromUtf16(c.text).toStdString() << '"';
}

class IntensityText : public testing::TestWithParam<IntensityTextCase>
{
};

TEST_P(IntensityText, TakesIntegersDecimalsAndUnsignedTopHalf)
{
    const IntensityTextCase& c = GetParam();
    const QLocale c_locale = QLocale::c();
    EXPECT_EQ(parseIntensityText(QString::fromUtf16(c.text), vdtInt32, c_locale), c.forInt32);
    EXPECT_EQ(parseIntensityText(QString::fromUtf16(c.text), vdtUInt32, c_locale), c.forUInt32);
    // Integer text reads as it always did.
    if (const std::optional<std::int32_t> whole = parseIntText(QString::fromUtf16(c.text))) {
        EXPECT_EQ(c.forInt32, static_cast<double>(*whole));
    }
}

constexpr std::optional<double> No = std::nullopt;

INSTANTIATE_TEST_SUITE_P(Table, IntensityText, testing::Values(
    IntensityTextCase{u"-12", -12, -12},
    IntensityTextCase{u"$FFFFFFFF", -1, -1},
    IntensityTextCase{u"2147483648", No, 2147483648.0},
    IntensityTextCase{u"4294967295", No, 4294967295.0},
    IntensityTextCase{u"4294967296", No, No},
    IntensityTextCase{u"-2147483649", No, No},
    IntensityTextCase{u"0.001", 0.001, 0.001},
    IntensityTextCase{u"  -.5", -0.5, -0.5},
    IntensityTextCase{u"5.", 5.0, 5.0},
    IntensityTextCase{u"+2.5e-3", 0.0025, 0.0025},
    IntensityTextCase{u"3E9", 3e9, 3e9},
    IntensityTextCase{u"1e", 1.0, 1.0}, // an exponent still being typed
    IntensityTextCase{u"1e-", 1.0, 1.0},
    IntensityTextCase{u"1e39", No, No}, // beyond the float range
    IntensityTextCase{u"1.5 ", No, No},
    IntensityTextCase{u"1.2.3", No, No},
    IntensityTextCase{u".", No, No},
    IntensityTextCase{u"-", No, No},
    IntensityTextCase{u"e5", No, No},
    IntensityTextCase{u"1ex", No, No},
    IntensityTextCase{u"nan", No, No},
    IntensityTextCase{u"inf", No, No},
    IntensityTextCase{u"$1.5", No, No},
    IntensityTextCase{u"1,5", No, No},
    IntensityTextCase{u"\u0661.5", No, No}));

TEST(IntensityText, TakesTheLocaleDecimalSeparatorAndThePoint)
{
    const QLocale german(QLocale::German, QLocale::Germany);
    EXPECT_EQ(parseIntensityText(u"0,25", vdtFloat32, german), 0.25);
    EXPECT_EQ(parseIntensityText(u"0.25", vdtFloat32, german), 0.25);
    EXPECT_EQ(parseIntensityText(u"1.000,5", vdtFloat32, german), std::nullopt); // no grouping
}
