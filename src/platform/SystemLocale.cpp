#include "platform/SystemLocale.h"

#include <array>
#include <cstdlib>
#include <string>

namespace systemlocale {
namespace {

constexpr std::uint16_t UsEnglish = 0x0409;

struct LocaleId
{
    std::string_view language;
    std::string_view territory; // empty: no territory of its own
    std::uint16_t id;
};

// Language first; the first row of each language is its default territory.
constexpr std::array<LocaleId, 68> Locales{{
    {"en", "US", 0x0409}, {"en", "GB", 0x0809}, {"en", "AU", 0x0C09}, {"en", "CA", 0x1009},
    {"en", "NZ", 0x1409}, {"en", "IE", 0x1809}, {"en", "ZA", 0x1C09}, {"en", "IN", 0x4009},
    {"de", "DE", 0x0407}, {"de", "CH", 0x0807}, {"de", "AT", 0x0C07}, {"de", "LU", 0x1007},
    {"de", "LI", 0x1407}, {"fr", "FR", 0x040C}, {"fr", "BE", 0x080C}, {"fr", "CA", 0x0C0C},
    {"fr", "CH", 0x100C}, {"fr", "LU", 0x140C}, {"es", "ES", 0x0C0A}, {"es", "MX", 0x080A},
    {"es", "AR", 0x2C0A}, {"es", "US", 0x540A}, {"it", "IT", 0x0410}, {"it", "CH", 0x0810},
    {"nl", "NL", 0x0413}, {"nl", "BE", 0x0813}, {"pt", "PT", 0x0816}, {"pt", "BR", 0x0416},
    {"sv", "SE", 0x041D}, {"sv", "FI", 0x081D}, {"da", "DK", 0x0406}, {"nb", "NO", 0x0414},
    {"no", "NO", 0x0414}, {"nn", "NO", 0x0814}, {"fi", "FI", 0x040B}, {"is", "IS", 0x040F},
    {"pl", "PL", 0x0415}, {"cs", "CZ", 0x0405}, {"sk", "SK", 0x041B}, {"hu", "HU", 0x040E},
    {"ro", "RO", 0x0418}, {"bg", "BG", 0x0402}, {"hr", "HR", 0x041A}, {"sl", "SI", 0x0424},
    {"sr", "RS", 0x241A}, {"ru", "RU", 0x0419}, {"uk", "UA", 0x0422}, {"be", "BY", 0x0423},
    {"et", "EE", 0x0425}, {"lv", "LV", 0x0426}, {"lt", "LT", 0x0427}, {"el", "GR", 0x0408},
    {"tr", "TR", 0x041F}, {"he", "IL", 0x040D}, {"ar", "SA", 0x0401}, {"ar", "EG", 0x0C01},
    {"fa", "IR", 0x0429}, {"hi", "IN", 0x0439}, {"th", "TH", 0x041E}, {"vi", "VN", 0x042A},
    {"id", "ID", 0x0421}, {"ja", "JP", 0x0411}, {"ko", "KR", 0x0412}, {"zh", "CN", 0x0804},
    {"zh", "TW", 0x0404}, {"zh", "HK", 0x0C04}, {"ca", "ES", 0x0403}, {"eu", "ES", 0x042D},
}};

std::string asciiCase(std::string_view text, bool upper)
{
    std::string out(text);
    for (char& c : out) {
        if (upper && c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        } else if (!upper && c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return out;
}

} // namespace

std::uint16_t langIdOfLocale(std::string_view localeName)
{
    // language[_territory][.codeset][@modifier]
    const std::string_view base = localeName.substr(0, localeName.find_first_of(".@"));
    const std::size_t underscore = base.find('_');
    const std::string language = asciiCase(base.substr(0, underscore), false);
    const std::string territory =
        underscore == std::string_view::npos ? std::string() : asciiCase(base.substr(underscore + 1), true);

    const LocaleId* fallback = nullptr;
    for (const LocaleId& locale : Locales) {
        if (locale.language != language) {
            continue;
        }
        if (locale.territory == territory) {
            return locale.id;
        }
        if (fallback == nullptr) {
            fallback = &locale;
        }
    }
    return fallback != nullptr ? fallback->id : UsEnglish;
}

} // namespace systemlocale

WORD GetSystemDefaultLangID()
{
    for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(variable);
        if (value != nullptr && *value != '\0') {
            return systemlocale::langIdOfLocale(value);
        }
    }
    return systemlocale::UsEnglish;
}
