// The enriched-image reply: its members, its all-or-nothing action list, its title style, and the
// scan preferences that change the stored settings for the next photo.
#include <kestrel/config/kestrel_manager.hpp>
#include <kestrel/model/image.hpp>
#include <kestrel/platform/user_defaults.hpp>

#include "support/capture_stdout.hpp"
#include "support/fresh_process.hpp"
#include "support/temp_dir.hpp"

#include <gtest/gtest.h>

using kestrel::KestrelManager;
using kestrel::platform::DefaultsValue;
using kestrel::platform::UserDefaults;
using kestrel::testing::inFreshProcess;
using kestrel::testing::TempDir;

TEST(EnrichedImageReply, MembersTakeOnlyTheirOwnJsonTypes) {
    using kestrel::Image;
    using kestrel::JsonValue;
    EXPECT_EQ(Image::decode(JsonValue::object()), Image{});
    const auto image = Image::decode(JsonValue::parse(R"({
        "Id": "p1", "Order": 3, "Title": "Page", "SessionId": "s1", "DocumentId": "d1",
        "LanguageCode": "fr", "BigThumbnailUrl": "http://t/1", "AutoTrigger": true, "Data": "x",
        "Actions": [{"Id": "a1", "Type": "URL"}, {"Id": "a2"}]})"));
    EXPECT_EQ(image.id, "p1");
    EXPECT_EQ(image.order, 3);
    EXPECT_EQ(image.sessionId, "s1");
    EXPECT_EQ(image.autoTrigger, true);
    ASSERT_TRUE(image.actions);
    ASSERT_EQ(image.actions->size(), 2u);
    EXPECT_EQ((*image.actions)[0].type, kestrel::ActionType::Url);
    EXPECT_EQ((*image.actions)[1].id, "a2");

    const auto refused = Image::decode(JsonValue::parse(
        R"({"Id": 5, "Order": "3", "AutoTrigger": "true", "Title": null, "Data": "kept"})"));
    EXPECT_FALSE(refused.id);
    EXPECT_FALSE(refused.order);
    EXPECT_FALSE(refused.autoTrigger);
    EXPECT_FALSE(refused.title);
    EXPECT_EQ(refused.data, "kept");
}

TEST(EnrichedImageReply, ActionsListIsAllOrNothing) {
    using kestrel::Image;
    using kestrel::JsonValue;
    const auto empty = Image::decode(JsonValue::parse(R"({"Actions": []})"));
    ASSERT_TRUE(empty.actions);
    EXPECT_TRUE(empty.actions->empty());
    for (const char* actions : {R"([{"Id": "a"}, {"Id": "b"}, "c"])", R"([{"Id": "a"}, null])",
                                R"({"Id": "a"})", R"("a")"}) {
        const auto image = Image::decode(
            JsonValue::parse(std::string(R"({"Title": "t", "Actions": )") + actions + "}"));
        EXPECT_FALSE(image.actions) << actions;
        EXPECT_EQ(image.title, "t");
    }
}

TEST(EnrichedImageReply, TitleStyleIsSerializedJsonText) {
    using kestrel::Image;
    using kestrel::JsonValue;
    Image image;
    const std::string printed = kestrel::testing::captureStdout([&] {
        image = Image::decode(JsonValue::parse(R"({"TitleStyle": "{not json", "Title": "t"})"));
    });
    EXPECT_EQ(printed, "error trying to convert action style\n");
    EXPECT_FALSE(image.titleStyle);
    EXPECT_EQ(image.title, "t");

    const std::string quiet = kestrel::testing::captureStdout([&] {
        EXPECT_FALSE(
            Image::decode(JsonValue::parse(R"({"TitleStyle": {"model": "m"}})")).titleStyle);
        EXPECT_FALSE(Image::decode(JsonValue::parse(R"({"TitleStyle": "[1]"})")).titleStyle);
        EXPECT_FALSE(Image::decode(JsonValue::parse(R"({"TitleStyle": ""})")).titleStyle);
    });
    EXPECT_EQ(quiet, "");
    const auto styled = Image::decode(JsonValue::parse(
        R"({"TitleStyle": "{\"model\": \"m\", \"text\": {\"color\": \"#fff\"}}"})"));
    ASSERT_TRUE(styled.titleStyle);
    EXPECT_EQ(styled.titleStyle->model, "m");
    ASSERT_TRUE(styled.titleStyle->text);
    EXPECT_EQ(styled.titleStyle->text->color, "#fff");
}

TEST(EnrichedImageReply, OnlyObjectsDecode) {
    using kestrel::DecodingError;
    using kestrel::Image;
    EXPECT_THROW(Image::decode(kestrel::JsonValue::parse("[{}]")), DecodingError);
    for (const char* body : {"not json", "[]"})
        EXPECT_THROW(Image::decodeReply(body), DecodingError) << body;
    EXPECT_EQ(Image::decodeReply(R"({"Id": "a"})").id, "a");
}

TEST(EnrichedImageReply, ScanPreferencesChangeTheStoredSettings) {
    TempDir dir;
    const auto path = dir / "defaults.sqlite";
    inFreshProcess(path, [] {
        using kestrel::Image;
        using kestrel::JsonValue;
        auto& manager = KestrelManager::shared();
        manager.setUseBlackAndWhite(false);
        manager.setJpegQuality(0.9);

        const auto image = Image::decode(JsonValue::parse(
            R"({"ScanPrefs": {"BlackAndWhite": true, "JpegQuality": "0.6", "LongestSideSizePx": 1024}})"));
        ASSERT_TRUE(image.scanPrefs);
        EXPECT_EQ(image.scanPrefs->blackAndWhite, true);
        EXPECT_EQ(image.scanPrefs->jpegQuality, 0.6f);
        EXPECT_EQ(image.scanPrefs->longestSideSizePx, 1024.0f);
        EXPECT_TRUE(manager.useBlackAndWhite());
        EXPECT_EQ(manager.getJpegQuality(), static_cast<double>(0.6f));

        // Wrong JSON types leave the record's field absent and the setting as it was.
        manager.setUseBlackAndWhite(false);
        const auto wrongTypes = Image::decode(JsonValue::parse(
            R"({"ScanPrefs": {"BlackAndWhite": "true", "JpegQuality": 0.3, "LongestSideSizePx": "5"}})"));
        ASSERT_TRUE(wrongTypes.scanPrefs);
        EXPECT_EQ(*wrongTypes.scanPrefs, kestrel::ScanPrefs{});
        EXPECT_FALSE(manager.useBlackAndWhite());
        EXPECT_EQ(manager.getJpegQuality(), static_cast<double>(0.6f));

        // Out of range is as absent: one bad reply must not degrade every later photo.
        for (const char* quality : {"5", "-5", "0", "nan"}) {
            const auto bad =
                Image::decode(JsonValue::parse(std::string(R"({"ScanPrefs": {"JpegQuality": ")") +
                                               quality + R"(", "LongestSideSizePx": -3}})"));
            EXPECT_FALSE(bad.scanPrefs->jpegQuality) << quality;
            EXPECT_FALSE(bad.scanPrefs->longestSideSizePx);
            EXPECT_EQ(manager.getJpegQuality(), static_cast<double>(0.6f)) << quality;
        }
        EXPECT_EQ(Image::decode(JsonValue::parse(R"({"ScanPrefs": {"JpegQuality": "1"}})"))
                      .scanPrefs->jpegQuality,
                  1.0f);
        // ScanPrefs that is not an object is ignored and writes nothing.
        EXPECT_FALSE(Image::decode(JsonValue::parse(R"({"ScanPrefs": "x"})")).scanPrefs);
        EXPECT_EQ(manager.getJpegQuality(), 1.0);
    });
    // The writes reached the store that the next process reads.
    EXPECT_EQ(UserDefaults::openFile(path)->valueForKey("jpegQuality"), DefaultsValue(1.0));
    EXPECT_EQ(UserDefaults::openFile(path)->valueForKey("useBlackAndWhite"), DefaultsValue(false));
}
