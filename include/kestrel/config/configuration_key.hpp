/// \file
/// ConfigurationKey: the 24 entries of the library's configuration dictionary, with their raw
/// values (the dictionary keys), the list of all keys and a hash equal to the declaration index.
#pragma once

#include <kestrel/raw_value.hpp>

#include <array>
#include <cstddef>
#include <functional>
#include <string_view>
#include <utility>

namespace kestrel {

/// An entry of the library's configuration dictionary; its raw value is the dictionary key.
/// Declaration order is meaningful: it is the order of allConfigurationKeys, of the configuration
/// listing and the hash value of each key.
enum class ConfigurationKey {
    sdkName,
    sdkVersion,
    sdkBuildVersion,
    sdkBundleIdentifier,
    sdkImageSendWidth,
    sdkImageSendQuality,
    sdkClicksUrl,
    sdkPicturesSearchUrl,
    sdkEnrichedImageUrl,
    redColor,
    whiteColor,
    blackColor,
    yellowColor,
    primaryColor,
    backgroundTopColor,
    backgroundBottomColor,
    iconFontFileName,
    fontSFProTextHeavy,
    fontSFProTextHeavyItalic,
    fontSFProTextRegular,
    fontSFProTextRegularItalic,
    fontSFProTextMedium,
    fontSFProTextMediumItalic,
    galleryNumberOfItems,
};

/// rawValue(key) and fromRawValue<ConfigurationKey>(text) (exact, case-sensitive match).
template <>
struct EnumRawValues<ConfigurationKey> {
    using K = ConfigurationKey; ///< Shorthand for the table below.
    using V = std::string_view; ///< Shorthand for the table below.
    /// Every case with its raw value, in declaration order.
    static constexpr std::array values{
        std::pair{K::sdkName, V("SDK_NAME")},
        std::pair{K::sdkVersion, V("SDK_VERSION")},
        std::pair{K::sdkBuildVersion, V("SDK_BUILD_VERSION")},
        std::pair{K::sdkBundleIdentifier, V("SDK_BUNDLE_IDENTIFIER")},
        std::pair{K::sdkImageSendWidth, V("SDK_IMAGE_SEND_WIDTH")},
        std::pair{K::sdkImageSendQuality, V("SDK_IMAGE_SEND_QUALITY")},
        std::pair{K::sdkClicksUrl, V("SDK_CLICKS_URL")},
        std::pair{K::sdkPicturesSearchUrl, V("SDK_PICTURES_SEARCH_URL")},
        std::pair{K::sdkEnrichedImageUrl, V("SDK_ENRICHED_IMAGE_URL")},
        std::pair{K::redColor, V("RED_COLOR")},
        std::pair{K::whiteColor, V("WHITE_COLOR")},
        std::pair{K::blackColor, V("BLACK_COLOR")},
        std::pair{K::yellowColor, V("YELLOW_COLOR")},
        std::pair{K::primaryColor, V("PRIMARY_COLOR")},
        std::pair{K::backgroundTopColor, V("BACKGROUND_TOP_COLOR")},
        std::pair{K::backgroundBottomColor, V("BACKGROUND_BOTTOM_COLOR")},
        std::pair{K::iconFontFileName, V("ICON_FONT_FILENAME")},
        std::pair{K::fontSFProTextHeavy, V("FONT_SFPROTEXT_HEAVY")},
        std::pair{K::fontSFProTextHeavyItalic, V("FONT_SFPROTEXT_HEAVY_ITALIC")},
        std::pair{K::fontSFProTextRegular, V("FONT_SFPROTEXT_REGULAR")},
        std::pair{K::fontSFProTextRegularItalic, V("FONT_SFPROTEXT_REGULAR_ITALIC")},
        std::pair{K::fontSFProTextMedium, V("FONT_SFPROTEXT_MEDIUM")},
        std::pair{K::fontSFProTextMediumItalic, V("FONT_SFPROTEXT_MEDIUM_ITALIC")},
        std::pair{K::galleryNumberOfItems, V("GALLERY_NUMBER_ITEMS")},
    };
};

namespace detail {
constexpr std::array<ConfigurationKey, EnumRawValues<ConfigurationKey>::values.size()>
makeAllConfigurationKeys() {
    std::array<ConfigurationKey, EnumRawValues<ConfigurationKey>::values.size()> keys{};
    for (std::size_t i = 0; i < keys.size(); ++i)
        keys[i] = EnumRawValues<ConfigurationKey>::values[i].first;
    return keys;
}
} // namespace detail

/// ConfigurationKey's allValues: the 24 keys in declaration order, sdkName first and
/// galleryNumberOfItems last.
inline constexpr auto allConfigurationKeys = detail::makeAllConfigurationKeys();

/// The declaration index of a key (0 to 23), which is also its hash value: the one
/// std::hash<ConfigurationKey> gives, so that keys can key unordered containers.
constexpr std::size_t hashValue(ConfigurationKey key) { return static_cast<std::size_t>(key); }

} // namespace kestrel

/// \cond
template <>
struct std::hash<kestrel::ConfigurationKey> {
    std::size_t operator()(kestrel::ConfigurationKey key) const noexcept {
        return kestrel::hashValue(key);
    }
};
/// \endcond
