/// \file
/// Server: the library's client of the recognition service. It owns the HTTP session every request
/// travels through, answers that session's server-trust challenges, and offers the three service
/// calls: recognising a photo, searching pictures, and reporting a click.
#pragma once

#include <kestrel/model/image.hpp>
#include <kestrel/model/picture.hpp>
#include <kestrel/platform/bitmap.hpp>
#include <kestrel/platform/http_session.hpp>
#include <kestrel/service/call.hpp>
#include <kestrel/service/kestrel_error.hpp>
#include <kestrel/service/result.hpp>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace kestrel {

class ClickOutbox;

/// The library's client of the recognition service: it owns the HTTP session every request
/// travels through, answers that session's server-trust challenges, and offers the three service
/// calls.
class Server final : public platform::HttpSessionDelegate {
public:
    /// Gets the recognised page, or no page and the error.
    using ImageCompletion =
        std::function<void(std::optional<Image> image, std::optional<KestrelError> error)>;
    /// Gets the pictures found, or no pictures and the error.
    using PicturesCompletion = std::function<void(std::optional<std::vector<Picture>> pictures,
                                                  std::optional<KestrelError> error)>;
    /// Gets the reply body of an accepted click as text (absent when it is not UTF-8) and no error.
    using ClickCompletion =
        std::function<void(std::optional<std::string> body, std::optional<KestrelError> error)>;
    /// The completion of the enrichedImage overload that says why a call failed (see Failure).
    using ImageResultCompletion = std::function<void(Result<Image> result)>;
    /// The completion of the pictureSearch overload that says why a call failed (see Failure).
    using PicturesResultCompletion = std::function<void(Result<std::vector<Picture>> result)>;
    /// The completion of the clicksWithSessionId overload that says why a call failed (see
    /// Failure); a click's value is the reply body as text (absent when it is not UTF-8).
    using ClickResultCompletion = std::function<void(Result<std::optional<std::string>> result)>;

    /// The one instance the library uses, made on first use (from any thread) and never destroyed.
    /// Its session has the default configuration: 60 s time-out, the system trust store.
    static Server& shared();

    /// A server with a session of its own made with the given configuration (for instance one that
    /// trusts the certificate authority of a development service), with this server as delegate.
    explicit Server(platform::HttpSessionConfiguration configuration =
                        platform::HttpSessionConfiguration::defaultConfiguration());
    /// Destroys the session, which cancels what is still in flight (see HttpSession).
    ~Server() override;
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    /// The session requests are sent on. Any thread.
    std::shared_ptr<platform::HttpSession> session() const;
    /// Replaces the session; later calls use the new one. Requests already sent finish on the old
    /// one, which is destroyed (cancelling what is in flight) once no one else holds it. A session
    /// whose delegate is this server must not outlive it. Null is refused with
    /// std::invalid_argument. Any thread.
    void setSession(std::shared_ptr<platform::HttpSession> session);

    /// Sends the photo for recognition: scaled to the configured send width, grey when the
    /// black-and-white setting is on, JPEG at the stored quality, with the API key and the device
    /// descriptors, to the enriched-image address. The photo is prepared on the caller's thread.
    /// Completion is called exactly once with either the recognised page or an error:
    /// parametersMissing synchronously, on the caller's thread, when the request cannot be built
    /// (no photo, no preferred language, no API key, a photo that cannot be encoded, a bad
    /// address); otherwise later, on the session's delegate queue: the Image on status 200 with a
    /// body that decodes, notEnrichedImage for anything else (transport error, other status, bad
    /// body, Call::cancel). The returned handle cancels the call; it may be ignored.
    Call enrichedImage(std::shared_ptr<const platform::Bitmap> image, ImageCompletion completion);
    /// The same call, whose completion gets the page or a Failure that says why there is none:
    /// on the caller's thread when the request cannot be built, on the delegate queue otherwise.
    /// A 200 whose page has no session identifier is a failure here (emptyReply).
    ///
    ///     auto call = server.enrichedImage(photo, [](kestrel::Result<kestrel::Image> page) {
    ///         if (!page) log(page.failure().description());
    ///     });
    ///     call.cancel(); // the user left the screen
    Call enrichedImage(std::shared_ptr<const platform::Bitmap> image,
                       ImageResultCompletion completion);
    /// The same call for a photo as hosts usually hold it: a JPEG or PNG file. It is read and
    /// decoded small on the caller's thread (a JPEG at the DCT reduction just above 1.5 times the
    /// size sent, luminance only when the photo goes out grey, EXIF orientation applied to the
    /// small image), then scaled as above: for a 12-megapixel JPEG about 60 % of the time (40 %
    /// when it is stored turned) and a quarter of the memory of Bitmap::fromFile followed by the
    /// call above. A path that is not a readable JPEG or PNG completes on the caller's thread with
    /// unreadablePhoto.
    Call enrichedImage(const std::filesystem::path& photoFile, ImageResultCompletion completion);
    /// The same for JPEG or PNG bytes in memory, read only during the call.
    Call enrichedImage(std::span<const std::uint8_t> encodedPhoto,
                       ImageResultCompletion completion);

    /// Like enrichedImage, to the picture-search address, with the user's language in the
    /// "Language" header; delivers the pictures of a 200 reply that holds a JSON array (possibly
    /// empty) of picture objects.
    Call pictureSearch(std::shared_ptr<const platform::Bitmap> image,
                       PicturesCompletion completion);
    /// The same call, whose completion gets the pictures or a Failure that says why there are
    /// none: on the caller's thread when the request cannot be built, on the delegate queue
    /// otherwise.
    Call pictureSearch(std::shared_ptr<const platform::Bitmap> image,
                       PicturesResultCompletion completion);
    /// pictureSearch for a JPEG or PNG file, decoded small and scaled as enrichedImage does it.
    Call pictureSearch(const std::filesystem::path& photoFile, PicturesResultCompletion completion);
    /// pictureSearch for JPEG or PNG bytes in memory, read only during the call.
    Call pictureSearch(std::span<const std::uint8_t> encodedPhoto,
                       PicturesResultCompletion completion);

    /// The outbox click reports go through (see ClickOutbox): for the shared server, one in
    /// ClickOutbox::defaultFile(), made with the server; null (clicks sent directly, unstored) for
    /// a server made by the host until it sets one. Any thread.
    std::shared_ptr<ClickOutbox> clickOutbox() const;
    /// Replaces the outbox; null sends clicks directly. The old outbox stops once no one holds it.
    void setClickOutbox(std::shared_ptr<ClickOutbox> outbox);

    /// Reports that the user activated an action of a recognised page: a PUT to the clicks address
    /// with "?actionId=" and the action identifier (percent-encoded, so that "&", "#", spaces or
    /// non-ASCII cannot change the query), and the headers "SessionId" and "ApiKey". Returns at
    /// once. Completion is called at most once, on the session's delegate queue, and only on
    /// success (status 204): with the reply body as text (absent when it is not UTF-8) and no
    /// error. Every failure is printed as one "Error: " line and never reaches the completion.
    /// Nothing is sent, and "Clicks : missing parameters" is printed, when an identifier is empty,
    /// no API key is stored, a header value would hold CR, LF or NUL, or no clicks address is
    /// configured. With a click outbox the report is stored first (on the caller's thread) and a
    /// failed one is sent again later, until the service counts it.
    Call clicksWithSessionId(const std::string& sessionId, const std::string& actionId,
                             ClickCompletion completion);
    /// The same report, whose completion is also called on failure, with the cause: on the
    /// caller's thread when nothing could be sent, on the delegate queue otherwise.
    Call clicksWithSessionId(const std::string& sessionId, const std::string& actionId,
                             ClickResultCompletion completion);

    /// The session's challenge callback: a server-trust challenge is answered useCredential with
    /// the server's trust when the session evaluated the chain and host name as trusted, and with
    /// the default handling otherwise, which rejects the chain (the task then fails with
    /// HttpErrorCode::serverCertificateUntrusted); any other challenge gets the default handling.
    /// Runs on the session's delegate queue.
    void urlSession(platform::HttpSession& session,
                    const platform::AuthenticationChallenge& challenge,
                    ChallengeCompletion completionHandler) override;

private:
    mutable std::mutex mutex_;
    std::shared_ptr<platform::HttpSession> session_;
    std::shared_ptr<ClickOutbox> clickOutbox_;
};

} // namespace kestrel
