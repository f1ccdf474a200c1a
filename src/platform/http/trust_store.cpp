#include "platform/http/trust_store.hpp"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>

#include <arpa/inet.h>

#include <stdexcept>

namespace kestrel::platform::detail {

namespace {

std::vector<X509*> readCertificates(const std::string& pem) {
    std::vector<X509*> certificates;
    BIO* bio = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
    if (bio == nullptr) throw std::bad_alloc();
    while (X509* certificate = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr))
        certificates.push_back(certificate);
    BIO_free(bio);
    ERR_clear_error(); // the read that ends the loop always leaves a "no start line" error
    return certificates;
}

std::string toPem(X509* certificate) {
    BIO* bio = BIO_new(BIO_s_mem());
    if (bio == nullptr) return {};
    std::string text;
    if (PEM_write_bio_X509(bio, certificate) == 1) {
        char* data = nullptr;
        const long size = BIO_get_mem_data(bio, &data);
        if (size > 0) text.assign(data, static_cast<std::size_t>(size));
    }
    BIO_free(bio);
    return text;
}

bool isIpAddress(const std::string& host) {
    unsigned char buffer[16];
    return inet_pton(AF_INET, host.c_str(), buffer) == 1 ||
           inet_pton(AF_INET6, host.c_str(), buffer) == 1;
}

} // namespace

TrustStore::TrustStore(bool useSystemStore, const std::vector<std::string>& extraCertificatesPem)
    : useSystemStore_(useSystemStore) {
    try {
        for (const auto& pem : extraCertificatesPem) {
            auto certificates = readCertificates(pem);
            const bool empty = certificates.empty();
            extraCertificates_.insert(extraCertificates_.end(), certificates.begin(),
                                      certificates.end());
            if (empty)
                throw std::invalid_argument(
                    "HttpSessionConfiguration: an extra trusted certificate is not PEM text");
        }
    } catch (...) {
        for (X509* certificate : extraCertificates_) X509_free(certificate);
        throw;
    }
}

TrustStore::~TrustStore() {
    if (store_ != nullptr) X509_STORE_free(store_);
    for (X509* certificate : extraCertificates_) X509_free(certificate);
}

X509_STORE* TrustStore::store() {
    std::call_once(built_, [this] {
        store_ = X509_STORE_new();
        if (store_ == nullptr) return;
        if (useSystemStore_) X509_STORE_set_default_paths(store_);
        for (X509* certificate : extraCertificates_) X509_STORE_add_cert(store_, certificate);
        ERR_clear_error();
    });
    return store_;
}

ServerTrust TrustStore::evaluate(X509_STORE_CTX* presented, const std::string& host, int port) {
    ServerTrust trust;
    trust.host = host;
    trust.port = port;

    X509* leaf = X509_STORE_CTX_get0_cert(presented);
    STACK_OF(X509)* sent = X509_STORE_CTX_get0_untrusted(presented);
    if (sent != nullptr && sk_X509_num(sent) > 0) {
        for (int i = 0; i < sk_X509_num(sent); ++i)
            trust.certificateChainPem.push_back(toPem(sk_X509_value(sent, i)));
    } else if (leaf != nullptr) {
        trust.certificateChainPem.push_back(toPem(leaf));
    }

    X509_STORE* anchors = store();
    X509_STORE_CTX* context = X509_STORE_CTX_new();
    if (leaf == nullptr || anchors == nullptr || context == nullptr ||
        X509_STORE_CTX_init(context, anchors, leaf, sent) != 1) {
        X509_STORE_CTX_free(context);
        trust.failureReason = "the certificate chain could not be evaluated";
        ERR_clear_error();
        return trust;
    }
    X509_STORE_CTX_set_default(context, "ssl_server");
    X509_VERIFY_PARAM* parameters = X509_STORE_CTX_get0_param(context);
    if (isIpAddress(host)) {
        X509_VERIFY_PARAM_set1_ip_asc(parameters, host.c_str());
    } else {
        X509_VERIFY_PARAM_set_hostflags(parameters, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
        X509_VERIFY_PARAM_set1_host(parameters, host.c_str(), host.size());
    }
    trust.evaluatedAsTrusted = X509_verify_cert(context) == 1;
    if (!trust.evaluatedAsTrusted) {
        const int error = X509_STORE_CTX_get_error(context);
        trust.failureReason = X509_verify_cert_error_string(error);
        if (trust.failureReason.empty()) trust.failureReason = "the chain is not trusted";
    }
    X509_STORE_CTX_free(context);
    ERR_clear_error();
    return trust;
}

} // namespace kestrel::platform::detail
