#pragma once

// 16-bit text to the system's 8-bit code page and back. On this system the
// 8-bit code page of file names is UTF-8; unpaired surrogates become U+FFFD.

#include <string>
#include <string_view>

std::string WideToSystem(std::u16string_view text);
std::u16string SystemToWide(std::string_view text);
