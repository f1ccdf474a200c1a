// The scanner against a test server on 127.0.0.1: which frames it sends, how it backs off, how it
// pauses offline, and that nothing of it runs after stop().
#include "service/switchable_service.hpp"

#include <kestrel/service/scanner.hpp>

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <thread>

using namespace kestrel;
using namespace kestrel::testing;
using platform::Bitmap;
using platform::PixelFormat;
using State = Scanner::State;

namespace {

const Reply pageReply{200, {}, R"({"Id":"p1","Title":"Page one","SessionId":"s-1"})"};
const Reply noPage{404, {}, "no page"};

// The test card seen from a camera `shift` pixels to the side: each shift is another view.
std::shared_ptr<const Bitmap> view(int shift, int w = 320, int h = 240,
                                   PixelFormat format = PixelFormat::rgba8) {
    return fixtures::rgbaBitmap(
        w, h, [shift](int x, int y) { return fixtures::testCard(x + shift, y); }, format);
}

// What the scanner reported, in order.
struct Recorder {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<State> states;
    std::vector<std::string> titles;
    std::vector<Failure> failures;

    Scanner::Callbacks callbacks() {
        return {.pageFound =
                    [this](const Image& page) {
                        std::lock_guard lock(mutex);
                        titles.push_back(page.title.value_or(""));
                    },
                .stateChanged =
                    [this](State state) {
                        std::lock_guard lock(mutex);
                        states.push_back(state);
                        changed.notify_all();
                    },
                .failed =
                    [this](const Failure& failure) {
                        std::lock_guard lock(mutex);
                        failures.push_back(failure);
                        changed.notify_all();
                    }};
    }
    bool waitFor(State state, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, limit,
                                [&] { return !states.empty() && states.back() == state; });
    }
};

Scanner::Options quick() {
    Scanner::Options options;
    options.maximumRequestsPerSecond = 1000;
    return options;
}

std::size_t requestCount() { return testService().requests().size(); }

// Submits a still view (the same frame twice, so the camera counts as held still).
bool submitStill(Scanner& scanner, const Bitmap& frame) {
    scanner.submit(frame);
    return scanner.submit(frame);
}

// Waits until the request sent (if any) has completed.
void settle(const Scanner& scanner) {
    for (int i = 0; i < 1000 && scanner.state() == State::sending; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_NE(scanner.state(), State::sending);
}

} // namespace

TEST(Scanner, SendsOnlyStillSharpNewViewsAndStopsAtTheFirstPage) {
    testService();
    answerWith(noPage);
    const auto before = requestCount();
    Recorder recorder;
    Scanner scanner(Server::shared(), quick(), recorder.callbacks());
    EXPECT_EQ(scanner.state(), State::idle);

    // A moving camera: every frame shows another view. Judged, never sent.
    for (int i = 0; i < 8; ++i) EXPECT_TRUE(scanner.submit(*view(i * 40)));
    // Held still but out of focus: nothing sharp in it.
    const auto blurred = fixtures::rgbaBitmap(320, 240, [](int x, int) {
        return fixtures::solid(static_cast<std::uint8_t>(100 + x / 8), 120, 140);
    });
    submitStill(scanner, *blurred);
    EXPECT_EQ(scanner.counters().requestsSent, 0u);

    // Still and sharp: sent once; the service finds nothing, and the same view is not sent again.
    const auto first = view(0);
    submitStill(scanner, *first);
    settle(scanner);
    for (int i = 0; i < 5; ++i) scanner.submit(*first);
    settle(scanner);
    EXPECT_EQ(scanner.counters().requestsSent, 1u);
    EXPECT_EQ(requestCount(), before + 1);

    // Another still view is sent, and the page found ends the scan.
    answerWith(pageReply);
    EXPECT_TRUE(submitStill(scanner, *view(160)));
    ASSERT_TRUE(recorder.waitFor(State::found));
    EXPECT_FALSE(scanner.submit(*view(0)));
    EXPECT_EQ(requestCount(), before + 2);
    std::lock_guard lock(recorder.mutex);
    EXPECT_EQ(recorder.titles, std::vector<std::string>{"Page one"});
    EXPECT_EQ(recorder.states, (std::vector{State::searching, State::sending, State::searching,
                                            State::sending, State::found}));
    EXPECT_TRUE(recorder.failures.empty()); // "no page here" is not a failure
    const auto counts = scanner.counters();
    EXPECT_EQ(counts.requestsSent, 2u);
    EXPECT_GT(counts.framesSubmitted, counts.framesJudged);
}

TEST(Scanner, SendsNoMoreOftenThanTheRateAllows) {
    testService();
    answerWith(noPage);
    auto options = quick();
    options.maximumRequestsPerSecond = 4;
    Scanner scanner(Server::shared(), options, {});
    submitStill(scanner, *view(0));
    settle(scanner);
    const auto sentAt = std::chrono::steady_clock::now();
    submitStill(scanner, *view(160)); // a new view, but within 250 ms of the last request
    EXPECT_EQ(scanner.counters().requestsSent, 1u);
    std::this_thread::sleep_until(sentAt + std::chrono::milliseconds(300));
    submitStill(scanner, *view(160));
    EXPECT_EQ(scanner.counters().requestsSent, 2u);
    settle(scanner);
}

TEST(Scanner, BacksOffAfterFailuresWithoutAStormOfRequests) {
    testService();
    answerWith(Reply{0, {}, {}, Reply::Kind::closeUnanswered});
    const auto before = requestCount();
    Recorder recorder;
    auto options = quick();
    options.firstRetryDelay = std::chrono::milliseconds(100);
    options.longestRetryDelay = std::chrono::milliseconds(400);
    {
        Scanner scanner(Server::shared(), options, recorder.callbacks());
        // Three camera threads offering the same still view for 1.5 s: a transport failure lets
        // the same view go again, but only after 100, 200, 400, 400... ms.
        const auto frame = view(0);
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(1500);
        std::vector<std::thread> cameras;
        for (int t = 0; t < 3; ++t)
            cameras.emplace_back([&] {
                while (std::chrono::steady_clock::now() < end) {
                    scanner.submit(*frame);
                    std::this_thread::sleep_for(std::chrono::milliseconds(2));
                }
            });
        for (auto& camera : cameras) camera.join();
    }
    const auto sent = requestCount() - before;
    EXPECT_GE(sent, 3u);
    EXPECT_LE(sent, 7u);
    std::lock_guard lock(recorder.mutex);
    ASSERT_FALSE(recorder.failures.empty());
    EXPECT_EQ(recorder.failures.front().cause, FailureCause::transport);
    EXPECT_GE(recorder.failures.size() + 1, sent); // the last may have been cut by the destructor
}

TEST(Scanner, NoCallbackRunsAfterStop) {
    testService();
    // stop() inside a callback: the request in flight is abandoned, nothing else is reported.
    answerWith(Reply::silence());
    {
        Recorder recorder;
        std::unique_ptr<Scanner> scanner;
        auto callbacks = recorder.callbacks();
        callbacks.stateChanged = [&](State state) {
            recorder.callbacks().stateChanged(state);
            if (state == State::sending) scanner->stop();
        };
        scanner = std::make_unique<Scanner>(Server::shared(), quick(), callbacks);
        submitStill(*scanner, *view(0));
        ASSERT_TRUE(recorder.waitFor(State::stopped));
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        std::lock_guard lock(recorder.mutex);
        EXPECT_EQ(recorder.states, (std::vector{State::searching, State::sending, State::stopped}));
        EXPECT_TRUE(recorder.failures.empty());
    }

    // stop() on the test's thread while the page is being found on the delegate queue.
    answerWith(pageReply);
    std::atomic<int> late{0};
    for (int round = 0; round < 40; ++round) {
        auto stopped = std::make_shared<std::atomic<bool>>(false);
        const auto lateCheck = [stopped, &late] {
            if (*stopped) ++late;
        };
        Scanner scanner(Server::shared(), quick(),
                        {.pageFound = [lateCheck](const Image&) { lateCheck(); },
                         .stateChanged = [lateCheck](State) { lateCheck(); }});
        submitStill(scanner, *view(round));
        std::this_thread::sleep_for(std::chrono::microseconds(200 * (round % 20)));
        scanner.stop();
        *stopped = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(late, 0);
}

namespace {

// Reachability that the test switches: reachable over Wi-Fi, or not at all.
class SwitchedNetwork : public platform::ReachabilityFlagSource {
public:
    std::optional<platform::ReachabilityFlags> getFlags() override {
        return up_ ? platform::ReachabilityFlag::reachable : 0;
    }
    bool setCallback(Callback callback) override {
        std::lock_guard lock(mutex_);
        callback_ = std::move(callback);
        return true;
    }
    bool setDispatchQueue(std::shared_ptr<platform::DispatchQueue> queue) override {
        std::lock_guard lock(mutex_);
        queue_ = std::move(queue);
        return true;
    }
    void set(bool up) {
        up_ = up;
        std::lock_guard lock(mutex_);
        if (callback_ && queue_)
            queue_->async([callback = callback_, flags = *getFlags()] { callback(flags); });
    }

private:
    std::atomic<bool> up_{true};
    std::mutex mutex_;
    Callback callback_;
    std::shared_ptr<platform::DispatchQueue> queue_;
};

} // namespace

TEST(Scanner, PausesWhileTheNetworkIsUnreachable) {
    testService();
    answerWith(noPage);
    auto network = std::make_shared<SwitchedNetwork>();
    Recorder recorder;
    auto options = quick();
    options.reachabilitySource = network;
    Scanner scanner(Server::shared(), options, recorder.callbacks());

    network->set(false);
    ASSERT_TRUE(recorder.waitFor(State::pausedOffline));
    const auto before = requestCount();
    EXPECT_FALSE(scanner.submit(*view(0)));
    EXPECT_FALSE(scanner.submit(*view(0)));
    network->set(true);
    ASSERT_TRUE(recorder.waitFor(State::idle));
    EXPECT_EQ(requestCount(), before);

    // Flapping every 100 ms while a camera offers views: each change is reported once.
    std::atomic<bool> done{false};
    std::thread camera([&] {
        for (int i = 0; !done; ++i) {
            submitStill(scanner, *view((i / 10) * 50));
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    });
    for (int i = 0; i < 10; ++i) {
        network->set(i % 2 == 1);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    done = true;
    camera.join();
    ASSERT_TRUE(recorder.waitFor(State::searching) || recorder.waitFor(State::sending));
    std::lock_guard lock(recorder.mutex);
    for (std::size_t i = 1; i < recorder.states.size(); ++i)
        EXPECT_NE(recorder.states[i], recorder.states[i - 1]) << "state " << i << " repeated";
    EXPECT_GE(std::count(recorder.states.begin(), recorder.states.end(), State::pausedOffline), 5);
}

TEST(Scanner, TakesFramesOfAnyShapeAndKeepsNoneOfThem) {
    testService();
    answerWith(noPage);
    Scanner scanner(Server::shared(), quick(), {});
    EXPECT_FALSE(scanner.submit(*view(0, 1, 1)));
    EXPECT_FALSE(scanner.submit(*view(0, 15, 200)));
    EXPECT_FALSE(scanner.submit(*Bitmap::placeholder({640, 480})));

    // A frame whose size or format changes is a new view each time: never held still.
    const auto before = requestCount();
    EXPECT_TRUE(scanner.submit(*view(0, 320, 240, PixelFormat::bgra8)));
    EXPECT_TRUE(scanner.submit(*view(0, 300, 240, PixelFormat::bgra8)));
    EXPECT_TRUE(scanner.submit(*view(0, 320, 240)));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(requestCount(), before);

    // The host's buffer is freed as soon as submit returns (ASan sees any later read); what is
    // sent is the frame at the send size (32 wide here), whether it was larger or already so.
    for (const int width : {640, 32}) {
        const int height = width * 3 / 4;
        const auto sentBefore = requestCount();
        for (int i = 0; i < 2; ++i) {
            std::vector<std::uint8_t> pixels(static_cast<std::size_t>(width) * height, 230);
            for (int y = 0; y < height / 2; ++y)
                std::fill_n(pixels.begin() + y * width, width / 2, 20); // dark top-left quarter
            const auto frame =
                Bitmap::borrowing(PixelFormat::gray8, width, height, 0, pixels.data());
            scanner.submit(*frame);
        }
        settle(scanner);
        ASSERT_EQ(requestCount(), sentBefore + 1) << width;
        const std::string body = testService().requests().back().body;
        const auto start = body.find("\xFF\xD8"), end = body.rfind("\xFF\xD9");
        ASSERT_TRUE(start != std::string::npos && end != std::string::npos);
        const auto decoded = fixtures::decodeJpeg(
            {body.begin() + static_cast<long>(start), body.begin() + static_cast<long>(end) + 2});
        ASSERT_EQ(decoded.width, 32);
        const auto at = [&](int x, int y) {
            return decoded.pixels[static_cast<std::size_t>((y * 32 + x) * decoded.components)];
        };
        EXPECT_LT(at(4, 4), 60) << width;
        EXPECT_GT(at(28, 4), 190) << width;
        EXPECT_GT(at(4, 20), 190) << width;
    }
}

TEST(Scanner, SearchesPicturesAndCallsBackOnTheHostsExecutor) {
    testService();
    answerWith(Reply{200, {}, "[]"});
    const auto host = platform::DispatchQueue::create("host");
    std::atomic<int> offExecutor{0};
    std::mutex mutex;
    std::vector<std::string> ids;
    auto options = quick();
    options.recognition = Scanner::Recognition::pictureSearch;
    options.executor = [host](platform::DispatchQueue::Task task) { host->async(std::move(task)); };
    Scanner scanner(Server::shared(), options,
                    {.picturesFound =
                         [&](const std::vector<Picture>& pictures) {
                             if (!host->isCurrent()) ++offExecutor;
                             std::lock_guard lock(mutex);
                             for (const auto& picture : pictures)
                                 ids.push_back(picture.id.value_or(""));
                         },
                     .stateChanged =
                         [&](State) {
                             if (!host->isCurrent()) ++offExecutor;
                         }});
    submitStill(scanner, *view(0)); // no pictures: searching goes on
    settle(scanner);
    EXPECT_EQ(scanner.state(), State::searching);
    answerWith(Reply{200, {}, R"([{"Id":"a","SessionId":"s"},{"Id":"b","SessionId":"t"}])"});
    submitStill(scanner, *view(160));
    settle(scanner);
    EXPECT_EQ(scanner.state(), State::found);
    EXPECT_EQ(testService().requests().back().target, "/v1/pictures/search");
    host->sync([] {});
    std::lock_guard lock(mutex);
    EXPECT_EQ(ids, (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(offExecutor, 0);
}
