#include "service/call_outcome.hpp"
#include "service/reply_descriptions.hpp"
#include "support/diagnostics.hpp"

#include <algorithm>
#include <ctime>
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

Failure statusFailure(const platform::HttpResponse& response, const std::string& body) {
    Failure failure;
    failure.cause = FailureCause::httpStatus;
    failure.httpStatus = response.statusCode;
    failure.body = body.substr(0, std::min(body.size(), Failure::maximumBodyExcerpt));
    failure.retryAfter = retryAfter(response.value("Retry-After"));
    return failure;
}

std::optional<std::chrono::seconds> retryAfter(const std::optional<std::string>& value) {
    if (!value) return std::nullopt;
    const std::string& text = *value;
    if (!text.empty() && text.size() <= 9 &&
        text.find_first_not_of("0123456789") == std::string::npos) {
        return std::chrono::seconds(std::stoll(text));
    }
    // An HTTP date: the wait is from now until then (none when it has passed).
    std::tm when{};
    const char* end = ::strptime(text.c_str(), "%a, %d %b %Y %H:%M:%S GMT", &when);
    if (end == nullptr || *end != '\0') return std::nullopt;
    const auto at = std::chrono::system_clock::from_time_t(::timegm(&when));
    const auto wait =
        std::chrono::duration_cast<std::chrono::seconds>(at - std::chrono::system_clock::now());
    return std::max(wait, std::chrono::seconds(0));
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
