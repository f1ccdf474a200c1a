// The error type, the localization look-up in the library's bundle, and the byte-buffer helpers.
#include <kestrel/platform/bundle.hpp>
#include <kestrel/platform/locale.hpp>
#include <kestrel/service/kestrel_error.hpp>
#include <kestrel/service/kestrel_extensions.hpp>

#include "support/capture_stdout.hpp"
#include "support/environment_guard.hpp"
#include "support/temp_folder.hpp"

#include <gtest/gtest.h>

using kestrel::KestrelError;
using kestrel::platform::Bundle;
using kestrel::platform::Locale;

namespace {

constexpr const char* notEnrichedKey = "actions.list.error.not_enriched_image";
constexpr const char* parametersKey = "request.error.parameters";

// The library's shipped bundle (the embedded copy: no installed one gets in the way), with the
// user's languages chosen per test.
class Localization : public ::testing::Test {
protected:
    void SetUp() override {
        Bundle::restoreDefaults();
        Bundle::setInstallLocation(noInstall.path());
    }
    void TearDown() override {
        Locale::setPreferredLanguages({});
        Bundle::restoreDefaults();
    }
    kestrel::testing::TempFolder noInstall;
};

} // namespace

TEST(KestrelErrors, RawValues) {
    EXPECT_EQ(kestrel::rawValue(KestrelError::notEnrichedImage), notEnrichedKey);
    EXPECT_EQ(kestrel::rawValue(KestrelError::parametersMissing), parametersKey);
    EXPECT_EQ(kestrel::fromRawValue<KestrelError>(parametersKey), KestrelError::parametersMissing);
    EXPECT_EQ(kestrel::fromRawValue<KestrelError>(notEnrichedKey), KestrelError::notEnrichedImage);
    for (const char* text : {"REQUEST.ERROR.PARAMETERS", "parametersMissing", "request.error",
                             " request.error.parameters", ""})
        EXPECT_FALSE(kestrel::fromRawValue<KestrelError>(text)) << text;
}

TEST_F(Localization, TranslatedInTheUsersLanguage) {
    Locale::setPreferredLanguages({"fr-FR"});
    EXPECT_EQ(kestrel::tr(notEnrichedKey),
              "Cette page n’a pas pu être reconnue. Veuillez réessayer.");
    EXPECT_EQ(kestrel::localizedString(KestrelError::parametersMissing),
              "Il manque la photo ou la langue de la requête.");

    Locale::setPreferredLanguages({"ja", "es-MX"});
    EXPECT_EQ(kestrel::localizedString(KestrelError::notEnrichedImage),
              "No se ha podido reconocer esta página. Inténtelo de nuevo.");

    Locale::setPreferredLanguages({"ja"}); // no Japanese table: the development language
    EXPECT_EQ(kestrel::localizedString(KestrelError::notEnrichedImage),
              "This page could not be recognised. Please try again.");
}

TEST_F(Localization, LanguageTakenFromTheEnvironment) {
    kestrel::testing::EnvironmentGuard env;
    env.set("LANGUAGE", std::nullopt);
    env.set("LC_ALL", std::nullopt);
    env.set("LC_MESSAGES", "de_AT.UTF-8");
    EXPECT_EQ(kestrel::localizedString(KestrelError::parametersMissing),
              "Der Anfrage fehlen das Foto oder die Sprache.");
    env.set("LANGUAGE", "es:de");
    EXPECT_EQ(kestrel::localizedString(KestrelError::parametersMissing),
              "A la solicitud le falta la foto o el idioma.");
}

TEST_F(Localization, EveryShippedLanguageTranslatesBothErrors) {
    const auto bundle = kestrel::kestrelBundle();
    ASSERT_TRUE(bundle);
    for (const auto& language : bundle->localizations()) {
        Locale::setPreferredLanguages({language});
        for (const auto error : {KestrelError::notEnrichedImage, KestrelError::parametersMissing}) {
            const auto text = kestrel::localizedString(error);
            EXPECT_NE(text, kestrel::rawValue(error)) << language;
            EXPECT_FALSE(text.empty()) << language;
        }
    }
    EXPECT_EQ(bundle->localizations(), (std::vector<std::string>{"de", "en", "es", "fr"}));
}

TEST_F(Localization, MissingKeyComesBackUnchanged) {
    Locale::setPreferredLanguages({"fr"});
    EXPECT_EQ(kestrel::tr("no.such.key"), "no.such.key");
    EXPECT_EQ(kestrel::tr(""), "");
}

TEST_F(Localization, HostCopyOfTheBundleReplacesTheTexts) {
    kestrel::testing::TempFolder folder;
    folder.write("KestrelSDKLight.bundle/Info.json",
                 R"({"CFBundleIdentifier": "org.kestrel.KestrelSDKLight"})");
    folder.write("KestrelSDKLight.bundle/en.lproj/Localizable.strings",
                 "\"request.error.parameters\" = \"Take a photo first.\";");
    Bundle::addSearchFolder(folder.path());
    Locale::setPreferredLanguages({"fr"}); // the host's copy has no French: its English serves
    EXPECT_EQ(kestrel::localizedString(KestrelError::parametersMissing), "Take a photo first.");
    EXPECT_EQ(kestrel::localizedString(KestrelError::notEnrichedImage), notEnrichedKey);
}

TEST(ByteBuffers, AppendStringAddsTheUtf8Bytes) {
    std::vector<std::uint8_t> buffer{0x01};
    kestrel::appendString(buffer, "");
    EXPECT_EQ(buffer, (std::vector<std::uint8_t>{0x01}));
    kestrel::appendString(buffer, "a\r\n");
    kestrel::appendString(buffer, "é€😀");
    EXPECT_EQ(buffer, (std::vector<std::uint8_t>{0x01, 'a', '\r', '\n', 0xC3, 0xA9, 0xE2, 0x82,
                                                 0xAC, 0xF0, 0x9F, 0x98, 0x80}));
    kestrel::appendString(buffer, std::string_view("x\0y", 3));
    EXPECT_EQ(buffer.size(), 16u);
    EXPECT_EQ(buffer[14], 0);
}

TEST(ByteBuffers, PrintToStringPrintsOnlyValidUtf8) {
    using kestrel::testing::captureStdout;
    const std::vector<std::uint8_t> text{'{', '"', 'a', '"', ':', ' ', 0xC3, 0xA9, '}'};
    EXPECT_EQ(captureStdout([&] { kestrel::printToString(text); }), "data string : {\"a\": é}\n");
    EXPECT_EQ(captureStdout([] { kestrel::printToString({}); }), "data string : \n");
    for (const std::vector<std::uint8_t>& bad :
         {std::vector<std::uint8_t>{0xFF}, std::vector<std::uint8_t>{'a', 0xC3},
          std::vector<std::uint8_t>{0xED, 0xA0, 0x80}, std::vector<std::uint8_t>{0xC0, 0x80}})
        EXPECT_EQ(captureStdout([&] { kestrel::printToString(bad); }), "");
}
