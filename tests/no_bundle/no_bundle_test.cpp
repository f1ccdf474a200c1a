// The library without any resource bundle: nothing installed, nothing added, the compiled-in copy
// unloaded before anything reads it. A process of its own, so that the shared configuration is
// made without bundle.
#include <kestrel/config/sdk_configuration.hpp>
#include <kestrel/platform/bundle.hpp>
#include <kestrel/platform/locale.hpp>
#include <kestrel/service/kestrel_error.hpp>
#include <kestrel/service/kestrel_extensions.hpp>

#include "support/capture_stdout.hpp"

#include <gtest/gtest.h>

#include <sstream>

using kestrel::ConfigurationKey;
using kestrel::KestrelError;
using kestrel::SdkConfiguration;

namespace {

class WithoutBundle : public ::testing::Test {
protected:
    void SetUp() override {
        kestrel::platform::Bundle::unloadAll();
        kestrel::platform::Locale::setPreferredLanguages({"fr"});
    }
};

} // namespace

TEST_F(WithoutBundle, ErrorsReadAsTheirKeys) {
    EXPECT_FALSE(kestrel::kestrelBundle());
    EXPECT_EQ(kestrel::localizedString(KestrelError::parametersMissing),
              "request.error.parameters");
    EXPECT_EQ(kestrel::tr("any.key"), "any.key");
}

TEST_F(WithoutBundle, SharedConfigurationAnswersWithEmptyValuesAndStillLists25Lines) {
    const auto& config = SdkConfiguration::shared();
    EXPECT_EQ(config.valueForKey(ConfigurationKey::sdkName), "");
    EXPECT_EQ(config.urlValueForKey(ConfigurationKey::sdkClicksUrl), "");
    EXPECT_EQ(config.floatValueForKey(ConfigurationKey::sdkImageSendQuality), 0.0);
    EXPECT_EQ(config.intValueForKey(ConfigurationKey::galleryNumberOfItems), 0);

    const auto out = kestrel::testing::captureStdout([&] { config.printAllConfigurations(); });
    std::istringstream in(out);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    ASSERT_EQ(lines.size(), 25u);
    EXPECT_EQ(lines[1], "SDK_NAME :: ");
}
