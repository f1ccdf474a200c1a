#include <kestrel/platform/network_reachability.hpp>

#include "platform/network/name_resolver.hpp"
#include "platform/network/netlink_watcher.hpp"

#include <cstring>
#include <mutex>

namespace kestrel::platform {

namespace {
// How long a flags read waits for the first look-up of a host name.
constexpr std::chrono::milliseconds firstLookUpWait{100};

// The callback, its queue and what it was last told; shared with tasks queued for it and with
// the watcher's listener, neither of which may keep the target itself alive.
struct Delivery {
    // Held while the callback runs, so that replacing it can wait for a call under way.
    std::recursive_mutex callMutex;
    std::mutex mutex;
    ReachabilityFlagSource::Callback callback;
    std::shared_ptr<DispatchQueue> queue;
    std::optional<ReachabilityFlags> lastFlags; // what the callback has seen, when active
    bool scheduled = false;
    // Set once, before the delivery is shared. Called from a queued task it may release the last
    // reference to the target, which can stop the watcher and wait for its thread: there it is
    // never called under `mutex`, which that thread takes. (Calls from the target's own methods
    // cannot release it.)
    std::function<std::optional<ReachabilityFlags>()> currentFlags;

    bool activeLocked() const { return callback && queue; }

    // The baseline against which changes are measured, taken when the callback becomes active.
    void updateLocked(ReachabilityFlagSource::Callback* newCallback,
                      std::shared_ptr<DispatchQueue>* newQueue) {
        const bool wasActive = activeLocked();
        if (newCallback) callback = std::move(*newCallback);
        if (newQueue) queue = std::move(*newQueue);
        if (!activeLocked())
            lastFlags.reset();
        else if (!wasActive)
            lastFlags = currentFlags().value_or(0);
    }

    static void schedule(const std::shared_ptr<Delivery>& self) {
        std::shared_ptr<DispatchQueue> queue;
        {
            std::lock_guard lock(self->mutex);
            if (!self->activeLocked() || self->scheduled) return;
            self->scheduled = true;
            queue = self->queue;
        }
        queue->async([self] { self->deliver(); });
    }

    void deliver() {
        std::lock_guard callLock(callMutex);
        {
            std::lock_guard lock(mutex);
            scheduled = false;
            if (!activeLocked()) return;
        }
        const ReachabilityFlags flags = currentFlags().value_or(0);
        ReachabilityFlagSource::Callback call;
        {
            std::lock_guard lock(mutex);
            if (!activeLocked() || lastFlags == flags) return;
            lastFlags = flags;
            call = callback;
        }
        call(flags);
    }
};
} // namespace

struct NetworkReachability::Impl {
    std::shared_ptr<NetlinkWatcher> watcher;
    std::optional<IpAddress> address;
    std::shared_ptr<NameResolver> resolver;
    std::shared_ptr<Delivery> delivery = std::make_shared<Delivery>();
    std::uint64_t subscription = 0;

    ~Impl() {
        if (watcher) watcher->unsubscribe(subscription);
    }

    std::optional<ReachabilityFlags> flags(std::chrono::milliseconds wait) const {
        const auto snapshot = watcher->snapshot();
        if (address) return snapshot->flagsFor(*address);
        const auto resolved = resolver->addresses(wait);
        if (!resolved) return std::nullopt;
        if (resolved->empty()) return ReachabilityFlag::connectionRequired;
        // The first address that can be reached, or else what the first one gives.
        std::optional<ReachabilityFlags> first;
        for (const auto& a : *resolved) {
            const ReachabilityFlags f = snapshot->flagsFor(a);
            if (f & ReachabilityFlag::reachable) return f;
            if (!first) first = f;
        }
        return first;
    }

    // Completes a target whose address or resolver is set: joins the watcher and wires the
    // callback's delivery to it. Null when the watcher cannot run.
    static std::shared_ptr<Impl> start(std::shared_ptr<Impl> impl) {
        impl->watcher = NetlinkWatcher::acquire();
        if (!impl->watcher) return nullptr;
        std::weak_ptr<Impl> weakImpl = impl;
        impl->delivery->currentFlags = [weakImpl]() -> std::optional<ReachabilityFlags> {
            const auto impl = weakImpl.lock();
            if (!impl) return std::nullopt;
            return impl->flags(std::chrono::milliseconds(0));
        };
        // The listener runs on the watcher's thread, which must never hold the last reference to
        // the target (releasing the target may stop the watcher): it holds neither strongly.
        std::weak_ptr<Delivery> weakDelivery = impl->delivery;
        std::weak_ptr<NameResolver> weakResolver = impl->resolver;
        impl->subscription = impl->watcher->subscribe([weakDelivery, weakResolver] {
            if (auto delivery = weakDelivery.lock()) Delivery::schedule(delivery);
            // Name look-ups may give other answers once the network has changed.
            if (auto resolver = weakResolver.lock()) resolver->refresh();
        });
        return impl;
    }
};

NetworkReachability::NetworkReachability(std::shared_ptr<Impl> impl) : impl_(std::move(impl)) {}

NetworkReachability::~NetworkReachability() {
    auto& delivery = *impl_->delivery;
    std::lock_guard callLock(delivery.callMutex);
    std::lock_guard lock(delivery.mutex);
    delivery.callback = nullptr;
    delivery.queue = nullptr;
}

std::shared_ptr<NetworkReachability> NetworkReachability::createWithAddress(const sockaddr_in& in) {
    if (in.sin_family != AF_INET) return nullptr;
    auto impl = std::make_shared<Impl>();
    IpAddress address{AF_INET, {}};
    std::memcpy(address.bytes.data(), &in.sin_addr, 4);
    impl->address = address;
    impl = Impl::start(std::move(impl));
    if (!impl) return nullptr;
    return std::shared_ptr<NetworkReachability>(new NetworkReachability(std::move(impl)));
}

std::shared_ptr<NetworkReachability>
NetworkReachability::createWithAddress(const sockaddr_in6& in6) {
    if (in6.sin6_family != AF_INET6) return nullptr;
    auto impl = std::make_shared<Impl>();
    IpAddress address{AF_INET6, {}};
    std::memcpy(address.bytes.data(), &in6.sin6_addr, 16);
    impl->address = address;
    impl = Impl::start(std::move(impl));
    if (!impl) return nullptr;
    return std::shared_ptr<NetworkReachability>(new NetworkReachability(std::move(impl)));
}

std::shared_ptr<NetworkReachability> NetworkReachability::createWithName(std::string_view name) {
    if (name.empty() || name.size() > 253 || name.find('\0') != std::string_view::npos)
        return nullptr;
    auto impl = std::make_shared<Impl>();
    if (auto literal = IpAddress::parse(std::string(name))) {
        impl->address = literal;
    } else {
        std::weak_ptr<Delivery> weakDelivery = impl->delivery;
        impl->resolver = std::make_shared<NameResolver>(std::string(name), [weakDelivery] {
            if (auto delivery = weakDelivery.lock()) Delivery::schedule(delivery);
        });
    }
    impl = Impl::start(std::move(impl));
    if (!impl) return nullptr;
    return std::shared_ptr<NetworkReachability>(new NetworkReachability(std::move(impl)));
}

std::optional<ReachabilityFlags> NetworkReachability::getFlags() {
    return impl_->flags(firstLookUpWait);
}

bool NetworkReachability::setCallback(Callback callback) {
    auto& delivery = *impl_->delivery;
    std::lock_guard callLock(delivery.callMutex);
    std::lock_guard lock(delivery.mutex);
    delivery.updateLocked(&callback, nullptr);
    return true;
}

bool NetworkReachability::setDispatchQueue(std::shared_ptr<DispatchQueue> queue) {
    auto& delivery = *impl_->delivery;
    std::lock_guard callLock(delivery.callMutex);
    std::lock_guard lock(delivery.mutex);
    delivery.updateLocked(nullptr, &queue);
    return true;
}

} // namespace kestrel::platform
