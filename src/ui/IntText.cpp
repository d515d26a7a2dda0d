#include "ui/IntText.h"

#include <QLocale>

#include <charconv>
#include <cmath>
#include <limits>
#include <string>
#include <type_traits>

namespace {

int hexDigitValue(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9')
        return u - u'0';
    if (u >= u'a' && u <= u'f')
        return u - u'a' + 10;
    if (u >= u'A' && u <= u'F')
        return u - u'A' + 10;
    return -1;
}

bool isDecimalDigit(QChar c)
{
    return c.unicode() >= u'0' && c.unicode() <= u'9';
}

// 1 to 2 * sizeof(T) hexadecimal digits and nothing else; the bits as two's
// complement.
template <typename T>
std::optional<T> parseHexDigits(QStringView digits)
{
    using Bits = std::make_unsigned_t<T>;
    if (digits.isEmpty() || digits.size() > static_cast<qsizetype>(2 * sizeof(T)))
        return std::nullopt;
    Bits bits = 0;
    for (const QChar c : digits) {
        const int d = hexDigitValue(c);
        if (d < 0)
            return std::nullopt;
        bits = static_cast<Bits>((bits << 4) | static_cast<Bits>(d));
    }
    return static_cast<T>(bits);
}

// One or more decimal digits and nothing else, negated when negative, within
// the range of T.
template <typename T>
std::optional<T> parseDecimalDigits(QStringView digits, bool negative)
{
    using Bits = std::make_unsigned_t<T>;
    if (digits.isEmpty())
        return std::nullopt;
    // The magnitude may reach 2^(N-1) for the most negative value; it is
    // refused as soon as it passes the limit, before it could overflow.
    const Bits limit = static_cast<Bits>(std::numeric_limits<T>::max()) + (negative ? 1u : 0u);
    Bits magnitude = 0;
    for (const QChar c : digits) {
        if (!isDecimalDigit(c))
            return std::nullopt;
        const auto d = static_cast<Bits>(c.unicode() - u'0');
        if (magnitude > (limit - d) / 10)
            return std::nullopt;
        magnitude = static_cast<Bits>(magnitude * 10 + d);
    }
    // Two's complement negation of the magnitude, well defined in unsigned.
    return static_cast<T>(negative ? static_cast<Bits>(0u - magnitude) : magnitude);
}

template <typename T>
std::optional<T> parseIntegerText(QStringView text)
{
    qsizetype i = 0;
    while (i < text.size() && text[i] == u' ')
        ++i;
    const QStringView rest = text.mid(i);
    if (rest.isEmpty())
        return std::nullopt;

    const char16_t first = rest[0].unicode();
    if (first == u'$' || first == u'x' || first == u'X')
        return parseHexDigits<T>(rest.mid(1));
    if (first == u'0' && rest.size() >= 2 && (rest[1] == u'x' || rest[1] == u'X'))
        return parseHexDigits<T>(rest.mid(2));
    if (first == u'-')
        return parseDecimalDigits<T>(rest.mid(1), true);
    if (first == u'+')
        return parseDecimalDigits<T>(rest.mid(1), false);
    return parseDecimalDigits<T>(rest, false);
}

} // namespace

std::optional<std::int32_t> parseIntText(QStringView text)
{
    return parseIntegerText<std::int32_t>(text);
}

std::int32_t strToIntDef(QStringView text, std::int32_t def)
{
    return parseIntText(text).value_or(def);
}

std::optional<std::int64_t> parseByteCountText(QStringView text)
{
    const std::optional<std::int64_t> value = parseIntegerText<std::int64_t>(text);
    if (!value || *value < 0)
        return std::nullopt;
    return value;
}

std::optional<double> parseIntensityText(QStringView text, TVoxelDataType dataType, const QLocale& locale)
{
    if (const std::optional<std::int32_t> whole = parseIntText(text))
        return *whole;

    qsizetype i = 0;
    while (i < text.size() && text[i] == u' ')
        ++i;
    // ASCII form: the locale's decimal separator and "." both become ".".
    const QString point = locale.decimalPoint();
    std::string ascii;
    bool fraction = false, exponent = false;
    for (; i < text.size(); ++i) {
        const QChar c = text[i];
        if (!point.isEmpty() && text.mid(i).startsWith(point) && point != QStringLiteral(".")) {
            ascii += '.';
            i += point.size() - 1;
        } else if (c.unicode() < 0x80 && (isDecimalDigit(c) || c == u'.' || c == u'+' || c == u'-' || c == u'e'
                                          || c == u'E')) {
            ascii += static_cast<char>(c.unicode());
        } else {
            return std::nullopt;
        }
    }
    // [sign] digits [. digits] [e [sign] digits], at least one digit before
    // the exponent.
    std::size_t k = 0;
    const auto digits = [&] {
        const std::size_t from = k;
        while (k < ascii.size() && ascii[k] >= '0' && ascii[k] <= '9')
            ++k;
        return k - from;
    };
    const bool negative = k < ascii.size() && ascii[k] == '-';
    if (k < ascii.size() && (ascii[k] == '+' || ascii[k] == '-'))
        ++k;
    const std::size_t mantissaStart = k;
    std::size_t mantissaDigits = digits();
    if (k < ascii.size() && ascii[k] == '.') {
        fraction = true;
        ++k;
        mantissaDigits += digits();
    }
    if (mantissaDigits == 0)
        return std::nullopt;
    if (k < ascii.size() && (ascii[k] == 'e' || ascii[k] == 'E')) {
        exponent = true;
        const std::size_t mantissaEnd = k;
        ++k;
        if (k < ascii.size() && (ascii[k] == '+' || ascii[k] == '-'))
            ++k;
        // An exponent still being typed ("1e", "1e-") counts as none.
        if (digits() == 0 && k == ascii.size())
            ascii.resize(mantissaEnd);
    }
    if (k != ascii.size() && !(exponent && k > ascii.size()))
        return std::nullopt;

    double value = 0.0;
    const char* first = ascii.data() + mantissaStart;
    const std::from_chars_result result = std::from_chars(first, ascii.data() + ascii.size(), value);
    if (result.ec != std::errc() || result.ptr != ascii.data() + ascii.size())
        return std::nullopt;
    if (negative)
        value = -value;
    if (!fraction && !exponent) {
        // Whole numbers beyond the 32-bit range: UInt-32's top half only.
        constexpr double UInt32Max = 4294967295.0;
        if (dataType != vdtUInt32 || negative || value > UInt32Max)
            return std::nullopt;
        return value;
    }
    // Within the float range: the value rounds to a finite float (below the
    // midpoint 2^128 - 2^103 between the largest float and 2^128).
    const double floatEnd = std::ldexp(1.0, 128) - std::ldexp(1.0, 103);
    if (!(std::fabs(value) < floatEnd))
        return std::nullopt;
    return value;
}
