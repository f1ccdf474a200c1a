#include <kestrel/platform/http_request.hpp>

#include "platform/http/header_lookup.hpp"

#include <utility>

namespace kestrel::platform {

void HttpRequest::addValue(std::string value, std::string forHttpHeaderField) {
    headers.push_back(HttpHeader{std::move(forHttpHeaderField), std::move(value)});
}

std::optional<std::string> HttpRequest::value(std::string_view forHttpHeaderField) const {
    return detail::firstHeaderValue(headers, forHttpHeaderField);
}

} // namespace kestrel::platform
