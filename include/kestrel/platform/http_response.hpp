/// \file
/// The status line and headers of an HTTP reply, as handed to a data task's handler.
#pragma once

#include <kestrel/platform/http_request.hpp>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrel::platform {

/// The status line and headers of an HTTP reply, as handed to a data task's handler.
struct HttpResponse {
    /// The address the reply came from.
    std::string url;
    /// The status of the final reply, e.g. 200.
    int statusCode = 0;
    /// The headers of the final reply in the order received (interim 1xx replies are left out).
    std::vector<HttpHeader> headers;

    /// The value of the first header with this name (any case), or absent.
    std::optional<std::string> value(std::string_view forHttpHeaderField) const;
    /// One line for diagnostics, e.g. "<HttpResponse 500 http://127.0.0.1:8080/clicks>".
    std::string description() const;

    /// Equal when every field is equal.
    bool operator==(const HttpResponse&) const = default;
};

} // namespace kestrel::platform
