// The recognition request with the reason it could not be built, for the calls that report it.
#pragma once

#include <kestrel/config/configuration_key.hpp>
#include <kestrel/platform/bitmap.hpp>
#include <kestrel/platform/http_request.hpp>
#include <kestrel/service/failure.hpp>

#include <memory>
#include <string>
#include <variant>

namespace kestrel::service {

// What urlRequestWithImage builds, or the first reason it cannot: checked in the order photo,
// language, API key, address, host version, JPEG encoding.
std::variant<platform::HttpRequest, FailureCause>
recognitionRequest(const std::shared_ptr<const platform::Bitmap>& image, ConfigurationKey urlKey,
                   const std::string& languageCode);

} // namespace kestrel::service
