// Typed look-ups of the configuration dictionary, read from a bundle that carries the library's
// identifier in a folder of the test's own.
#include <kestrel/config/bundle_identifier.hpp>
#include <kestrel/config/sdk_configuration.hpp>
#include <kestrel/platform/bundle.hpp>

#include "support/capture_stdout.hpp"
#include "support/temp_dir.hpp"

#include <gtest/gtest.h>

#include <list>
#include <sstream>
#include <vector>

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
        {"2.5E+1", 25.0},
        {"1e+", 1.0},  // an exponent without digits is not part of the number
        {"1e39", 0.0}, // beyond single precision: no usable value
    };
    for (const auto& [text, expected] : cases) {
        const auto config = configurationWith({{"SDK_IMAGE_SEND_WIDTH", text}});
        EXPECT_EQ(config->floatValueForKey(K::sdkImageSendWidth), expected) << '"' << text << '"';
    }
}

// The whole-text integer rules themselves are the JSON reader's, tested with it.
TEST_F(ConfigurationFromBundle, IntValuesReadTheWholeTextOrNothing) {
    EXPECT_EQ(configurationWith({{"GALLERY_NUMBER_ITEMS", "-3"}})
                  ->intValueForKey(K::galleryNumberOfItems),
              -3);
    EXPECT_EQ(configurationWith({{"GALLERY_NUMBER_ITEMS", "12abc"}})
                  ->intValueForKey(K::galleryNumberOfItems),
              0);
}

TEST_F(ConfigurationFromBundle, ShippedCopyHasAValueForEveryKeyUnderItsRawName) {
    const SdkConfiguration shipped;
    for (const auto key : kestrel::allConfigurationKeys) {
        const std::string raw(kestrel::rawValue(key));
        EXPECT_NE(shipped.valueForKey(key), "") << raw;
        EXPECT_EQ(kestrel::fromRawValue<ConfigurationKey>(raw), key) << raw;
    }
    for (const char* text : {"sdk_name", "SDK_NAME ", "", "GALLERY_NUMBER_OF_ITEMS"})
        EXPECT_FALSE(kestrel::fromRawValue<ConfigurationKey>(text)) << text;
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
