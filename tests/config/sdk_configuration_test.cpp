// Typed look-ups of the configuration dictionary, read from a bundle that carries the library's
// identifier in a folder of the test's own.
#include <kestrel/config/bundle_identifier.hpp>
#include <kestrel/config/sdk_configuration.hpp>
#include <kestrel/platform/bundle.hpp>

#include "support/capture_stdout.hpp"
#include "support/temp_dir.hpp"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdint>
#include <limits>
#include <list>
#include <sstream>

using kestrel::ConfigurationKey;
using kestrel::JsonValue;
using kestrel::SdkConfiguration;
using kestrel::platform::Bundle;
using K = kestrel::ConfigurationKey;

namespace {

// Each test reads a dictionary of its own; no installed copy gets in the way.
class ConfigurationFromBundle : public ::testing::Test {
protected:
    void SetUp() override {
        Bundle::restoreDefaults();
        Bundle::setInstallLocation(noInstall.path());
    }
    void TearDown() override { Bundle::restoreDefaults(); }

    // Adds a library bundle whose Info.json is `info` and reads a configuration from it.
    std::unique_ptr<SdkConfiguration> configurationWithInfo(std::string_view info) {
        kestrel::testing::TempDir& folder = folders.emplace_back();
        folder.write("KestrelSDKLight.bundle/Info.json", info);
        EXPECT_EQ(Bundle::addSearchFolder(folder.path()), 1u);
        return std::make_unique<SdkConfiguration>();
    }
    std::unique_ptr<SdkConfiguration> configurationWith(JsonValue entries) {
        entries["CFBundleIdentifier"] = kestrel::kestrelBundleIdentifier;
        return configurationWithInfo(entries.dump());
    }

    kestrel::testing::TempDir noInstall;
    std::list<kestrel::testing::TempDir> folders;
};

} // namespace

TEST_F(ConfigurationFromBundle, FloatValuesReadALeadingNumberAtSinglePrecision) {
    const std::vector<std::pair<std::string, double>> cases = {
        {"0.8", 0.800000011920929},
        {"0.85abc", static_cast<double>(0.85f)},
        {"abc", 0.0},
        {"  2.5", 2.5},
        {"-1.5e2px", -150.0},
        {"inf", 0.0},
        {"1e+", 1.0},  // an exponent without digits is not part of the number
        {"0x1A", 0.0}, // no hexadecimal: the number is the leading "0"
        {"1e39", 0.0}, // beyond single precision: no usable value
    };
    for (const auto& [text, expected] : cases) {
        const auto config = configurationWith({{"SDK_IMAGE_SEND_WIDTH", text}});
        EXPECT_EQ(config->floatValueForKey(K::sdkImageSendWidth), expected) << '"' << text << '"';
    }
}

TEST_F(ConfigurationFromBundle, IntValuesReadTheWholeTextOrNothing) {
    const std::vector<std::pair<std::string, std::int64_t>> cases = {
        {"+12", 12},
        {"-3", -3},
        {"-9223372036854775808", std::numeric_limits<std::int64_t>::min()},
        {"9223372036854775808", 0},
        {"12.5", 0},
        {" 12", 0},
        {"12abc", 0},
    };
    for (const auto& [text, expected] : cases) {
        const auto config = configurationWith({{"GALLERY_NUMBER_ITEMS", text}});
        EXPECT_EQ(config->intValueForKey(K::galleryNumberOfItems), expected) << '"' << text << '"';
    }
}

TEST_F(ConfigurationFromBundle, UrlValuesLoseEveryBackslashAndNothingElse) {
    const auto config = configurationWith({
        {"SDK_CLICKS_URL", "http:\\/\\/host:1\\/clicks"},
        {"SDK_PICTURES_SEARCH_URL", "a\\\\b\\\\\\c\\"},
        {"SDK_ENRICHED_IMAGE_URL", " http://plain/path?q=1%20 "},
    });
    EXPECT_EQ(config->urlValueForKey(K::sdkClicksUrl), "http://host:1/clicks");
    EXPECT_EQ(config->urlValueForKey(K::sdkPicturesSearchUrl), "abc");
    EXPECT_EQ(config->urlValueForKey(K::sdkEnrichedImageUrl), " http://plain/path?q=1%20 ");
    // valueForKey hands the text over unchanged.
    EXPECT_EQ(config->valueForKey(K::sdkClicksUrl), "http:\\/\\/host:1\\/clicks");
}

TEST_F(ConfigurationFromBundle, EntriesThatAreNotTextReadAsAbsent) {
    const auto config = configurationWith({
        {"SDK_IMAGE_SEND_WIDTH", 1024},
        {"GALLERY_NUMBER_ITEMS", 12},
        {"SDK_CLICKS_URL", true},
        {"SDK_NAME", JsonValue::array({"x"})},
    });
    EXPECT_EQ(config->floatValueForKey(K::sdkImageSendWidth), 0.0);
    EXPECT_EQ(config->intValueForKey(K::galleryNumberOfItems), 0);
    EXPECT_EQ(config->urlValueForKey(K::sdkClicksUrl), "");
    EXPECT_EQ(config->valueForKey(K::sdkName), "");
}

TEST_F(ConfigurationFromBundle, BrokenCopyGivesWayToTheEmbeddedOneOrEmptyValues) {
    // Without a readable identifier the folder copy is not the library's bundle.
    EXPECT_EQ(configurationWithInfo("{ \"SDK_NAME\": \"broken\" ")->valueForKey(K::sdkName),
              "KestrelSDKLight");
    Bundle::unloadAll();
    const auto config = configurationWithInfo("[1, 2]");
    EXPECT_EQ(config->valueForKey(K::sdkName), "");
    EXPECT_EQ(config->floatValueForKey(K::sdkImageSendWidth), 0.0);
}

TEST_F(ConfigurationFromBundle, ListingHasAHeaderAndOneLinePerKeyInOrder) {
    const auto config = configurationWith({
        {"SDK_NAME", "Kestrel"},
        {"SDK_CLICKS_URL", "http:\\/\\/h\\/c"},
        {"SDK_IMAGE_SEND_WIDTH", 1000}, // not text: listed empty
    });
    std::istringstream out(
        kestrel::testing::captureStdout([&] { config->printAllConfigurations(); }));
    std::vector<std::string> lines;
    for (std::string line; std::getline(out, line);) lines.push_back(line);
    ASSERT_EQ(lines.size(), 25u);
    EXPECT_EQ(lines[0], "/*** Sdk Configuration ***/");
    for (std::size_t i = 0; i < 24; ++i) {
        const auto key = kestrel::allConfigurationKeys[i];
        EXPECT_EQ(lines[i + 1], kestrel::rawValue(key) + " :: " + config->valueForKey(key));
    }
    EXPECT_EQ(lines[5], "SDK_IMAGE_SEND_WIDTH :: ");
    EXPECT_EQ(lines[7], "SDK_CLICKS_URL :: http:\\/\\/h\\/c"); // as written, backslashes kept
}

TEST_F(ConfigurationFromBundle, NumberReadsIgnoreTheProcessLocale) {
    const std::string previous = std::setlocale(LC_ALL, nullptr);
    ASSERT_TRUE(std::setlocale(LC_ALL, "de_DE.UTF-8")) << "run ./run deps to generate de_DE.UTF-8";
    const auto config =
        configurationWith({{"SDK_IMAGE_SEND_QUALITY", "0.8"}, {"SDK_IMAGE_SEND_WIDTH", "0,5"}});
    const auto quality = config->floatValueForKey(K::sdkImageSendQuality);
    const auto width = config->floatValueForKey(K::sdkImageSendWidth);
    std::setlocale(LC_ALL, previous.c_str());
    EXPECT_EQ(quality, 0.800000011920929);
    EXPECT_EQ(width, 0.0);
}
