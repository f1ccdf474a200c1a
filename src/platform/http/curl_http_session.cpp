#include "platform/http/curl_http_session.hpp"

#include <cmath>
#include <stdexcept>
#include <utility>

namespace kestrel::platform {

void HttpSessionDelegate::urlSession(HttpSession&, const AuthenticationChallenge&,
                                     ChallengeCompletion completionHandler) {
    if (completionHandler)
        completionHandler(AuthChallengeDisposition::performDefaultHandling, std::nullopt);
}

std::shared_ptr<HttpSession> HttpSession::create(HttpSessionConfiguration configuration,
                                                 HttpSessionDelegate* delegate,
                                                 std::shared_ptr<DispatchQueue> delegateQueue) {
    const double whole = configuration.timeoutIntervalForResource.count();
    if (!(whole >= 0.0) || whole > 3.2e7)
        throw std::invalid_argument("HttpSessionConfiguration: timeoutIntervalForResource must be "
                                    "0 or positive and finite");
    const double timeout = configuration.timeoutIntervalForRequest.count();
    if (!(timeout > 0.0) || std::isinf(timeout))
        throw std::invalid_argument(
            "HttpSessionConfiguration: timeoutIntervalForRequest must be positive and finite");
    if (configuration.httpMaximumConnectionsPerHost < 0)
        throw std::invalid_argument(
            "HttpSessionConfiguration: httpMaximumConnectionsPerHost must not be negative");
    return std::make_shared<detail::CurlHttpSession>(std::move(configuration), delegate,
                                                     std::move(delegateQueue));
}

namespace detail {

CurlHttpSession::CurlHttpSession(HttpSessionConfiguration configuration,
                                 HttpSessionDelegate* delegate,
                                 std::shared_ptr<DispatchQueue> delegateQueue)
    : configuration_(std::move(configuration)), delegate_(delegate),
      queue_(delegateQueue ? std::move(delegateQueue)
                           : DispatchQueue::create("kestrel.http-session.delegate")),
      engine_(std::make_shared<TransferEngine>(configuration_, delegate_, queue_)) {
    engine_->start(*this);
}

CurlHttpSession::~CurlHttpSession() { engine_->shutDown(); }

std::shared_ptr<HttpDataTask> CurlHttpSession::dataTask(HttpRequest request,
                                                        CompletionHandler completionHandler) {
    return std::make_shared<CurlDataTask>(engine_, engine_->nextTaskIdentifier(),
                                          std::move(request), std::move(completionHandler));
}

CurlDataTask::CurlDataTask(std::weak_ptr<TransferEngine> engine, std::uint64_t id,
                           HttpRequest request, HttpSession::CompletionHandler handler)
    : engine_(std::move(engine)), id_(id),
      request_(std::make_shared<const HttpRequest>(std::move(request))),
      handler_(std::move(handler)) {}

void CurlDataTask::resume() {
    std::lock_guard lock(mutex_);
    if (state_ != State::suspended) return;
    state_ = State::running;
    if (auto engine = engine_.lock()) engine->submit(id_, request_, std::move(handler_));
    handler_ = nullptr;
}

void CurlDataTask::cancel() {
    std::lock_guard lock(mutex_);
    const auto engine = engine_.lock();
    if (state_ == State::running) {
        if (engine) engine->cancel(id_);
        return;
    }
    if (state_ != State::suspended) return;
    state_ = State::cancelled;
    if (engine)
        engine->settle(id_, std::move(handler_),
                       Outcome::failure(HttpErrorCode::cancelled, "the task was cancelled"));
    handler_ = nullptr;
}

} // namespace detail
} // namespace kestrel::platform
