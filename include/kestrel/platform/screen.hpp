/// \file
/// The main screen: its bounds in points and its scale, as a replaceable source, and the built-in
/// one whose values the host sets (a Linux process has no single screen of its own).
#pragma once

#include <memory>
#include <mutex>

namespace kestrel::platform {

/// The main screen's bounds in points (not pixels), in the current orientation, and the number of
/// pixels per point.
struct ScreenMetrics {
    double width = 0;  ///< in points
    double height = 0; ///< in points
    double scale = 1;  ///< pixels per point

    /// Equal when every field is equal.
    bool operator==(const ScreenMetrics&) const = default;
};

/// Where the screen descriptors come from. Implementations must be safe to call from any thread.
class Screen {
public:
    virtual ~Screen() = default;

    /// Bounds and scale, read together so that a change in between cannot mix two states.
    virtual ScreenMetrics metrics() const = 0;

    /// The main screen: the one installed with setMain, else HostScreen::shared(), which reads
    /// 0 x 0 at scale 1 until the host sets it. Any thread.
    static std::shared_ptr<Screen> main();
    /// Installs another main screen; null restores HostScreen::shared(). Any thread.
    static void setMain(std::shared_ptr<Screen> screen);
};

/// A screen whose values the host sets, e.g. at start and at each rotation. Any thread.
class HostScreen final : public Screen {
public:
    /// The process-wide screen that Screen::main() gives unless another is installed; a host sets
    /// its values with HostScreen::shared().setMetrics(...). Created on first use, never destroyed.
    static HostScreen& shared();

    /// Starts at the given values (0 x 0 at scale 1 by default); throws like setMetrics.
    explicit HostScreen(ScreenMetrics metrics = {});

    ScreenMetrics metrics() const override;
    /// Replaces bounds and scale at once. Throws std::invalid_argument, keeping the old values,
    /// for a width or height that is negative or not finite, or a scale that is not a finite
    /// number above zero.
    void setMetrics(ScreenMetrics metrics);

private:
    mutable std::mutex mutex_;
    ScreenMetrics metrics_;
};

} // namespace kestrel::platform
