// The click outbox against the switchable test server: reports kept while the service fails,
// delivered once it is back, dropped when refused or beyond the bounds, shared between two
// outboxes on one file, and clicks sent directly when the file cannot be opened.
#include "service/switchable_service.hpp"

#include <kestrel/service/click_outbox.hpp>
#include <kestrel/support/diagnostics.hpp>

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <map>
#include <thread>

using namespace kestrel;
using namespace kestrel::testing;
using namespace std::chrono_literals;

namespace {

// Counts the clicks the service answered 204, by action, and can fail the others.
struct CountingService {
    std::mutex mutex;
    std::map<std::string, int> counted;
    std::vector<std::chrono::steady_clock::time_point> attempts;
    Reply failure{503};
    bool up = false;

    CountingService() {
        answerWith([this](const ReceivedRequest& request) {
            std::lock_guard lock(mutex);
            attempts.push_back(std::chrono::steady_clock::now());
            if (!up) return failure;
            ++counted[request.target.substr(request.target.find('=') + 1)];
            return Reply{204};
        });
    }
    ~CountingService() { answerWith(Reply{204}); }
    void setUp(bool value) {
        std::lock_guard lock(mutex);
        up = value;
    }
};

ClickOutbox::Options quick() {
    ClickOutbox::Options options;
    options.firstRetryDelay = 20ms;
    options.longestRetryDelay = 200ms;
    options.flushWhenReachable = false;
    return options;
}

// An outbox of its own for the shared server, removed again at the end of the case.
struct OutboxInUse {
    std::shared_ptr<ClickOutbox> outbox;
    explicit OutboxInUse(const std::string& name, ClickOutbox::Options options = quick())
        : outbox(std::make_shared<ClickOutbox>(testFolder() / name, Server::shared(), options)) {
        Server::shared().setClickOutbox(outbox);
    }
    ~OutboxInUse() { Server::shared().setClickOutbox(nullptr); }
};

Result<std::optional<std::string>> clickAndWait(const std::string& actionId) {
    std::promise<Result<std::optional<std::string>>> done;
    Server::shared().clicksWithSessionId(
        "s1", actionId,
        [&](Result<std::optional<std::string>> result) { done.set_value(std::move(result)); });
    return done.get_future().get();
}

template <typename Condition>
bool eventually(Condition condition) {
    for (int i = 0; i < 1500; ++i) {
        if (condition()) return true;
        std::this_thread::sleep_for(10ms);
    }
    return condition();
}

} // namespace

TEST(ClickOutbox, ReportsKeptWhileTheServiceIsDownEachArriveOnceItIsBack) {
    testService();
    CountingService service;
    OutboxInUse use("down-then-up.sqlite");
    for (int i = 0; i < 30; ++i) {
        const auto result = clickAndWait("a" + std::to_string(i));
        ASSERT_FALSE(result.ok());
        EXPECT_TRUE(result.failure().queuedForRetry);
        EXPECT_NE(result.failure().description().find("queued for retry"), std::string::npos);
    }
    EXPECT_EQ(use.outbox->pendingCount(), 30u);
    const auto waiting = use.outbox->pendingReports();
    EXPECT_EQ(waiting.front().actionId, "a0");
    EXPECT_GE(waiting.front().attempts, 1);
    EXPECT_LT(std::chrono::abs(std::chrono::system_clock::now() - waiting.front().madeAt), 1min);

    service.setUp(true);
    use.outbox->flush();
    ASSERT_TRUE(eventually([&] { return use.outbox->pendingCount() == 0; }));
    std::lock_guard lock(service.mutex);
    EXPECT_EQ(service.counted.size(), 30u);
    for (const auto& [action, times] : service.counted) EXPECT_EQ(times, 1) << action;
}

TEST(ClickOutbox, RefusedReportsAreDroppedAndRetryAfterIsWaitedFor) {
    testService();
    CountingService service;
    OutboxInUse use("refused.sqlite");
    std::mutex mutex;
    std::vector<std::string> lines;
    setDiagnosticsHandler([&](std::string_view line) {
        std::lock_guard lock(mutex);
        lines.emplace_back(line);
    });
    const std::shared_ptr<void> restore(nullptr, [](void*) { setDiagnosticsHandler(nullptr); });
    service.failure = Reply{404};
    const auto refused = clickAndWait("gone");
    ASSERT_FALSE(refused.ok());
    EXPECT_FALSE(refused.failure().queuedForRetry);
    EXPECT_EQ(use.outbox->pendingCount(), 0u);

    service.failure = Reply{429, {{"Retry-After", "1"}}};
    EXPECT_TRUE(clickAndWait("later").failure().queuedForRetry);
    service.setUp(true);
    ASSERT_TRUE(eventually([&] { return use.outbox->pendingCount() == 0; }));
    std::lock_guard lock(service.mutex);
    ASSERT_EQ(service.attempts.size(), 3u);
    EXPECT_GE(service.attempts[2] - service.attempts[1], 900ms);
    std::lock_guard linesLock(mutex);
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::string& l) { return l.find("refused") != l.npos; }),
              1);
}

TEST(ClickOutbox, TheOldestAndTheTooOldAreDroppedFirst) {
    testService();
    CountingService service;
    auto options = quick();
    options.maximumReports = 3;
    options.firstRetryDelay = options.longestRetryDelay = 1h;
    {
        OutboxInUse use("bounded.sqlite", options);
        for (int i = 0; i < 5; ++i) clickAndWait("b" + std::to_string(i));
        std::vector<std::string> kept;
        for (const auto& report : use.outbox->pendingReports()) kept.push_back(report.actionId);
        EXPECT_EQ(kept, (std::vector<std::string>{"b2", "b3", "b4"}));
    }
    // A later run whose reports may be no older than an hour, started two hours on, would drop
    // them; here an age limit of zero drops them at its first round.
    options.maximumAge = 0h;
    OutboxInUse later("bounded.sqlite", options);
    EXPECT_TRUE(eventually([&] { return later.outbox->pendingCount() == 0; }));
}

TEST(ClickOutbox, TwoOutboxesOnOneFileSendEachReportOnce) {
    testService();
    CountingService service;
    auto options = quick();
    options.firstRetryDelay = options.longestRetryDelay = 1h; // only the flushes send
    OutboxInUse first("shared.sqlite", options);
    for (int i = 0; i < 40; ++i) clickAndWait("c" + std::to_string(i));
    ClickOutbox second(testFolder() / "shared.sqlite", Server::shared(), options);
    service.setUp(true);
    std::thread a([&] { first.outbox->flush(); });
    std::thread b([&] { second.flush(); });
    a.join();
    b.join();
    ASSERT_TRUE(eventually([&] { return second.pendingCount() == 0; }));
    std::this_thread::sleep_for(100ms);
    std::lock_guard lock(service.mutex);
    EXPECT_EQ(service.counted.size(), 40u);
    for (const auto& [action, times] : service.counted) EXPECT_EQ(times, 1) << action;
}

TEST(ClickOutbox, AFileThatCannotBeOpenedSendsClicksDirectly) {
    auto& server = testService();
    // A folder where a file is expected cannot hold a database.
    std::filesystem::create_directories(testFolder() / "in-the-way.sqlite");
    OutboxInUse use("in-the-way.sqlite");
    EXPECT_FALSE(use.outbox->isStoring());
    const auto before = server.requests().size();
    EXPECT_TRUE(clickAndWait("direct").ok());
    EXPECT_EQ(server.requests().size(), before + 1);
}
