/// \file
/// The recognition request: a photo, scaled and JPEG-compressed, posted as a multipart form with
/// the API key and the application's and device's descriptors in its headers.
#pragma once

#include <kestrel/config/configuration_key.hpp>
#include <kestrel/platform/bitmap.hpp>
#include <kestrel/platform/http_request.hpp>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kestrel {

/// Builds the recognition request for the endpoint configured under urlKey: the photo prepared by
/// resizeImage and encoded at the stored JPEG quality, POST, 15 s time-out, a new boundary and a
/// new "ApplicationInstanceId" per request, the headers in their fixed order ("Language" last, for
/// sdkPicturesSearchUrl only), and for sdkEnrichedImageUrl a "query" part holding
/// {"Language":"<code>"}. Prints the endpoint address as one line. Runs on the caller's thread.
/// Returns nothing, printing nothing, when there is no image or the language code is empty; and
/// when the request cannot be built: the photo cannot be encoded, the address is not an http(s)
/// URL, no API key is stored or it holds CR, LF or NUL, or the host's information dictionary
/// (platform::Bundle::main) has no "CFBundleShortVersionString" text. Line breaks and NULs in the
/// other header values are removed.
std::optional<platform::HttpRequest>
urlRequestWithImage(const std::shared_ptr<const platform::Bitmap>& image, ConfigurationKey urlKey,
                    const std::string& languageCode);

/// "Boundary-" and a new random UUID in upper case: 45 characters. Any thread.
std::string generateBoundaryString();

/// The multipart body: one part per parameter (in key order), then the file part with the given
/// file name and MIME type, its bytes followed by one CRLF, then "--" boundary "--" with no CRLF
/// after it. Texts are copied as they stand. Any thread.
std::vector<std::uint8_t>
createBody(const std::optional<std::map<std::string, std::string>>& parameters,
           std::string_view boundary, std::span<const std::uint8_t> data, std::string_view mimeType,
           std::string_view filename);

/// Diagnostic: prints the bytes' JSON object on one line when they hold one; prints nothing for
/// anything else (not JSON, another kind of value). Any thread.
void printJsonFromData(std::span<const std::uint8_t> data);

} // namespace kestrel
