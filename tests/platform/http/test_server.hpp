// Helpers for the session tests: certificates made at run time, a small HTTP/1.1 server on
// 127.0.0.1 (plain or TLS) that records every request exactly as it arrived and answers as the
// test says, including the ways real servers misbehave, and one request sent and waited for.
#pragma once

#include <kestrel/platform/http_session.hpp>

#include <chrono>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace kestrel::testing {

struct TlsIdentity {
    std::string certificatePem;
    std::string privateKeyPem;
};

// Made once per process.
struct TestCertificates {
    std::string authorityPem;
    TlsIdentity localhost; // signed by the authority for IP:127.0.0.1, DNS:localhost
    TlsIdentity wrongHost; // signed by the authority for DNS:wrong-host.invalid
    static const TestCertificates& shared();
};

struct ReceivedRequest {
    std::string method;
    std::string target; // path and query, as sent
    std::vector<platform::HttpHeader> headers;
    std::string body;

    // Values of every header with this name (any case), in order.
    std::vector<std::string> values(std::string_view name) const;
};

struct Reply {
    enum class Kind {
        respond,         // status line, headers, Content-Length, body
        neverAnswer,     // read the request, then say nothing until the client goes away
        closeMidBody,    // announce the whole body, send half of it, close
        untilClose,      // no Content-Length: the body ends when the connection closes
        closeUnanswered, // read the request, then close the connection without a word
        trickle,         // announce the whole body, then send it one byte every 100 ms
    };
    int status = 200;
    std::vector<platform::HttpHeader> headers{};
    std::string body{};
    Kind kind = Kind::respond;

    static Reply silence() { return Reply{0, {}, {}, Kind::neverAnswer}; }
};

struct TestServerOptions {
    std::optional<TlsIdentity> tls{};
    // Read request bodies this many bytes at a time, pausing between reads, with the kernel's
    // receive buffer this small too, so that a slow reader holds the sender back (0: at once).
    std::size_t bodyReadChunk = 0;
    std::chrono::milliseconds bodyReadPause{0};
};

class TestServer {
public:
    using Responder = std::function<Reply(const ReceivedRequest&)>;

    explicit TestServer(Responder responder, TestServerOptions options = {});
    ~TestServer();

    int port() const { return port_; }
    // "http://127.0.0.1:PORT" + pathAndQuery (https when the server speaks TLS).
    std::string url(std::string_view pathAndQuery) const {
        return std::string(options_.tls ? "https" : "http") +
               "://127.0.0.1:" + std::to_string(port_) + std::string(pathAndQuery);
    }
    std::vector<ReceivedRequest> requests() const {
        std::lock_guard lock(mutex_);
        return requests_;
    }

private:
    void serve(int fd);

    Responder responder_;
    TestServerOptions options_;
    void* tlsContext_ = nullptr; // SSL_CTX
    int listener_ = -1;
    int port_ = 0;
    std::thread acceptor_;

    mutable std::mutex mutex_;
    bool stopping_ = false;
    std::vector<ReceivedRequest> requests_;
    std::vector<int> openSockets_;
    std::vector<std::thread> workers_;
};

struct Received {
    std::optional<std::string> body;
    std::optional<platform::HttpResponse> response;
    std::optional<platform::HttpError> error;
    bool onDelegateQueue = false;
};

// Resumes a task for the request and waits (at most 30 s) for its handler; fails the test when
// the handler never runs.
Received fetch(platform::HttpSession& session, platform::HttpRequest request);

// A session configuration whose time-out keeps a stuck test short.
platform::HttpSessionConfiguration testConfiguration(double timeoutSeconds = 10.0);

} // namespace kestrel::testing
