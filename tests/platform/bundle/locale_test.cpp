#include <kestrel/platform/locale.hpp>

#include "support/environment_guard.hpp"

#include <gtest/gtest.h>

using kestrel::platform::Locale;
using kestrel::testing::EnvironmentGuard;
using Languages = std::vector<std::string>;

namespace {

// Sets the four locale variables (absent = unset) for one test.
class LocaleEnvironment : public ::testing::Test {
protected:
    void setLocale(std::optional<std::string> language, std::optional<std::string> all,
                   std::optional<std::string> messages, std::optional<std::string> lang) {
        env.set("LANGUAGE", std::move(language));
        env.set("LC_ALL", std::move(all));
        env.set("LC_MESSAGES", std::move(messages));
        env.set("LANG", std::move(lang));
    }
    EnvironmentGuard env;
};

} // namespace

TEST(LocaleTags, PosixNamesBecomeLanguageTags) {
    const std::vector<std::pair<std::string, std::optional<std::string>>> cases = {
        {"de_DE.UTF-8@euro", "de-DE"}, {"EN_us", "en-US"},        {"zh_Hant_TW", "zh-Hant-TW"},
        {"es_419", "es-419"},          {"ca_ad", "ca-AD"},        {"en_USA", std::nullopt},
        {"C.UTF-8", std::nullopt},     {"english", std::nullopt}, {"../../etc", std::nullopt}};
    for (const auto& [name, tag] : cases) EXPECT_EQ(Locale::languageTag(name), tag) << name;
}

TEST_F(LocaleEnvironment, PreferredLanguagesFromTheVariablesOrTheHost) {
    setLocale("fr_CA:fr:de", std::nullopt, std::nullopt, "es_ES.UTF-8");
    EXPECT_EQ(Locale::preferredLanguages(), (Languages{"fr-CA", "fr", "de", "es-ES"}));
    setLocale("", "it_IT.UTF-8", "de_DE.UTF-8", "fr_FR.UTF-8"); // empty counts as unset
    EXPECT_EQ(Locale::preferredLanguages(), Languages{"it-IT"});
    setLocale(std::nullopt, "", "de_DE.UTF-8", "fr_FR.UTF-8");
    EXPECT_EQ(Locale::preferredLanguages(), Languages{"de-DE"});
    setLocale(std::nullopt, "C", std::nullopt, "fr_FR");
    EXPECT_EQ(Locale::preferredLanguages(), Languages{"en"}); // never empty; LC_ALL=C wins
    setLocale("de:de_DE:de", std::nullopt, std::nullopt, "de_DE.UTF-8");
    EXPECT_EQ(Locale::preferredLanguages(), (Languages{"de", "de-DE"})); // no duplicates

    Locale::setPreferredLanguages({"", "ja", "en-US"});
    EXPECT_EQ(Locale::preferredLanguages(), (Languages{"ja", "en-US"}));
    Locale::setPreferredLanguages({});
    EXPECT_EQ(Locale::preferredLanguages(), (Languages{"de", "de-DE"}));
}

TEST_F(LocaleEnvironment, CurrentLanguageAndRegion) {
    setLocale("ja", std::nullopt, "pt_BR.UTF-8", "fr_FR.UTF-8"); // LANGUAGE does not count here
    EXPECT_EQ(Locale::languageCode(), "pt");
    EXPECT_EQ(Locale::regionCode(), "BR");

    Locale::setCurrentLocaleName("es-MX");
    EXPECT_EQ(Locale::languageCode(), "es");
    EXPECT_EQ(Locale::regionCode(), "MX");
    Locale::setCurrentLocaleName(""); // the environment counts again
    EXPECT_EQ(Locale::languageCode(), "pt");
}
