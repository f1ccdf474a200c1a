#include <kestrel/config/configuration_key.hpp>

#include <gtest/gtest.h>

using kestrel::ConfigurationKey;
using K = kestrel::ConfigurationKey;

namespace {

// The dictionary keys, as the shipped configuration and every host's copy spell them.
const std::vector<std::pair<ConfigurationKey, std::string>> expectedRawValues = {
    {K::sdkName, "SDK_NAME"},
    {K::sdkVersion, "SDK_VERSION"},
    {K::sdkBuildVersion, "SDK_BUILD_VERSION"},
    {K::sdkBundleIdentifier, "SDK_BUNDLE_IDENTIFIER"},
    {K::sdkImageSendWidth, "SDK_IMAGE_SEND_WIDTH"},
    {K::sdkImageSendQuality, "SDK_IMAGE_SEND_QUALITY"},
    {K::sdkClicksUrl, "SDK_CLICKS_URL"},
    {K::sdkPicturesSearchUrl, "SDK_PICTURES_SEARCH_URL"},
    {K::sdkEnrichedImageUrl, "SDK_ENRICHED_IMAGE_URL"},
    {K::redColor, "RED_COLOR"},
    {K::whiteColor, "WHITE_COLOR"},
    {K::blackColor, "BLACK_COLOR"},
    {K::yellowColor, "YELLOW_COLOR"},
    {K::primaryColor, "PRIMARY_COLOR"},
    {K::backgroundTopColor, "BACKGROUND_TOP_COLOR"},
    {K::backgroundBottomColor, "BACKGROUND_BOTTOM_COLOR"},
    {K::iconFontFileName, "ICON_FONT_FILENAME"},
    {K::fontSFProTextHeavy, "FONT_SFPROTEXT_HEAVY"},
    {K::fontSFProTextHeavyItalic, "FONT_SFPROTEXT_HEAVY_ITALIC"},
    {K::fontSFProTextRegular, "FONT_SFPROTEXT_REGULAR"},
    {K::fontSFProTextRegularItalic, "FONT_SFPROTEXT_REGULAR_ITALIC"},
    {K::fontSFProTextMedium, "FONT_SFPROTEXT_MEDIUM"},
    {K::fontSFProTextMediumItalic, "FONT_SFPROTEXT_MEDIUM_ITALIC"},
    {K::galleryNumberOfItems, "GALLERY_NUMBER_ITEMS"},
};

} // namespace

TEST(ConfigurationKeys, RawValuesBothWaysAndOnlyExactly) {
    ASSERT_EQ(kestrel::allConfigurationKeys.size(), expectedRawValues.size());
    for (std::size_t i = 0; i < expectedRawValues.size(); ++i) {
        const auto& [key, raw] = expectedRawValues[i];
        EXPECT_EQ(kestrel::allConfigurationKeys[i], key) << raw;
        EXPECT_EQ(kestrel::rawValue(key), raw);
        EXPECT_EQ(kestrel::fromRawValue<ConfigurationKey>(raw), key) << raw;
    }
    for (const char* text : {"sdk_name", "sdkName", "SDK_NAME ", "", "ICON_FONT_FILE_NAME",
                             "GALLERY_NUMBER_OF_ITEMS", "FONT_SF_PRO_TEXT_HEAVY"})
        EXPECT_FALSE(kestrel::fromRawValue<ConfigurationKey>(text)) << text;
}
