#include "http/test_certificates.hpp"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <memory>
#include <stdexcept>

namespace kestrel::testing {

namespace {

template <typename T, void (*Free)(T*)>
struct Deleter {
    void operator()(T* p) const { Free(p); }
};
using KeyPtr = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY, EVP_PKEY_free>>;
using CertPtr = std::unique_ptr<X509, Deleter<X509, X509_free>>;
using BioPtr = std::unique_ptr<BIO, Deleter<BIO, BIO_free_all>>;

void check(bool ok, const char* what) {
    if (!ok) throw std::runtime_error(std::string("test certificates: ") + what);
}

KeyPtr newKey() {
    KeyPtr key(EVP_EC_gen("P-256"));
    check(key != nullptr, "key generation");
    return key;
}

void addExtension(X509* certificate, X509* issuer, int nid, const char* value) {
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, issuer, certificate, nullptr, nullptr, 0);
    X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value);
    check(extension != nullptr, "extension");
    X509_add_ext(certificate, extension, -1);
    X509_EXTENSION_free(extension);
}

// A certificate for key, signed by issuerKey; a self-signed authority when issuer is null.
CertPtr makeCertificate(EVP_PKEY* key, const char* commonName, X509* issuer, EVP_PKEY* issuerKey,
                        const char* subjectAltName, long serial) {
    CertPtr certificate(X509_new());
    check(certificate != nullptr, "X509_new");
    X509* c = certificate.get();
    X509_set_version(c, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(c), serial);
    X509_gmtime_adj(X509_getm_notBefore(c), -3600);
    X509_gmtime_adj(X509_getm_notAfter(c), 7 * 24 * 3600);
    X509_set_pubkey(c, key);
    X509_NAME* name = X509_get_subject_name(c);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>(commonName), -1, -1, 0);
    X509_set_issuer_name(c, issuer != nullptr ? X509_get_subject_name(issuer) : name);
    X509* signer = issuer != nullptr ? issuer : c;
    addExtension(c, signer, NID_subject_key_identifier, "hash");
    if (issuer == nullptr) {
        addExtension(c, signer, NID_basic_constraints, "critical,CA:TRUE");
        addExtension(c, signer, NID_key_usage, "critical,keyCertSign,cRLSign");
    } else {
        addExtension(c, signer, NID_authority_key_identifier, "keyid:always");
        addExtension(c, signer, NID_basic_constraints, "critical,CA:FALSE");
        addExtension(c, signer, NID_key_usage, "critical,digitalSignature");
        addExtension(c, signer, NID_ext_key_usage, "serverAuth");
        addExtension(c, signer, NID_subject_alt_name, subjectAltName);
    }
    check(X509_sign(c, issuerKey != nullptr ? issuerKey : key, EVP_sha256()) > 0, "signing");
    return certificate;
}

std::string readAll(BIO* bio) {
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio, &data);
    return size > 0 ? std::string(data, static_cast<std::size_t>(size)) : std::string();
}

std::string certificatePem(X509* certificate) {
    BioPtr bio(BIO_new(BIO_s_mem()));
    check(PEM_write_bio_X509(bio.get(), certificate) == 1, "PEM certificate");
    return readAll(bio.get());
}

std::string keyPem(EVP_PKEY* key) {
    BioPtr bio(BIO_new(BIO_s_mem()));
    check(PEM_write_bio_PrivateKey(bio.get(), key, nullptr, nullptr, 0, nullptr, nullptr) == 1,
          "PEM key");
    return readAll(bio.get());
}

TestCertificates make() {
    TestCertificates made;
    const KeyPtr authorityKey = newKey();
    const CertPtr authority =
        makeCertificate(authorityKey.get(), "Kestrel Test Authority", nullptr, nullptr, nullptr, 1);
    made.authorityPem = certificatePem(authority.get());

    const KeyPtr localKey = newKey();
    const CertPtr local = makeCertificate(localKey.get(), "127.0.0.1", authority.get(),
                                          authorityKey.get(), "IP:127.0.0.1,DNS:localhost", 2);
    made.localhost = {certificatePem(local.get()), keyPem(localKey.get())};

    const KeyPtr wrongKey = newKey();
    const CertPtr wrong = makeCertificate(wrongKey.get(), "wrong-host.invalid", authority.get(),
                                          authorityKey.get(), "DNS:wrong-host.invalid", 3);
    made.wrongHost = {certificatePem(wrong.get()), keyPem(wrongKey.get())};
    return made;
}

} // namespace

const TestCertificates& TestCertificates::shared() {
    static const TestCertificates certificates = make();
    return certificates;
}

} // namespace kestrel::testing
