// The built-in HttpSession and HttpDataTask, on libcurl.
#pragma once

#include <kestrel/platform/http_session.hpp>

#include "platform/http/transfer_engine.hpp"

#include <memory>
#include <mutex>

namespace kestrel::platform::detail {

class CurlHttpSession final : public HttpSession {
public:
    CurlHttpSession(HttpSessionConfiguration configuration, HttpSessionDelegate* delegate,
                    std::shared_ptr<DispatchQueue> delegateQueue);
    ~CurlHttpSession() override;

    std::shared_ptr<HttpDataTask> dataTask(HttpRequest request,
                                           CompletionHandler completionHandler) override;
    const HttpSessionConfiguration& configuration() const override { return configuration_; }
    HttpSessionDelegate* delegate() const override { return delegate_; }
    DispatchQueue& delegateQueue() const override { return *queue_; }

private:
    const HttpSessionConfiguration configuration_;
    HttpSessionDelegate* const delegate_;
    const std::shared_ptr<DispatchQueue> queue_;
    const std::shared_ptr<TransferEngine> engine_;
};

class CurlDataTask final : public HttpDataTask {
public:
    CurlDataTask(std::weak_ptr<TransferEngine> engine, std::uint64_t id, HttpRequest request,
                 HttpSession::CompletionHandler handler);

    void resume() override;
    void cancel() override;
    std::uint64_t taskIdentifier() const override { return id_; }
    const HttpRequest& originalRequest() const override { return *request_; }

private:
    enum class State { suspended, running, cancelled };

    const std::weak_ptr<TransferEngine> engine_;
    const std::uint64_t id_;
    const std::shared_ptr<const HttpRequest> request_;
    std::mutex mutex_;
    State state_ = State::suspended;
    HttpSession::CompletionHandler handler_;
};

} // namespace kestrel::platform::detail
