// Resolves one host name to its addresses on a worker thread, again whenever asked, without ever
// making its owner wait for a look-up in progress.
#pragma once

#include "platform/network/network_snapshot.hpp"

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kestrel::platform {

class NameResolver {
public:
    // Starts the first look-up at once. onChange runs on the worker thread whenever a look-up
    // gives other addresses than the one before (the first always does); it may still run once
    // just after the resolver is destroyed, so it must hold only weak references.
    NameResolver(std::string name, std::function<void()> onChange);
    // Returns at once; a look-up under way finishes on its own and its result is dropped.
    ~NameResolver();
    NameResolver(const NameResolver&) = delete;
    NameResolver& operator=(const NameResolver&) = delete;

    // Looks the name up again (once more after the current look-up, if one is under way).
    void refresh();
    // The addresses of the last look-up: empty when the name did not resolve, absent while the
    // first look-up has not finished after waiting at most `wait` for it.
    std::optional<std::vector<IpAddress>> addresses(std::chrono::milliseconds wait) const;

private:
    struct State;
    std::shared_ptr<State> state_;
};

} // namespace kestrel::platform
