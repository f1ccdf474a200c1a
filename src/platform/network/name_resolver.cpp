#include "platform/network/name_resolver.hpp"

#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

namespace kestrel::platform {

namespace {
std::vector<IpAddress> lookUp(const std::string& name) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM; // one entry per address
    addrinfo* list = nullptr;
    std::vector<IpAddress> result;
    if (getaddrinfo(name.c_str(), nullptr, &hints, &list) != 0) return result;
    for (const addrinfo* ai = list; ai; ai = ai->ai_next) {
        IpAddress address;
        if (ai->ai_family == AF_INET && ai->ai_addrlen >= sizeof(sockaddr_in)) {
            address.family = AF_INET;
            const auto* in = reinterpret_cast<const sockaddr_in*>(ai->ai_addr);
            std::memcpy(address.bytes.data(), &in->sin_addr, 4);
        } else if (ai->ai_family == AF_INET6 && ai->ai_addrlen >= sizeof(sockaddr_in6)) {
            address.family = AF_INET6;
            const auto* in6 = reinterpret_cast<const sockaddr_in6*>(ai->ai_addr);
            std::memcpy(address.bytes.data(), &in6->sin6_addr, 16);
        } else {
            continue;
        }
        if (std::find(result.begin(), result.end(), address) == result.end())
            result.push_back(address);
    }
    freeaddrinfo(list);
    return result;
}
} // namespace

// Shared with the worker thread, which may outlive the resolver while a look-up blocks.
struct NameResolver::State {
    std::string name;
    std::function<void()> onChange;
    mutable std::mutex mutex;
    mutable std::condition_variable changed;
    bool requested = true;
    bool cancelled = false;
    std::optional<std::vector<IpAddress>> addresses;
};

NameResolver::NameResolver(std::string name, std::function<void()> onChange)
    : state_(std::make_shared<State>()) {
    state_->name = std::move(name);
    state_->onChange = std::move(onChange);
    std::thread([state = state_] {
        std::unique_lock lock(state->mutex);
        for (;;) {
            state->changed.wait(lock, [&] { return state->requested || state->cancelled; });
            if (state->cancelled) return;
            state->requested = false;
            lock.unlock();
            auto found = lookUp(state->name);
            lock.lock();
            if (state->cancelled) return;
            if (state->addresses == found) continue;
            state->addresses = std::move(found);
            state->changed.notify_all();
            lock.unlock();
            state->onChange();
            lock.lock();
        }
    }).detach();
}

NameResolver::~NameResolver() {
    {
        std::lock_guard lock(state_->mutex);
        state_->cancelled = true;
    }
    state_->changed.notify_all();
}

void NameResolver::refresh() {
    {
        std::lock_guard lock(state_->mutex);
        state_->requested = true;
    }
    state_->changed.notify_all();
}

std::optional<std::vector<IpAddress>>
NameResolver::addresses(std::chrono::milliseconds wait) const {
    std::unique_lock lock(state_->mutex);
    state_->changed.wait_for(lock, wait, [&] { return state_->addresses.has_value(); });
    return state_->addresses;
}

} // namespace kestrel::platform
