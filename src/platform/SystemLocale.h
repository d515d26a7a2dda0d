#pragma once

// The system's default language as a Windows language identifier.

#include "platform/WinTypes.h"

#include <cstdint>
#include <string_view>

// The language identifier (primary language in bits 0-9, sub-language in
// bits 10-15) of the locale named by LC_ALL, else LC_MESSAGES, else LANG;
// unset or empty variables are skipped. "C", "POSIX", no locale at all and
// languages missing from the built-in table count as US English (0x0409).
WORD GetSystemDefaultLangID();

namespace systemlocale {

// The identifier for one locale name such as "de_DE.UTF-8@euro", "fr_CA",
// "pt" or "C"; a language without a listed territory takes its default one.
std::uint16_t langIdOfLocale(std::string_view localeName);

} // namespace systemlocale
