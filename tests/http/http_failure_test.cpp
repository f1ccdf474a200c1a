// Transport failures: no reply, a broken reply, a reply too large, and time-outs that must fire
// only when nothing moves.
#include "http/session_test_support.hpp"
#include "http/test_server.hpp"

#include <gtest/gtest.h>

using namespace kestrel::platform;
using kestrel::testing::fetch;
using kestrel::testing::ReceivedRequest;
using kestrel::testing::Reply;
using kestrel::testing::testConfiguration;
using kestrel::testing::TestServer;
using kestrel::testing::TestServerOptions;

namespace {

void expectTransportError(const kestrel::testing::Received& received, HttpErrorCode code) {
    ASSERT_TRUE(received.error) << "expected " << errorCodeName(code) << ", got status "
                                << (received.response ? received.response->statusCode : 0);
    EXPECT_EQ(received.error->code, code) << received.error->description();
    EXPECT_FALSE(received.body);
    EXPECT_FALSE(received.response);
    EXPECT_TRUE(received.onDelegateQueue);
}

} // namespace

TEST(HttpSessionFailure, RefusedConnection) {
    auto session = HttpSession::create(testConfiguration());
    const auto port = kestrel::testing::unusedPort();
    expectTransportError(
        fetch(*session, HttpRequest{"http://127.0.0.1:" + std::to_string(port) + "/clicks"}),
        HttpErrorCode::cannotConnectToHost);
}

TEST(HttpSessionFailure, ServerThatNeverAnswersTimesOut) {
    TestServer server([](const ReceivedRequest&) { return Reply::silence(); });
    auto session = HttpSession::create(testConfiguration());
    HttpRequest request{server.url("/silent")};
    request.timeoutInterval = std::chrono::duration<double>(0.3);
    expectTransportError(fetch(*session, request), HttpErrorCode::timedOut);
    EXPECT_EQ(server.requests().size(), 1u);
}

TEST(HttpSessionFailure, SessionTimeOutAppliesToRequestsWithoutTheirOwn) {
    TestServer server([](const ReceivedRequest&) { return Reply::silence(); });
    auto session = HttpSession::create(testConfiguration(0.3));
    expectTransportError(fetch(*session, HttpRequest{server.url("/silent")}),
                         HttpErrorCode::timedOut);
}

TEST(HttpSessionFailure, SlowButMovingUploadIsNotCutOff) {
    // The server takes about two seconds to read the body, in small steps; the time-out is one
    // second without progress, so the upload must go through.
    TestServerOptions options;
    options.bodyReadChunk = 16 * 1024;
    options.bodyReadPause = std::chrono::milliseconds(40);
    options.receiveBufferSize = 16 * 1024;
    TestServer server([](const ReceivedRequest&) { return Reply{204}; }, options);
    auto session = HttpSession::create(testConfiguration());
    HttpRequest request{server.url("/upload")};
    request.httpMethod = "POST";
    request.httpBody = std::string(800 * 1024, 'j');
    request.timeoutInterval = std::chrono::duration<double>(1.0);

    const auto received = fetch(*session, request);
    ASSERT_FALSE(received.error) << received.error->description();
    EXPECT_EQ(received.response->statusCode, 204);
    EXPECT_EQ(server.requests().at(0).body.size(), 800u * 1024u);
}

TEST(HttpSessionFailure, ServerClosingInTheMiddleOfTheReply) {
    TestServer server([](const ReceivedRequest&) {
        return Reply{200, {}, std::string(10000, 'x'), Reply::Kind::closeMidBody};
    });
    auto session = HttpSession::create(testConfiguration());
    expectTransportError(fetch(*session, HttpRequest{server.url("/cut")}),
                         HttpErrorCode::networkConnectionLost);
}

TEST(HttpSessionFailure, ReplyBodyBeyondTheBoundIsAnError) {
    constexpr std::size_t bound = 4096;
    struct Case {
        const char* what;
        std::size_t size;
        Reply::Kind kind;
        bool fits;
    };
    const Case cases[] = {
        {"announced, at the bound", bound, Reply::Kind::respond, true},
        {"announced, one byte over", bound + 1, Reply::Kind::respond, false},
        {"unannounced, at the bound", bound, Reply::Kind::untilClose, true},
        {"unannounced, one byte over", bound + 1, Reply::Kind::untilClose, false},
        {"unannounced, far over", 50 * bound, Reply::Kind::untilClose, false},
    };
    for (const auto& c : cases) {
        TestServer server([&](const ReceivedRequest&) {
            return Reply{200, {}, std::string(c.size, 'b'), c.kind};
        });
        auto configuration = testConfiguration();
        configuration.maximumResponseBodySize = bound;
        auto session = HttpSession::create(configuration);
        const auto received = fetch(*session, HttpRequest{server.url("/big")});
        if (c.fits) {
            ASSERT_FALSE(received.error) << c.what << ": " << received.error->description();
            EXPECT_EQ(received.body->size(), c.size) << c.what;
        } else {
            SCOPED_TRACE(c.what);
            expectTransportError(received, HttpErrorCode::dataLengthExceedsMaximum);
        }
    }
}

TEST(HttpSessionFailure, InvalidConfigurationIsRefused) {
    auto configuration = testConfiguration();
    configuration.timeoutIntervalForRequest = std::chrono::duration<double>(0);
    EXPECT_THROW(HttpSession::create(configuration), std::invalid_argument);
    configuration = testConfiguration();
    configuration.additionalTrustedCertificatesPem = {"not a certificate"};
    EXPECT_THROW(HttpSession::create(configuration), std::invalid_argument);
    configuration = testConfiguration();
    configuration.httpMaximumConnectionsPerHost = -1;
    EXPECT_THROW(HttpSession::create(configuration), std::invalid_argument);
}
