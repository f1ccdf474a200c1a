#include <kestrel/styles.hpp>

#include <gtest/gtest.h>

#include <clocale>
#include <string>
#include <vector>

using namespace kestrel;

TEST(StyleFromDictionary, EmptyDictionaryGivesEveryFieldAbsent) {
    EXPECT_EQ(Style::fromDictionary(JsonValue::object()), Style{});
    EXPECT_EQ(Style::fromDictionary(JsonValue::parse("[{\"model\":\"m\"}]")), Style{});
}

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
}

TEST(StyleFromDictionary, EmptyNestedDictionaryIsPresentButEmpty) {
    const auto style = Style::fromDictionary(JsonValue::parse(R"({"button": {}})"));
    EXPECT_EQ(style.button, Button{});
    EXPECT_FALSE(style.icon);
    EXPECT_FALSE(style.text);
}

TEST(StyleFromDictionary, ValueOfAnotherKindLeavesOnlyItsField) {
    // Every key given every JSON kind it does not accept.
    const std::vector<JsonValue> others{nullptr,
                                        true,
                                        1,
                                        -1.5,
                                        "text",
                                        JsonValue::array(),
                                        JsonValue::parse(R"([{"color":"#fff"}])")};
    for (const auto& bad : others) {
        for (const char* key : {"button", "icon", "text"}) {
            JsonValue dict{{"model", "m"}, {key, bad}};
            const auto style = Style::fromDictionary(dict);
            EXPECT_EQ(style.model, "m");
            EXPECT_FALSE(style.button || style.icon || style.text) << key << " " << bad.dump();
        }
    }
    for (const JsonValue& bad : {JsonValue(3), JsonValue(true), JsonValue::object(),
                                 JsonValue::array(), JsonValue(nullptr)}) {
        const auto style =
            Style::fromDictionary(JsonValue{{"model", bad}, {"version", bad}, {"icon", {}}});
        EXPECT_FALSE(style.model) << bad.dump();
        EXPECT_FALSE(style.version) << bad.dump();
    }
}

TEST(StyleFromDictionary, TextsAreKeptUnchanged) {
    const std::string odd = " \t\xc3\xa9\xf0\x9f\x98\x80 ";
    const auto style = Style::fromDictionary(JsonValue{{"model", odd}, {"version", ""}});
    EXPECT_EQ(style.model, odd);
    EXPECT_EQ(style.version, "");
}

TEST(StyleValues, NumbersIgnoreTheProcessLocale) {
    const char* previous = std::setlocale(LC_ALL, nullptr);
    const std::string saved = previous ? previous : "C";
    bool switched = false;
    for (const char* name : {"de_DE.UTF-8", "fr_FR.UTF-8", "de_DE", "fr_FR"})
        if (std::setlocale(LC_ALL, name)) {
            switched = true;
            break;
        }
    const auto style = Style::fromDictionary(JsonValue::parse(
        R"({"button": {"opacity": "0.5", "height": "1.5x2.5"}, "icon": {"size": "24.5"},
            "text": {"opacity": "0,5"}})"));
    std::setlocale(LC_ALL, saved.c_str());
    ASSERT_TRUE(style.button && style.icon && style.text);
    EXPECT_EQ(style.button->opacity, 0.5f);
    EXPECT_EQ(style.button->height, (Height{std::nullopt, 1.5f, 2.5f}));
    EXPECT_EQ(style.icon->size, 24.5);
    EXPECT_FALSE(style.text->opacity);
    if (!switched) GTEST_SKIP() << "no comma-decimal locale installed; checked in C only";
}

TEST(FloatValue, WholeTextConversion) {
    EXPECT_EQ(floatValue(std::string("0.85")), 0.85f);
    EXPECT_EQ(floatValue(std::string("-1e2")), -100.0f);
    EXPECT_FALSE(floatValue(std::nullopt));
    for (const char* text : {"", " 1", "1 ", "1.5f", "0,5", "nan", "infinity", "1e39", "--1"})
        EXPECT_FALSE(floatValue(std::string(text))) << '"' << text << '"';
}

TEST(StyleEnumerations, RawValuesMatchExactly) {
    EXPECT_EQ(rawValue(VerticalPosition::center), "middle");
    EXPECT_EQ(rawValue(HorizontalPosition::center), "center");
    EXPECT_EQ(fromRawValue<VerticalPosition>("middle"), VerticalPosition::center);
    EXPECT_EQ(fromRawValue<HorizontalPosition>("center"), HorizontalPosition::center);
    EXPECT_EQ(fromRawValue<ImageSize>("cover"), ImageSize::cover);
    EXPECT_EQ(fromRawValue<FontWeight>("bold"), FontWeight::bold);
    EXPECT_EQ(fromRawValue<FontStyle>("normal"), FontStyle::normal);
    EXPECT_FALSE(fromRawValue<VerticalPosition>("center"));
    EXPECT_FALSE(fromRawValue<HorizontalPosition>("middle"));
    EXPECT_FALSE(fromRawValue<FontStyle>("Normal"));
    EXPECT_FALSE(fromRawValue<ImageSize>(""));
    EXPECT_EQ(rawValue(QrCodeType::url), 0);
    EXPECT_EQ(fromRawValue<QrCodeType>(0), QrCodeType::url);
    EXPECT_FALSE(fromRawValue<QrCodeType>(1));
    EXPECT_FALSE(fromRawValue<QrCodeType>(-1));
}

TEST(StyleEnumerations, HorizontalPositionTextAlignment) {
    EXPECT_EQ(nsTextAlignment(HorizontalPosition::left), platform::TextAlignment::left);
    EXPECT_EQ(nsTextAlignment(HorizontalPosition::right), platform::TextAlignment::right);
    EXPECT_EQ(nsTextAlignment(HorizontalPosition::center), platform::TextAlignment::center);
}

TEST(StyleDecoding, QrCodeTypeFromIntegerZeroOnly) {
    EXPECT_EQ(decodeQrCodeType(JsonValue(0)), QrCodeType::url);
    EXPECT_EQ(decodeQrCodeType(JsonValue::parse("0")), QrCodeType::url);
    for (const char* doc : {"1", "-1", "0.5", "\"0\"", "\"url\"", "false", "null", "[0]",
                            "{\"rawValue\":0}", "18446744073709551615"})
        EXPECT_THROW(decodeQrCodeType(JsonValue::parse(doc)), DecodingError) << doc;
}

TEST(StyleDecoding, TextEnumerationsFromTheirRawValueOnly) {
    EXPECT_EQ(decodeImageSize(JsonValue("contain")), ImageSize::contain);
    EXPECT_EQ(decodeHorizontalPosition(JsonValue("right")), HorizontalPosition::right);
    EXPECT_EQ(decodeVerticalPosition(JsonValue("middle")), VerticalPosition::center);
    EXPECT_EQ(decodeFontWeight(JsonValue("bold")), FontWeight::bold);
    EXPECT_EQ(decodeFontStyle(JsonValue("italic")), FontStyle::italic);
    EXPECT_THROW(decodeVerticalPosition(JsonValue("center")), DecodingError);
    EXPECT_THROW(decodeImageSize(JsonValue("Cover")), DecodingError);
    EXPECT_THROW(decodeFontWeight(JsonValue(700)), DecodingError);
    EXPECT_THROW(decodeFontStyle(JsonValue(nullptr)), DecodingError);
    EXPECT_THROW(decodeHorizontalPosition(JsonValue::array({"left"})), DecodingError);
}

TEST(HeightDecoding, MembersArePresentOnlyWhenGiven) {
    EXPECT_EQ(Height::decode(JsonValue::object()), Height{});
    EXPECT_EQ(Height::decode(JsonValue::parse(R"({"value": 48})")),
              (Height{48, std::nullopt, std::nullopt}));
    EXPECT_EQ(Height::decode(JsonValue::parse(R"({"ratioWidth": 16, "ratioHeight": 0.8})")),
              (Height{std::nullopt, 16.0f, 0.8f}));
    EXPECT_EQ(Height::decode(JsonValue::parse(R"({"value": null, "ratioWidth": null})")), Height{});
    EXPECT_EQ(Height::decode(JsonValue::parse(R"({"value": 1, "ratioWidth": 2, "other": "x"})")),
              (Height{1, 2.0f, std::nullopt}));
}

TEST(HeightDecoding, WrongTypeOrRangeIsADecodingError) {
    for (const char* doc :
         {R"({"value": "48"})", R"({"value": 4.5})", R"({"value": true})",
          R"({"value": 9223372036854775808})", R"({"value": {}})", R"({"ratioWidth": "16"})",
          R"({"ratioHeight": false})", R"({"ratioHeight": 1e39})", R"({"ratioWidth": []})", R"([])",
          R"("48x9")", R"(48)", R"(null)"})
        EXPECT_THROW(Height::decode(JsonValue::parse(doc)), DecodingError) << doc;
}
