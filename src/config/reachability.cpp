#include <kestrel/config/reachability.hpp>

#include <kestrel/platform/network_reachability.hpp>

#include <any>
#include <atomic>
#include <utility>

namespace kestrel {

using platform::DispatchQueue;
using platform::NotificationCenter;
using platform::ReachabilityFlag;
using platform::ReachabilityFlags;
using platform::ReachabilityFlagSource;

// ---- ReachabilityError ----

ReachabilityError::ReachabilityError(Case errorCase, const char* what)
    : std::runtime_error(what), case_(errorCase) {}

ReachabilityError ReachabilityError::failedToCreateWithAddress(const sockaddr_in& address) {
    ReachabilityError error(Case::FailedToCreateWithAddress,
                            "ReachabilityError.FailedToCreateWithAddress");
    error.address_ = address;
    return error;
}

ReachabilityError ReachabilityError::failedToCreateWithHostname(std::string hostname) {
    ReachabilityError error(Case::FailedToCreateWithHostname,
                            "ReachabilityError.FailedToCreateWithHostname");
    error.hostname_ = std::move(hostname);
    return error;
}

ReachabilityError ReachabilityError::unableToSetCallback() {
    return {Case::UnableToSetCallback, "ReachabilityError.UnableToSetCallback"};
}

ReachabilityError ReachabilityError::unableToSetDispatchQueue() {
    return {Case::UnableToSetDispatchQueue, "ReachabilityError.UnableToSetDispatchQueue"};
}

// ---- NetworkStatus ----

std::string_view description(Reachability::NetworkStatus status) {
    switch (status) {
    case Reachability::NetworkStatus::notReachable:
        return "No Connection";
    case Reachability::NetworkStatus::reachableViaWiFi:
        return "WiFi";
    case Reachability::NetworkStatus::reachableViaWWAN:
        return "Cellular";
    }
    return "No Connection";
}

// ---- Reachability ----

// One run of the notifier, from startNotifier to stopNotifier. Callbacks and evaluations queued
// for a run that has been stopped do nothing.
struct Reachability::Registration {
    std::atomic<bool> active{true};
};

Reachability::Reachability(std::shared_ptr<ReachabilityFlagSource> reachabilityRef)
    : notificationCenter_(NotificationCenter::defaultCenter()),
      reachabilityRef_(std::move(reachabilityRef)),
      reachabilitySerialQueue_(DispatchQueue::create("com.kestrel.sdklight.reachability")) {}

std::shared_ptr<Reachability>
Reachability::create(std::shared_ptr<ReachabilityFlagSource> reachabilityRef) {
    return std::shared_ptr<Reachability>(new Reachability(std::move(reachabilityRef)));
}

std::shared_ptr<Reachability> Reachability::create(std::string_view hostname) {
    auto target = platform::NetworkReachability::createWithName(hostname);
    if (!target) return nullptr;
    return create(std::move(target));
}

std::shared_ptr<Reachability> Reachability::create() {
    sockaddr_in zeroAddress{};
    zeroAddress.sin_family = AF_INET;
    auto target = platform::NetworkReachability::createWithAddress(zeroAddress);
    if (!target) return nullptr;
    return create(std::move(target));
}

Reachability::~Reachability() { stopNotifier(); }

Reachability::NetworkReachable Reachability::whenReachable() const {
    std::lock_guard lock(membersMutex_);
    return whenReachable_;
}

void Reachability::setWhenReachable(NetworkReachable closure) {
    std::lock_guard lock(membersMutex_);
    whenReachable_ = std::move(closure);
}

Reachability::NetworkUnreachable Reachability::whenUnreachable() const {
    std::lock_guard lock(membersMutex_);
    return whenUnreachable_;
}

void Reachability::setWhenUnreachable(NetworkUnreachable closure) {
    std::lock_guard lock(membersMutex_);
    whenUnreachable_ = std::move(closure);
}

bool Reachability::reachableOnWWAN() const {
    std::lock_guard lock(membersMutex_);
    return reachableOnWWAN_;
}

void Reachability::setReachableOnWWAN(bool reachable) {
    std::lock_guard lock(membersMutex_);
    reachableOnWWAN_ = reachable;
}

std::shared_ptr<NotificationCenter> Reachability::notificationCenter() const {
    std::lock_guard lock(membersMutex_);
    return notificationCenter_;
}

void Reachability::setNotificationCenter(std::shared_ptr<NotificationCenter> center) {
    if (!center) return;
    std::lock_guard lock(membersMutex_);
    notificationCenter_ = std::move(center);
}

void Reachability::startNotifier() {
    std::lock_guard lock(notifierMutex_);
    if (!reachabilityRef_ || notifierRunning_) return;

    // The source holds only a weak reference to the monitor: a callback that arrives after the
    // monitor is gone finds nothing to call.
    auto registration = std::make_shared<Registration>();
    const std::weak_ptr<Reachability> info = weak_from_this();
    if (!reachabilityRef_->setCallback(
            [info, registration](ReachabilityFlags) { callback(info, registration); })) {
        stopNotifierLocked();
        throw ReachabilityError::unableToSetCallback();
    }
    if (!reachabilityRef_->setDispatchQueue(reachabilitySerialQueue_)) {
        stopNotifierLocked();
        throw ReachabilityError::unableToSetDispatchQueue();
    }
    registration_ = registration;
    reachabilitySerialQueue_->async([info, registration] {
        if (auto self = info.lock()) self->reachabilityChanged(*registration);
    });
    notifierRunning_ = true;
}

void Reachability::stopNotifier() {
    std::lock_guard lock(notifierMutex_);
    stopNotifierLocked();
}

void Reachability::stopNotifierLocked() {
    if (registration_) registration_->active = false;
    registration_.reset();
    if (reachabilityRef_) {
        reachabilityRef_->setCallback(nullptr);
        reachabilityRef_->setDispatchQueue(nullptr);
    }
    notifierRunning_ = false;
}

void Reachability::callback(const std::weak_ptr<Reachability>& info,
                            const std::shared_ptr<Registration>& registration) {
    if (info.expired() || !registration->active) return;
    DispatchQueue::main().async([info, registration] {
        if (auto self = info.lock()) self->reachabilityChanged(*registration);
    });
}

void Reachability::reachabilityChanged(const Registration& registration) {
    std::lock_guard lock(evaluationMutex_);
    if (!registration.active) return;
    const ReachabilityFlags flags = currentFlags();
    if (previousFlags_ == flags) return;

    // Decided from the flags just read, so that the closure called and the flags remembered agree.
    const auto closure = isReachable(flags) ? whenReachable() : whenUnreachable();
    if (closure) closure(*this);
    notificationCenter()->post(ReachabilityChangedNotification, std::any(shared_from_this()));
    previousFlags_ = flags;
}

ReachabilityFlags Reachability::currentFlags() const {
    if (!reachabilityRef_) return 0;
    return reachabilityRef_->getFlags().value_or(0);
}

bool Reachability::isReachable(ReachabilityFlags flags) const {
    if (!(flags & ReachabilityFlag::reachable)) return false;
    if ((flags & ReachabilityFlag::connectionRequired) &&
        (flags & ReachabilityFlag::transientConnection))
        return false;
    if (isRunningOnDevice_ && (flags & ReachabilityFlag::isWWAN) && !reachableOnWWAN())
        return false;
    return true;
}

bool Reachability::isReachableViaWiFi(ReachabilityFlags flags) const {
    if (!(flags & ReachabilityFlag::reachable)) return false;
    if (!isRunningOnDevice_) return true;
    return !(flags & ReachabilityFlag::isWWAN);
}

bool Reachability::isReachableViaWWAN(ReachabilityFlags flags) const {
    return isRunningOnDevice_ && (flags & ReachabilityFlag::reachable) &&
           (flags & ReachabilityFlag::isWWAN);
}

Reachability::NetworkStatus Reachability::status(ReachabilityFlags flags) const {
    if (!isReachable(flags)) return NetworkStatus::notReachable;
    if (isReachableViaWiFi(flags)) return NetworkStatus::reachableViaWiFi;
    if (isRunningOnDevice_) return NetworkStatus::reachableViaWWAN;
    return NetworkStatus::notReachable;
}

bool Reachability::isReachable() const { return isReachable(currentFlags()); }
bool Reachability::isReachableViaWiFi() const { return isReachableViaWiFi(currentFlags()); }
bool Reachability::isReachableViaWWAN() const { return isReachableViaWWAN(currentFlags()); }

Reachability::NetworkStatus Reachability::currentReachabilityStatus() const {
    return status(currentFlags());
}

std::string Reachability::currentReachabilityString() const {
    return std::string(kestrel::description(currentReachabilityStatus()));
}

std::string Reachability::description() const {
    const ReachabilityFlags flags = currentFlags();
    auto letter = [&](ReachabilityFlags bit, char set) { return (flags & bit) ? set : '-'; };
    std::string text;
    text += !isRunningOnDevice_ ? 'X' : letter(ReachabilityFlag::isWWAN, 'W');
    text += letter(ReachabilityFlag::reachable, 'R');
    text += ' ';
    text += letter(ReachabilityFlag::connectionRequired, 'c');
    text += letter(ReachabilityFlag::transientConnection, 't');
    text += letter(ReachabilityFlag::interventionRequired, 'i');
    text += letter(ReachabilityFlag::connectionOnTraffic, 'C');
    text += letter(ReachabilityFlag::connectionOnDemand, 'D');
    text += letter(ReachabilityFlag::isLocalAddress, 'l');
    text += letter(ReachabilityFlag::isDirect, 'd');
    return text;
}

} // namespace kestrel
