// The main screen: host-set values, their checks, and replacement from several threads at once.
#include <kestrel/platform/screen.hpp>

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
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

TEST(HostScreenValues, BadValuesAreRefusedAndTheOldOnesKept) {
    HostScreen screen(portrait);
    const ScreenMetrics bad[] = {{-1, 667, 2}, {std::nan(""), 667, 2}, {375, 667, 0}};
    for (const auto& m : bad) {
        EXPECT_THROW(screen.setMetrics(m), std::invalid_argument)
            << m.width << " x " << m.height << " @" << m.scale;
        EXPECT_EQ(screen.metrics(), portrait);
    }
    EXPECT_THROW(HostScreen({1, 1, 0}), std::invalid_argument);
}

TEST(MainScreen, ReadersSeeWholeValuesWhileItIsUpdatedAndReplaced) {
    // One thread updates the installed screen and often replaces it (or restores the shared one,
    // which reads 0 x 0 at scale 1), releasing the old screen; readers must never see a mix of
    // two states nor a screen that is gone.
    std::atomic<bool> stop{false};
    std::atomic<int> mixed{0};
    std::vector<std::thread> threads;
    threads.emplace_back([&] {
        std::shared_ptr<HostScreen> screen;
        for (int i = 0; i < 20'000; ++i) {
            if (i % 4 == 0) {
                screen = std::make_shared<HostScreen>(plus);
                Screen::setMain(i % 8 ? screen : nullptr);
            }
            screen->setMetrics(i % 2 ? plus : portrait);
        }
        Screen::setMain(nullptr);
        stop = true;
    });
    for (int r = 0; r < 3; ++r)
        threads.emplace_back([&] {
            while (!stop) {
                const auto m = Screen::main()->metrics();
                if (!(m == portrait) && !(m == plus) && !(m == ScreenMetrics{})) ++mixed;
            }
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(mixed.load(), 0);
    EXPECT_EQ(Screen::main().get(), &HostScreen::shared());
}
