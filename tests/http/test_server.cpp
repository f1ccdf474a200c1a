#include "http/test_server.hpp"

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <stdexcept>

namespace kestrel::testing {

namespace {

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool sameName(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [](char x, char y) { return lower(x) == lower(y); });
}

std::string reasonPhrase(int status) {
    switch (status) {
    case 200:
        return "OK";
    case 204:
        return "No Content";
    case 404:
        return "Not Found";
    case 500:
        return "Internal Server Error";
    default:
        return "Status";
    }
}

SSL_CTX* makeTlsContext(const TlsIdentity& identity) {
    SSL_CTX* context = SSL_CTX_new(TLS_server_method());
    BIO* certificateBio = BIO_new_mem_buf(identity.certificatePem.data(),
                                          static_cast<int>(identity.certificatePem.size()));
    BIO* keyBio = BIO_new_mem_buf(identity.privateKeyPem.data(),
                                  static_cast<int>(identity.privateKeyPem.size()));
    X509* certificate = PEM_read_bio_X509(certificateBio, nullptr, nullptr, nullptr);
    EVP_PKEY* key = PEM_read_bio_PrivateKey(keyBio, nullptr, nullptr, nullptr);
    const bool ok = context != nullptr && certificate != nullptr && key != nullptr &&
                    SSL_CTX_use_certificate(context, certificate) == 1 &&
                    SSL_CTX_use_PrivateKey(context, key) == 1;
    X509_free(certificate);
    EVP_PKEY_free(key);
    BIO_free(certificateBio);
    BIO_free(keyBio);
    if (!ok) {
        SSL_CTX_free(context);
        throw std::runtime_error("test server: TLS identity not usable");
    }
    return context;
}

} // namespace

std::vector<std::string> ReceivedRequest::values(std::string_view name) const {
    std::vector<std::string> found;
    for (const auto& header : headers)
        if (sameName(header.name, name)) found.push_back(header.value);
    return found;
}

// One accepted socket, plain or TLS, with blocking reads and writes.
struct TestServer::Connection {
    int fd;
    SSL* ssl = nullptr;

    long read(char* buffer, std::size_t size) {
        if (ssl != nullptr) {
            const int n = SSL_read(ssl, buffer, static_cast<int>(size));
            return n > 0 ? n : -1;
        }
        const ssize_t n = ::recv(fd, buffer, size, 0);
        return n > 0 ? static_cast<long>(n) : -1;
    }
    bool write(std::string_view data) {
        while (!data.empty()) {
            long n;
            if (ssl != nullptr)
                n = SSL_write(ssl, data.data(), static_cast<int>(data.size()));
            else
                n = static_cast<long>(::send(fd, data.data(), data.size(), MSG_NOSIGNAL));
            if (n <= 0) return false;
            data.remove_prefix(static_cast<std::size_t>(n));
        }
        return true;
    }
};

TestServer::TestServer(Responder responder, TestServerOptions options)
    : responder_(std::move(responder)), options_(std::move(options)) {
    if (options_.tls) tlsContext_ = makeTlsContext(*options_.tls);
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t length = sizeof address;
    if (listener_ >= 0 && options_.receiveBufferSize > 0)
        ::setsockopt(listener_, SOL_SOCKET, SO_RCVBUF, &options_.receiveBufferSize,
                     sizeof options_.receiveBufferSize);
    if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        ::listen(listener_, 256) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
        ::pipe2(wakePipe_, O_CLOEXEC) != 0)
        throw std::runtime_error("test server: cannot listen on 127.0.0.1");
    port_ = ntohs(address.sin_port);
    acceptor_ = std::thread([this] { acceptLoop(); });
}

TestServer::~TestServer() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        for (int fd : openSockets_) ::shutdown(fd, SHUT_RDWR);
    }
    stopped_.notify_all();
    [[maybe_unused]] const auto written = ::write(wakePipe_[1], "x", 1);
    acceptor_.join();
    std::vector<std::thread> workers;
    {
        std::lock_guard lock(mutex_);
        workers.swap(workers_);
    }
    for (auto& worker : workers) worker.join();
    ::close(listener_);
    ::close(wakePipe_[0]);
    ::close(wakePipe_[1]);
    SSL_CTX_free(static_cast<SSL_CTX*>(tlsContext_));
}

std::string TestServer::url(std::string_view pathAndQuery) const {
    return std::string(options_.tls ? "https" : "http") + "://127.0.0.1:" + std::to_string(port_) +
           std::string(pathAndQuery);
}

std::vector<ReceivedRequest> TestServer::requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

bool TestServer::sleepUnlessStopping(std::chrono::milliseconds duration) {
    std::unique_lock lock(mutex_);
    return !stopped_.wait_for(lock, duration, [this] { return stopping_; });
}

void TestServer::acceptLoop() {
    for (;;) {
        pollfd fds[2] = {{listener_, POLLIN, 0}, {wakePipe_[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) continue;
        if (fds[1].revents != 0) return;
        const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        std::lock_guard lock(mutex_);
        if (stopping_) {
            ::close(fd);
            return;
        }
        ++accepted_;
        openSockets_.push_back(fd);
        workers_.emplace_back([this, fd] { serve(fd); });
    }
}

void TestServer::serve(int fd) {
    Connection connection{fd};
    if (tlsContext_ != nullptr) {
        connection.ssl = SSL_new(static_cast<SSL_CTX*>(tlsContext_));
        SSL_set_fd(connection.ssl, fd);
        if (SSL_accept(connection.ssl) != 1) {
            SSL_free(connection.ssl);
            connection.ssl = nullptr;
            connection.fd = -1; // the handshake failed: nothing more to say
        }
    }

    std::string buffer;
    char chunk[16384];
    while (connection.fd >= 0) {
        // The request head.
        std::size_t headEnd;
        while ((headEnd = buffer.find("\r\n\r\n")) == std::string::npos) {
            const long n = connection.read(chunk, sizeof chunk);
            if (n <= 0 || buffer.size() > (1 << 20)) goto done;
            buffer.append(chunk, static_cast<std::size_t>(n));
        }
        ReceivedRequest request;
        {
            const std::string head = buffer.substr(0, headEnd);
            buffer.erase(0, headEnd + 4);
            std::size_t lineEnd = head.find("\r\n");
            const std::string requestLine = head.substr(0, lineEnd);
            const auto space1 = requestLine.find(' ');
            const auto space2 = requestLine.rfind(' ');
            request.method = requestLine.substr(0, space1);
            request.target = requestLine.substr(space1 + 1, space2 - space1 - 1);
            while (lineEnd != std::string::npos && lineEnd < head.size()) {
                const std::size_t next = head.find("\r\n", lineEnd + 2);
                const std::string line =
                    head.substr(lineEnd + 2,
                                next == std::string::npos ? std::string::npos : next - lineEnd - 2);
                const auto colon = line.find(':');
                if (colon != std::string::npos) {
                    std::string value = line.substr(colon + 1);
                    value.erase(0, value.find_first_not_of(' '));
                    request.headers.push_back({line.substr(0, colon), value});
                }
                lineEnd = next;
            }
        }
        // The body, at the pace the test asked for.
        const auto lengths = request.values("Content-Length");
        const std::size_t length = lengths.empty() ? 0 : std::stoul(lengths.front());
        while (buffer.size() < length) {
            const std::size_t want = options_.bodyReadChunk != 0
                                         ? std::min(options_.bodyReadChunk, sizeof chunk)
                                         : sizeof chunk;
            const long n = connection.read(chunk, std::min(want, length - buffer.size()));
            if (n <= 0) goto done;
            buffer.append(chunk, static_cast<std::size_t>(n));
            if (options_.bodyReadPause.count() > 0 && !sleepUnlessStopping(options_.bodyReadPause))
                goto done;
        }
        request.body = buffer.substr(0, length);
        buffer.erase(0, length);
        {
            std::lock_guard lock(mutex_);
            requests_.push_back(request);
        }

        const Reply reply = responder_(request);
        if (reply.delay.count() > 0 && !sleepUnlessStopping(reply.delay)) goto done;
        if (reply.kind == Reply::Kind::neverAnswer) {
            while (connection.read(chunk, sizeof chunk) > 0) {}
            goto done;
        }
        std::string head =
            "HTTP/1.1 " + std::to_string(reply.status) + " " + reasonPhrase(reply.status) + "\r\n";
        for (const auto& header : reply.headers) head += header.name + ": " + header.value + "\r\n";
        if (reply.kind != Reply::Kind::untilClose)
            head += "Content-Length: " + std::to_string(reply.body.size()) + "\r\n";
        head += "\r\n";
        if (reply.kind == Reply::Kind::closeMidBody) {
            connection.write(head + reply.body.substr(0, reply.body.size() / 2));
            goto done;
        }
        if (!connection.write(head + reply.body) || reply.kind == Reply::Kind::untilClose)
            goto done;
    }
done:
    if (connection.ssl != nullptr) {
        SSL_shutdown(connection.ssl);
        SSL_free(connection.ssl);
    }
    std::lock_guard lock(mutex_);
    openSockets_.erase(std::remove(openSockets_.begin(), openSockets_.end(), fd),
                       openSockets_.end());
    ::close(fd);
}

int unusedPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), length);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

} // namespace kestrel::testing
