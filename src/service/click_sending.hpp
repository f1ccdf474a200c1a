// Click reports as the server and the click outbox send them.
#pragma once

#include <kestrel/platform/http_request.hpp>
#include <kestrel/platform/http_session.hpp>
#include <kestrel/service/call.hpp>
#include <kestrel/service/result.hpp>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <variant>

namespace kestrel::service {

using ClickDone = std::function<void(Result<std::optional<std::string>>)>;

// The click request (a PUT with "?actionId=" and the "SessionId" and "ApiKey" headers), or why it
// cannot be built: an empty identifier, no API key, a header value with a line break, no address.
std::variant<platform::HttpRequest, FailureCause> clickRequest(const std::string& sessionId,
                                                               const std::string& actionId);

// Sends a built click request; done gets the body of a 204 (absent when not UTF-8) or the failure,
// which is also printed as one "Error: " line. On the delegate queue.
Call sendClickRequest(const std::shared_ptr<platform::HttpSession>& session,
                      platform::HttpRequest request, ClickDone done);

// Builds and sends the click; when it cannot be built, prints "Clicks : missing parameters" and
// calls done at once with the cause.
Call sendClick(const std::shared_ptr<platform::HttpSession>& session, const std::string& sessionId,
               const std::string& actionId, ClickDone done);

} // namespace kestrel::service
