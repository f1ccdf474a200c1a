// What goes over the wire, what comes back to the handler, transport failures, and many tasks at
// once on a session that may be taken down while it works.
#include "platform/http/test_server.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <future>
#include <map>
#include <set>

using namespace kestrel::platform;
using namespace kestrel::testing;

namespace {

void expectTransportError(const Received& received, HttpErrorCode code) {
    ASSERT_TRUE(received.error) << "expected " << errorCodeName(code) << ", got status "
                                << (received.response ? received.response->statusCode : 0);
    EXPECT_EQ(received.error->code, code) << received.error->description();
    EXPECT_FALSE(received.body);
    EXPECT_FALSE(received.response);
    EXPECT_TRUE(received.onDelegateQueue);
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
    const std::set<std::string> own = {"SessionId", "ApiKey", "X-Twice", "X-Empty"};
    std::vector<HttpHeader> ownHeaders;
    for (const auto& header : got.headers)
        if (own.count(header.name) != 0) ownHeaders.push_back(header);
    EXPECT_EQ(ownHeaders, (std::vector<HttpHeader>{{"SessionId", "s-1"},
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

    // Without a body, a PATCH still says that its content is empty; a GET says nothing of one.
    for (const char* method : {"PATCH", "GET"}) {
        HttpRequest bare{server.url("/bare")};
        bare.httpMethod = method;
        ASSERT_FALSE(fetch(*session, bare).error) << method;
        const auto last = server.requests().back();
        EXPECT_EQ(last.method, method);
        EXPECT_EQ(last.values("Content-Length"), std::string(method) == "GET"
                                                     ? std::vector<std::string>{}
                                                     : std::vector<std::string>{"0"});
    }
}

TEST(HttpSessionRequest, MalformedRequestsFailOnTheDelegateQueueWithoutBeingSent) {
    TestServer server([](const ReceivedRequest&) { return Reply{200}; });
    auto session = HttpSession::create(testConfiguration());
    HttpRequest injected{server.url("/x")};
    injected.addValue("v\r\nInjected: yes", "X-Value");
    HttpRequest badName{server.url("/x")};
    badName.addValue("v", "X-Value: yes\r\nX-Other");
    HttpRequest noTime{server.url("/x")};
    noTime.timeoutInterval = std::chrono::duration<double>(0);
    const struct {
        const char* what;
        HttpRequest request;
        HttpErrorCode expected;
    } cases[] = {
        {"CR LF in a value", injected, HttpErrorCode::invalidRequest},
        {"CR LF in a name", badName, HttpErrorCode::invalidRequest},
        {"zero time-out", noTime, HttpErrorCode::invalidRequest},
        {"not a URL", HttpRequest{"not a url"}, HttpErrorCode::invalidRequest},
        {"other scheme", HttpRequest{"ftp://127.0.0.1/file"}, HttpErrorCode::unsupportedUrl},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        expectTransportError(fetch(*session, c.request), c.expected);
    }
    EXPECT_TRUE(server.requests().empty());
}

TEST(HttpSessionReply, StatusHeadersAndBodyReachTheHandler) {
    TestServer server([](const ReceivedRequest& request) {
        const bool failed = request.target == "/500";
        return Reply{failed ? 500 : 204,
                     {{"X-Tract", "b"},
                      {"X-Trace", "a"},
                      {"Set-Cookie", "x=1"},
                      {"set-cookie", "y=2"},
                      {"X-Odd", "a\rb"}},
                     failed ? "failure" : ""};
    });
    auto session = HttpSession::create(testConfiguration());
    for (const auto& [status, body] : {std::pair<int, std::string>{204, ""}, {500, "failure"}}) {
        const auto url = server.url("/" + std::to_string(status));
        const auto received = fetch(*session, HttpRequest{url});
        ASSERT_FALSE(received.error) << status << ": " << received.error->description();
        ASSERT_TRUE(received.body) << status;
        ASSERT_TRUE(received.response) << status;
        EXPECT_EQ(*received.body, body);
        EXPECT_EQ(received.response->statusCode, status);
        EXPECT_EQ(received.response->url, url);
        EXPECT_EQ(received.response->value("x-trace"), "a");
        EXPECT_EQ(received.response->value("X-Odd"), "a b"); // a bare CR cannot end a line later
        std::vector<std::string> cookies;
        for (const auto& header : received.response->headers)
            if (header.name == "Set-Cookie" || header.name == "set-cookie")
                cookies.push_back(header.value);
        EXPECT_EQ(cookies, (std::vector<std::string>{"x=1", "y=2"})) << status;
    }
}

// A refused connection, a server that never answers and one that closes in the middle of the reply
// each reach the handler as their own error.
TEST(HttpSessionFailure, TransportFailuresReachTheHandlerAsErrors) {
    int refusing;
    {
        TestServer gone([](const ReceivedRequest&) { return Reply{}; });
        refusing = gone.port();
    }
    TestServer server([](const ReceivedRequest& request) {
        return request.target == "/silent"
                   ? Reply::silence()
                   : Reply{200, {}, std::string(10000, 'x'), Reply::Kind::closeMidBody};
    });
    auto session = HttpSession::create(testConfiguration());
    expectTransportError(
        fetch(*session, HttpRequest{"http://127.0.0.1:" + std::to_string(refusing) + "/clicks"}),
        HttpErrorCode::cannotConnectToHost);
    HttpRequest silent{server.url("/silent")};
    silent.timeoutInterval = std::chrono::duration<double>(0.3);
    expectTransportError(fetch(*session, silent), HttpErrorCode::timedOut);
    EXPECT_EQ(server.requests().size(), 1u);
    expectTransportError(fetch(*session, HttpRequest{server.url("/cut")}),
                         HttpErrorCode::networkConnectionLost);
}

// A service that read a request on a kept-alive connection may have acted on it before the
// connection closed: the request fails rather than reach the service a second time.
TEST(HttpSessionFailure, ARequestLostOnAReusedConnectionIsNotSentAgain) {
    TestServer server([](const ReceivedRequest& request) {
        return request.target == "/first" ? Reply{200, {}, "ok"}
                                          : Reply{0, {}, {}, Reply::Kind::closeUnanswered};
    });
    auto session = HttpSession::create(testConfiguration());
    ASSERT_FALSE(fetch(*session, HttpRequest{server.url("/first")}).error);
    HttpRequest click{server.url("/click")};
    click.httpMethod = "PUT";
    expectTransportError(fetch(*session, click), HttpErrorCode::networkConnectionLost);
    const auto requests = server.requests();
    EXPECT_EQ(std::count_if(requests.begin(), requests.end(),
                            [](const ReceivedRequest& r) { return r.target == "/click"; }),
              1);
    // The session goes on working.
    ASSERT_FALSE(fetch(*session, HttpRequest{server.url("/first")}).error);
}

// Progress resets the idle time-out, never the deadline of the whole exchange, which also counts
// the time a request waits for a free connection.
TEST(HttpSessionFailure, TheWholeExchangeHasADeadline) {
    TestServer trickling([](const ReceivedRequest&) {
        return Reply{200, {}, std::string(100, 't'), Reply::Kind::trickle}; // 10 s of bytes
    });
    auto configuration = testConfiguration(1.0);
    configuration.timeoutIntervalForResource = std::chrono::duration<double>(1.0);
    auto session = HttpSession::create(configuration);
    const auto started = std::chrono::steady_clock::now();
    expectTransportError(fetch(*session, HttpRequest{trickling.url("/slow")}),
                         HttpErrorCode::timedOut);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(3));

    // One connection, replies that take 0.8 s: the third request waits 1.6 s before it is sent.
    TestServer slow([](const ReceivedRequest&) {
        std::this_thread::sleep_for(std::chrono::milliseconds(800));
        return Reply{204};
    });
    configuration.httpMaximumConnectionsPerHost = 1;
    configuration.timeoutIntervalForResource = std::chrono::duration<double>(1.5);
    configuration.timeoutIntervalForRequest = std::chrono::duration<double>(5.0);
    session = HttpSession::create(configuration);
    std::vector<std::future<Received>> replies;
    for (int i = 0; i < 3; ++i)
        replies.push_back(std::async(std::launch::async, [&, i] {
            std::this_thread::sleep_for(std::chrono::milliseconds(50 * i)); // in this order
            return fetch(*session, HttpRequest{slow.url("/queued")});
        }));
    EXPECT_FALSE(replies[0].get().error);
    replies[1].get(); // on the edge of the deadline either way
    expectTransportError(replies[2].get(), HttpErrorCode::timedOut);
}

TEST(HttpSessionFailure, SlowButMovingUploadIsNotCutOff) {
    // The server takes about two seconds to read the body, in small steps; the time-out is one
    // second without progress, so the upload must go through.
    TestServer server([](const ReceivedRequest&) { return Reply{204}; },
                      {.bodyReadChunk = 16 * 1024, .bodyReadPause = std::chrono::milliseconds(40)});
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

// Announced or not, a body at the bound arrives and one byte more is an error.
TEST(HttpSessionFailure, ReplyBodyBeyondTheBoundIsAnError) {
    constexpr std::size_t bound = 4096;
    const std::pair<std::size_t, Reply::Kind> cases[] = {{bound, Reply::Kind::respond},
                                                         {bound + 1, Reply::Kind::respond},
                                                         {bound, Reply::Kind::untilClose},
                                                         {bound + 1, Reply::Kind::untilClose}};
    TestServer server([&](const ReceivedRequest& request) {
        const auto& [size, kind] = cases[std::stoi(request.target.substr(1))];
        return Reply{200, {}, std::string(size, 'b'), kind};
    });
    auto configuration = testConfiguration();
    configuration.maximumResponseBodySize = bound;
    auto session = HttpSession::create(configuration);
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        const auto received = fetch(*session, HttpRequest{server.url("/" + std::to_string(i))});
        if (cases[i].first <= bound) {
            ASSERT_FALSE(received.error) << received.error->description();
            EXPECT_EQ(received.body->size(), cases[i].first);
        } else {
            expectTransportError(received, HttpErrorCode::dataLengthExceedsMaximum);
        }
    }
}

namespace {

// Records every handler call per task and notes anything a handler must never do.
struct HandlerLog {
    std::mutex mutex;
    std::condition_variable changed;
    std::map<int, std::vector<Received>> answers;
    std::atomic<int> running{0};
    std::atomic<bool> overlapped{false};
    std::atomic<bool> onCaller{false};
    std::atomic<bool> afterDestruction{false};
    std::atomic<bool> destroyed{false};

    HttpSession::CompletionHandler handlerFor(int index, DispatchQueue& queue) {
        return [this, index, &queue, caller = std::this_thread::get_id()](auto body, auto response,
                                                                          auto error) {
            if (running.fetch_add(1) != 0) overlapped = true;
            if (std::this_thread::get_id() == caller) onCaller = true;
            if (destroyed) afterDestruction = true;
            {
                std::lock_guard lock(mutex);
                answers[index].push_back({body, response, error, queue.isCurrent()});
            }
            running.fetch_sub(1);
            changed.notify_all();
        };
    }
    bool waitForCalls(std::size_t count) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, std::chrono::seconds(60),
                                [&] { return answers.size() >= count; });
    }
};

} // namespace

TEST(HttpSessionThreads, TwoHundredTasksInFlightEachAnsweredOnceOnTheDelegateQueue) {
    std::atomic<int> served{0};
    TestServer server([&](const ReceivedRequest& request) {
        ++served;
        return Reply{200, {}, request.target};
    });
    auto session = HttpSession::create(testConfiguration(30));
    HandlerLog log;
    constexpr int count = 200;
    for (int i = 0; i < count; ++i)
        session
            ->dataTask(HttpRequest{server.url("/n/" + std::to_string(i))},
                       log.handlerFor(i, session->delegateQueue()))
            ->resume();
    ASSERT_TRUE(log.waitForCalls(count));
    session->delegateQueue().sync([] {}); // let the last handler return
    std::lock_guard lock(log.mutex);
    for (const auto& [i, answers] : log.answers) {
        ASSERT_EQ(answers.size(), 1u) << i;
        EXPECT_FALSE(answers[0].error) << i << ": " << answers[0].error->description();
        EXPECT_EQ(answers[0].body, "/n/" + std::to_string(i)); // each handler got its own reply
        EXPECT_TRUE(answers[0].onDelegateQueue) << i;
    }
    EXPECT_EQ(served.load(), count);
    EXPECT_FALSE(log.overlapped);
    EXPECT_FALSE(log.onCaller);
}

TEST(HttpSessionThreads, DestroyingASessionAnswersEveryTaskOnceAndNothingAfter) {
    TestServer server([](const ReceivedRequest&) { return Reply::silence(); });
    auto queue = DispatchQueue::create("test.http.delegate");
    auto session = HttpSession::create(testConfiguration(30), nullptr, queue);
    HandlerLog log;
    constexpr int count = 20;
    for (int i = 0; i < count; ++i)
        session->dataTask(HttpRequest{server.url("/wait")}, log.handlerFor(i, *queue))->resume();
    // Also a task that never reaches the server and one that is never resumed.
    session->dataTask(HttpRequest{server.url("/late")}, log.handlerFor(count, *queue))->resume();
    auto suspended =
        session->dataTask(HttpRequest{server.url("/never")}, log.handlerFor(count + 1, *queue));

    session.reset();
    log.destroyed = true;
    suspended->resume(); // the session is gone: nothing happens
    queue->sync([] {});  // anything queued late would have run by now

    std::lock_guard lock(log.mutex);
    EXPECT_EQ(log.answers.size(), static_cast<std::size_t>(count + 1));
    for (const auto& [index, answers] : log.answers) {
        ASSERT_EQ(answers.size(), 1u) << index;
        ASSERT_TRUE(answers[0].error) << index;
        EXPECT_EQ(answers[0].error->code, HttpErrorCode::cancelled) << index;
        EXPECT_TRUE(answers[0].onDelegateQueue) << index;
    }
    EXPECT_FALSE(log.afterDestruction);
    EXPECT_FALSE(log.overlapped);
}
