/// \file
/// Failure: why a service call did not give its value — the KestrelError the classic completion
/// gets, a machine-readable cause, and what the transport, the service or the decoder said.
#pragma once

#include <kestrel/platform/http_error.hpp>
#include <kestrel/service/kestrel_error.hpp>

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace kestrel {

/// Why a service call failed. The causes up to unsafeHeaderValue mean that the request could not
/// be built and nothing was sent (KestrelError::parametersMissing); the later ones, that it was
/// sent or its sending was stopped (KestrelError::notEnrichedImage).
enum class FailureCause {
    // The request could not be built; nothing was sent (KestrelError::parametersMissing).
    missingApiKey,     ///< no API key is stored (KestrelLight::setApiKey)
    missingPhoto,      ///< no photo was given
    missingLanguage,   ///< the user has no preferred language
    missingIdentifier, ///< a click without its session or action identifier
    missingAppVersion, ///< the host's information has no "CFBundleShortVersionString"
    photoNotEncodable, ///< the photo could not be scaled or compressed as JPEG
    unreadablePhoto,   ///< the photo file or bytes are not a JPEG or PNG that decodes
    missingAddress,    ///< no address is configured for the call
    badAddress,        ///< the configured address is not an http(s) URL
    unsafeHeaderValue, ///< the API key or session identifier holds CR, LF or NUL
    // The request was sent, or its sending was stopped (KestrelError::notEnrichedImage).
    untrustedCertificate, ///< the service's certificate chain or host name is not trusted
    transport,            ///< no HTTP reply: see Failure::transportError
    httpStatus,           ///< a reply with another status than the call expects
    undecodableReply,     ///< a reply of the expected status whose body does not decode
    emptyReply,           ///< a 200 whose page has no session identifier
    cancelled,            ///< Call::cancel, or the server's session was closed
};

/// The cause's name in code, e.g. "missingApiKey".
std::string_view causeName(FailureCause cause);

/// Why a service call did not give its value, as the completions that take a Result get it.
struct Failure {
    /// How much of an unexpected reply's body is kept.
    static constexpr std::size_t maximumBodyExcerpt = 512;

    /// What the classic completion gets for this failure.
    KestrelError error = KestrelError::notEnrichedImage;
    /// What went wrong.
    FailureCause cause = FailureCause::transport;
    /// The transport error, for transport, untrustedCertificate and cancelled.
    std::optional<platform::HttpError> transportError;
    /// The status of the reply, for httpStatus and the reply causes; 0 when there was none.
    int httpStatus = 0;
    /// httpStatus: the first maximumBodyExcerpt bytes of the reply body.
    std::string body;
    /// undecodableReply: what the decoder said.
    std::string detail;
    /// httpStatus: how long the reply's "Retry-After" asked to wait, when it said.
    std::optional<std::chrono::seconds> retryAfter;
    /// A click report kept in the click outbox, to be sent again later: delayed, not lost.
    bool queuedForRetry = false;

    /// One line of English for logs, e.g. "the connection to the service was refused or the host
    /// is unreachable (HttpError.cannotConnectToHost: ...)".
    std::string description() const;
    /// A short sentence for the user, in the user's language (the library's bundle); English
    /// where no translation is shipped.
    std::string localizedDescription() const;

private:
    std::string causeDescription() const;
};

} // namespace kestrel
