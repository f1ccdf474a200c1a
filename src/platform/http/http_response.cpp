#include <kestrel/platform/http_response.hpp>

#include "platform/http/header_lookup.hpp"

namespace kestrel::platform {

std::optional<std::string> HttpResponse::value(std::string_view forHttpHeaderField) const {
    return detail::firstHeaderValue(headers, forHttpHeaderField);
}

std::string HttpResponse::description() const {
    return "<HttpResponse " + std::to_string(statusCode) + " " + url + ">";
}

} // namespace kestrel::platform
