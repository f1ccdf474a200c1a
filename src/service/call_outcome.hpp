// What the service calls share for turning a request into a Call: the failures of a request that
// could not be built or of an exchange without a usable reply, and the task that carries it.
#pragma once

#include "service/call_state.hpp"

#include <kestrel/platform/http_session.hpp>
#include <kestrel/service/call.hpp>
#include <kestrel/service/failure.hpp>
#include <kestrel/service/result.hpp>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace kestrel::service {

// A request that could not be built (KestrelError::parametersMissing).
Failure unbuiltRequest(FailureCause cause);
// An exchange that gave no reply: cancelled, untrusted certificate or another transport failure.
Failure transportFailure(const std::optional<platform::HttpError>& error);
// A reply whose status is not the expected one, with the start of its body and its Retry-After.
Failure statusFailure(const platform::HttpResponse& response, const std::string& body);

// The wait a "Retry-After" value asks for: whole seconds, or an HTTP date; absent when it is
// neither.
std::optional<std::chrono::seconds> retryAfter(const std::optional<std::string>& value);

using ReplyHandler = std::function<void(std::string body, const platform::HttpResponse& response)>;
using FailureHandler = std::function<void(Failure failure)>;

// Sends the request on the session and returns its Call. Exactly one of the two handlers runs,
// once, on the delegate queue (or inside Call::cancel, see there): onReply with a reply of any
// status, or onFailure when there was none — a transport failure, printed as one "Error: " line,
// or the cancellation.
Call send(const std::shared_ptr<platform::HttpSession>& session, platform::HttpRequest request,
          ReplyHandler onReply, FailureHandler onFailure);

} // namespace kestrel::service
