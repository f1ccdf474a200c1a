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
        {"fr_CA.UTF-8", "fr-CA"},   {"de", "de"},
        {"en_US", "en-US"},         {"de_DE.UTF-8@euro", "de-DE"},
        {"sr_RS@latin", "sr-RS"},   {"EN_us", "en-US"},
        {"es_419", "es-419"},       {"zh_Hant_TW", "zh-Hant-TW"},
        {"zh-hans", "zh-Hans"},     {"pt-BR", "pt-BR"},
        {"ast_ES", "ast-ES"},       {"C", std::nullopt},
        {"POSIX", std::nullopt},    {"C.UTF-8", std::nullopt},
        {"", std::nullopt},         {"e", std::nullopt},
        {"english", std::nullopt},  {"fr_", std::nullopt},
        {"fr_CA_CA", std::nullopt}, {"fr CA", std::nullopt},
        {"12_34", std::nullopt},    {"../../etc", std::nullopt},
    };
    for (const auto& [name, tag] : cases) EXPECT_EQ(Locale::languageTag(name), tag) << name;
}

TEST_F(LocaleEnvironment, LanguageListFirstThenTheMessagesLocale) {
    setLocale("fr_CA:fr:de", std::nullopt, std::nullopt, "es_ES.UTF-8");
    EXPECT_EQ(Locale::preferredLanguages(), (Languages{"fr-CA", "fr", "de", "es-ES"}));
}

TEST_F(LocaleEnvironment, PrecedenceOfTheLocaleVariables) {
    setLocale(std::nullopt, "it_IT.UTF-8", "de_DE.UTF-8", "fr_FR.UTF-8");
    EXPECT_EQ(Locale::preferredLanguages(), Languages{"it-IT"});
    setLocale("", "", "de_DE.UTF-8", "fr_FR.UTF-8"); // empty counts as unset
    EXPECT_EQ(Locale::preferredLanguages(), Languages{"de-DE"});
    setLocale(std::nullopt, std::nullopt, std::nullopt, "fr_FR.UTF-8");
    EXPECT_EQ(Locale::preferredLanguages(), Languages{"fr-FR"});
}

TEST_F(LocaleEnvironment, NeverEmptyAndNoDuplicates) {
    setLocale(std::nullopt, std::nullopt, std::nullopt, std::nullopt);
    EXPECT_EQ(Locale::preferredLanguages(), Languages{"en"});
    setLocale(std::nullopt, "C", std::nullopt, "fr_FR");
    EXPECT_EQ(Locale::preferredLanguages(), Languages{"en"}); // LC_ALL=C wins over LANG
    setLocale(std::nullopt, std::nullopt, std::nullopt, "POSIX");
    EXPECT_EQ(Locale::preferredLanguages(), Languages{"en"});
    setLocale("::C:garbage!:", std::nullopt, std::nullopt, "C.UTF-8");
    EXPECT_EQ(Locale::preferredLanguages(), Languages{"en"});
    setLocale("de:de_DE:de", std::nullopt, std::nullopt, "de_DE.UTF-8");
    EXPECT_EQ(Locale::preferredLanguages(), (Languages{"de", "de-DE"}));
}

TEST_F(LocaleEnvironment, HostOverrideReplacesTheEnvironment) {
    setLocale("fr", std::nullopt, std::nullopt, "fr_FR");
    Locale::setPreferredLanguages({"", "ja", "en-US"});
    EXPECT_EQ(Locale::preferredLanguages(), (Languages{"ja", "en-US"}));
    Locale::setPreferredLanguages({});
    EXPECT_EQ(Locale::preferredLanguages(), (Languages{"fr", "fr-FR"}));
}

TEST_F(LocaleEnvironment, CurrentLanguageAndRegion) {
    setLocale("ja", std::nullopt, "pt_BR.UTF-8", "fr_FR.UTF-8"); // LANGUAGE does not count here
    EXPECT_EQ(Locale::languageCode(), "pt");
    EXPECT_EQ(Locale::regionCode(), "BR");

    setLocale(std::nullopt, std::nullopt, std::nullopt, "zh_Hant_TW");
    EXPECT_EQ(Locale::languageCode(), "zh");
    EXPECT_EQ(Locale::regionCode(), "TW");

    setLocale(std::nullopt, std::nullopt, std::nullopt, "de");
    EXPECT_EQ(Locale::languageCode(), "de");
    EXPECT_EQ(Locale::regionCode(), std::nullopt);

    setLocale(std::nullopt, "C", std::nullopt, "de_DE");
    EXPECT_EQ(Locale::languageCode(), "en");
    EXPECT_EQ(Locale::regionCode(), std::nullopt);

    Locale::setCurrentLocaleName("es-MX");
    EXPECT_EQ(Locale::languageCode(), "es");
    EXPECT_EQ(Locale::regionCode(), "MX");
    Locale::setCurrentLocaleName("");
    EXPECT_EQ(Locale::languageCode(), "en");
}
