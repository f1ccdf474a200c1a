/// \file
/// An HTTP request as handed to HttpSession: method, address, headers in the order they were added,
/// an optional body and an optional time-out.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kestrel::platform {

/// One header line. Names are compared without regard to case; values are sent as they stand.
struct HttpHeader {
    std::string name;  ///< the field name
    std::string value; ///< the field value

    /// Equal when every field is equal.
    bool operator==(const HttpHeader&) const = default;
};

/// An HTTP request as handed to HttpSession::dataTask.
struct HttpRequest {
    /// A GET request without address.
    HttpRequest() = default;
    /// A GET request to the given address.
    explicit HttpRequest(std::string url) : url(std::move(url)) {}

    /// An absolute http:// or https:// address. Checked when the task starts: anything else fails
    /// the task with HttpErrorCode::invalidRequest or unsupportedUrl.
    std::string url;
    /// Sent as given; must be an HTTP token ("GET", "PUT", ...).
    std::string httpMethod = "GET";
    /// Sent in this order; the same name may appear more than once. A name or value holding CR, LF
    /// or NUL, or a name that is not an HTTP token, fails the task instead of being sent.
    std::vector<HttpHeader> headers;
    /// Raw bytes (not necessarily text). Absent means no body and no Content-Length.
    std::optional<std::string> httpBody;
    /// How long the exchange may go without progress (resolving, connecting, sending or receiving)
    /// before it fails with HttpErrorCode::timedOut. Absent: the session configuration's value.
    /// Zero, negative or not a number fails the task with HttpErrorCode::invalidRequest.
    std::optional<std::chrono::duration<double>> timeoutInterval;

    /// Appends a header, keeping any earlier one of the same name.
    void addValue(std::string value, std::string forHttpHeaderField);
    /// The value of the first header with this name (any case), or absent.
    std::optional<std::string> value(std::string_view forHttpHeaderField) const;

    /// Equal when every field is equal.
    bool operator==(const HttpRequest&) const = default;
};

/// True when the text is an address a task accepts: absolute, http or https, with a host.
bool isHttpUrl(const std::string& text);

} // namespace kestrel::platform
