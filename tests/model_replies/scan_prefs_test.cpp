#include "support/temp_dir.hpp"

#include <kestrel/config/kestrel_manager.hpp>
#include <kestrel/model/image.hpp>
#include <kestrel/platform/user_defaults.hpp>

#include <gtest/gtest.h>

using namespace kestrel;

// A reply's scan preferences are stored only when they are usable: one bad reply must not send
// every later photo at the lowest quality.
TEST(ScanPrefsDecoding, OutOfRangeValuesAreAbsentAndTheStoredQualityStays) {
    kestrel::testing::TempDir dir;
    platform::UserDefaults::setStandard(platform::UserDefaults::openFile(dir / "s.sqlite"));
    auto& manager = KestrelManager::shared();
    manager.setJpegQuality(0.8);

    const auto usable =
        ScanPrefs::decode(JsonValue::parse(R"({"JpegQuality":"0.5","LongestSideSizePx":1200})"));
    EXPECT_EQ(usable.jpegQuality, 0.5f);
    EXPECT_EQ(usable.longestSideSizePx, 1200.0f);
    EXPECT_FLOAT_EQ(manager.getJpegQuality(), 0.5);

    for (const char* quality : {"-5", "0", "1.5", "nan"}) {
        const auto bad = ScanPrefs::decode(JsonValue::parse(
            std::string(R"({"JpegQuality":")") + quality + R"(","LongestSideSizePx":-3})"));
        EXPECT_FALSE(bad.jpegQuality) << quality;
        EXPECT_FALSE(bad.longestSideSizePx);
        EXPECT_FLOAT_EQ(manager.getJpegQuality(), 0.5) << quality;
    }
    EXPECT_EQ(ScanPrefs::decode(JsonValue::parse(R"({"JpegQuality":"1"})")).jpegQuality, 1.0f);
    platform::UserDefaults::setStandard(nullptr);
}
