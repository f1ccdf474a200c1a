// What goes over the wire, and what comes back to the handler.
#include "http/session_test_support.hpp"
#include "http/test_server.hpp"

#include <gtest/gtest.h>

#include <set>

using namespace kestrel::platform;
using kestrel::testing::fetch;
using kestrel::testing::ReceivedRequest;
using kestrel::testing::Reply;
using kestrel::testing::testConfiguration;
using kestrel::testing::TestServer;

namespace {

// The headers of a received request that the test itself set, in the order they arrived.
std::vector<HttpHeader> headersNamed(const ReceivedRequest& request,
                                     const std::set<std::string>& names) {
    std::vector<HttpHeader> found;
    for (const auto& header : request.headers)
        if (names.count(header.name) != 0) found.push_back(header);
    return found;
}

} // namespace

TEST(HttpSessionRequest, ServerReceivesMethodTargetHeadersInOrderAndBody) {
    TestServer server([](const ReceivedRequest&) { return Reply{204}; });
    auto session = HttpSession::create(testConfiguration());

    HttpRequest request{server.url("/clicks?actionId=a-1&page=%C3%A9")};
    request.httpMethod = "POST";
    request.addValue("s-1", "SessionId");
    request.addValue("k-1", "ApiKey");
    request.addValue("first", "X-Twice");
    request.addValue("", "X-Empty");
    request.addValue("second", "X-Twice");
    const std::string body("binary\0\r\nbody", 13);
    request.httpBody = body;

    const auto received = fetch(*session, request);
    ASSERT_FALSE(received.error) << received.error->description();
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    const auto& got = requests.front();
    EXPECT_EQ(got.method, "POST");
    EXPECT_EQ(got.target, "/clicks?actionId=a-1&page=%C3%A9");
    EXPECT_EQ(headersNamed(got, {"SessionId", "ApiKey", "X-Twice", "X-Empty"}),
              (std::vector<HttpHeader>{{"SessionId", "s-1"},
                                       {"ApiKey", "k-1"},
                                       {"X-Twice", "first"},
                                       {"X-Empty", ""},
                                       {"X-Twice", "second"}}));
    EXPECT_EQ(got.body, body);
    EXPECT_EQ(got.values("Content-Length"), std::vector<std::string>{"13"});
    // Nothing the caller did not ask for that would change how the body is read.
    EXPECT_TRUE(got.values("Content-Type").empty());
    EXPECT_TRUE(got.values("Expect").empty());
    EXPECT_TRUE(got.values("Transfer-Encoding").empty());
}

TEST(HttpSessionRequest, PutWithoutBodyCarriesNoContent) {
    TestServer server([](const ReceivedRequest&) { return Reply{204}; });
    auto session = HttpSession::create(testConfiguration());
    HttpRequest request{server.url("/clicks?actionId=7")};
    request.httpMethod = "PUT";
    request.addValue("s", "SessionId");
    request.addValue("k", "ApiKey");

    ASSERT_FALSE(fetch(*session, request).error);
    const auto got = server.requests().at(0);
    EXPECT_EQ(got.method, "PUT");
    EXPECT_EQ(got.body, "");
    EXPECT_TRUE(got.values("Content-Type").empty());
    EXPECT_TRUE(got.values("Transfer-Encoding").empty());
    const auto length = got.values("Content-Length");
    EXPECT_TRUE(length.empty() || length == std::vector<std::string>{"0"});
}

TEST(HttpSessionRequest, LargeBodyArrivesWholeWithoutWaitingForContinue) {
    TestServer server([](const ReceivedRequest&) { return Reply{200}; });
    auto session = HttpSession::create(testConfiguration());
    std::string body(3 * 1024 * 1024, '\0');
    for (std::size_t i = 0; i < body.size(); ++i) body[i] = static_cast<char>((i * 7919) % 251);
    HttpRequest request{server.url("/upload")};
    request.httpMethod = "POST";
    request.addValue("image/jpeg", "Content-Type");
    request.httpBody = body;

    ASSERT_FALSE(fetch(*session, request).error);
    const auto got = server.requests().at(0);
    EXPECT_TRUE(got.body == body) << "received " << got.body.size() << " bytes";
    EXPECT_EQ(got.values("Content-Type"), std::vector<std::string>{"image/jpeg"});
    EXPECT_TRUE(got.values("Expect").empty());
}

TEST(HttpSessionRequest, MalformedRequestsFailOnTheDelegateQueueWithoutBeingSent) {
    TestServer server([](const ReceivedRequest&) { return Reply{200}; });
    auto session = HttpSession::create(testConfiguration());
    struct Case {
        const char* what;
        HttpRequest request;
        HttpErrorCode expected;
    };
    const auto base = [&] { return HttpRequest{server.url("/x")}; };
    std::vector<Case> cases;
    {
        auto r = base();
        r.addValue("v\r\nInjected: yes", "X-Value");
        cases.push_back({"CR LF in a value", r, HttpErrorCode::invalidRequest});
    }
    {
        auto r = base();
        r.addValue(std::string("a\0b", 3), "X-Value");
        cases.push_back({"NUL in a value", r, HttpErrorCode::invalidRequest});
    }
    {
        auto r = base();
        r.addValue("v", "Bad Name");
        cases.push_back({"space in a name", r, HttpErrorCode::invalidRequest});
    }
    {
        auto r = base();
        r.addValue("v", "");
        cases.push_back({"empty name", r, HttpErrorCode::invalidRequest});
    }
    {
        auto r = base();
        r.httpMethod = "GET /x HTTP/1.1\r\n";
        cases.push_back({"method with spaces", r, HttpErrorCode::invalidRequest});
    }
    {
        auto r = base();
        r.timeoutInterval = std::chrono::duration<double>(0);
        cases.push_back({"zero time-out", r, HttpErrorCode::invalidRequest});
    }
    {
        auto r = base();
        r.timeoutInterval = std::chrono::duration<double>(-1);
        cases.push_back({"negative time-out", r, HttpErrorCode::invalidRequest});
    }
    cases.push_back({"not a URL", HttpRequest{"not a url"}, HttpErrorCode::invalidRequest});
    cases.push_back({"empty URL", HttpRequest{""}, HttpErrorCode::invalidRequest});
    cases.push_back(
        {"other scheme", HttpRequest{"ftp://127.0.0.1/file"}, HttpErrorCode::unsupportedUrl});
    cases.push_back(
        {"file scheme", HttpRequest{"file:///etc/passwd"}, HttpErrorCode::unsupportedUrl});

    for (const auto& c : cases) {
        const auto received = fetch(*session, c.request);
        ASSERT_TRUE(received.error) << c.what;
        EXPECT_EQ(received.error->code, c.expected)
            << c.what << ": " << received.error->description();
        EXPECT_FALSE(received.body) << c.what;
        EXPECT_FALSE(received.response) << c.what;
        EXPECT_TRUE(received.onDelegateQueue) << c.what;
    }
    EXPECT_TRUE(server.requests().empty());
}

TEST(HttpSessionReply, StatusHeadersAndBodyReachTheHandler) {
    struct Case {
        int status;
        std::string body;
    };
    const std::vector<Case> cases = {
        {204, ""}, {200, "{\"ok\":true}"}, {500, "failure"}, {404, ""}};
    for (const auto& c : cases) {
        TestServer server([&](const ReceivedRequest&) {
            return Reply{
                c.status, {{"X-Trace", "a"}, {"Set-Cookie", "x=1"}, {"set-cookie", "y=2"}}, c.body};
        });
        auto session = HttpSession::create(testConfiguration());
        const auto received = fetch(*session, HttpRequest{server.url("/r")});
        ASSERT_FALSE(received.error) << c.status << ": " << received.error->description();
        ASSERT_TRUE(received.body) << c.status;
        ASSERT_TRUE(received.response) << c.status;
        EXPECT_EQ(*received.body, c.body);
        EXPECT_EQ(received.response->statusCode, c.status);
        EXPECT_EQ(received.response->url, server.url("/r"));
        EXPECT_EQ(received.response->value("x-trace"), "a");
        std::vector<std::string> cookies;
        for (const auto& header : received.response->headers)
            if (header.name == "Set-Cookie" || header.name == "set-cookie")
                cookies.push_back(header.value);
        EXPECT_EQ(cookies, (std::vector<std::string>{"x=1", "y=2"})) << c.status;
    }
}

TEST(HttpSessionReply, NoContentWithAStrayBodyIsStillAReply) {
    // A 204 has no body by definition; bytes after its head must not turn it into a failure.
    TestServer server([](const ReceivedRequest&) { return Reply{204, {}, "stray"}; });
    auto session = HttpSession::create(testConfiguration());
    const auto received = fetch(*session, HttpRequest{server.url("/r")});
    ASSERT_FALSE(received.error) << received.error->description();
    ASSERT_TRUE(received.response);
    EXPECT_EQ(received.response->statusCode, 204);
    ASSERT_TRUE(received.body);
    EXPECT_EQ(*received.body, "");
    // The connection is left in a known state: the next exchange works.
    const auto next = fetch(*session, HttpRequest{server.url("/r")});
    ASSERT_FALSE(next.error) << next.error->description();
    EXPECT_EQ(next.response->statusCode, 204);
}

TEST(HttpSessionReply, BodyEndingWithTheConnectionIsComplete) {
    TestServer server([](const ReceivedRequest&) {
        return Reply{200, {}, std::string(100000, 'z'), Reply::Kind::untilClose};
    });
    auto session = HttpSession::create(testConfiguration());
    const auto received = fetch(*session, HttpRequest{server.url("/r")});
    ASSERT_FALSE(received.error) << received.error->description();
    EXPECT_EQ(received.body, std::string(100000, 'z'));
}

TEST(HttpSessionReply, ConsecutiveRequestsShareOneConnection) {
    TestServer server([](const ReceivedRequest&) { return Reply{200, {}, "ok"}; });
    auto session = HttpSession::create(testConfiguration());
    for (int i = 0; i < 3; ++i) {
        const auto received = fetch(*session, HttpRequest{server.url("/r")});
        ASSERT_FALSE(received.error) << received.error->description();
    }
    EXPECT_EQ(server.requests().size(), 3u);
    EXPECT_EQ(server.connectionsAccepted(), 1);
}
