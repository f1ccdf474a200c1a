// The recognition request with the reason it could not be built, for the calls that report it.
#pragma once

#include <kestrel/config/configuration_key.hpp>
#include <kestrel/platform/bitmap.hpp>
#include <kestrel/platform/http_request.hpp>
#include <kestrel/service/failure.hpp>

#include <filesystem>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <variant>
#include <vector>

namespace kestrel::service {

// Where the photo of a request comes from: a decoded image, or a JPEG or PNG file or bytes that
// are decoded small (the DCT reduction closest above 1.5 times the size sent, luminance only when
// the photo goes out grey, turned upright once small) and then scaled to the size sent.
using PhotoSource = std::variant<std::shared_ptr<const platform::Bitmap>, std::filesystem::path,
                                 std::span<const std::uint8_t>>;

// The image that is sent for a photo: at the send width, grey when asked. An image that already
// has that size and those channels is the image itself, encoded without another pass. Null when
// encoded data cannot be read or decoded; null in, null out.
std::shared_ptr<const platform::Bitmap> photoToSend(const PhotoSource& photo, CGFloat sendWidth,
                                                    bool useBlackAndWhite);

// The JPEG sent for a photo at quality in [0, 1]: photoToSend's image encoded, except that a
// colour JPEG sent in colour never becomes RGB (its decoded planes are scaled and encoded). Fails
// with unreadablePhoto when the photo cannot be read or decoded, photoNotEncodable when the
// encoder fails.
std::variant<std::vector<std::uint8_t>, FailureCause>
jpegToSend(const PhotoSource& photo, CGFloat sendWidth, bool useBlackAndWhite, double quality);

// What urlRequestWithImage builds, or the first reason it cannot: checked in the order photo
// given, language, API key, address, host version, photo decoded (unreadablePhoto), JPEG
// encoding. The photo is prepared only when every cheaper check has passed.
std::variant<platform::HttpRequest, FailureCause>
recognitionRequest(const PhotoSource& photo, ConfigurationKey urlKey,
                   const std::string& languageCode);

} // namespace kestrel::service
