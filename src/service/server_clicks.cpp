#include <kestrel/service/server.hpp>

#include "service/call_outcome.hpp"
#include "service/click_sending.hpp"
#include "service/header_values.hpp"
#include "service/reply_descriptions.hpp"
#include "support/diagnostics.hpp"
#include "support/utf8.hpp"

#include <kestrel/config/kestrel_manager.hpp>
#include <kestrel/config/sdk_configuration.hpp>
#include <kestrel/service/click_outbox.hpp>

#include <utility>
#include <variant>

namespace kestrel {

namespace service {

std::variant<platform::HttpRequest, FailureCause> clickRequest(const std::string& sessionId,
                                                               const std::string& actionId) {
    if (sessionId.empty() || actionId.empty()) return FailureCause::missingIdentifier;
    const std::string address =
        SdkConfiguration::shared().urlValueForKey(ConfigurationKey::sdkClicksUrl);
    const std::optional<std::string> apiKey = KestrelManager::shared().getApiKey();
    if (!apiKey) return FailureCause::missingApiKey;
    if (!service::isSafeHeaderValue(sessionId) || !service::isSafeHeaderValue(*apiKey)) {
        return FailureCause::unsafeHeaderValue;
    }
    if (address.empty()) return FailureCause::missingAddress;
    platform::HttpRequest request(address + "?actionId=" + service::percentEncoded(actionId));
    request.httpMethod = "PUT";
    request.addValue(sessionId, "SessionId");
    request.addValue(*apiKey, "ApiKey");
    return request;
}

Call sendClickRequest(const std::shared_ptr<platform::HttpSession>& session,
                      platform::HttpRequest request, ClickDone done) {
    auto onReply = [done](std::string body, const platform::HttpResponse& response) {
        if (response.statusCode != 204) {
            support::printLine("Error: " + service::describe(response));
            done(service::statusFailure(response, body));
        } else if (support::isValidUtf8(body)) {
            done(std::optional<std::string>(std::move(body)));
        } else {
            done(std::optional<std::string>());
        }
    };
    return service::send(session, std::move(request), std::move(onReply),
                         [done](Failure failure) { done(std::move(failure)); });
}

Call sendClick(const std::shared_ptr<platform::HttpSession>& session, const std::string& sessionId,
               const std::string& actionId, ClickDone done) {
    auto built = clickRequest(sessionId, actionId);
    if (const auto* cause = std::get_if<FailureCause>(&built)) {
        support::printLine("Clicks : missing parameters");
        done(service::unbuiltRequest(*cause));
        return Call();
    }
    return sendClickRequest(session, std::move(std::get<platform::HttpRequest>(built)),
                            std::move(done));
}

} // namespace service

Call Server::clicksWithSessionId(const std::string& sessionId, const std::string& actionId,
                                 ClickCompletion completion) {
    // The classic completion hears of success only.
    return clicksWithSessionId(sessionId, actionId,
                               ClickResultCompletion([completion = std::move(completion)](
                                                         Result<std::optional<std::string>> r) {
                                   if (completion && r)
                                       completion(std::move(r).value(), std::nullopt);
                               }));
}

Call Server::clicksWithSessionId(const std::string& sessionId, const std::string& actionId,
                                 ClickResultCompletion completion) {
    if (!completion) completion = [](Result<std::optional<std::string>>) {};
    if (const auto outbox = clickOutbox()) {
        return outbox->report(sessionId, actionId, std::move(completion));
    }
    return service::sendClick(session(), sessionId, actionId, std::move(completion));
}

} // namespace kestrel
