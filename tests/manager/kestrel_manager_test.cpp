// The settings manager is created once per process, so every case runs its manager in a child
// process of its own, on a store file the test chooses.
#include <kestrel/config/kestrel_manager.hpp>
#include <kestrel/platform/device.hpp>
#include <kestrel/platform/locale.hpp>
#include <kestrel/platform/screen.hpp>
#include <kestrel/platform/telephony_network_info.hpp>
#include <kestrel/platform/user_defaults.hpp>
#include <kestrel/service/kestrel_helpers.hpp>

#include "platform/network/monitor_harness.hpp"
#include "support/capture_stdout.hpp"
#include "support/fresh_process.hpp"
#include "support/temp_dir.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <regex>
#include <sys/wait.h>
#include <unistd.h>

using kestrel::KestrelLight;
using kestrel::KestrelManager;
using kestrel::platform::DefaultsValue;
using kestrel::platform::UserDefaults;
using kestrel::testing::inFreshProcess;
using kestrel::testing::TempDir;

TEST(KestrelManagerFirstRun, EmptyStoreGetsIdentifierFlagAndConfiguredQuality) {
    TempDir dir;
    const auto path = dir / "defaults.sqlite";
    inFreshProcess(path, [] {
        const std::string printed =
            kestrel::testing::captureStdout([] { KestrelManager::shared(); });
        EXPECT_EQ(printed, "Initializing KestrelManager\n");
    });
    auto store = UserDefaults::openFile(path);
    const auto id = store->stringForKey("applicationInstanceId");
    ASSERT_TRUE(id);
    EXPECT_TRUE(std::regex_match(
        *id, std::regex("[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}")))
        << *id;
    EXPECT_EQ(store->valueForKey("useBlackAndWhite"), DefaultsValue(true));
    // The shipped send quality "0.8", read at single precision and stored widened.
    EXPECT_EQ(store->valueForKey("jpegQuality"), DefaultsValue(static_cast<double>(0.8f)));
    EXPECT_FALSE(store->valueForKey("apiKey"));
    EXPECT_FALSE(store->valueForKey("hasBeenMigrated"));
}

TEST(KestrelManagerFirstRun, LaterStartsKeepEverythingAndPrintAgain) {
    TempDir dir;
    const auto path = dir / "defaults.sqlite";
    inFreshProcess(path, [] { KestrelLight::setApiKey("key-1"); });
    const auto firstId = UserDefaults::openFile(path)->stringForKey("applicationInstanceId");
    ASSERT_TRUE(firstId);
    UserDefaults::openFile(path)->setValue("useBlackAndWhite", false); // the host turns greying off
    UserDefaults::openFile(path)->setValue("jpegQuality", 0.5);
    inFreshProcess(path, [] {
        const std::string printed =
            kestrel::testing::captureStdout([] { KestrelManager::shared(); });
        EXPECT_EQ(printed, "Initializing KestrelManager\n");
        EXPECT_EQ(KestrelManager::shared().getApiKey(), "key-1");
        EXPECT_FALSE(KestrelManager::shared().useBlackAndWhite());
        EXPECT_EQ(KestrelManager::shared().getJpegQuality(), 0.5);
    });
    EXPECT_EQ(UserDefaults::openFile(path)->stringForKey("applicationInstanceId"), firstId);
}

TEST(KestrelManagerFirstRun, IdentifierStoredAsOtherThanTextMeansFirstRunAgain) {
    TempDir dir;
    const auto path = dir / "defaults.sqlite";
    UserDefaults::openFile(path)->setValue("applicationInstanceId", true);
    UserDefaults::openFile(path)->setValue("useBlackAndWhite", false);
    inFreshProcess(path, [] { KestrelManager::shared(); });
    EXPECT_TRUE(UserDefaults::openFile(path)->stringForKey("applicationInstanceId"));
    EXPECT_EQ(UserDefaults::openFile(path)->valueForKey("useBlackAndWhite"), DefaultsValue(true));
}

TEST(KestrelManagerSettings, ReadsAndWritesThroughTheStore) {
    TempDir dir;
    const auto path = dir / "defaults.sqlite";
    inFreshProcess(path, [] {
        auto& manager = KestrelManager::shared();
        EXPECT_FALSE(manager.getApiKey());
        KestrelLight::setApiKey("");
        EXPECT_EQ(manager.getApiKey(), ""); // empty text, not none
        manager.setJpegQuality(0.7);
        EXPECT_EQ(manager.getJpegQuality(), 0.699999988079071);
        EXPECT_FALSE(manager.hasBeenMigrated());
        manager.setHasBeenMigrated(true);
        EXPECT_TRUE(manager.hasBeenMigrated());
        // A flag removed or stored as text reads as the first-run value.
        UserDefaults::standard()->removeObjectForKey("useBlackAndWhite");
        EXPECT_TRUE(manager.useBlackAndWhite());
        manager.setUseBlackAndWhite(false);
        EXPECT_FALSE(manager.useBlackAndWhite());
        UserDefaults::standard()->setValue("useBlackAndWhite", std::string("false"));
        EXPECT_TRUE(manager.useBlackAndWhite());
        UserDefaults::standard()->setValue("apiKey", 3.0);
        EXPECT_FALSE(manager.getApiKey());
    });
    EXPECT_EQ(UserDefaults::openFile(path)->valueForKey("hasBeenMigrated"), DefaultsValue(true));
}

TEST(ImagePreparationSettings, SendWidthFromConfigurationAndFlagFromTheStore) {
    TempDir dir;
    inFreshProcess(dir / "defaults.sqlite", [] {
        using kestrel::platform::Bitmap;
        using kestrel::platform::PixelFormat;
        const auto photo = Bitmap::withPixels(PixelFormat::rgba8, 2000, 1000, 0,
                                              std::vector<std::uint8_t>(2000 * 1000 * 4, 200));
        ASSERT_TRUE(photo);
        KestrelManager::shared().setUseBlackAndWhite(false);
        const auto colour = kestrel::resizeImage(photo);
        ASSERT_TRUE(colour);
        EXPECT_EQ(colour->pixelWidth(), 1000); // the shipped send width
        EXPECT_EQ(colour->pixelHeight(), 500);
        EXPECT_EQ(kestrel::platform::bytesPerPixel(colour->format()), 4); // colour and alpha kept
        KestrelManager::shared().setUseBlackAndWhite(true);
        const auto grey = kestrel::resizeImage(photo);
        ASSERT_TRUE(grey);
        EXPECT_EQ(grey->format(), PixelFormat::gray8);
        EXPECT_EQ(grey->pixelWidth(), 1000);
    });
}

namespace {
class FixedRadio : public kestrel::platform::TelephonyNetworkInfo {
public:
    std::optional<std::string> currentRadioAccessTechnology() const override { return "LTE"; }
};
} // namespace

TEST(KestrelManagerDescriptors, NetworkTypeFromTheMonitorAndTheRadio) {
    TempDir dir;
    inFreshProcess(dir / "defaults.sqlite", [] {
        using kestrel::platform::ReachabilityFlag;
        kestrel::platform::TelephonyNetworkInfo::setCurrent(std::make_shared<FixedRadio>());
        auto flags = std::make_shared<kestrel::test::ManualFlagSource>(ReachabilityFlag::reachable);
        const KestrelManager manager(kestrel::Reachability::create(flags));
        EXPECT_EQ(manager.networkType(), "WiFi"); // the radio's LTE does not matter on Wi-Fi
        flags->setFlags(ReachabilityFlag::reachable | ReachabilityFlag::isWWAN);
        EXPECT_EQ(manager.networkType(), "Data");
        EXPECT_EQ(manager.reachabilityStatus(),
                  kestrel::Reachability::NetworkStatus::reachableViaWWAN);
        flags->setFlags(0);
        EXPECT_EQ(manager.networkType(), "");
        EXPECT_EQ(flags->registered().callbacksSet,
                  1); // the notifier started once over three calls

        const KestrelManager withoutMonitor(nullptr);
        EXPECT_EQ(withoutMonitor.networkType(), "");
        EXPECT_EQ(withoutMonitor.reachabilityStatus(),
                  kestrel::Reachability::NetworkStatus::notReachable);
        EXPECT_FALSE(withoutMonitor.getApiKey()); // settings still work
    });
}

TEST(KestrelManagerDescriptors, ScreenAndLanguageFromTheHostAndLocale) {
    TempDir dir;
    inFreshProcess(dir / "defaults.sqlite", [] {
        auto& manager = KestrelManager::shared();
        EXPECT_EQ(manager.screenDiagonal(), "0"); // no screen set by the host yet
        kestrel::platform::HostScreen::shared().setMetrics({667, 375, 3});
        EXPECT_EQ(manager.screenWidth(), "667");
        EXPECT_EQ(manager.screenHeight(), "375");
        EXPECT_EQ(manager.screenDiagonal(), "5.5");
        kestrel::platform::Locale::setCurrentLocaleName("en_US.UTF-8");
        EXPECT_EQ(manager.systemLanguage(), "EN-us");
        EXPECT_EQ(manager.operatingSystem(), "iOS");
        EXPECT_EQ(manager.deviceName(), kestrel::platform::Device::current()->name());
    });
}
