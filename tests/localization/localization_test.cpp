// The error type, the localization look-up in the library's bundle, and the byte-buffer helpers.
#include <kestrel/platform/bundle.hpp>
#include <kestrel/platform/locale.hpp>
#include <kestrel/service/failure.hpp>
#include <kestrel/service/kestrel_error.hpp>
#include <kestrel/service/kestrel_extensions.hpp>

#include "support/capture_stdout.hpp"
#include "support/temp_dir.hpp"

#include <gtest/gtest.h>

#include <set>

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
    kestrel::testing::TempDir noInstall;
};

} // namespace

TEST(KestrelErrors, RawValues) {
    EXPECT_EQ(kestrel::rawValue(KestrelError::notEnrichedImage), notEnrichedKey);
    EXPECT_EQ(kestrel::rawValue(KestrelError::parametersMissing), parametersKey);
    EXPECT_EQ(kestrel::fromRawValue<KestrelError>(parametersKey), KestrelError::parametersMissing);
    EXPECT_FALSE(kestrel::fromRawValue<KestrelError>("REQUEST.ERROR.PARAMETERS"));
}

TEST_F(Localization, TranslatedInTheUsersLanguageOrTheKeyItself) {
    Locale::setPreferredLanguages({"fr-FR"});
    EXPECT_EQ(kestrel::tr(notEnrichedKey),
              "Cette page n’a pas pu être reconnue. Veuillez réessayer.");
    EXPECT_EQ(kestrel::tr("no.such.key"), "no.such.key");

    Locale::setPreferredLanguages({"ja", "es-MX"});
    EXPECT_EQ(kestrel::localizedString(KestrelError::notEnrichedImage),
              "No se ha podido reconocer esta página. Inténtelo de nuevo.");

    Locale::setPreferredLanguages({"ja"}); // no Japanese table: the development language
    EXPECT_EQ(kestrel::localizedString(KestrelError::notEnrichedImage),
              "This page could not be recognised. Please try again.");
}

TEST(ByteBuffers, AppendAndPrintUtf8) {
    std::vector<std::uint8_t> buffer{0x01};
    kestrel::appendString(buffer, std::string_view("\xC3\xA9\0", 3));
    EXPECT_EQ(buffer, (std::vector<std::uint8_t>{0x01, 0xC3, 0xA9, 0x00}));
    using kestrel::testing::captureStdout;
    const std::vector<std::uint8_t> text{'{', '"', 'a', '"', ':', ' ', 0xC3, 0xA9, '}'};
    EXPECT_EQ(captureStdout([&] { kestrel::printToString(text); }), "data string : {\"a\": é}\n");
    const std::vector<std::uint8_t> cut{0x61, 0xC3}; // not UTF-8
    EXPECT_EQ(captureStdout([&] { kestrel::printToString(cut); }), "");
}

TEST_F(Localization, EveryFailureCauseHasItsOwnTextInEachShippedLanguage) {
    using kestrel::Failure;
    using kestrel::FailureCause;
    for (const char* language : {"en", "fr", "de", "es"}) {
        Locale::setPreferredLanguages({language});
        std::set<std::string> texts;
        for (int c = 0; c <= static_cast<int>(FailureCause::cancelled); ++c) {
            Failure failure;
            failure.cause = static_cast<FailureCause>(c);
            const std::string key = "failure." + std::string(kestrel::causeName(failure.cause));
            EXPECT_NE(kestrel::tr(key), key) << language << " " << key;
            texts.insert(failure.localizedDescription());
        }
        // No two causes share a text.
        EXPECT_EQ(texts.size(), static_cast<std::size_t>(FailureCause::cancelled) + 1) << language;
    }
}
