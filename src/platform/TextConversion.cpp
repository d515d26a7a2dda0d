#include "platform/TextConversion.h"

#include <cstdint>

namespace {

constexpr char32_t Replacement = 0xFFFD;
// A byte b (0x80..0xFF) of a file name that is not valid UTF-8 is kept as the
// unpaired low surrogate EscapeBase + b.
constexpr char32_t EscapeBase = 0xDC00;
constexpr char32_t EscapedByteFirst = EscapeBase + 0x80;
constexpr char32_t EscapedByteLast = EscapeBase + 0xFF;

void appendUtf8(std::string& out, char32_t c)
{
    auto byte = [&out](std::uint32_t b) { out.push_back(static_cast<char>(static_cast<unsigned char>(b))); };
    if (c < 0x80) {
        byte(c);
    } else if (c < 0x800) {
        byte(0xC0 | (c >> 6));
        byte(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        byte(0xE0 | (c >> 12));
        byte(0x80 | ((c >> 6) & 0x3F));
        byte(0x80 | (c & 0x3F));
    } else {
        byte(0xF0 | (c >> 18));
        byte(0x80 | ((c >> 12) & 0x3F));
        byte(0x80 | ((c >> 6) & 0x3F));
        byte(0x80 | (c & 0x3F));
    }
}

void appendUtf16(std::u16string& out, char32_t c)
{
    if (c < 0x10000) {
        out.push_back(static_cast<char16_t>(c));
    } else {
        c -= 0x10000;
        out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
    }
}

} // namespace

std::string WideToSystem(std::u16string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            appendUtf8(out, 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00));
            ++i;
        } else if (c >= EscapedByteFirst && c <= EscapedByteLast) {
            out.push_back(static_cast<char>(static_cast<unsigned char>(c - EscapeBase)));
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            appendUtf8(out, Replacement);
        } else {
            appendUtf8(out, c);
        }
    }
    return out;
}

namespace {

// UTF-8 to UTF-16; invalid(byte) stands for each byte that starts no valid
// sequence.
template <typename Invalid>
std::u16string decodeUtf8(std::string_view text, Invalid invalid)
{
    std::u16string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        int extra = 0;
        char32_t c = 0;
        if (lead < 0x80) {
            c = lead;
        } else if ((lead & 0xE0) == 0xC0) {
            c = lead & 0x1F;
            extra = 1;
        } else if ((lead & 0xF0) == 0xE0) {
            c = lead & 0x0F;
            extra = 2;
        } else if ((lead & 0xF8) == 0xF0) {
            c = lead & 0x07;
            extra = 3;
        } else {
            appendUtf16(out, invalid(lead));
            ++i;
            continue;
        }
        bool valid = i + static_cast<std::size_t>(extra) < text.size();
        for (int k = 1; valid && k <= extra; ++k) {
            const auto next = static_cast<unsigned char>(text[i + static_cast<std::size_t>(k)]);
            if ((next & 0xC0) != 0x80) {
                valid = false;
            } else {
                c = (c << 6) | (next & 0x3F);
            }
        }
        // An over-long form (C0 AF for "/") is no character: it would let a
        // name's bytes say something else than they show.
        constexpr char32_t Smallest[] = {0, 0x80, 0x800, 0x10000};
        if (!valid || c < Smallest[extra] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
            appendUtf16(out, invalid(lead));
            ++i;
            continue;
        }
        appendUtf16(out, c);
        i += static_cast<std::size_t>(extra) + 1;
    }
    return out;
}

} // namespace

std::u16string SystemToWide(std::string_view text)
{
    return decodeUtf8(text, [](unsigned char) { return Replacement; });
}

std::u16string FileNameToWide(std::string_view name)
{
    // Only bytes from 0x80 on can start an invalid sequence.
    return decodeUtf8(name, [](unsigned char b) { return EscapeBase + b; });
}
