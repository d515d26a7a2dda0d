#include "ui/IntText.h"

#include <limits>
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
