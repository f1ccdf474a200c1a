#include <kestrel/platform/screen.hpp>

#include "platform/runtime/instance_slot.hpp"

#include <cmath>
#include <stdexcept>

namespace kestrel::platform {

namespace {
// Never destroyed: the main screen may be read until the process ends, by any thread.
const std::shared_ptr<HostScreen>& sharedHostScreen() {
    static auto* screen = new std::shared_ptr<HostScreen>(std::make_shared<HostScreen>());
    return *screen;
}

InstanceSlot<Screen>& mainSlot() {
    // The shared HostScreen outlives any other screen installed for a while, so the values the
    // host set on it are still there when setMain(nullptr) brings it back.
    static auto* slot = new InstanceSlot<Screen>([] { return sharedHostScreen(); });
    return *slot;
}

void validate(const ScreenMetrics& m) {
    if (!std::isfinite(m.width) || m.width < 0 || !std::isfinite(m.height) || m.height < 0)
        throw std::invalid_argument("screen bounds must be finite and not negative");
    if (!std::isfinite(m.scale) || m.scale <= 0)
        throw std::invalid_argument("screen scale must be a finite number above zero");
}
} // namespace

std::shared_ptr<Screen> Screen::main() { return mainSlot().get(); }

void Screen::setMain(std::shared_ptr<Screen> screen) { mainSlot().set(std::move(screen)); }

HostScreen& HostScreen::shared() { return *sharedHostScreen(); }

HostScreen::HostScreen(ScreenMetrics metrics) : metrics_(metrics) { validate(metrics); }

ScreenMetrics HostScreen::metrics() const {
    std::lock_guard lock(mutex_);
    return metrics_;
}

void HostScreen::setMetrics(ScreenMetrics metrics) {
    validate(metrics);
    std::lock_guard lock(mutex_);
    metrics_ = metrics;
}

} // namespace kestrel::platform
