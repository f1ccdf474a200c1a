// The main screen: host-set values, their checks, and replacement from several threads at once.
#include <kestrel/platform/screen.hpp>

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <thread>
#include <vector>

using kestrel::platform::HostScreen;
using kestrel::platform::Screen;
using kestrel::platform::ScreenMetrics;

namespace {
constexpr ScreenMetrics portrait{375, 667, 2};
constexpr ScreenMetrics plus{414, 736, 3};
} // namespace

TEST(MainScreen, ReadsZeroByZeroAtScaleOneUntilTheHostSetsIt) {
    EXPECT_EQ(Screen::main()->metrics(), (ScreenMetrics{0, 0, 1}));
    HostScreen::shared().setMetrics(portrait);
    EXPECT_EQ(Screen::main()->metrics(), portrait);

    // Another screen for a while; the shared one keeps the host's values meanwhile.
    Screen::setMain(std::make_shared<HostScreen>(plus));
    EXPECT_EQ(Screen::main()->metrics(), plus);
    Screen::setMain(nullptr);
    EXPECT_EQ(Screen::main()->metrics(), portrait);
    HostScreen::shared().setMetrics({});
}

TEST(HostScreenValues, BadValuesAreRefusedAndTheOldOnesKept) {
    HostScreen screen(portrait);
    const double nan = std::nan("");
    const double inf = std::numeric_limits<double>::infinity();
    const ScreenMetrics bad[] = {
        {-1, 667, 2},  {375, -0.5, 2}, {nan, 667, 2},   {375, inf, 2},
        {375, 667, 0}, {375, 667, -2}, {375, 667, nan}, {375, 667, inf},
    };
    for (const auto& m : bad) {
        EXPECT_THROW(screen.setMetrics(m), std::invalid_argument)
            << m.width << " x " << m.height << " @" << m.scale;
        EXPECT_EQ(screen.metrics(), portrait);
    }
    EXPECT_THROW(HostScreen({1, 1, 0}), std::invalid_argument);
    screen.setMetrics({0, 0, 0.5});
    EXPECT_EQ(screen.metrics(), (ScreenMetrics{0, 0, 0.5}));
}

TEST(HostScreenValues, ReadersNeverSeeHalfAnUpdate) {
    auto screen = std::make_shared<HostScreen>(portrait);
    std::atomic<bool> stop{false};
    std::atomic<int> mixed{0};
    std::vector<std::thread> threads;
    threads.emplace_back([&] {
        for (int i = 0; i < 20'000; ++i) screen->setMetrics(i % 2 ? plus : portrait);
        stop = true;
    });
    for (int r = 0; r < 3; ++r)
        threads.emplace_back([&] {
            while (!stop) {
                const auto m = screen->metrics();
                if (!(m == portrait) && !(m == plus)) ++mixed;
            }
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(mixed.load(), 0);
}

TEST(MainScreen, CanBeReplacedWhileOtherThreadsReadIt) {
    std::atomic<bool> stop{false};
    std::atomic<int> unexpected{0};
    std::vector<std::thread> threads;
    threads.emplace_back([&] {
        for (int i = 0; i < 5'000; ++i)
            Screen::setMain(i % 2 ? std::make_shared<HostScreen>(plus) : nullptr);
        Screen::setMain(nullptr);
        stop = true;
    });
    for (int r = 0; r < 3; ++r)
        threads.emplace_back([&] {
            while (!stop) {
                const auto screen = Screen::main();
                const auto m = screen->metrics();
                if (!(m == plus) && !(m == ScreenMetrics{})) ++unexpected;
            }
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(unexpected.load(), 0);
    EXPECT_EQ(Screen::main().get(), &HostScreen::shared());
}
