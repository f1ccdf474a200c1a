#include "service/call_outcome.hpp"
#include "service/reply_descriptions.hpp"
#include "support/diagnostics.hpp"

#include <algorithm>
#include <utility>

namespace kestrel::service {

Failure unbuiltRequest(FailureCause cause) {
    Failure failure;
    failure.error = KestrelError::parametersMissing;
    failure.cause = cause;
    return failure;
}

Failure transportFailure(const std::optional<platform::HttpError>& error) {
    Failure failure;
    failure.transportError = error;
    if (error && error->code == platform::HttpErrorCode::cancelled) {
        failure.cause = FailureCause::cancelled;
    } else if (error && error->code == platform::HttpErrorCode::serverCertificateUntrusted) {
        failure.cause = FailureCause::untrustedCertificate;
    }
    return failure;
}

Failure statusFailure(int status, const std::string& body) {
    Failure failure;
    failure.cause = FailureCause::httpStatus;
    failure.httpStatus = status;
    failure.body = body.substr(0, std::min(body.size(), Failure::maximumBodyExcerpt));
    return failure;
}

Call send(const std::shared_ptr<platform::HttpSession>& session, platform::HttpRequest request,
          ReplyHandler onReply, FailureHandler onFailure) {
    auto onCancel = [onFailure] {
        onFailure(transportFailure(
            platform::HttpError{platform::HttpErrorCode::cancelled, "the call was cancelled"}));
    };
    auto state = std::make_shared<CallState>(session, std::move(onCancel));
    auto handler = [state, onReply = std::move(onReply), onFailure = std::move(onFailure)](
                       std::optional<std::string> data,
                       std::optional<platform::HttpResponse> response,
                       std::optional<platform::HttpError> error) {
        if (!state->finish()) return;
        if (!data || !response || error) {
            support::printLine("Error: " + describe(error));
            onFailure(transportFailure(error));
            return;
        }
        onReply(std::move(*data), *response);
    };
    auto task = session->dataTask(std::move(request), std::move(handler));
    state->bind(task);
    task->resume();
    return Call(std::move(state));
}

} // namespace kestrel::service
