#include <kestrel/model/picture.hpp>

#include "json/lenient.hpp"

namespace kestrel {

Picture Picture::decode(const JsonValue& value) {
    if (!value.is_object()) throw DecodingError("a picture must be a JSON object");
    Picture picture;
    picture._objectId = json::readText(value, "_objectId");
    picture.id = json::readText(value, "Id");
    picture.name = json::readText(value, "Name");
    picture.data = json::readText(value, "Data");
    picture.organizationId = json::readText(value, "OrganizationId");
    picture.bigThumbnailUrl = json::readText(value, "BigThumbnailUrl");
    picture.sessionId = json::readText(value, "SessionId");
    picture.recognitionScore = json::readDouble(value, "RecognitionScore");
    return picture;
}

std::vector<Picture> Picture::decodeList(const JsonValue& value) {
    if (!value.is_array()) throw DecodingError("a picture-search reply must be a JSON list");
    std::vector<Picture> pictures;
    pictures.reserve(value.size());
    for (const JsonValue& element : value) pictures.push_back(decode(element));
    return pictures;
}

std::vector<Picture> Picture::decodeReply(std::string_view body) {
    const auto document = json::parseReply(body, maxPictures);
    if (!document) throw DecodingError("the picture-search reply is not valid JSON");
    return decodeList(*document);
}

} // namespace kestrel
