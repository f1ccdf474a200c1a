// One exchange on the transfer thread: a libcurl easy handle set up from an HttpRequest, the reply
// collected as it arrives, and the outcome handed to the data task's handler.
#pragma once

#include <kestrel/platform/http_error.hpp>
#include <kestrel/platform/http_request.hpp>
#include <kestrel/platform/http_response.hpp>

#include <curl/curl.h>
#include <openssl/x509.h>

#include "platform/http/trust_question.hpp"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace kestrel::platform::detail {

using Clock = std::chrono::steady_clock;

// What a data task's handler receives.
struct Outcome {
    std::optional<std::string> body;
    std::optional<HttpResponse> response;
    std::optional<HttpError> error;

    static Outcome failure(HttpErrorCode code, std::string message) {
        return Outcome{std::nullopt, std::nullopt, HttpError{code, std::move(message)}};
    }
};

// Why a transfer was stopped from our side, to report the right error for it.
// awaitingTrust: the handshake was given up to ask the delegate; the transfer is started again
// once it has answered. Any other reason replaces it.
enum class StopReason {
    none,
    timedOut,
    bodyTooLarge,
    trustRejected,
    trustCancelled,
    notResent,
    awaitingTrust
};

class CurlTransfer;

// What the session makes of a server's certificate chain.
enum class TrustVerdict { proceed, refuse, awaitAnswer };

// What a transfer needs of the engine that runs it; called on the transfer thread.
class TransferHost {
public:
    // Called from inside the TLS handshake of a new connection.
    virtual TrustVerdict evaluateServerTrust(CurlTransfer& transfer, X509_STORE_CTX* presented) = 0;
    // The socket of the connection a transfer runs on, found by its addresses: one the transfer
    // opened itself, or one an earlier transfer opened and left for reuse. CURL_SOCKET_BAD when
    // unknown.
    virtual curl_socket_t connectionSocket(const std::string& connection, int localPort,
                                           const std::vector<curl_socket_t>& opened) = 0;
    // libcurl's close-socket callback; clientp is the TransferHost.
    static int closeSocket(void* clientp, curl_socket_t socket);

protected:
    virtual void forgetSocket(curl_socket_t socket) = 0;

protected:
    ~TransferHost() = default;
};

struct TransferLimits {
    Clock::duration timeout;
    std::size_t maximumBodySize;
};

class CurlTransfer {
public:
    // Checks the request and prepares the easy handle. Returns an outcome instead when the request
    // cannot be sent (bad address, method, header or time-out).
    static std::variant<std::unique_ptr<CurlTransfer>, Outcome>
    make(std::uint64_t id, std::shared_ptr<const HttpRequest> request,
         std::chrono::duration<double> defaultTimeout, std::size_t maximumBodySize,
         TransferHost& engine);

    ~CurlTransfer();
    CurlTransfer(const CurlTransfer&) = delete;
    CurlTransfer& operator=(const CurlTransfer&) = delete;

    std::uint64_t id() const { return id_; }
    CURL* handle() const { return easy_; }
    const std::shared_ptr<const HttpRequest>& request() const { return request_; }
    const std::string& host() const { return host_; }
    int port() const { return port_; }
    Clock::duration timeout() const { return limits_.timeout; }

    // The time after which a connected exchange without progress has timed out; absent while
    // still connecting (libcurl's connect time-out covers that part).
    std::optional<Clock::time_point> idleDeadline() const;
    // Counts bytes leaving the socket's send queue as progress: the peer is taking the body in,
    // even when every byte has long been handed to the kernel.
    void sampleSendQueue();
    // The last server-trust question put to the delegate for this transfer, if any.
    const std::shared_ptr<TrustQuestion>& trustQuestion() const { return trustQuestion_; }
    void setTrustQuestion(std::shared_ptr<TrustQuestion> question) {
        trustQuestion_ = std::move(question);
    }
    // The time by which the whole exchange must be over, and how long that was.
    void setDeadline(Clock::time_point deadline, Clock::duration whole) {
        deadline_ = deadline;
        wholeTime_ = whole;
    }
    Clock::time_point deadline() const { return deadline_; }
    Clock::duration wholeTime() const { return wholeTime_; }
    // Makes the closing of this transfer's connection abortive: a cancelled upload must not go on
    // draining from the kernel's send queue after libcurl has let go of it.
    void abortConnectionOnClose();
    void stop(StopReason reason, std::string message = {});
    StopReason stopReason() const { return stopReason_; }

    // The outcome once libcurl reports the transfer done with the given result.
    Outcome finish(CURLcode result);

private:
    CurlTransfer(std::uint64_t id, std::shared_ptr<const HttpRequest> request,
                 TransferLimits limits, TransferHost& engine);
    std::optional<Outcome> configure(std::chrono::duration<double> defaultTimeout);
    void progressed() { lastProgress_ = Clock::now(); }

    static std::size_t onBody(char* data, std::size_t size, std::size_t count, void* self);
    static std::size_t onHeader(char* data, std::size_t size, std::size_t count, void* self);
    static int onProgress(void* self, curl_off_t dlTotal, curl_off_t dlNow, curl_off_t ulTotal,
                          curl_off_t ulNow);
    static int onSocketOpened(void* self, curl_socket_t socket, curlsocktype purpose);
    static int onConnected(void* self, char* primaryIp, char* localIp, int primaryPort,
                           int localPort);
    static CURLcode onSslContext(CURL* curl, void* sslContext, void* self);
    static int onCertificateChain(X509_STORE_CTX* context, void* self);

    std::uint64_t id_;
    std::shared_ptr<const HttpRequest> request_;
    TransferLimits limits_;
    TransferHost& engine_;
    CURL* easy_ = nullptr;
    curl_slist* headerList_ = nullptr;
    std::string host_;
    int port_ = 0;

    bool connected_ = false;
    Clock::time_point lastProgress_ = Clock::now();
    Clock::time_point deadline_ = Clock::time_point::max();
    Clock::duration wholeTime_{};
    curl_off_t downloaded_ = 0;
    curl_off_t uploaded_ = 0;
    int sendQueue_ = 0;
    std::vector<curl_socket_t> openedSockets_;
    curl_socket_t socket_ = CURL_SOCKET_BAD;
    StopReason stopReason_ = StopReason::none;
    std::string stopMessage_;
    std::shared_ptr<TrustQuestion> trustQuestion_;

    std::string body_;
    std::vector<HttpHeader> headers_;
    char errorBuffer_[CURL_ERROR_SIZE] = {};
};

} // namespace kestrel::platform::detail
