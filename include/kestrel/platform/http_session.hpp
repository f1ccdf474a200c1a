/// \file
/// HttpSession: sends HTTP(S) requests on a transfer thread of its own and hands every reply to a
/// handler on its serial delegate queue; HttpDataTask, one request of a session; and
/// HttpSessionDelegate, which answers the session's authentication challenges.
#pragma once

#include <kestrel/platform/authentication_challenge.hpp>
#include <kestrel/platform/dispatch_queue.hpp>
#include <kestrel/platform/http_error.hpp>
#include <kestrel/platform/http_request.hpp>
#include <kestrel/platform/http_response.hpp>
#include <kestrel/platform/http_session_configuration.hpp>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace kestrel::platform {

class HttpSession;

/// Answers the authentication challenges of a session.
class HttpSessionDelegate {
public:
    /// Takes the answer to a challenge, and the credential for useCredential.
    using ChallengeCompletion =
        std::function<void(AuthChallengeDisposition, std::optional<UrlCredential>)>;

    virtual ~HttpSessionDelegate() = default;

    /// Answers a challenge of the session. Runs on the session's delegate queue. The completion may
    /// be called from any thread, now or later; only the first call counts, and dropping every copy
    /// of it without a call cancels the challenge, so no task waits for ever. Only the task whose
    /// connection asked waits for the answer, and the wait counts against its time-out; the other
    /// tasks of the session go on. The default answers performDefaultHandling.
    virtual void urlSession(HttpSession& session, const AuthenticationChallenge& challenge,
                            ChallengeCompletion completionHandler);
};

/// One request of a session. Created suspended; nothing is sent until resume().
class HttpDataTask {
public:
    virtual ~HttpDataTask() = default;

    /// Starts the task; returns at once. Later calls, and calls after the session is gone, do
    /// nothing. A task that is never resumed never calls its handler.
    virtual void resume() = 0;
    /// Stops the task: its handler runs once, on the delegate queue, with HttpErrorCode::cancelled,
    /// unless it has already run or is already queued with a result.
    virtual void cancel() = 0;
    /// Unique within the session, increasing in creation order.
    virtual std::uint64_t taskIdentifier() const = 0;
    /// The request the task was created with.
    virtual const HttpRequest& originalRequest() const = 0;
};

/// Sends HTTP(S) requests on a transfer thread of its own and hands every reply to a handler on
/// its serial delegate queue.
class HttpSession {
public:
    /// Called once per resumed task with (body, response, error): body and response when a reply
    /// arrived (the body possibly empty, whatever the status), error alone otherwise. Runs on the
    /// delegate queue, one handler at a time, in completion order. Must not throw.
    using CompletionHandler =
        std::function<void(std::optional<std::string> data, std::optional<HttpResponse> response,
                           std::optional<HttpError> error)>;

    /// A new session with its own transfer thread, built on libcurl. The delegate is not owned: it
    /// must outlive the session (an owner that is its session's delegate destroys the session
    /// first); null means default handling of every challenge. Without a delegate queue the session
    /// makes its own serial one. Throws std::invalid_argument for a time-out that is not positive
    /// and finite, a negative connection limit, or extra trusted certificates that are not PEM.
    static std::shared_ptr<HttpSession> create(
        HttpSessionConfiguration configuration = HttpSessionConfiguration::defaultConfiguration(),
        HttpSessionDelegate* delegate = nullptr,
        std::shared_ptr<DispatchQueue> delegateQueue = nullptr);

    /// Cancels every task still in flight: each handler that has not run yet runs now, once, with
    /// its result or HttpErrorCode::cancelled, on the delegate queue (inline when the session is
    /// destroyed on that queue), before the destructor returns. No handler or delegate call comes
    /// after. Waits for a handler or delegate call that is running on another thread.
    virtual ~HttpSession() = default;

    /// A suspended task for the request; its handler is called as above once it is resumed. A bad
    /// request is not refused here: the task fails with HttpErrorCode::invalidRequest (or
    /// unsupportedUrl) through its handler, and nothing is sent.
    virtual std::shared_ptr<HttpDataTask> dataTask(HttpRequest request,
                                                   CompletionHandler completionHandler) = 0;

    /// The configuration the session was created with.
    virtual const HttpSessionConfiguration& configuration() const = 0;
    /// The delegate given at creation (not owned); null when there is none.
    virtual HttpSessionDelegate* delegate() const = 0;
    /// The serial queue on which handlers and delegate calls run.
    virtual DispatchQueue& delegateQueue() const = 0;

protected:
    HttpSession() = default;
    HttpSession(const HttpSession&) = delete;
    HttpSession& operator=(const HttpSession&) = delete;
};

} // namespace kestrel::platform
