#include <kestrel/service/server.hpp>

#include "service/reply_descriptions.hpp"
#include "support/diagnostics.hpp"

#include <kestrel/platform/locale.hpp>
#include <kestrel/service/server_helpers.hpp>

#include <utility>

namespace kestrel {

namespace {

std::string preferredLanguageCode() {
    const auto languages = platform::Locale::preferredLanguages();
    return languages.empty() ? std::string() : languages.front();
}

// Calls the completion with the decoded reply, or prints the decoding failure and reports
// notEnrichedImage. Decoders throw DecodingError for bodies of the wrong shape.
template <typename Completion, typename Decode>
void deliverDecoded(const Completion& completion, const std::string& body, Decode decode) {
    std::optional<decltype(decode(body))> value;
    try {
        value = decode(body);
    } catch (const DecodingError&) {
        support::printLine("error trying to convert data to JSON");
        completion(std::nullopt, KestrelError::notEnrichedImage);
        return;
    }
    completion(std::move(value), std::nullopt);
}

// Sends the request, or completes at once with parametersMissing when there is none.
template <typename Completion, typename Handler>
void sendOrReportMissing(platform::HttpSession& session,
                         std::optional<platform::HttpRequest> request,
                         std::string_view missingMessage, const Completion& completion,
                         Handler handler) {
    if (!request) {
        support::printLine(missingMessage);
        completion(std::nullopt, KestrelError::parametersMissing);
        return;
    }
    session.dataTask(std::move(*request), std::move(handler))->resume();
}

} // namespace

void Server::enrichedImage(std::shared_ptr<const platform::Bitmap> image,
                           ImageCompletion completion) {
    if (!completion) {
        completion = [](auto, auto) {};
    }
    auto request =
        urlRequestWithImage(image, ConfigurationKey::sdkEnrichedImageUrl, preferredLanguageCode());
    auto handler = [completion](std::optional<std::string> data,
                                std::optional<platform::HttpResponse> response,
                                std::optional<platform::HttpError> error) {
        if (!data || error) {
            support::printLine("Error: " + service::describe(error));
            completion(std::nullopt, KestrelError::notEnrichedImage);
            return;
        }
        support::printLine("EnrichedImage http status code: " +
                           service::describeStatusCode(response));
        if (response && response->statusCode == 200) {
            deliverDecoded(completion, *data,
                           [](const std::string& body) { return Image::decodeReply(body); });
            return;
        }
        completion(std::nullopt, KestrelError::notEnrichedImage);
    };
    sendOrReportMissing(*session(), std::move(request), "EnrichedImages : missing parameters",
                        completion, std::move(handler));
}

void Server::pictureSearch(std::shared_ptr<const platform::Bitmap> image,
                           PicturesCompletion completion) {
    if (!completion) {
        completion = [](auto, auto) {};
    }
    auto request =
        urlRequestWithImage(image, ConfigurationKey::sdkPicturesSearchUrl, preferredLanguageCode());
    auto handler = [completion](std::optional<std::string> data,
                                std::optional<platform::HttpResponse> response,
                                std::optional<platform::HttpError> error) {
        if (!data || error) {
            support::printLine("Error: " + service::describe(error));
            completion(std::nullopt, KestrelError::notEnrichedImage);
            return;
        }
        if (response && response->statusCode == 200) {
            deliverDecoded(completion, *data,
                           [](const std::string& body) { return Picture::decodeReply(body); });
            return;
        }
        support::printLine("PictureSearch http status code: " +
                           service::describeStatusCode(response));
        completion(std::nullopt, KestrelError::notEnrichedImage);
    };
    sendOrReportMissing(*session(), std::move(request), "PictureSearch : missing parameters",
                        completion, std::move(handler));
}

} // namespace kestrel
