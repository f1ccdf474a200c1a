// The working part of a session: the transfer thread with its libcurl multi handle, the handlers of
// the tasks that have not been answered yet, and the server-trust questions put to the delegate.
#pragma once

#include <kestrel/platform/http_session.hpp>

#include "platform/http/curl_transfer.hpp"
#include "platform/http/trust_store.hpp"

#include <curl/curl.h>

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace kestrel::platform::detail {

class TransferEngine final : public TransferHost,
                             public std::enable_shared_from_this<TransferEngine> {
public:
    using Handler = HttpSession::CompletionHandler;

    // Throws std::invalid_argument for extra certificates that are not PEM.
    TransferEngine(const HttpSessionConfiguration& configuration, HttpSessionDelegate* delegate,
                   std::shared_ptr<DispatchQueue> queue);
    ~TransferEngine();
    TransferEngine(const TransferEngine&) = delete;
    TransferEngine& operator=(const TransferEngine&) = delete;

    // Starts the transfer thread; owner is the session handed to the delegate.
    void start(HttpSession& owner);
    // Stops the thread and answers every handler not answered yet (see ~HttpSession).
    void shutDown();

    std::uint64_t nextTaskIdentifier();
    // Takes over a resumed task. After shutDown the handler is dropped unanswered.
    void submit(std::uint64_t id, std::shared_ptr<const HttpRequest> request, Handler handler);
    // Answers a task that never reached the transfer thread (a suspended task that was cancelled).
    void settle(std::uint64_t id, Handler handler, Outcome outcome);
    // Stops a submitted task that has no outcome yet.
    void cancel(std::uint64_t id);

    TrustVerdict evaluateServerTrust(CurlTransfer& transfer, X509_STORE_CTX* presented) override;
    curl_socket_t connectionSocket(const std::string& connection, int localPort,
                                   const std::vector<curl_socket_t>& opened) override;

protected:
    void forgetSocket(curl_socket_t socket) override;

private:
    struct Pending {
        Handler handler;
        std::optional<Outcome> outcome;
    };
    struct Submission {
        std::uint64_t id;
        std::shared_ptr<const HttpRequest> request;
        Clock::time_point submitted; // the whole-exchange deadline counts from here
    };

    void run();
    void startTransfer(Submission submission);
    // Hands a transfer to libcurl and keeps it among the active ones (replacing one of its id).
    void launch(std::unique_ptr<CurlTransfer> transfer);
    // Starts again the transfers whose trust question the delegate has answered.
    void restartAnswered();
    void finishTransfer(CURL* handle, CURLcode result);
    // Puts a server-trust question to the delegate on its queue.
    void ask(CurlTransfer& transfer, const ServerTrust& trust);
    void enforceIdleTimeouts();
    int pollTimeoutMs() const;
    void complete(std::uint64_t id, Outcome outcome);
    void deliver(std::uint64_t id);

    const std::chrono::duration<double> defaultTimeout_;
    const std::chrono::duration<double> resourceTimeout_;
    const std::size_t maximumBodySize_;
    HttpSessionDelegate* const delegate_;
    const std::shared_ptr<DispatchQueue> queue_;
    TrustStore trustStore_;
    HttpSession* owner_ = nullptr;
    CURLM* multi_ = nullptr;
    std::thread thread_;

    std::mutex mutex_; // guards everything below
    std::uint64_t lastTaskIdentifier_ = 0;
    bool stopping_ = false;
    std::map<std::uint64_t, Pending> pending_;
    std::vector<Submission> incoming_;
    std::vector<std::uint64_t> cancelled_;

    // Touched by the transfer thread only.
    std::map<std::uint64_t, std::unique_ptr<CurlTransfer>> active_;
    std::map<std::string, curl_socket_t> connectionSockets_;
    Clock::time_point lastSendQueueSample_{};
};

} // namespace kestrel::platform::detail
