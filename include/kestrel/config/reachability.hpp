/// \file
/// Reachability: whether the network can be reached and over which kind of link (Wi-Fi, meaning
/// any non-cellular path, or cellular), with closures and a notification when that changes.
#pragma once

#include <kestrel/platform/dispatch_queue.hpp>
#include <kestrel/platform/notification_center.hpp>
#include <kestrel/platform/reachability_flags.hpp>

#include <functional>
#include <memory>
#include <mutex>
#include <netinet/in.h>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace kestrel {

/// Posted on a monitor's notification centre after each reported change; the notification's object
/// is the monitor as a std::shared_ptr<Reachability>.
inline constexpr std::string_view ReachabilityChangedNotification =
    "ReachabilityChangedNotification";

/// The error startNotifier throws. The two creation cases exist for completeness: the factories
/// report failure by giving no monitor.
class ReachabilityError : public std::runtime_error {
public:
    /// Which error it is; what() gives its name, e.g. "ReachabilityError.UnableToSetCallback".
    enum class Case {
        FailedToCreateWithAddress,  ///< no monitor could be made for an address
        FailedToCreateWithHostname, ///< no monitor could be made for a host name
        UnableToSetCallback,        ///< the flag source refused the change callback
        UnableToSetDispatchQueue,   ///< the flag source refused the monitor's queue
    };

    ///@{
    /// The error of the case of the same name; the first two carry the address or host name.
    static ReachabilityError failedToCreateWithAddress(const sockaddr_in& address);
    static ReachabilityError failedToCreateWithHostname(std::string hostname);
    static ReachabilityError unableToSetCallback();
    static ReachabilityError unableToSetDispatchQueue();
    ///@}

    /// Which error this is.
    Case errorCase() const { return case_; }
    /// The address of FailedToCreateWithAddress; absent for the other cases.
    const std::optional<sockaddr_in>& address() const { return address_; }
    /// The host name of FailedToCreateWithHostname; absent for the other cases.
    const std::optional<std::string>& hostname() const { return hostname_; }

private:
    ReachabilityError(Case errorCase, const char* what);
    Case case_;
    std::optional<sockaddr_in> address_;
    std::optional<std::string> hostname_;
};

/// Watches whether the network can be reached and over which kind of link, through a flag
/// source, and reports changes to closures and as a ReachabilityChangedNotification.
class Reachability : public std::enable_shared_from_this<Reachability> {
public:
    /// How the network can be reached: not at all, over Wi-Fi (any non-cellular path), or over
    /// a cellular link.
    enum class NetworkStatus { notReachable, reachableViaWiFi, reachableViaWWAN };

    /// Called with the monitor when an evaluation finds it reachable.
    using NetworkReachable = std::function<void(Reachability&)>;
    /// Called with the monitor when an evaluation finds it unreachable.
    using NetworkUnreachable = std::function<void(Reachability&)>;

    /// A monitor over the given flag source (the platform target, or a source of the host's or a
    /// test's own). A null source gives a monitor that reads no flags and never notifies.
    static std::shared_ptr<Reachability>
    create(std::shared_ptr<platform::ReachabilityFlagSource> reachabilityRef);
    /// A monitor for a host name, looked up off the caller's thread. Null when no target can be
    /// made for it (empty, longer than 253 bytes, or containing a NUL byte; no rtnetlink).
    static std::shared_ptr<Reachability> create(std::string_view hostname);
    /// A monitor for the zero address 0.0.0.0, meaning any route. Null when no target can be made.
    static std::shared_ptr<Reachability> create();

    /// Stops the notifier. No closure or notification of this monitor starts afterwards; one
    /// already running on another thread may finish.
    ~Reachability();
    Reachability(const Reachability&) = delete;
    Reachability& operator=(const Reachability&) = delete;

    ///@{
    /// The closures called by change evaluations (whenReachable when the evaluation finds the
    /// network reachable, whenUnreachable otherwise): on the monitor's serial queue for the first
    /// evaluation after startNotifier, on DispatchQueue::main() for every later one. Evaluations
    /// never overlap, so a closure must not wait for the main queue. Setting and reading them is
    /// safe from any thread.
    NetworkReachable whenReachable() const;
    void setWhenReachable(NetworkReachable closure);
    NetworkUnreachable whenUnreachable() const;
    void setWhenUnreachable(NetworkUnreachable closure);
    ///@}
    ///@{
    /// When false, a cellular path does not count as reachable. True at creation.
    bool reachableOnWWAN() const;
    void setReachableOnWWAN(bool reachable);
    ///@}
    ///@{
    /// Where changes are posted; NotificationCenter::defaultCenter() at creation. A null centre
    /// is ignored.
    std::shared_ptr<platform::NotificationCenter> notificationCenter() const;
    void setNotificationCenter(std::shared_ptr<platform::NotificationCenter> center);
    ///@}

    /// Starts change notification: evaluates once on the monitor's serial queue (reporting the
    /// current state), then again on the main queue each time the flag source calls back, reporting
    /// only when the flags differ from the last evaluation. Does nothing without a flag source or
    /// when already running. Throws ReachabilityError (UnableToSetCallback or
    /// UnableToSetDispatchQueue) when the source refuses, after stopping. Any thread.
    void startNotifier();
    /// Stops change notification; evaluations not yet started are dropped. Never fails.
    void stopNotifier();

    // Status reads, from the flags read afresh on the calling thread (no flags without a source
    // or when it cannot read them).

    /// True when the flags say reachable, unless a connection is required for a transient
    /// connection, or the path is cellular and reachableOnWWAN is false. On the calling thread.
    bool isReachable() const;
    /// True when the flags say reachable over a non-cellular path. On the calling thread.
    bool isReachableViaWiFi() const;
    /// True when the flags say reachable over a cellular path. On the calling thread.
    bool isReachableViaWWAN() const;
    /// notReachable unless isReachable(); otherwise reachableViaWiFi or reachableViaWWAN by the
    /// kind of path. On the calling thread.
    NetworkStatus currentReachabilityStatus() const;
    /// The description of currentReachabilityStatus: "No Connection", "WiFi" or "Cellular".
    std::string currentReachabilityString() const;
    /// Ten characters showing the current flags: "W" (cellular) or "-", "R" or "-", a space, then
    /// c, t, i, C, D, l, d or "-" for connection required, transient connection, intervention
    /// required, connection on traffic, connection on demand, is local address and is direct.
    std::string description() const;

private:
    struct Registration;

    explicit Reachability(std::shared_ptr<platform::ReachabilityFlagSource> reachabilityRef);
    platform::ReachabilityFlags currentFlags() const;
    bool isReachable(platform::ReachabilityFlags flags) const;
    bool isReachableViaWiFi(platform::ReachabilityFlags flags) const;
    bool isReachableViaWWAN(platform::ReachabilityFlags flags) const;
    NetworkStatus status(platform::ReachabilityFlags flags) const;
    void stopNotifierLocked();
    static void callback(const std::weak_ptr<Reachability>& info,
                         const std::shared_ptr<Registration>& registration);
    void reachabilityChanged(const Registration& registration);

    mutable std::mutex membersMutex_;
    NetworkReachable whenReachable_;
    NetworkUnreachable whenUnreachable_;
    bool reachableOnWWAN_ = true;
    std::shared_ptr<platform::NotificationCenter> notificationCenter_;

    std::mutex evaluationMutex_; ///< keeps evaluations from overlapping
    std::optional<platform::ReachabilityFlags> previousFlags_;

    const bool isRunningOnDevice_ = true;

    std::mutex notifierMutex_;
    bool notifierRunning_ = false;
    std::shared_ptr<Registration> registration_; ///< of the running notifier

    const std::shared_ptr<platform::ReachabilityFlagSource> reachabilityRef_;
    const std::shared_ptr<platform::DispatchQueue> reachabilitySerialQueue_;
};

/// "No Connection", "WiFi" or "Cellular".
std::string_view description(Reachability::NetworkStatus status);

} // namespace kestrel
