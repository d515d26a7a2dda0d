#include "ui/NumberFormat.h"

#include <QLocale>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <iterator>
#include <limits>
#include <string>
#include <system_error>

namespace {

// Beyond this many decimals the fixed form is not something a field of the
// window can show; it counts as a formatting failure.
constexpr int MaxDecimals = 20;
// From this magnitude on the fixed form switches to the exponent form.
constexpr double ExponentFormFrom = 1e18;
// C's "%E" without a precision writes six decimals.
constexpr int ExponentDecimals = 6;
constexpr int ReadoutIndexWidth = 4; // the readout's indices as "%4d": the largest shown dimension's end at 9999
constexpr int NumberFieldWidth = 10; // the readout's and the intensity label's numbers as "%10..." fields
constexpr int IntensityLabelDecimals = 2; // the intensity label's range as "%10.2f"

constexpr std::int32_t Int32Min = std::numeric_limits<std::int32_t>::min();
constexpr std::int32_t Int32Max = std::numeric_limits<std::int32_t>::max();

std::uint64_t magnitudeOf(std::int64_t value)
{
    // The most negative value has no positive counterpart; its magnitude
    // fits 64 unsigned bits.
    const auto bits = static_cast<std::uint64_t>(value);
    return value < 0 ? 0u - bits : bits;
}

// The unpadded text of formatFixed, or an empty string when it fails.
QString fixedText(double value, int decimals, const QLocale& locale)
{
    if (std::isnan(value))
        return std::signbit(value) ? QStringLiteral("-NAN") : QStringLiteral("NAN");
    if (std::isinf(value))
        return value < 0 ? QStringLiteral("-INF") : QStringLiteral("INF");
    if (decimals < 0 || decimals > MaxDecimals)
        return {};

    // to_chars is independent of the C library's locale (which the toolkit
    // sets from the environment), so the separator below is the only
    // locale-dependent part.
    char buffer[64];
    const bool exponentForm = std::fabs(value) >= ExponentFormFrom;
    const std::to_chars_result result =
        exponentForm ? std::to_chars(buffer, buffer + sizeof buffer, value,
                                     std::chars_format::scientific, ExponentDecimals)
                     : std::to_chars(buffer, buffer + sizeof buffer, value,
                                     std::chars_format::fixed, decimals);
    if (result.ec != std::errc{})
        return {};

    QString text = QString::fromLatin1(buffer, result.ptr - buffer);
    if (exponentForm)
        text.replace(u'e', u'E');
    text.replace(u'.', locale.decimalPoint());
    return text;
}

} // namespace

QString IntToStrPadded(std::int32_t value, int width)
{
    return QString::number(value).rightJustified(width, u' ');
}

QString formatFixed(double value, int decimals, int width, const QLocale& locale)
{
    QString text = fixedText(value, decimals, locale);
    if (text.isEmpty())
        text = QStringLiteral("Error");
    return text.rightJustified(width, u' ');
}

QString formatGrouped(std::int64_t value, int width, const QLocale& locale)
{
    const QString digits = QString::number(magnitudeOf(value));
    const QString separator = locale.groupSeparator();
    QString text;
    if (value < 0)
        text += u'-';
    for (qsizetype i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0)
            text += separator;
        text += digits[i];
    }
    return text.rightJustified(width, u' ');
}

QString formatHexOffset(std::int64_t byteOffset)
{
    const auto bits = static_cast<std::uint64_t>(byteOffset);
    QString hex = QString::number(bits, 16).toUpper();
    // Whole groups of four, at least two.
    const qsizetype digits = std::max<qsizetype>(8, (hex.size() + 3) / 4 * 4);
    hex = hex.rightJustified(digits, u'0');
    QString text = QStringLiteral("0x");
    for (qsizetype i = 0; i < hex.size(); i += 4) {
        if (i > 0)
            text += u'.';
        text += hex.mid(i, 4);
    }
    return text;
}

QString intensityLabelText(float observedMin, float observedMax, const QLocale& locale)
{
    return QStringLiteral("Intens: ")
        + formatFixed(observedMin, IntensityLabelDecimals, NumberFieldWidth, locale)
        + QStringLiteral(" to ")
        + formatFixed(observedMax, IntensityLabelDecimals, NumberFieldWidth, locale);
}

std::int32_t observedToInt(float value)
{
    const double v = value; // exact
    if (std::isnan(v) || v > Int32Max)
        return Int32Max;
    if (v < -static_cast<double>(Int32Max))
        return Int32Min;

    // Round half to even explicitly, independent of the floating-point
    // rounding mode. Every float in range is exact as a double, so is the
    // difference to its floor.
    const double below = std::floor(v);
    const double fraction = v - below;
    double rounded = below;
    if (fraction > 0.5)
        rounded = below + 1.0;
    else if (fraction == 0.5 && std::fmod(below, 2.0) != 0.0)
        rounded = below + 1.0;
    return static_cast<std::int32_t>(rounded);
}

double observedWindowEnd(float observed, TVoxelDataType dataType)
{
    const VoxelTypeInfo* info = voxelTypeInfo(dataType);
    if (info && info->isFloat) {
        constexpr float Largest = std::numeric_limits<float>::max();
        return std::isinf(observed) ? (observed < 0 ? -Largest : Largest) : observed;
    }
    if (dataType == vdtUInt32) {
        const double v = observed; // exact
        if (std::isnan(v) || v >= 4294967295.0)
            return 4294967295.0;
        return v <= 0.0 ? 0.0 : std::nearbyint(v); // halves to even in the default rounding mode
    }
    return observedToInt(observed);
}

QString intensityEditText(double value, TVoxelDataType dataType, const QLocale& locale)
{
    const double top = dataType == vdtUInt32 ? 4294967295.0 : Int32Max;
    if (value == std::floor(value) && value >= Int32Min && value <= top)
        return QString::number(static_cast<std::int64_t>(value));
    const auto asFloat = static_cast<float>(value);
    QString text = fixedText(value, IntensityLabelDecimals, locale);
    QString ascii = text;
    ascii.replace(locale.decimalPoint(), QStringLiteral("."));
    const std::string digits = ascii.toStdString();
    double back = 0.0;
    const std::from_chars_result read = std::from_chars(digits.data(), digits.data() + digits.size(), back);
    if (!text.isEmpty() && read.ec == std::errc() && static_cast<float>(back) == asFloat)
        return text;
    // The shortest text that reads back as the float.
    char buffer[64];
    const std::to_chars_result result = std::to_chars(buffer, buffer + sizeof buffer, asFloat);
    text = QString::fromLatin1(buffer, result.ptr - buffer);
    text.replace(u'.', locale.decimalPoint());
    return text;
}

std::pair<std::int32_t, std::int32_t> intensityPresetRange(IntensityPreset preset,
                                                           TVoxelDataType dataType)
{
    const VoxelTypeInfo* info = voxelTypeInfo(dataType);
    // FromSelectedSlice comes from the last render, not from the type.
    if (!info || preset == IntensityPreset::FromSelectedSlice)
        return {0, 0};
    const auto item = static_cast<std::size_t>(preset) - 1;
    return item < info->presets.size() ? info->presets[item] : std::pair<std::int32_t, std::int32_t>{0, 0};
}

ReadoutTexts voxelReadout(const TKelvoxDataMgr& dataMgr, TViewKind view, std::int32_t x,
                          std::int32_t y, const ShownPosition& shown, const QLocale& locale)
{
    const auto [i0, i1, i2, i3] = viewVoxelIndices(view, shown, x, y);

    ReadoutTexts texts;
    texts.panel0 = u'[' + IntToStrPadded(i0, ReadoutIndexWidth) + QStringLiteral(", ")
        + IntToStrPadded(i1, ReadoutIndexWidth) + QStringLiteral(", ")
        + IntToStrPadded(i2, ReadoutIndexWidth) + QStringLiteral(", ")
        + IntToStrPadded(i3, ReadoutIndexWidth) + QStringLiteral(" ]");

    // The picture on screen is that of the view's last render: its guess
    // gives the offsets and the value's form.
    const TKelvoxDataMgr::RenderedGuess& guess = dataMgr.LastRenderGuess(view);
    const std::int64_t voxel = TKelvoxDataMgr::VoxelOffsetIn(guess.dims, i0, i1, i2, i3);
    const std::int64_t byteOffset = TKelvoxDataMgr::ByteOffsetIn(guess.dims, guess.dataType, i0, i1, i2, i3);
    const std::int64_t position = TKelvoxDataMgr::FilePositionIn(guess.headerBytes, byteOffset);
    // A position that lies nowhere (a negative offset) shows the offset.
    const std::int64_t shownOffset = position >= 0 ? position : byteOffset;
    // A compressed file's offsets count in its unpacked bytes.
    const bool unpacked = dataMgr.Stream && dataMgr.Stream->encoding() != VolumeEncoding::Raw;
    texts.panel2 = QStringLiteral("Voxel: ") + formatGrouped(voxel, NumberFieldWidth, locale)
        + (unpacked ? QStringLiteral("  Byte Offset (unpacked): ") : QStringLiteral("  Byte Offset: "))
        + formatGrouped(shownOffset, NumberFieldWidth, locale)
        + QStringLiteral(" = ") + formatHexOffset(shownOffset);

    const double value = dataMgr.ViewValue(view, x, y);
    const VoxelTypeInfo* info = voxelTypeInfo(guess.dataType);
    const int decimals = info ? info->readoutDecimals : 0;
    texts.panel1 = QStringLiteral("Intens: ") + formatFixed(value, decimals, NumberFieldWidth, locale);
    return texts;
}
