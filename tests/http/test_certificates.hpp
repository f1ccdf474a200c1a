// Certificates for the HTTPS tests, made at run time: an authority, a server certificate for
// 127.0.0.1 and localhost signed by it, and one signed by it for another host name.
#pragma once

#include <string>

namespace kestrel::testing {

struct TlsIdentity {
    std::string certificatePem;
    std::string privateKeyPem;
};

struct TestCertificates {
    std::string authorityPem;
    TlsIdentity localhost; // subjectAltName IP:127.0.0.1, DNS:localhost
    TlsIdentity wrongHost; // subjectAltName DNS:wrong-host.invalid

    // Made once per process.
    static const TestCertificates& shared();
};

} // namespace kestrel::testing
