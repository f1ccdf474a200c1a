#include <kestrel/model/image.hpp>

#include <kestrel/config/kestrel_manager.hpp>
#include <kestrel/styles/float_value.hpp>

#include "model/serialized_member.hpp"
#include "json/lenient.hpp"

#include <cmath>
#include <string>

namespace kestrel {

namespace {

// The whole list, or absent when the member is not a list or any element is not an action.
std::optional<std::vector<Action>> readActions(const JsonValue& object) {
    const JsonValue* list = json::member(object, "Actions");
    if (!list || !list->is_array()) return std::nullopt;
    std::vector<Action> actions;
    actions.reserve(list->size());
    try {
        for (const JsonValue& element : *list) actions.push_back(Action::decode(element));
    } catch (const DecodingError&) {
        return std::nullopt;
    }
    return actions;
}

} // namespace

ScanPrefs ScanPrefs::decode(const JsonValue& value) {
    if (!value.is_object())
        throw DecodingError(std::string("ScanPrefs: expected an object, found ") +
                            value.type_name());
    ScanPrefs prefs;
    prefs.jpegQuality = floatValue(json::readText(value, "JpegQuality"));
    prefs.blackAndWhite = json::readBool(value, "BlackAndWhite");
    prefs.longestSideSizePx = json::readFloat(value, "LongestSideSizePx");
    // A quality outside (0, 1] or a size that is not positive would degrade every later photo
    // until another reply said otherwise: such a member is bad, and the stored value stays.
    if (prefs.jpegQuality && !(*prefs.jpegQuality > 0 && *prefs.jpegQuality <= 1))
        prefs.jpegQuality.reset();
    if (prefs.longestSideSizePx &&
        !(*prefs.longestSideSizePx > 0 && std::isfinite(*prefs.longestSideSizePx)))
        prefs.longestSideSizePx.reset();
    if (prefs.blackAndWhite) KestrelManager::shared().setUseBlackAndWhite(*prefs.blackAndWhite);
    if (prefs.jpegQuality)
        KestrelManager::shared().setJpegQuality(static_cast<CGFloat>(*prefs.jpegQuality));
    return prefs;
}

Image Image::decode(const JsonValue& value) {
    if (!value.is_object())
        throw DecodingError(std::string("Image: expected an object, found ") + value.type_name());
    Image image;
    image.id = json::readText(value, "Id");
    image.order = json::readInt64(value, "Order");
    image.title = json::readText(value, "Title");
    image.sessionId = json::readText(value, "SessionId");
    image.documentId = json::readText(value, "DocumentId");
    image.languageCode = json::readText(value, "LanguageCode");
    image.bigThumbnailUrl = json::readText(value, "BigThumbnailUrl");
    image.autoTrigger = json::readBool(value, "AutoTrigger");
    image.data = json::readText(value, "Data");
    image.actions = readActions(value);
    // The settings are written here, before the title style is read.
    if (const JsonValue* prefs = json::readObject(value, "ScanPrefs"))
        image.scanPrefs = ScanPrefs::decode(*prefs);
    if (const auto style =
            model::readSerializedMember(value, "TitleStyle", model::styleParseFailure);
        style && style->is_object())
        image.titleStyle = Style::fromDictionary(*style);
    return image;
}

Image Image::decodeReply(std::string_view body) {
    const auto document = json::parseReply(body, maxActions);
    if (!document) throw DecodingError("the enriched-image reply is not valid JSON");
    return decode(*document);
}

} // namespace kestrel
