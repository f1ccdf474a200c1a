// The one-line descriptions the service client prints after "Error: " and in its status lines.
#pragma once

#include <kestrel/platform/http_error.hpp>
#include <kestrel/platform/http_response.hpp>

#include <optional>
#include <string>

namespace kestrel::service {

// The error's description, or "none" when there is no error.
std::string describe(const std::optional<platform::HttpError>& error);
// The response's description, or "none" when there is no response.
std::string describe(const std::optional<platform::HttpResponse>& response);
// The status code of the response ("200"), or "none" when there is no response.
std::string describeStatusCode(const std::optional<platform::HttpResponse>& response);

} // namespace kestrel::service
