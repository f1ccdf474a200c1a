// Click reports, and a recognition cancelled mid-upload, against real HTTP servers on 127.0.0.1.
// Every case runs in a fresh process, whose configuration points at that case's server. Whether
// a click reaches an HTTPS server is the session's trust evaluation (tests/platform/http) with
// the answer TrustChallengeAnswers checks.
#include "platform/http/test_server.hpp"
#include "platform/imaging/image_fixtures.hpp"
#include "support/fresh_process.hpp"
#include "support/service_addresses.hpp"
#include "support/stdout_lines.hpp"
#include "support/temp_dir.hpp"

#include <kestrel/config/kestrel_manager.hpp>
#include <kestrel/platform/bundle.hpp>
#include <kestrel/service/server.hpp>

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <future>
#include <mutex>
#include <random>
#include <thread>

using namespace kestrel;
using namespace kestrel::testing;
using platform::HttpHeader;

namespace {

// Runs the body in a fresh process with an API key stored and the addresses pointing at `server`.
template <typename Body>
void withService(const std::function<std::unique_ptr<TestServer>()>& startServer, Body body,
                 bool storeApiKey = true) {
    TempDir dir;
    inFreshProcess(dir / "settings.sqlite", [&] {
        const auto server = startServer();
        useServiceAt(dir.path(), server->url(""));
        if (storeApiKey) KestrelLight::setApiKey("key-1");
        body(*server);
    });
}

std::unique_ptr<TestServer> replying(Reply reply, TestServerOptions options = {}) {
    return std::make_unique<TestServer>([reply](const ReceivedRequest&) { return reply; },
                                        std::move(options));
}

// Completions of click reports, with the thread they ran on.
struct Completions {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::optional<std::string>> bodies;
    int offDelegateQueue = 0;

    Server::ClickCompletion recorder(Server& server) {
        return [this, &server](std::optional<std::string> body, std::optional<KestrelError> error) {
            EXPECT_FALSE(error);
            std::lock_guard lock(mutex);
            bodies.push_back(std::move(body));
            offDelegateQueue += server.session()->delegateQueue().isCurrent() ? 0 : 1;
            changed.notify_all();
        };
    }
    bool waitFor(std::size_t n) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, std::chrono::seconds(30), [&] { return bodies.size() >= n; });
    }
};

// The headers the request set itself: without those every request of the transport carries.
std::vector<HttpHeader> ownHeaders(std::vector<HttpHeader> headers) {
    std::erase_if(headers, [](const HttpHeader& h) {
        return h.name == "Host" || h.name == "Accept" || h.name == "Accept-Encoding" ||
               h.name == "Content-Length";
    });
    return headers;
}

} // namespace

TEST(ClickReport, SendsOnePutWithTheTwoHeadersAndTheEncodedIdentifier) {
    withService([] { return replying(Reply{204}); },
                [](TestServer& server) {
                    Completions done;
                    Server::shared().clicksWithSessionId("session-9", "act-1.2_~X",
                                                         done.recorder(Server::shared()));
                    Server::shared().clicksWithSessionId("session-9", "a&b#c d\xC3\xA9/?",
                                                         done.recorder(Server::shared()));
                    ASSERT_TRUE(done.waitFor(2));
                    auto requests = server.requests();
                    ASSERT_EQ(requests.size(), 2u);
                    std::sort(requests.begin(), requests.end(),
                              [](const auto& a, const auto& b) { return a.target > b.target; });
                    // Ordinary identifiers go out unchanged; others cannot add to or cut the query.
                    EXPECT_EQ(requests[0].target, "/v1/clicks?actionId=act-1.2_~X");
                    EXPECT_EQ(requests[1].target, "/v1/clicks?actionId=a%26b%23c%20d%C3%A9%2F%3F");
                    for (const auto& request : requests) {
                        EXPECT_EQ(request.method, "PUT");
                        EXPECT_EQ(ownHeaders(request.headers),
                                  (std::vector<HttpHeader>{{"SessionId", "session-9"},
                                                           {"ApiKey", "key-1"}}));
                        EXPECT_EQ(request.body, "");
                        EXPECT_TRUE(request.values("Content-Type").empty());
                        const auto length = request.values("Content-Length");
                        EXPECT_TRUE(length.empty() || length == std::vector<std::string>{"0"});
                    }
                });
}

TEST(ClickReport, NothingIsSentWhenTheRequestCannotBeMade) {
    const struct {
        std::string sessionId;
        std::string actionId;
        std::optional<std::string> apiKey; // absent: none stored
    } cases[] = {{"", "a", "k"}, {"s", "a", std::nullopt}, {"s\r\nX-Evil: 1", "a", "k"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.sessionId + " / " + c.actionId);
        withService([] { return replying(Reply{204}); },
                    [&](TestServer& server) {
                        if (c.apiKey) KestrelLight::setApiKey(*c.apiKey);
                        KestrelManager::shared();
                        StdoutLines out;
                        bool called = false;
                        Server::shared().clicksWithSessionId(c.sessionId, c.actionId,
                                                             [&](auto, auto) { called = true; });
                        EXPECT_EQ(out.text(), "Clicks : missing parameters\n");
                        std::this_thread::sleep_for(std::chrono::milliseconds(50));
                        EXPECT_TRUE(server.requests().empty());
                        EXPECT_FALSE(called);
                    },
                    false);
    }
}

// Only 204 is a success; every other outcome is one "Error: " line and no completion.
TEST(ClickReport, RepliesAndFailures) {
    const struct {
        const char* what;
        Reply reply;
        const char* printed; // null: the completion gets the empty body of a 204
    } cases[] = {
        {"204", Reply{204}, nullptr},
        {"200", Reply{200, {}, "{}"}, "Error: <HttpResponse 200 "},
        {"500", Reply{500, {}, "down"}, "Error: <HttpResponse 500 "},
        {"never answers", Reply::silence(), "Error: HttpError.timedOut"},
        {"closes mid-reply", Reply{200, {}, "0123456789", Reply::Kind::closeMidBody},
         "Error: HttpError.networkConnectionLost"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        withService([&] { return replying(c.reply); },
                    [&](TestServer&) {
                        StdoutLines out;
                        Completions done;
                        Server server(testConfiguration(1.0));
                        server.clicksWithSessionId("s", "a", done.recorder(server));
                        if (!c.printed) {
                            ASSERT_TRUE(done.waitFor(1));
                            EXPECT_EQ(done.bodies.front(), "");
                            EXPECT_EQ(done.offDelegateQueue, 0);
                            EXPECT_EQ(out.count("Error: "), 0);
                        } else {
                            ASSERT_TRUE(out.waitFor(c.printed)) << out.text();
                            EXPECT_EQ(out.count("Error: "), 1);
                            EXPECT_TRUE(done.bodies.empty());
                        }
                    });
    }
}

TEST(ClickReport, TrustChallengeAnswers) {
    Server server;
    platform::ServerTrust trust{"127.0.0.1", 443, true, "", {"PEM"}};
    const auto answer = [&](platform::AuthenticationChallenge challenge) {
        std::optional<platform::AuthChallengeDisposition> disposition;
        std::optional<platform::UrlCredential> credential;
        server.urlSession(*server.session(), challenge, [&](auto d, auto c) {
            disposition = d;
            credential = c;
        });
        return std::pair(disposition, credential);
    };
    using D = platform::AuthChallengeDisposition;
    platform::ProtectionSpace space{"127.0.0.1", 443, "https",
                                    platform::AuthenticationMethod::serverTrust, trust};
    EXPECT_EQ(answer({space}), std::pair(std::optional(D::useCredential),
                                         std::optional(platform::UrlCredential::forTrust(trust))));
    space.serverTrust->evaluatedAsTrusted = false;
    EXPECT_EQ(answer({space}).first, D::performDefaultHandling);
    space.serverTrust.reset();
    EXPECT_EQ(answer({space}).first, D::performDefaultHandling);
    space.authenticationMethod = platform::AuthenticationMethod::clientCertificate;
    EXPECT_EQ(answer({space}).first, D::performDefaultHandling);
}

TEST(ClickReport, DestroyingTheServerCancelsWhatIsInFlightOnce) {
    withService([] { return replying(Reply::silence()); },
                [](TestServer& server) {
                    StdoutLines out;
                    {
                        Completions done;
                        Server client(testConfiguration(30.0));
                        for (int i = 0; i < 10; ++i)
                            client.clicksWithSessionId("s", "a", done.recorder(client));
                        while (server.requests().size() < 6)
                            std::this_thread::sleep_for(std::chrono::milliseconds(5));
                    }
                    EXPECT_EQ(out.count("Error: HttpError.cancelled"), 10) << out.text();
                    std::this_thread::sleep_for(std::chrono::milliseconds(100));
                    EXPECT_EQ(out.count("Error: "), 10);
                });
}

TEST(Cancellation, MidUploadTheConnectionClosesBeforeTheBodyEnds) {
    TestServerOptions slowReader;
    slowReader.bodyReadChunk = 16 * 1024;
    slowReader.bodyReadPause = std::chrono::milliseconds(5);
    withService(
        [&] {
            return replying(Reply{200, {}, "{}"}, slowReader);
        },
        [](TestServer& server) {
            platform::Bundle::setMainInfoDictionary({{"CFBundleShortVersionString", "1"}});
            KestrelManager::shared().setJpegQuality(1.0);
            // Noise does not compress: about 2 MB of JPEG at the send width.
            std::mt19937 random(3);
            const auto photo = fixtures::rgbaBitmap(1000, 1000, [&](int, int) {
                return fixtures::Rgba{static_cast<std::uint8_t>(random()),
                                      static_cast<std::uint8_t>(random()),
                                      static_cast<std::uint8_t>(random()), 255};
            });
            std::promise<Failure> completed;
            const Call call = Server::shared().enrichedImage(
                photo, [&](Result<Image> result) { completed.set_value(result.failure()); });
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            EXPECT_TRUE(call.cancel());
            EXPECT_EQ(completed.get_future().get().cause, FailureCause::cancelled);
            // The server read on until the connection closed, short of the body.
            std::this_thread::sleep_for(std::chrono::seconds(2));
            EXPECT_TRUE(server.requests().empty());
        });
}
