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

template <typename T>
using Completion = std::function<void(std::optional<T>, std::optional<KestrelError>)>;

// Calls the completion with the decoded reply, or prints the decoding failure and reports
// notEnrichedImage. Decoders throw DecodingError for bodies of the wrong shape.
template <typename T>
void deliverDecoded(const Completion<T>& completion, const std::string& body,
                    T (*decode)(std::string_view)) {
    std::optional<T> value;
    try {
        value = decode(body);
    } catch (const DecodingError&) {
        support::printLine("error trying to convert data to JSON");
        completion(std::nullopt, KestrelError::notEnrichedImage);
        return;
    }
    completion(std::move(value), std::nullopt);
}

// What the two recognition calls share: the request is built on the caller's thread (or the call
// completes there with parametersMissing), a transport failure or a reply without a body is
// notEnrichedImage, and any other reply goes to onReply(body, response, completion) on the
// delegate queue.
template <typename T, typename OnReply>
void recognise(platform::HttpSession& session, const std::shared_ptr<const platform::Bitmap>& image,
               ConfigurationKey urlKey, std::string_view missingMessage, Completion<T> completion,
               OnReply onReply) {
    if (!completion) {
        completion = [](auto, auto) {};
    }
    auto request = urlRequestWithImage(image, urlKey, preferredLanguageCode());
    if (!request) {
        support::printLine(missingMessage);
        completion(std::nullopt, KestrelError::parametersMissing);
        return;
    }
    auto handler = [completion, onReply](std::optional<std::string> data,
                                         std::optional<platform::HttpResponse> response,
                                         std::optional<platform::HttpError> error) {
        if (!data || error) {
            support::printLine("Error: " + service::describe(error));
            completion(std::nullopt, KestrelError::notEnrichedImage);
            return;
        }
        onReply(*data, response, completion);
    };
    session.dataTask(std::move(*request), std::move(handler))->resume();
}

} // namespace

void Server::enrichedImage(std::shared_ptr<const platform::Bitmap> image,
                           ImageCompletion completion) {
    // The status line comes before the status test, for every reply with a body.
    recognise<Image>(*session(), image, ConfigurationKey::sdkEnrichedImageUrl,
                     "EnrichedImages : missing parameters", std::move(completion),
                     [](const std::string& body,
                        const std::optional<platform::HttpResponse>& response,
                        const Completion<Image>& done) {
                         support::printLine("EnrichedImage http status code: " +
                                            service::describeStatusCode(response));
                         if (response && response->statusCode == 200) {
                             deliverDecoded(done, body, &Image::decodeReply);
                             return;
                         }
                         done(std::nullopt, KestrelError::notEnrichedImage);
                     });
}

void Server::pictureSearch(std::shared_ptr<const platform::Bitmap> image,
                           PicturesCompletion completion) {
    // The status line is printed only for a status other than 200.
    recognise<std::vector<Picture>>(*session(), image, ConfigurationKey::sdkPicturesSearchUrl,
                                    "PictureSearch : missing parameters", std::move(completion),
                                    [](const std::string& body,
                                       const std::optional<platform::HttpResponse>& response,
                                       const Completion<std::vector<Picture>>& done) {
                                        if (response && response->statusCode == 200) {
                                            deliverDecoded(done, body, &Picture::decodeReply);
                                            return;
                                        }
                                        support::printLine("PictureSearch http status code: " +
                                                           service::describeStatusCode(response));
                                        done(std::nullopt, KestrelError::notEnrichedImage);
                                    });
}

} // namespace kestrel
