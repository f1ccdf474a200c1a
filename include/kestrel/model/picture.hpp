/// \file
/// One match of a picture search, as the recognition service ranks it.
#pragma once

#include <kestrel/json.hpp>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrel {

/// One match of a picture search. A field is absent when the reply did not give it in a usable
/// form.
struct Picture {
    std::optional<std::string> _objectId;       ///< "_objectId"
    std::optional<std::string> id;              ///< "Id"
    std::optional<std::string> name;            ///< "Name"
    std::optional<std::string> data;            ///< "Data"
    std::optional<std::string> organizationId;  ///< "OrganizationId"
    std::optional<std::string> bigThumbnailUrl; ///< "BigThumbnailUrl"
    std::optional<std::string> sessionId;       ///< "SessionId"
    std::optional<double> recognitionScore;     ///< "RecognitionScore"

    /// Reads the members "_objectId", "Id", "Name", "Data", "OrganizationId", "BigThumbnailUrl",
    /// "SessionId" (texts) and "RecognitionScore" (a number). A member that is missing, null or of
    /// another JSON type leaves its field absent. Throws DecodingError when value is not an object.
    static Picture decode(const JsonValue& value);
    /// Decodes a picture-search reply: a JSON list of pictures, in the service's order. Throws
    /// DecodingError when value is not a list or any element is not an object.
    static std::vector<Picture> decodeList(const JsonValue& value);
    /// The same from the reply body's bytes; invalid JSON is a DecodingError too. Only the first
    /// maxPictures elements of any list in the body are kept (the rest is read and dropped), so
    /// that decoding costs time and memory in proportion to the body, whatever it holds.
    static std::vector<Picture> decodeReply(std::string_view body);
    /// How many elements of any list in a reply body decodeReply keeps.
    static constexpr std::size_t maxPictures = 1000;

    /// Equal when every field is equal.
    bool operator==(const Picture&) const = default;
};

} // namespace kestrel
