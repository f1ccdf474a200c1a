#include <kestrel/styles.hpp>

#include <gtest/gtest.h>

#include <string>

using namespace kestrel;

TEST(StyleFromDictionary, NestedDictionariesBecomeRecords) {
    const auto style = Style::fromDictionary(JsonValue::parse(R"({
        "model": "flat", "version": "2",
        "button": {"background-color": "#000000", "radius": "4"},
        "icon": {"size": "24"},
        "text": {"color": "#FFFFFF", "font-size": "14"}})"));
    EXPECT_EQ(style.model, "flat");
    EXPECT_EQ(style.version, "2");
    ASSERT_TRUE(style.button);
    EXPECT_EQ(style.button->backgroundColor, "#000000");
    EXPECT_EQ(style.button->radius, 4);
    ASSERT_TRUE(style.icon);
    EXPECT_EQ(style.icon->size, 24.0);
    ASSERT_TRUE(style.text);
    EXPECT_EQ(style.text->fontSize, 14);
    EXPECT_FALSE(style.qrCodeType);
    // An empty nested dictionary is present but empty; a list is no dictionary at all.
    EXPECT_EQ(Style::fromDictionary(JsonValue::parse(R"({"button": {}})")).button, Button{});
    EXPECT_EQ(Style::fromDictionary(JsonValue::parse("[{\"model\":\"m\"}]")), Style{});
}

TEST(StyleFromDictionary, ValueOfAnotherKindLeavesOnlyItsField) {
    for (const JsonValue& bad :
         {JsonValue(1), JsonValue("text"), JsonValue::parse(R"([{"color":"#fff"}])")}) {
        for (const char* key : {"button", "icon", "text"}) {
            const auto style = Style::fromDictionary(JsonValue{{"model", "m"}, {key, bad}});
            EXPECT_EQ(style.model, "m");
            EXPECT_FALSE(style.button || style.icon || style.text) << key << " " << bad.dump();
        }
    }
    const auto style =
        Style::fromDictionary(JsonValue{{"model", 3}, {"version", JsonValue::object()}});
    EXPECT_FALSE(style.model);
    EXPECT_FALSE(style.version);
}

TEST(FloatValue, WholeTextConversion) {
    EXPECT_EQ(floatValue(std::string("0.85")), 0.85f);
    EXPECT_FALSE(floatValue(std::nullopt));
    EXPECT_FALSE(floatValue(std::string("1.5f")));
}

TEST(StyleDecoding, EnumerationsFromTheirExactRawValueOnly) {
    EXPECT_EQ(decodeVerticalPosition(JsonValue("middle")), VerticalPosition::center);
    EXPECT_EQ(decodeFontWeight(JsonValue("bold")), FontWeight::bold);
    EXPECT_THROW(decodeVerticalPosition(JsonValue("center")), DecodingError);
    EXPECT_THROW(decodeImageSize(JsonValue("Cover")), DecodingError);
    EXPECT_THROW(decodeFontWeight(JsonValue(700)), DecodingError);
    // The scanned-code type is the integer 0 and nothing else.
    EXPECT_EQ(decodeQrCodeType(JsonValue(0)), QrCodeType::url);
    for (const char* doc : {"1", "0.5", "\"0\"", "false", "18446744073709551615"})
        EXPECT_THROW(decodeQrCodeType(JsonValue::parse(doc)), DecodingError) << doc;
}

TEST(HeightDecoding, MembersPresentOnlyWhenGivenWithTheRightType) {
    EXPECT_EQ(Height::decode(JsonValue::parse(R"({"value": 48})")),
              (Height{48, std::nullopt, std::nullopt}));
    EXPECT_EQ(Height::decode(JsonValue::parse(R"({"ratioWidth": 16, "ratioHeight": 0.8})")),
              (Height{std::nullopt, 16.0f, 0.8f}));
    EXPECT_EQ(Height::decode(JsonValue::parse(R"({"value": null, "ratioWidth": null})")), Height{});
    for (const char* doc :
         {R"({"value": "48"})", R"({"value": 4.5})", R"({"value": 9223372036854775808})",
          R"({"ratioWidth": "16"})", R"({"ratioHeight": 1e39})", R"("48x9")"})
        EXPECT_THROW(Height::decode(JsonValue::parse(doc)), DecodingError) << doc;
}

TEST(TextAlignmentOfPosition, LeftAndRightKeepTheirSideCentreIsCentred) {
    EXPECT_EQ(nsTextAlignment(HorizontalPosition::left), platform::TextAlignment::left);
    EXPECT_EQ(nsTextAlignment(HorizontalPosition::right), platform::TextAlignment::right);
    EXPECT_EQ(nsTextAlignment(HorizontalPosition::center), platform::TextAlignment::center);
}
