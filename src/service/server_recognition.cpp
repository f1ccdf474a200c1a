#include <kestrel/service/server.hpp>

#include "service/call_outcome.hpp"
#include "service/recognition_request.hpp"
#include "support/diagnostics.hpp"

#include <kestrel/platform/locale.hpp>

#include <utility>
#include <variant>

namespace kestrel {

namespace {

std::string preferredLanguageCode() {
    const auto languages = platform::Locale::preferredLanguages();
    return languages.empty() ? std::string() : languages.front();
}

template <typename T>
using Done = std::function<void(Result<T>)>;

// Decodes a 200 reply, or prints the decoding failure and reports undecodableReply. Decoders
// throw DecodingError for bodies of the wrong shape.
template <typename T>
Result<T> decoded(const std::string& body, T (*decode)(std::string_view)) {
    try {
        return decode(body);
    } catch (const DecodingError& error) {
        support::printLine("error trying to convert data to JSON");
        Failure failure;
        failure.cause = FailureCause::undecodableReply;
        failure.httpStatus = 200;
        failure.detail = error.what();
        return failure;
    }
}

// What the two recognition calls share: the request is built on the caller's thread (or the call
// completes there with parametersMissing), a transport failure is notEnrichedImage, and any
// reply goes to interpret(body, response) on the delegate queue. Completions get a Result; the
// classic ones are adapted by the callers.
template <typename T>
Call recognise(const std::shared_ptr<platform::HttpSession>& session,
               const service::PhotoSource& photo, ConfigurationKey urlKey,
               std::string_view missingMessage, Done<T> done,
               Result<T> (*interpret)(const std::string&, const platform::HttpResponse&)) {
    auto built = service::recognitionRequest(photo, urlKey, preferredLanguageCode());
    if (const auto* cause = std::get_if<FailureCause>(&built)) {
        support::printLine(missingMessage);
        done(service::unbuiltRequest(*cause));
        return Call();
    }
    return service::send(
        session, std::move(std::get<platform::HttpRequest>(built)),
        [done, interpret](std::string body, const platform::HttpResponse& response) {
            done(interpret(body, response));
        },
        [done](Failure failure) { done(std::move(failure)); });
}

// The classic completion of a Result: the value, or the failure's KestrelError.
template <typename T>
Done<T> classic(std::function<void(std::optional<T>, std::optional<KestrelError>)> completion) {
    return [completion = std::move(completion)](Result<T> result) {
        if (!completion) return;
        if (result) {
            completion(std::move(result).value(), std::nullopt);
        } else {
            completion(std::nullopt, result.failure().error);
        }
    };
}

Result<Image> imageReply(const std::string& body, const platform::HttpResponse& response) {
    // The status line comes before the status test, for every reply.
    support::printLine("EnrichedImage http status code: " + std::to_string(response.statusCode));
    if (response.statusCode != 200) return service::statusFailure(response, body);
    return decoded(body, &Image::decodeReply);
}

Result<std::vector<Picture>> picturesReply(const std::string& body,
                                           const platform::HttpResponse& response) {
    // The status line is printed only for a status other than 200.
    if (response.statusCode == 200) return decoded(body, &Picture::decodeReply);
    support::printLine("PictureSearch http status code: " + std::to_string(response.statusCode));
    return service::statusFailure(response, body);
}

// A page without a session cannot be clicked on: nothing was recognised.
Done<Image> pageWithSession(Server::ImageResultCompletion completion) {
    return [completion = std::move(completion)](Result<Image> result) {
        if (!completion) return;
        if (result && (!result.value().sessionId || result.value().sessionId->empty())) {
            Failure failure;
            failure.cause = FailureCause::emptyReply;
            failure.httpStatus = 200;
            completion(std::move(failure));
            return;
        }
        completion(std::move(result));
    };
}

Done<std::vector<Picture>> anyPictures(Server::PicturesResultCompletion completion) {
    if (!completion) completion = [](Result<std::vector<Picture>>) {};
    return completion;
}

constexpr std::string_view enrichedImageMissing = "EnrichedImages : missing parameters";
constexpr std::string_view pictureSearchMissing = "PictureSearch : missing parameters";

} // namespace

Call Server::enrichedImage(std::shared_ptr<const platform::Bitmap> image,
                           ImageCompletion completion) {
    return recognise<Image>(session(), image, ConfigurationKey::sdkEnrichedImageUrl,
                            enrichedImageMissing, classic<Image>(std::move(completion)),
                            &imageReply);
}

Call Server::enrichedImage(std::shared_ptr<const platform::Bitmap> image,
                           ImageResultCompletion completion) {
    return recognise<Image>(session(), image, ConfigurationKey::sdkEnrichedImageUrl,
                            enrichedImageMissing, pageWithSession(std::move(completion)),
                            &imageReply);
}

Call Server::enrichedImage(const std::filesystem::path& photoFile,
                           ImageResultCompletion completion) {
    return recognise<Image>(session(), photoFile, ConfigurationKey::sdkEnrichedImageUrl,
                            enrichedImageMissing, pageWithSession(std::move(completion)),
                            &imageReply);
}

Call Server::enrichedImage(std::span<const std::uint8_t> encodedPhoto,
                           ImageResultCompletion completion) {
    return recognise<Image>(session(), encodedPhoto, ConfigurationKey::sdkEnrichedImageUrl,
                            enrichedImageMissing, pageWithSession(std::move(completion)),
                            &imageReply);
}

Call Server::pictureSearch(std::shared_ptr<const platform::Bitmap> image,
                           PicturesCompletion completion) {
    return recognise<std::vector<Picture>>(
        session(), image, ConfigurationKey::sdkPicturesSearchUrl, pictureSearchMissing,
        classic<std::vector<Picture>>(std::move(completion)), &picturesReply);
}

Call Server::pictureSearch(std::shared_ptr<const platform::Bitmap> image,
                           PicturesResultCompletion completion) {
    return recognise<std::vector<Picture>>(session(), image, ConfigurationKey::sdkPicturesSearchUrl,
                                           pictureSearchMissing, anyPictures(std::move(completion)),
                                           &picturesReply);
}

Call Server::pictureSearch(const std::filesystem::path& photoFile,
                           PicturesResultCompletion completion) {
    return recognise<std::vector<Picture>>(
        session(), photoFile, ConfigurationKey::sdkPicturesSearchUrl, pictureSearchMissing,
        anyPictures(std::move(completion)), &picturesReply);
}

Call Server::pictureSearch(std::span<const std::uint8_t> encodedPhoto,
                           PicturesResultCompletion completion) {
    return recognise<std::vector<Picture>>(
        session(), encodedPhoto, ConfigurationKey::sdkPicturesSearchUrl, pictureSearchMissing,
        anyPictures(std::move(completion)), &picturesReply);
}

} // namespace kestrel
