#include "ui/IntText.h"

namespace {

constexpr int MaxHexDigits = 8;

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

// 1..8 hexadecimal digits and nothing else; the 32 bits as two's complement.
std::optional<std::int32_t> parseHexDigits(QStringView digits)
{
    if (digits.isEmpty() || digits.size() > MaxHexDigits)
        return std::nullopt;
    std::uint32_t bits = 0;
    for (const QChar c : digits) {
        const int d = hexDigitValue(c);
        if (d < 0)
            return std::nullopt;
        bits = (bits << 4) | static_cast<std::uint32_t>(d);
    }
    return static_cast<std::int32_t>(bits);
}

// One or more decimal digits and nothing else, negated when negative, within
// the signed 32-bit range.
std::optional<std::int32_t> parseDecimalDigits(QStringView digits, bool negative)
{
    if (digits.isEmpty())
        return std::nullopt;
    // The magnitude may reach 2^31 for "-2147483648"; stop before it could
    // overflow 64 bits by refusing as soon as it passes that limit.
    const std::int64_t limit = negative ? 2147483648LL : 2147483647LL;
    std::int64_t magnitude = 0;
    for (const QChar c : digits) {
        if (!isDecimalDigit(c))
            return std::nullopt;
        magnitude = magnitude * 10 + (c.unicode() - u'0');
        if (magnitude > limit)
            return std::nullopt;
    }
    return static_cast<std::int32_t>(negative ? -magnitude : magnitude);
}

} // namespace

std::optional<std::int32_t> parseIntText(QStringView text)
{
    qsizetype i = 0;
    while (i < text.size() && text[i] == u' ')
        ++i;
    const QStringView rest = text.mid(i);
    if (rest.isEmpty())
        return std::nullopt;

    const char16_t first = rest[0].unicode();
    if (first == u'$' || first == u'x' || first == u'X')
        return parseHexDigits(rest.mid(1));
    if (first == u'0' && rest.size() >= 2 && (rest[1] == u'x' || rest[1] == u'X'))
        return parseHexDigits(rest.mid(2));
    if (first == u'-')
        return parseDecimalDigits(rest.mid(1), true);
    if (first == u'+')
        return parseDecimalDigits(rest.mid(1), false);
    return parseDecimalDigits(rest, false);
}

std::int32_t strToIntDef(QStringView text, std::int32_t def)
{
    return parseIntText(text).value_or(def);
}
