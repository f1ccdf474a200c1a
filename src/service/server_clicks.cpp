#include <kestrel/service/server.hpp>

#include "service/header_values.hpp"
#include "service/reply_descriptions.hpp"
#include "support/diagnostics.hpp"
#include "support/utf8.hpp"

#include <kestrel/config/kestrel_manager.hpp>
#include <kestrel/config/sdk_configuration.hpp>

#include <utility>

namespace kestrel {

namespace {

constexpr std::string_view missingParameters = "Clicks : missing parameters";

// The click request, or absent when it cannot be built: an identifier is empty, no API key is
// stored, a header value would hold a line break, or no clicks address is configured.
std::optional<platform::HttpRequest> clickRequest(const std::string& sessionId,
                                                  const std::string& actionId) {
    if (sessionId.empty() || actionId.empty()) {
        return std::nullopt;
    }
    const std::string address =
        SdkConfiguration::shared().urlValueForKey(ConfigurationKey::sdkClicksUrl);
    const std::optional<std::string> apiKey = KestrelManager::shared().getApiKey();
    if (address.empty() || !apiKey || !service::isSafeHeaderValue(sessionId) ||
        !service::isSafeHeaderValue(*apiKey)) {
        return std::nullopt;
    }
    platform::HttpRequest request(address + "?actionId=" + service::percentEncoded(actionId));
    request.httpMethod = "PUT";
    request.addValue(sessionId, "SessionId");
    request.addValue(*apiKey, "ApiKey");
    return request;
}

} // namespace

void Server::clicksWithSessionId(const std::string& sessionId, const std::string& actionId,
                                 ClickCompletion completion) {
    std::optional<platform::HttpRequest> request = clickRequest(sessionId, actionId);
    if (!request) {
        support::printLine(missingParameters);
        return;
    }
    auto handler = [completion =
                        std::move(completion)](std::optional<std::string> data,
                                               std::optional<platform::HttpResponse> response,
                                               std::optional<platform::HttpError> error) {
        if (!data || error) {
            support::printLine("Error: " + service::describe(error));
            return;
        }
        if (response && response->statusCode != 204) {
            support::printLine("Error: " + service::describe(response));
            return;
        }
        if (!completion) {
            return;
        }
        if (support::isValidUtf8(*data)) {
            completion(std::move(*data), std::nullopt);
        } else {
            completion(std::nullopt, std::nullopt);
        }
    };
    session()->dataTask(std::move(*request), std::move(handler))->resume();
}

} // namespace kestrel
