#pragma once

// 16-bit text to the system's 8-bit code page and back. On this system the
// 8-bit code page of file names is UTF-8.
//
// A file name is any string of bytes, not always UTF-8 (a Latin-1 name from
// an older system). FileNameToWide keeps each byte that is not part of valid
// UTF-8 as the unpaired low surrogate U+DC80..U+DCFF, and WideToSystem turns
// such a surrogate back into its byte, so every name survives the round trip
// through 16-bit text. Other unpaired surrogates become U+FFFD.

#include <string>
#include <string_view>

std::string WideToSystem(std::u16string_view text);
// Invalid UTF-8 becomes U+FFFD (for text that is not a file name).
std::u16string SystemToWide(std::string_view text);
// Invalid UTF-8 bytes become U+DC80..U+DCFF (see above).
std::u16string FileNameToWide(std::string_view name);
