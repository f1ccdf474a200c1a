// Many tasks at once, cancellation, and taking a session down while it works.
#include "http/session_test_support.hpp"
#include "http/test_server.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <map>
#include <mutex>

using namespace kestrel::platform;
using kestrel::testing::ReceivedRequest;
using kestrel::testing::Reply;
using kestrel::testing::testConfiguration;
using kestrel::testing::TestServer;
using kestrel::testing::TestServerOptions;

namespace {

// Counts handler calls per task and notes anything a handler must never do.
struct HandlerLog {
    std::mutex mutex;
    std::condition_variable changed;
    std::map<int, int> calls;
    std::map<int, std::optional<HttpError>> errors;
    std::atomic<int> running{0};
    std::atomic<bool> overlapped{false};
    std::atomic<bool> offQueue{false};
    std::atomic<bool> onCaller{false};
    std::atomic<bool> afterDestruction{false};
    std::atomic<bool> destroyed{false};

    HttpSession::CompletionHandler handlerFor(int index, DispatchQueue& queue,
                                              std::thread::id caller) {
        return [this, index, &queue, caller](auto, auto, std::optional<HttpError> error) {
            if (running.fetch_add(1) != 0) overlapped = true;
            if (!queue.isCurrent()) offQueue = true;
            if (std::this_thread::get_id() == caller) onCaller = true;
            if (destroyed) afterDestruction = true;
            {
                std::lock_guard lock(mutex);
                ++calls[index];
                errors[index] = std::move(error);
            }
            running.fetch_sub(1);
            changed.notify_all();
        };
    }
    bool waitForCalls(std::size_t count) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, std::chrono::seconds(60),
                                [&] { return calls.size() >= count; });
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
    const auto caller = std::this_thread::get_id();
    std::map<int, std::string> bodies;
    std::mutex bodiesMutex;
    constexpr int count = 200;
    for (int i = 0; i < count; ++i) {
        auto count = log.handlerFor(i, session->delegateQueue(), caller);
        session
            ->dataTask(HttpRequest{server.url("/n/" + std::to_string(i))},
                       [&, i, count](auto body, auto response, auto error) {
                           {
                               std::lock_guard lock(bodiesMutex);
                               bodies[i] = body.value_or("<none>");
                           }
                           count(std::move(body), std::move(response), std::move(error));
                       })
            ->resume();
    }
    ASSERT_TRUE(log.waitForCalls(count));
    session->delegateQueue().sync([] {}); // let the last handler return
    std::lock_guard lock(log.mutex);
    for (int i = 0; i < count; ++i) {
        EXPECT_EQ(log.calls[i], 1) << i;
        EXPECT_FALSE(log.errors[i]) << i << ": " << log.errors[i]->description();
        std::lock_guard bodiesLock(bodiesMutex);
        EXPECT_EQ(bodies[i], "/n/" + std::to_string(i)); // each handler got its own reply
    }
    EXPECT_EQ(served.load(), count);
    EXPECT_FALSE(log.overlapped);
    EXPECT_FALSE(log.offQueue);
    EXPECT_FALSE(log.onCaller);
}

TEST(HttpSessionThreads, DestroyingASessionAnswersEveryTaskOnceAndNothingAfter) {
    TestServer server([](const ReceivedRequest&) { return Reply::silence(); });
    auto queue = DispatchQueue::create("test.http.delegate");
    auto session = HttpSession::create(testConfiguration(30), nullptr, queue);
    HandlerLog log;
    constexpr int count = 20;
    for (int i = 0; i < count; ++i)
        session
            ->dataTask(HttpRequest{server.url("/wait")},
                       log.handlerFor(i, *queue, std::this_thread::get_id()))
            ->resume();
    // Also a task that never reaches the server and one that is never resumed.
    session->dataTask(HttpRequest{server.url("/late")}, log.handlerFor(count, *queue, {}))
        ->resume();
    auto suspended =
        session->dataTask(HttpRequest{server.url("/never")}, log.handlerFor(count + 1, *queue, {}));

    session.reset();
    log.destroyed = true;
    suspended->resume(); // the session is gone: nothing happens
    queue->sync([] {});  // anything queued late would have run by now

    std::lock_guard lock(log.mutex);
    EXPECT_EQ(log.calls.size(), static_cast<std::size_t>(count + 1));
    for (const auto& [index, calls] : log.calls) {
        EXPECT_EQ(calls, 1) << index;
        ASSERT_TRUE(log.errors[index]) << index;
        EXPECT_EQ(log.errors[index]->code, HttpErrorCode::cancelled) << index;
    }
    EXPECT_FALSE(log.afterDestruction);
    EXPECT_FALSE(log.overlapped);
    EXPECT_FALSE(log.offQueue);
}

TEST(HttpSessionThreads, ASessionMayBeDestroyedFromItsOwnHandler) {
    TestServer server([](const ReceivedRequest& request) {
        return request.target == "/quick" ? Reply{204} : Reply::silence();
    });
    auto queue = DispatchQueue::create("test.http.delegate");
    auto session = HttpSession::create(testConfiguration(30), nullptr, queue);
    std::promise<void> done;
    std::atomic<int> stuckCalls{0};
    std::optional<HttpErrorCode> stuckError;
    session
        ->dataTask(HttpRequest{server.url("/stuck")},
                   [&](auto, auto, std::optional<HttpError> error) {
                       ++stuckCalls;
                       if (error) stuckError = error->code;
                   })
        ->resume();
    // The stuck request is on the server before the quick one is sent.
    while (server.requests().empty()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    session
        ->dataTask(HttpRequest{server.url("/quick")},
                   [&](auto, auto, auto) {
                       session.reset(); // the last reference, dropped on the delegate queue
                       done.set_value();
                   })
        ->resume();
    ASSERT_EQ(done.get_future().wait_for(std::chrono::seconds(30)), std::future_status::ready);
    queue->sync([] {});
    EXPECT_EQ(stuckCalls.load(), 1);
    EXPECT_EQ(stuckError, HttpErrorCode::cancelled);
}

TEST(HttpSessionThreads, CancelledTasksAnswerOnceWithCancelled) {
    TestServer server([](const ReceivedRequest&) { return Reply::silence(); });
    auto session = HttpSession::create(testConfiguration(30));
    HandlerLog log;
    const auto caller = std::this_thread::get_id();

    auto running = session->dataTask(HttpRequest{server.url("/wait")},
                                     log.handlerFor(0, session->delegateQueue(), caller));
    running->resume();
    while (server.requests().empty()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    running->cancel();

    auto suspended = session->dataTask(HttpRequest{server.url("/never")},
                                       log.handlerFor(1, session->delegateQueue(), caller));
    suspended->cancel();
    suspended->resume(); // too late: it was cancelled
    suspended->cancel();

    ASSERT_TRUE(log.waitForCalls(2));
    session->delegateQueue().sync([] {});
    std::lock_guard lock(log.mutex);
    for (int index : {0, 1}) {
        EXPECT_EQ(log.calls[index], 1) << index;
        ASSERT_TRUE(log.errors[index]);
        EXPECT_EQ(log.errors[index]->code, HttpErrorCode::cancelled);
    }
    EXPECT_EQ(server.requests().size(), 1u);
    EXPECT_LT(running->taskIdentifier(), suspended->taskIdentifier());
    EXPECT_EQ(suspended->originalRequest().url, server.url("/never"));
}

TEST(HttpSessionThreads, DestroyingASessionWhileItsDelegateHoldsAChallenge) {
    // The delegate keeps the completion and never answers; the session must still go away.
    class HoardingDelegate : public HttpSessionDelegate {
    public:
        void urlSession(HttpSession&, const AuthenticationChallenge&,
                        ChallengeCompletion completion) override {
            std::lock_guard lock(mutex);
            kept.push_back(std::move(completion));
            asked.set_value();
        }
        std::mutex mutex;
        std::vector<ChallengeCompletion> kept;
        std::promise<void> asked;
    };
    TestServerOptions options;
    options.tls = kestrel::testing::TestCertificates::shared().localhost;
    TestServer server([](const ReceivedRequest&) { return Reply{200}; }, options);
    HoardingDelegate delegate;
    auto session = HttpSession::create(testConfiguration(30), &delegate);
    std::atomic<int> calls{0};
    std::optional<HttpErrorCode> code;
    session
        ->dataTask(HttpRequest{server.url("/x")},
                   [&](auto, auto, std::optional<HttpError> error) {
                       ++calls;
                       if (error) code = error->code;
                   })
        ->resume();
    ASSERT_EQ(delegate.asked.get_future().wait_for(std::chrono::seconds(30)),
              std::future_status::ready);
    session.reset();
    EXPECT_EQ(calls.load(), 1);
    EXPECT_EQ(code, HttpErrorCode::cancelled);
    // Answering after the session is gone is harmless.
    std::lock_guard lock(delegate.mutex);
    for (auto& completion : delegate.kept)
        completion(AuthChallengeDisposition::performDefaultHandling, std::nullopt);
}
