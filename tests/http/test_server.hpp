// A small HTTP/1.1 server on 127.0.0.1 for the session tests, plain or over TLS. It records every
// request exactly as it arrived and answers as the test says, including the ways real servers
// misbehave: never answering, closing in the middle of a reply, reading a body slowly.
#pragma once

#include "http/test_certificates.hpp"

#include <kestrel/platform/http_request.hpp>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace kestrel::testing {

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
        respond,      // status line, headers, Content-Length, body
        neverAnswer,  // read the request, then say nothing until the client goes away
        closeMidBody, // announce the whole body, send half of it, close
        untilClose,   // no Content-Length: the body ends when the connection closes
    };
    Reply(int status = 200, std::vector<platform::HttpHeader> headers = {}, std::string body = {},
          Kind kind = Kind::respond, std::chrono::milliseconds delay = {})
        : status(status), headers(std::move(headers)), body(std::move(body)), kind(kind),
          delay(delay) {}
    // Reads the request, then never answers.
    static Reply silence() { return Reply(0, {}, {}, Kind::neverAnswer); }

    int status;
    std::vector<platform::HttpHeader> headers;
    std::string body;
    Kind kind;
    std::chrono::milliseconds delay; // before answering
};

struct TestServerOptions {
    std::optional<TlsIdentity> tls;
    // Read request bodies this many bytes at a time, pausing between reads (0: read at once).
    std::size_t bodyReadChunk = 0;
    std::chrono::milliseconds bodyReadPause{0};
    // The kernel's receive buffer of accepted sockets (0: the system's), so that a slow reader
    // holds the sender back instead of the kernel taking the whole body in.
    int receiveBufferSize = 0;
};

class TestServer {
public:
    using Responder = std::function<Reply(const ReceivedRequest&)>;

    explicit TestServer(Responder responder, TestServerOptions options = {});
    ~TestServer();
    TestServer(const TestServer&) = delete;
    TestServer& operator=(const TestServer&) = delete;

    int port() const { return port_; }
    // "http://127.0.0.1:PORT" + pathAndQuery (https when the server speaks TLS).
    std::string url(std::string_view pathAndQuery) const;
    std::vector<ReceivedRequest> requests() const;
    int connectionsAccepted() const { return accepted_.load(); }

private:
    struct Connection;
    void acceptLoop();
    void serve(int fd);
    bool sleepUnlessStopping(std::chrono::milliseconds duration);

    Responder responder_;
    TestServerOptions options_;
    void* tlsContext_ = nullptr; // SSL_CTX
    int listener_ = -1;
    int wakePipe_[2] = {-1, -1};
    int port_ = 0;
    std::atomic<int> accepted_{0};
    std::thread acceptor_;

    mutable std::mutex mutex_;
    std::condition_variable stopped_;
    bool stopping_ = false;
    std::vector<ReceivedRequest> requests_;
    std::vector<int> openSockets_;
    std::vector<std::thread> workers_;
};

// A port on 127.0.0.1 on which nothing listens (bound, then closed at once).
int unusedPort();

} // namespace kestrel::testing
