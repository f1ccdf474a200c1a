// Why calls fail, and cancellation, against a test server on 127.0.0.1 whose replies each case
// chooses. The whole program shares one configuration (small photos, so that 10 000 calls stay
// quick), made before the first case.
#include "service/switchable_service.hpp"
#include "support/diagnostics.hpp"

#include <kestrel/config/kestrel_manager.hpp>
#include <kestrel/platform/bundle.hpp>
#include <kestrel/platform/locale.hpp>
#include <kestrel/platform/user_defaults.hpp>
#include <kestrel/service/server.hpp>
#include <kestrel/support/diagnostics.hpp>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <future>
#include <random>
#include <thread>

using namespace kestrel;
using namespace kestrel::testing;

namespace {

// One completion of a Result-style call, with where it ran.
template <typename T>
struct Completed {
    std::optional<Result<T>> result;
    bool onDelegateQueue = false;
    bool onCallerThread = false;
};

template <typename T, typename Start>
Completed<T> waitFor(Start start, Call* handle = nullptr) {
    auto promise = std::make_shared<std::promise<Completed<T>>>();
    auto future = promise->get_future();
    const auto caller = std::this_thread::get_id();
    const Call call = start([promise, caller](Result<T> result) {
        promise->set_value({std::move(result),
                            Server::shared().session()->delegateQueue().isCurrent(),
                            std::this_thread::get_id() == caller});
    });
    if (handle) *handle = call;
    if (future.wait_for(std::chrono::seconds(30)) != std::future_status::ready) {
        ADD_FAILURE() << "the completion never ran";
        return {};
    }
    return future.get();
}

Completed<Image> recognise(std::shared_ptr<const platform::Bitmap> image = photo()) {
    return waitFor<Image>([&](auto done) {
        return Server::shared().enrichedImage(image, Server::ImageResultCompletion(done));
    });
}

Completed<std::optional<std::string>> click(const std::string& actionId) {
    return waitFor<std::optional<std::string>>([&](auto done) {
        return Server::shared().clicksWithSessionId("s1", actionId,
                                                    Server::ClickResultCompletion(done));
    });
}

const Failure& failureOf(const auto& completed) {
    static const Failure none{};
    if (!completed.result || completed.result->ok()) {
        ADD_FAILURE() << "the call did not fail";
        return none;
    }
    return completed.result->failure();
}

} // namespace

TEST(CallFailures, RequestsThatCannotBeBuiltFailAtOnceOnTheCallersThread) {
    auto& server = testService();
    const auto before = server.requests().size();

    auto noPhoto = recognise(nullptr);
    EXPECT_TRUE(noPhoto.onCallerThread);
    EXPECT_EQ(failureOf(noPhoto).cause, FailureCause::missingPhoto);
    EXPECT_EQ(failureOf(noPhoto).error, KestrelError::parametersMissing);

    KestrelLight::setApiKey("key\r\nX-Injected: 1");
    EXPECT_EQ(failureOf(recognise()).cause, FailureCause::unsafeHeaderValue);
    KestrelLight::setApiKey("key-1");

    auto noAction = click("");
    EXPECT_TRUE(noAction.onCallerThread);
    EXPECT_EQ(failureOf(noAction).cause, FailureCause::missingIdentifier);
    // The classic click completion hears only of success.
    bool called = false;
    const Call none =
        Server::shared().clicksWithSessionId("s1", "", [&](auto, auto) { called = true; });
    EXPECT_FALSE(called);
    EXPECT_TRUE(none.isFinished());
    EXPECT_FALSE(none.cancel());
    EXPECT_EQ(server.requests().size(), before);
}

TEST(CallFailures, RepliesWithoutAPageSayWhatTheServiceDid) {
    testService();
    answerWith(Reply{503, {}, std::string(2000, 'x') + "end"});
    auto unavailable = recognise();
    EXPECT_TRUE(unavailable.onDelegateQueue);
    const Failure& status = failureOf(unavailable);
    EXPECT_EQ(status.cause, FailureCause::httpStatus);
    EXPECT_EQ(status.error, KestrelError::notEnrichedImage);
    EXPECT_EQ(status.httpStatus, 503);
    EXPECT_EQ(status.body, std::string(Failure::maximumBodyExcerpt, 'x'));
    EXPECT_NE(status.description().find("503"), std::string::npos);

    answerWith(Reply{200, {}, "[1, 2"});
    const Failure undecodable = failureOf(recognise());
    EXPECT_EQ(undecodable.cause, FailureCause::undecodableReply);
    EXPECT_FALSE(undecodable.detail.empty());

    // A page without a session is a failure of this overload; the classic one still gets it.
    answerWith(Reply{200, {}, R"({"Title":"no session"})"});
    EXPECT_EQ(failureOf(recognise()).cause, FailureCause::emptyReply);
    std::promise<std::optional<Image>> classic;
    Server::shared().enrichedImage(
        photo(), [&](std::optional<Image> page, auto) { classic.set_value(std::move(page)); });
    const auto page = classic.get_future().get();
    ASSERT_TRUE(page);
    EXPECT_EQ(page->title, "no session");

    answerWith(Reply{200, {}, std::string(100, 'y'), Reply::Kind::closeMidBody});
    const Failure broken = failureOf(recognise());
    EXPECT_EQ(broken.cause, FailureCause::transport);
    ASSERT_TRUE(broken.transportError);
    EXPECT_EQ(broken.transportError->code, platform::HttpErrorCode::networkConnectionLost);

    answerWith(Reply{404, {}, "no such session"});
    const Failure refused = failureOf(click("a1"));
    EXPECT_EQ(refused.cause, FailureCause::httpStatus);
    EXPECT_EQ(refused.body, "no such session");
    answerWith(Reply{204});
    const auto counted = click("a1");
    ASSERT_TRUE(counted.result && counted.result->ok());
    EXPECT_EQ(counted.result->value(), "");
}

TEST(Cancellation, ACallWaitingForItsReplyCompletesOnceAsCancelled) {
    auto& server = testService();
    answerWith(Reply::silence());
    std::atomic<int> completions{0};
    std::promise<Failure> cancelled;
    const Call call = Server::shared().enrichedImage(photo(), [&](Result<Image> result) {
        if (completions++ == 0) cancelled.set_value(result.failure());
    });
    while (server.requests().empty()) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    EXPECT_FALSE(call.isFinished());
    EXPECT_TRUE(call.cancel());
    EXPECT_TRUE(call.isFinished());
    EXPECT_FALSE(call.cancel());
    const Failure failure = cancelled.get_future().get();
    EXPECT_EQ(failure.cause, FailureCause::cancelled);
    EXPECT_EQ(failure.error, KestrelError::notEnrichedImage);

    // The classic completion: once, with notEnrichedImage.
    std::promise<std::optional<KestrelError>> classic;
    const Call other = Server::shared().pictureSearch(
        photo(), [&](auto, std::optional<KestrelError> error) { classic.set_value(error); });
    other.cancel();
    EXPECT_EQ(classic.get_future().get(), KestrelError::notEnrichedImage);

    // Cancelling a call that has completed does nothing.
    answerWith(Reply{204});
    Call done;
    waitFor<std::optional<std::string>>(
        [&](auto finish) {
            return Server::shared().clicksWithSessionId("s1", "a1",
                                                        Server::ClickResultCompletion(finish));
        },
        &done);
    EXPECT_FALSE(done.cancel());
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(completions.load(), 1);
}

TEST(Cancellation, FromTheDelegateQueueTheCancelledCompletionRunsBeforeCancelReturns) {
    testService();
    answerWith([](const ReceivedRequest& request) {
        return request.target.find("slow") != std::string::npos ? Reply::silence() : Reply{204};
    });
    std::vector<std::string> order;
    const Call slow = Server::shared().clicksWithSessionId(
        "s1", "slow", [&](Result<std::optional<std::string>> r) {
            order.push_back(r ? "slow done" : std::string(causeName(r.failure().cause)));
        });
    std::promise<void> finished;
    Server::shared().clicksWithSessionId("s1", "fast", [&](Result<std::optional<std::string>>) {
        order.push_back("fast done");
        EXPECT_TRUE(slow.cancel());
        order.push_back("cancel returned");
        finished.set_value();
    });
    finished.get_future().wait();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    Server::shared().session()->delegateQueue().sync([] {});
    EXPECT_EQ(order, (std::vector<std::string>{"fast done", "cancelled", "cancel returned"}));
}

TEST(Cancellation, TenThousandCallsCancelledAtRandomMomentsEachCompleteOnce) {
    testService();
    std::mt19937 random(7);
    answerWith([](const ReceivedRequest&) {
        thread_local std::mt19937 delay(std::hash<std::thread::id>{}(std::this_thread::get_id()));
        std::this_thread::sleep_for(std::chrono::microseconds(delay() % 800));
        return Reply{204};
    });
    constexpr int calls = 10000;
    constexpr int batch = 100;
    std::vector<std::atomic<int>> completions(calls);
    std::atomic<int> total{0}, cancelled{0};
    for (int first = 0; first < calls; first += batch) {
        std::vector<std::pair<std::chrono::microseconds, Call>> moments;
        const auto start = std::chrono::steady_clock::now();
        for (int i = first; i < first + batch; ++i) {
            moments.emplace_back(
                std::chrono::microseconds(random() % 30000),
                Server::shared().clicksWithSessionId(
                    "s1", "a" + std::to_string(i), [&, i](Result<std::optional<std::string>> r) {
                        ++completions[i];
                        if (!r && r.failure().cause == FailureCause::cancelled) ++cancelled;
                        ++total;
                    }));
        }
        // Each call is cancelled at its own moment of the first 30 ms of the batch: before it
        // was sent, while it waits, or after it completed.
        std::sort(moments.begin(), moments.end(),
                  [](const auto& a, const auto& b) { return a.first < b.first; });
        for (auto& [moment, call] : moments) {
            std::this_thread::sleep_until(start + moment);
            call.cancel();
        }
    }
    for (int i = 0; i < 3000 && total.load() < calls; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(total.load(), calls);
    for (int i = 0; i < calls; ++i) ASSERT_EQ(completions[i].load(), 1) << "call " << i;
    EXPECT_GT(cancelled.load(), 0);
    std::printf("%d of %d calls were cancelled before they completed\n", cancelled.load(), calls);
}

TEST(Diagnostics, LinesGoToTheHostsHandlerUntilItIsRemoved) {
    testService();
    answerWith(Reply{500, {}, "down"});
    std::mutex mutex;
    std::vector<std::string> lines;
    setDiagnosticsHandler([&](std::string_view line) {
        std::lock_guard lock(mutex);
        lines.emplace_back(line);
    });
    recognise();
    setDiagnosticsHandler(nullptr);
    recognise();
    std::lock_guard lock(mutex);
    EXPECT_EQ(lines, (std::vector<std::string>{testService().url("/v1/enriched-images"),
                                               "EnrichedImage http status code: 500"}));
}

// The library's own threads (a click outbox sending, a transfer completing) go on printing while
// the host's main() returns and the process exits.
TEST(Diagnostics, LinesPrintedWhileTheProcessExitsDoNoHarm) {
    GTEST_FLAG_SET(death_test_style, "threadsafe"); // a child with none of this process's threads
    EXPECT_EXIT(
        {
            setDiagnosticsHandler([](std::string_view) {});
            std::thread([] {
                for (;;) support::printLine("still busy");
            }).detach();
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "");
}
