/// \file
/// Authentication challenges that HttpSession puts to its delegate, and the delegate's answers.
/// The session raises a server-trust challenge for every TLS connection it sets up with a full
/// handshake (a resumed TLS session was evaluated when it was first made).
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace kestrel::platform {

enum class AuthenticationMethod {
    serverTrust, ///< the server's certificate chain; the protection space carries a ServerTrust
    clientCertificate,
    httpBasic,
    httpDigest,
    other,
};

/// The outcome of the session's evaluation of a server's certificate chain and host name against
/// the system trust store and the configuration's extra certificate authorities.
struct ServerTrust {
    std::string host;
    int port = 0;
    bool evaluatedAsTrusted = false;
    /// Why the evaluation failed (OpenSSL's wording), empty when trusted.
    std::string failureReason;
    /// The chain the server presented, leaf first, each certificate in PEM form.
    std::vector<std::string> certificateChainPem;

    /// Equal when every field is equal.
    bool operator==(const ServerTrust&) const = default;
};

struct ProtectionSpace {
    std::string host;
    int port = 0;
    std::string protocol; ///< "https"
    AuthenticationMethod authenticationMethod = AuthenticationMethod::other;
    /// Present for AuthenticationMethod::serverTrust.
    std::optional<ServerTrust> serverTrust;

    /// Equal when every field is equal.
    bool operator==(const ProtectionSpace&) const = default;
};

struct AuthenticationChallenge {
    ProtectionSpace protectionSpace;

    /// Equal when every field is equal.
    bool operator==(const AuthenticationChallenge&) const = default;
};

enum class AuthChallengeDisposition {
    /// Go on with the credential given. For server trust the session still goes on only when its
    /// own evaluation found the chain trusted: an answer cannot make an untrusted chain pass.
    useCredential,
    /// The session's own decision: for server trust, go on exactly when the chain is trusted.
    performDefaultHandling,
    /// Stop: the task fails with HttpErrorCode::cancelled.
    cancelAuthenticationChallenge,
    /// Refuse this protection space: for server trust the task fails like cancel.
    rejectProtectionSpace,
};

struct UrlCredential {
    /// Set for a credential that accepts a server's trust.
    std::optional<ServerTrust> serverTrust;

    /// A credential that accepts the given server trust (the platform's initWithTrust:).
    static UrlCredential forTrust(ServerTrust trust) { return UrlCredential{std::move(trust)}; }

    /// Equal when every field is equal.
    bool operator==(const UrlCredential&) const = default;
};

} // namespace kestrel::platform
