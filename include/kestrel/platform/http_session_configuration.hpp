/// \file
/// Settings of an HttpSession: time-out, reply size bound, connections per host and trust anchors.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

namespace kestrel::platform {

/// Settings of an HttpSession, fixed when the session is created.
struct HttpSessionConfiguration {
    /// Time-out of requests that set none: how long an exchange may go without progress.
    std::chrono::duration<double> timeoutIntervalForRequest{60.0};
    /// The longest a whole exchange may take, from resume() to the last byte of the reply — time
    /// spent waiting for a free connection included, however steadily bytes trickle in — before
    /// it fails with HttpErrorCode::timedOut. 0: four times the request's time-out.
    std::chrono::duration<double> timeoutIntervalForResource{0.0};
    /// A reply body larger than this fails the task with HttpErrorCode::dataLengthExceedsMaximum,
    /// so that a broken or hostile server cannot exhaust memory. Applies to the decoded body.
    std::size_t maximumResponseBodySize = 16 * 1024 * 1024;
    /// Connections opened to one host at most; further requests wait for a free one. 0: no limit.
    int httpMaximumConnectionsPerHost = 6;
    /// Trust the certificate authorities of the system store (OpenSSL's default locations).
    bool useSystemTrustStore = true;
    /// Further certificate authorities to trust, each as PEM text (one or more certificates), e.g.
    /// the self-made authority of a development service.
    std::vector<std::string> additionalTrustedCertificatesPem;

    /// The default configuration: 60 s time-out, 16 MiB bound, 6 connections per host, the system
    /// trust store and no extra authorities. Proxies come from the usual environment variables
    /// (http_proxy, https_proxy, no_proxy and their upper-case forms), as libcurl reads them.
    static HttpSessionConfiguration defaultConfiguration() { return {}; }

    /// Equal when every field is equal.
    bool operator==(const HttpSessionConfiguration&) const = default;
};

} // namespace kestrel::platform
