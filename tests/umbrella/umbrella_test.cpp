// The umbrella header alone gives a host every public type.
#include <kestrel/kestrel.hpp>

#include <gtest/gtest.h>

TEST(UmbrellaHeader, ScannedCodeActionNeedsNothingElse) {
    const auto action = kestrel::Action::fromCodeUrl("https://example.org/page");
    EXPECT_TRUE(action.isQrCode);
    EXPECT_EQ(action.type, kestrel::ActionType::Url);
    EXPECT_EQ(kestrel::rawValue(kestrel::ConfigurationKey::sdkClicksUrl), "SDK_CLICKS_URL");
}
