#include "service/reply_descriptions.hpp"

namespace kestrel::service {

std::string describe(const std::optional<platform::HttpError>& error) {
    return error ? error->description() : "none";
}

std::string describe(const std::optional<platform::HttpResponse>& response) {
    return response ? response->description() : "none";
}

std::string describeStatusCode(const std::optional<platform::HttpResponse>& response) {
    return response ? std::to_string(response->statusCode) : "none";
}

} // namespace kestrel::service
