// The certificate authorities a session trusts, and the evaluation of a server's chain and host
// name against them.
#pragma once

#include <kestrel/platform/authentication_challenge.hpp>

#include <openssl/x509.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace kestrel::platform::detail {

class TrustStore {
public:
    // Throws std::invalid_argument when an extra certificate text holds no valid PEM certificate.
    TrustStore(bool useSystemStore, const std::vector<std::string>& extraCertificatesPem);
    ~TrustStore();
    TrustStore(const TrustStore&) = delete;
    TrustStore& operator=(const TrustStore&) = delete;

    // Evaluates the chain of a TLS handshake (leaf and intermediates as the server sent them) for
    // use by a server named host. The presented context is only read.
    ServerTrust evaluate(X509_STORE_CTX* presented, const std::string& host, int port);

private:
    X509_STORE* store();

    bool useSystemStore_;
    std::vector<X509*> extraCertificates_;
    // Built on first use: reading the system store takes a while and most sessions never need it.
    std::once_flag built_;
    X509_STORE* store_ = nullptr;
};

} // namespace kestrel::platform::detail
