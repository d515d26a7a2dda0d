#include "platform/SystemLocale.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <optional>
#include <string>

namespace {

// Sets or clears one environment variable for the life of the object.
class ScopedEnv
{
public:
    ScopedEnv(const char* name, const char* value)
        : m_name(name)
    {
        if (const char* old = std::getenv(name)) {
            m_old = old;
        }
        if (value != nullptr) {
            ::setenv(name, value, 1);
        } else {
            ::unsetenv(name);
        }
    }
    ~ScopedEnv()
    {
        if (m_old) {
            ::setenv(m_name, m_old->c_str(), 1);
        } else {
            ::unsetenv(m_name);
        }
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    const char* m_name;
    std::optional<std::string> m_old;
};

struct LocaleCase
{
    const char* locale;
    std::uint16_t id;
};

class LocaleLangId : public ::testing::TestWithParam<LocaleCase>
{
};

} // namespace

TEST_P(LocaleLangId, MapsTheLocaleName)
{
    EXPECT_EQ(systemlocale::langIdOfLocale(GetParam().locale), GetParam().id) << GetParam().locale;
}

INSTANTIATE_TEST_SUITE_P(
    Names, LocaleLangId,
    ::testing::Values(LocaleCase{"en_US", 0x0409}, LocaleCase{"en_US.UTF-8", 0x0409}, LocaleCase{"de_DE", 0x0407},
                      LocaleCase{"de_DE.UTF-8@euro", 0x0407}, LocaleCase{"de_AT.ISO-8859-1", 0x0C07},
                      LocaleCase{"fr_FR", 0x040C}, LocaleCase{"fr_CA.utf8", 0x0C0C}, LocaleCase{"en_GB", 0x0809},
                      LocaleCase{"pt_BR", 0x0416}, LocaleCase{"zh_TW.UTF-8", 0x0404}, LocaleCase{"ja_JP", 0x0411},
                      // A language alone, or with a territory not listed, takes its default territory.
                      LocaleCase{"de", 0x0407}, LocaleCase{"fr_BF", 0x040C}, LocaleCase{"DE_de", 0x0407},
                      // The portable locales and anything unknown count as US English.
                      LocaleCase{"C", 0x0409}, LocaleCase{"C.UTF-8", 0x0409}, LocaleCase{"POSIX", 0x0409},
                      LocaleCase{"", 0x0409}, LocaleCase{"xx_YY", 0x0409}, LocaleCase{"_", 0x0409}),
    [](const auto& info) {
                             std::string name;
                             for (const char c : std::string(info.param.locale)) {
                                 name += std::isalnum(static_cast<unsigned char>(c)) ? c : 'x';
                             }
                             return "Case" + std::to_string(info.index) + name;
                         });

TEST(SystemDefaultLangId, TakesLcAllThenLcMessagesThenLang)
{
    const ScopedEnv all("LC_ALL", "fr_FR.UTF-8");
    const ScopedEnv messages("LC_MESSAGES", "de_DE.UTF-8");
    const ScopedEnv lang("LANG", "ja_JP.UTF-8");
    EXPECT_EQ(GetSystemDefaultLangID(), 0x040C);
    {
        const ScopedEnv noAll("LC_ALL", nullptr);
        EXPECT_EQ(GetSystemDefaultLangID(), 0x0407);
        const ScopedEnv emptyMessages("LC_MESSAGES", ""); // empty counts as unset
        EXPECT_EQ(GetSystemDefaultLangID(), 0x0411);
        const ScopedEnv noLang("LANG", nullptr);
        EXPECT_EQ(GetSystemDefaultLangID(), 0x0409);
    }
}

TEST(SystemDefaultLangId, PortableLocaleIsUsEnglish)
{
    const ScopedEnv all("LC_ALL", "POSIX");
    EXPECT_EQ(GetSystemDefaultLangID(), 0x0409);
}
