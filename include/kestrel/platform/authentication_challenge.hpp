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

/// What a challenge asks to be authenticated. The session raises only serverTrust challenges.
enum class AuthenticationMethod {
    serverTrust, ///< the server's certificate chain; the protection space carries a ServerTrust
    clientCertificate, ///< a client certificate
    httpBasic,         ///< HTTP basic authentication
    httpDigest,        ///< HTTP digest authentication
    other,             ///< anything else
};

/// The outcome of the session's evaluation of a server's certificate chain and host name against
/// the system trust store and the configuration's extra certificate authorities.
struct ServerTrust {
    std::string host;                ///< the host name or address the chain was checked against
    int port = 0;                    ///< the server's port
    bool evaluatedAsTrusted = false; ///< true when the chain and host name are trusted
    /// Why the evaluation failed (OpenSSL's wording), empty when trusted.
    std::string failureReason;
    /// The chain the server presented, leaf first, each certificate in PEM form.
    std::vector<std::string> certificateChainPem;

    /// Equal when every field is equal.
    bool operator==(const ServerTrust&) const = default;
};

/// The server a challenge is about, and what it asks to be authenticated.
struct ProtectionSpace {
    std::string host;     ///< the server's host name or address
    int port = 0;         ///< the server's port
    std::string protocol; ///< "https"
    /// What is to be authenticated.
    AuthenticationMethod authenticationMethod = AuthenticationMethod::other;
    /// Present for AuthenticationMethod::serverTrust.
    std::optional<ServerTrust> serverTrust;

    /// Equal when every field is equal.
    bool operator==(const ProtectionSpace&) const = default;
};

/// A challenge the session puts to its delegate (HttpSessionDelegate::urlSession).
struct AuthenticationChallenge {
    ProtectionSpace protectionSpace; ///< the server and what it asks to be authenticated

    /// Equal when every field is equal.
    bool operator==(const AuthenticationChallenge&) const = default;
};

/// The delegate's answer to a challenge.
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

/// What the delegate answers a challenge with.
struct UrlCredential {
    /// Set for a credential that accepts a server's trust.
    std::optional<ServerTrust> serverTrust;

    /// A credential that accepts the given server trust (the platform's initWithTrust:).
    static UrlCredential forTrust(ServerTrust trust) { return UrlCredential{std::move(trust)}; }

    /// Equal when every field is equal.
    bool operator==(const UrlCredential&) const = default;
};

} // namespace kestrel::platform
