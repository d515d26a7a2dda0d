// Fuzzes the integer text syntax of the main window's edits: it must never
// crash and must accept exactly what a slow, independently written reference
// accepts, with the same value.

#include "ui/IntText.h"

#include <QLocale>
#include <QString>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

namespace {

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool isHexDigit(char c)
{
    return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// The syntax restated plainly, for 32-bit numbers (wide false) or 64-bit
// ones. Every character it allows is ASCII, so the reference works on a
// narrow string and refuses anything else up front.
std::optional<std::int64_t> referenceParse(const std::u16string& text, bool wide)
{
    std::string s;
    for (const char16_t c : text) {
        if (c > 0x7F)
            return std::nullopt;
        s.push_back(static_cast<char>(c));
    }
    const std::size_t start = s.find_first_not_of(' ');
    if (start == std::string::npos)
        return std::nullopt;
    const std::string_view rest = std::string_view(s).substr(start);

    for (const std::string_view prefix : {"0x", "0X", "$", "x", "X"}) {
        if (rest.substr(0, prefix.size()) != prefix)
            continue;
        const std::string_view digits = rest.substr(prefix.size());
        if (digits.empty() || digits.size() > (wide ? 16u : 8u)
            || !std::all_of(digits.begin(), digits.end(), isHexDigit))
            return std::nullopt;
        const unsigned long long bits = std::strtoull(std::string(digits).c_str(), nullptr, 16);
        if (wide)
            return static_cast<std::int64_t>(bits);
        return static_cast<std::int32_t>(static_cast<std::uint32_t>(bits));
    }

    bool negative = false;
    std::string_view digits = rest;
    if (digits.front() == '-' || digits.front() == '+') {
        negative = digits.front() == '-';
        digits.remove_prefix(1);
    }
    if (digits.empty() || !std::all_of(digits.begin(), digits.end(), isDigit))
        return std::nullopt;
    while (digits.size() > 1 && digits.front() == '0')
        digits.remove_prefix(1);
    // Compare the magnitude as text against the limit: same length, then
    // digit by digit.
    const std::string_view limit = wide ? (negative ? "9223372036854775808" : "9223372036854775807")
                                        : (negative ? "2147483648" : "2147483647");
    if (digits.size() > limit.size() || (digits.size() == limit.size() && digits > limit))
        return std::nullopt;
    const unsigned long long magnitude = std::strtoull(std::string(digits).c_str(), nullptr, 10);
    return static_cast<std::int64_t>(negative ? 0ull - magnitude : magnitude);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    // The first byte chooses how the rest becomes text: odd as UTF-16 code
    // units (surrogates and all), even as Latin-1 characters, so that short
    // ASCII inputs are easy to reach.
    std::u16string text;
    if (data[0] & 1) {
        for (std::size_t i = 1; i + 1 < size; i += 2)
            text.push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));
    } else {
        for (std::size_t i = 1; i < size; ++i)
            text.push_back(static_cast<char16_t>(data[i]));
    }

    // The code units as they are: QString::fromUtf16 would read a leading
    // U+FEFF or U+FFFE as a byte-order mark and drop or byte-swap the text,
    // which an edit's text never undergoes.
    const QString qtext(reinterpret_cast<const QChar*>(text.data()), static_cast<qsizetype>(text.size()));
    const std::optional<std::int32_t> got = parseIntText(qtext);
    const std::optional<std::int64_t> expected = referenceParse(text, false);
    if (got.has_value() != expected.has_value() || (got && *got != *expected))
        std::abort();
    if (strToIntDef(qtext, 12345) != expected.value_or(12345))
        std::abort();

    // Byte counts: the same syntax at 64 bits, negative values refused.
    std::optional<std::int64_t> count = referenceParse(text, true);
    if (count && *count < 0)
        count.reset();
    if (parseByteCountText(qtext) != count)
        std::abort();

    // Intensity ends: integer text as above; anything else taken is a finite
    // value within the float range, or for UInt-32 a whole number to 2^32 - 1.
    const QLocale locale = (data[0] & 2) ? QLocale(QLocale::German, QLocale::Germany) : QLocale::c();
    for (const TVoxelDataType type : {vdtFloat32, vdtUInt32}) {
        const std::optional<double> end = parseIntensityText(qtext, type, locale);
        if (expected && end != static_cast<double>(*expected))
            std::abort();
        if (end && !expected) {
            const bool wholeUInt32 = type == vdtUInt32 && *end == std::floor(*end) && *end >= 0 && *end <= 4294967295.0;
            if (!std::isfinite(static_cast<float>(*end)) && !wholeUInt32)
                std::abort();
        }
    }
    return 0;
}
