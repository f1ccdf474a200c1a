/// \file
/// Transport errors of HttpSession: why an exchange produced no HTTP reply. An HTTP status,
/// whatever it is, is a reply and never one of these.
#pragma once

#include <string>
#include <string_view>

namespace kestrel::platform {

/// Why an exchange produced no HTTP reply.
enum class HttpErrorCode {
    cancelled,                  ///< the task or its session was cancelled, or a trust challenge was
    timedOut,                   ///< no progress for the time-out interval
    invalidRequest,             ///< malformed address, method, header or time-out: nothing was sent
    unsupportedUrl,             ///< a scheme other than http or https
    cannotFindHost,             ///< the host name did not resolve
    cannotConnectToHost,        ///< refused or unreachable (also through a proxy)
    networkConnectionLost,      ///< the connection broke, or closed before the reply was complete
    badServerResponse,          ///< the reply was not valid HTTP
    secureConnectionFailed,     ///< the TLS handshake failed for another reason than trust
    serverCertificateUntrusted, ///< the chain or host name did not evaluate as trusted
    dataLengthExceedsMaximum,   ///< the reply body is larger than the configured bound
    unknown,                    ///< any other transport failure
};

/// The case name, e.g. "timedOut".
std::string_view errorCodeName(HttpErrorCode code);

/// A transport error of HttpSession: why an exchange produced no HTTP reply.
struct HttpError {
    /// What kind of failure it is.
    HttpErrorCode code = HttpErrorCode::unknown;
    /// What the transport said, for diagnostics; may be empty.
    std::string message;

    /// One line for diagnostics, e.g. "HttpError.timedOut: no progress for 1 s".
    std::string description() const;

    /// Equal when every field is equal.
    bool operator==(const HttpError&) const = default;
};

} // namespace kestrel::platform
