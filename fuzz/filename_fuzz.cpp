// File names as bytes: every byte string survives the trip through 16-bit
// text, and the 16-bit text is well-formed apart from the byte escapes.

#include "platform/TextConversion.h"

#include <cstdint>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view name(reinterpret_cast<const char*>(data), size);
    const std::u16string wide = FileNameToWide(name);
    if (WideToSystem(wide) != name) {
        __builtin_trap();
    }
    for (std::size_t i = 0; i < wide.size(); ++i) {
        const char16_t c = wide[i];
        const bool high = c >= 0xD800 && c <= 0xDBFF;
        const bool low = c >= 0xDC00 && c <= 0xDFFF;
        if (high && (i + 1 >= wide.size() || wide[i + 1] < 0xDC00 || wide[i + 1] > 0xDFFF)) {
            __builtin_trap(); // an unpaired high surrogate is never made
        }
        if (high) {
            ++i;
        } else if (low && (c < 0xDC80 || c > 0xDCFF)) {
            __builtin_trap(); // only the escapes of bytes 0x80..0xFF stand alone
        }
    }
    return 0;
}
