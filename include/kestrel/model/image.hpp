/// \file
/// The recognised page of an enriched-image reply, and the scan preferences it carries.
#pragma once

#include <kestrel/json.hpp>
#include <kestrel/model/action.hpp>
#include <kestrel/styles/style.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrel {

/// How the service wants later photos prepared.
struct ScanPrefs {
    /// "JpegQuality": a decimal number given as a string, in (0, 1].
    std::optional<float> jpegQuality;
    /// "BlackAndWhite": a JSON boolean.
    std::optional<bool> blackAndWhite;
    /// "LongestSideSizePx": a positive JSON number; kept, not applied.
    std::optional<float> longestSideSizePx;

    /// Reads the three members (a member of another JSON type, or out of its range, stays absent),
    /// then stores the black-and-white flag and after it the JPEG quality (widened) in the settings
    /// of KestrelManager::shared() when present; absent members change nothing. Throws
    /// DecodingError when value is not a JSON object (and then writes nothing).
    static ScanPrefs decode(const JsonValue& value);

    /// Equal when every field is equal.
    bool operator==(const ScanPrefs&) const = default;
};

/// The recognised page of an enriched-image reply. A field is absent when the reply did not give
/// it in a usable form.
struct Image {
    std::optional<std::string> id;              ///< "Id"
    std::optional<std::int64_t> order;          ///< "Order"
    std::optional<std::string> title;           ///< "Title"
    std::optional<std::string> sessionId;       ///< "SessionId"; what click reports refer to
    std::optional<std::string> documentId;      ///< "DocumentId"
    std::optional<Style> titleStyle;            ///< parsed from the "TitleStyle" JSON text
    std::optional<bool> autoTrigger;            ///< "AutoTrigger"
    std::optional<std::string> languageCode;    ///< "LanguageCode"
    std::optional<std::string> bigThumbnailUrl; ///< "BigThumbnailUrl"
    std::optional<std::vector<Action>>
        actions;                        ///< "Actions": all or nothing, in the service's order
    std::optional<ScanPrefs> scanPrefs; ///< "ScanPrefs"
    std::optional<std::string> data;    ///< "Data"

    /// Decodes an enriched-image object member by member: a member of another JSON type stays
    /// absent; "Actions" is absent unless every element decodes; "ScanPrefs" (an object) updates
    /// the settings as ScanPrefs::decode does, before the title style is read; a "TitleStyle" text
    /// that is not JSON prints "error trying to convert action style" once. Throws DecodingError
    /// only when value is not a JSON object. Runs on the calling thread.
    static Image decode(const JsonValue& value);
    /// The same from a reply body; bytes that are not one JSON document are a DecodingError too.
    /// Only the first maxActions elements of any list in the body are kept (the rest is read and
    /// dropped), so that decoding costs time and memory in proportion to the body.
    static Image decodeReply(std::string_view body);
    /// How many elements of any list in a reply body decodeReply keeps.
    static constexpr std::size_t maxActions = 1000;

    /// Equal when every field is equal.
    bool operator==(const Image&) const = default;
};

} // namespace kestrel
