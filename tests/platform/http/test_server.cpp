#include "platform/http/test_server.hpp"

#include <gtest/gtest.h>

#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <csignal>
#include <cstdlib>
#include <future>
#include <memory>
#include <sstream>
#include <stdexcept>

namespace kestrel::testing {

namespace {

// Requests to 127.0.0.1 must not go to a proxy that the environment may name, and a peer that
// hangs up must not end the test process.
[[maybe_unused]] const bool environmentPrepared = [] {
    for (const char* name :
         {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"})
        ::unsetenv(name);
    std::signal(SIGPIPE, SIG_IGN);
    return true;
}();

void check(bool ok, const char* what) {
    if (!ok) throw std::runtime_error(std::string("test helpers: ") + what);
}

using KeyPtr = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;
using CertPtr = std::unique_ptr<X509, decltype(&X509_free)>;
using BioPtr = std::unique_ptr<BIO, decltype(&BIO_free)>;

std::string toPem(const std::function<int(BIO*)>& write) {
    BioPtr bio(BIO_new(BIO_s_mem()), BIO_free);
    check(write(bio.get()) == 1, "PEM");
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio.get(), &data);
    return std::string(data, static_cast<std::size_t>(size));
}

// A certificate for key, signed by issuer; a self-signed authority when issuer is null.
CertPtr makeCertificate(EVP_PKEY* key, const char* commonName, X509* issuer, EVP_PKEY* issuerKey,
                        const char* subjectAltName, long serial) {
    CertPtr certificate(X509_new(), X509_free);
    X509* c = certificate.get();
    check(c != nullptr, "X509_new");
    X509_set_version(c, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(c), serial);
    X509_gmtime_adj(X509_getm_notBefore(c), -3600);
    X509_gmtime_adj(X509_getm_notAfter(c), 7 * 24 * 3600);
    X509_set_pubkey(c, key);
    X509_NAME* name = X509_get_subject_name(c);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>(commonName), -1, -1, 0);
    X509_set_issuer_name(c, issuer != nullptr ? X509_get_subject_name(issuer) : name);
    const auto add = [&](int nid, const char* value) {
        X509V3_CTX context;
        X509V3_set_ctx_nodb(&context);
        X509V3_set_ctx(&context, issuer != nullptr ? issuer : c, c, nullptr, nullptr, 0);
        X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value);
        check(extension != nullptr, "extension");
        X509_add_ext(c, extension, -1);
        X509_EXTENSION_free(extension);
    };
    add(NID_subject_key_identifier, "hash");
    if (issuer == nullptr) {
        add(NID_basic_constraints, "critical,CA:TRUE");
        add(NID_key_usage, "critical,keyCertSign,cRLSign");
    } else {
        add(NID_authority_key_identifier, "keyid:always");
        add(NID_basic_constraints, "critical,CA:FALSE");
        add(NID_key_usage, "critical,digitalSignature");
        add(NID_ext_key_usage, "serverAuth");
        add(NID_subject_alt_name, subjectAltName);
    }
    check(X509_sign(c, issuerKey != nullptr ? issuerKey : key, EVP_sha256()) > 0, "signing");
    return certificate;
}

TestCertificates makeCertificates() {
    const KeyPtr authorityKey(EVP_EC_gen("P-256"), EVP_PKEY_free);
    check(authorityKey != nullptr, "key generation");
    const CertPtr authority =
        makeCertificate(authorityKey.get(), "Kestrel Test Authority", nullptr, nullptr, nullptr, 1);
    const auto leaf = [&](const char* commonName, const char* subjectAltName, long serial) {
        const KeyPtr key(EVP_EC_gen("P-256"), EVP_PKEY_free);
        check(key != nullptr, "key generation");
        const CertPtr certificate = makeCertificate(key.get(), commonName, authority.get(),
                                                    authorityKey.get(), subjectAltName, serial);
        return TlsIdentity{
            toPem([&](BIO* bio) { return PEM_write_bio_X509(bio, certificate.get()); }),
            toPem([&](BIO* bio) {
                return PEM_write_bio_PrivateKey(bio, key.get(), nullptr, nullptr, 0, nullptr,
                                                nullptr);
            })};
    };
    return {toPem([&](BIO* bio) { return PEM_write_bio_X509(bio, authority.get()); }),
            leaf("127.0.0.1", "IP:127.0.0.1,DNS:localhost", 2),
            leaf("wrong-host.invalid", "DNS:wrong-host.invalid", 3)};
}

SSL_CTX* makeTlsContext(const TlsIdentity& identity) {
    const std::string pem = identity.certificatePem + identity.privateKeyPem;
    const BioPtr bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())), BIO_free);
    const CertPtr certificate(PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr), X509_free);
    const KeyPtr key(PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr), EVP_PKEY_free);
    SSL_CTX* context = SSL_CTX_new(TLS_server_method());
    check(context != nullptr && certificate != nullptr && key != nullptr &&
              SSL_CTX_use_certificate(context, certificate.get()) == 1 &&
              SSL_CTX_use_PrivateKey(context, key.get()) == 1,
          "TLS identity not usable");
    return context;
}

} // namespace

const TestCertificates& TestCertificates::shared() {
    static const TestCertificates certificates = makeCertificates();
    return certificates;
}

std::vector<std::string> ReceivedRequest::values(std::string_view name) const {
    std::vector<std::string> found;
    for (const auto& header : headers)
        if (std::equal(header.name.begin(), header.name.end(), name.begin(), name.end(),
                       [](char a, char b) { return std::tolower(a) == std::tolower(b); }))
            found.push_back(header.value);
    return found;
}

TestServer::TestServer(Responder responder, TestServerOptions options)
    : responder_(std::move(responder)), options_(std::move(options)) {
    if (options_.tls) tlsContext_ = makeTlsContext(*options_.tls);
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int receiveBuffer = static_cast<int>(options_.bodyReadChunk);
    if (listener_ >= 0 && receiveBuffer > 0)
        ::setsockopt(listener_, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    check(listener_ >= 0 && ::bind(listener_, reinterpret_cast<sockaddr*>(&address), length) == 0 &&
              ::listen(listener_, 256) == 0 &&
              ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) == 0,
          "cannot listen on 127.0.0.1");
    port_ = ntohs(address.sin_port);
    acceptor_ = std::thread([this] {
        for (;;) {
            const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            std::lock_guard lock(mutex_);
            if (stopping_) {
                if (fd >= 0) ::close(fd);
                return;
            }
            if (fd < 0) continue;
            openSockets_.push_back(fd);
            workers_.emplace_back([this, fd] { serve(fd); });
        }
    });
}

TestServer::~TestServer() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        for (int fd : openSockets_) ::shutdown(fd, SHUT_RDWR);
    }
    ::shutdown(listener_, SHUT_RDWR); // wakes the blocked accept
    acceptor_.join();
    for (auto& worker : workers_) worker.join();
    ::close(listener_);
    SSL_CTX_free(static_cast<SSL_CTX*>(tlsContext_));
}

void TestServer::serve(int fd) {
    SSL* ssl = tlsContext_ != nullptr ? SSL_new(static_cast<SSL_CTX*>(tlsContext_)) : nullptr;
    if (ssl != nullptr) SSL_set_fd(ssl, fd);
    const bool connected = ssl == nullptr || SSL_accept(ssl) == 1;
    char chunk[16384];
    std::string buffer; // what arrived and is not yet part of a request
    const auto receive = [&](std::size_t size) {
        const long n = ssl != nullptr ? SSL_read(ssl, chunk, static_cast<int>(size))
                                      : static_cast<long>(::recv(fd, chunk, size, 0));
        if (n > 0) buffer.append(chunk, static_cast<std::size_t>(n));
        return n > 0;
    };
    const auto write = [&](std::string_view data) {
        while (!data.empty()) {
            const long n =
                ssl != nullptr
                    ? SSL_write(ssl, data.data(), static_cast<int>(data.size()))
                    : static_cast<long>(::send(fd, data.data(), data.size(), MSG_NOSIGNAL));
            if (n <= 0) return false;
            data.remove_prefix(static_cast<std::size_t>(n));
        }
        return true;
    };
    // One request and its reply; false when the connection is done.
    const auto exchange = [&] {
        std::size_t headEnd;
        while ((headEnd = buffer.find("\r\n\r\n")) == std::string::npos)
            if (!receive(sizeof chunk)) return false;
        ReceivedRequest request;
        std::istringstream head(buffer.substr(0, headEnd + 2));
        buffer.erase(0, headEnd + 4);
        std::string line;
        std::getline(head, line);
        std::istringstream(line) >> request.method >> request.target;
        while (std::getline(head, line)) {
            line.pop_back(); // the CR
            const auto colon = line.find(':');
            if (colon == std::string::npos) continue;
            const auto value = std::min(line.find_first_not_of(' ', colon + 1), line.size());
            request.headers.push_back({line.substr(0, colon), line.substr(value)});
        }
        const auto lengths = request.values("Content-Length");
        const std::size_t length = lengths.empty() ? 0 : std::stoul(lengths.front());
        const std::size_t step =
            options_.bodyReadChunk != 0 ? options_.bodyReadChunk : sizeof chunk;
        while (buffer.size() < length) {
            if (!receive(std::min({step, sizeof chunk, length - buffer.size()}))) return false;
            std::this_thread::sleep_for(options_.bodyReadPause);
        }
        request.body = buffer.substr(0, length);
        buffer.erase(0, length);
        {
            std::lock_guard lock(mutex_);
            requests_.push_back(request);
        }

        const Reply reply = responder_(request);
        if (reply.kind == Reply::Kind::neverAnswer)
            while (receive(sizeof chunk)) buffer.clear();
        if (reply.kind == Reply::Kind::neverAnswer || reply.kind == Reply::Kind::closeUnanswered)
            return false;
        std::string out = "HTTP/1.1 " + std::to_string(reply.status) + " Status\r\n";
        for (const auto& header : reply.headers) out += header.name + ": " + header.value + "\r\n";
        if (reply.kind != Reply::Kind::untilClose)
            out += "Content-Length: " + std::to_string(reply.body.size()) + "\r\n";
        out += "\r\n";
        if (reply.kind != Reply::Kind::trickle)
            return write(out + (reply.kind == Reply::Kind::closeMidBody
                                    ? reply.body.substr(0, reply.body.size() / 2)
                                    : reply.body)) &&
                   reply.kind == Reply::Kind::respond;
        bool sent = write(out);
        for (std::size_t i = 0; sent && i < reply.body.size(); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            sent = write(reply.body.substr(i, 1));
        }
        return sent;
    };
    while (connected && exchange()) {}
    if (ssl != nullptr && connected) SSL_shutdown(ssl);
    SSL_free(ssl);
    std::lock_guard lock(mutex_);
    openSockets_.erase(std::find(openSockets_.begin(), openSockets_.end(), fd));
    ::close(fd);
}

Received fetch(platform::HttpSession& session, platform::HttpRequest request) {
    std::promise<Received> promise;
    auto future = promise.get_future();
    platform::DispatchQueue& queue = session.delegateQueue();
    session
        .dataTask(std::move(request),
                  [&promise, &queue](auto body, auto response, auto error) {
                      promise.set_value(Received{std::move(body), std::move(response),
                                                 std::move(error), queue.isCurrent()});
                  })
        ->resume();
    if (future.wait_for(std::chrono::seconds(30)) != std::future_status::ready) {
        ADD_FAILURE() << "the handler never ran";
        std::abort(); // the handler still refers to this frame
    }
    return future.get();
}

platform::HttpSessionConfiguration testConfiguration(double timeoutSeconds) {
    auto configuration = platform::HttpSessionConfiguration::defaultConfiguration();
    configuration.timeoutIntervalForRequest = std::chrono::duration<double>(timeoutSeconds);
    return configuration;
}

} // namespace kestrel::testing
