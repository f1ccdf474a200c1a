// The kernel's links, addresses and routes, kept up to date from rtnetlink events on one thread
// shared by every reachability target of the process.
#pragma once

#include "platform/network/network_snapshot.hpp"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

struct nl_cache;
struct nl_cache_mngr;
struct nl_object;
struct nl_sock;

namespace kestrel::platform {

class NetlinkWatcher {
public:
    using Listener = std::function<void()>;

    // The watcher of this process, started on first use and stopped when the last user lets it
    // go. Null when rtnetlink cannot be opened or its tables cannot be read.
    static std::shared_ptr<NetlinkWatcher> acquire();

    ~NetlinkWatcher();
    NetlinkWatcher(const NetlinkWatcher&) = delete;
    NetlinkWatcher& operator=(const NetlinkWatcher&) = delete;

    // The tables as they were after the last batch of events.
    std::shared_ptr<const NetworkSnapshot> snapshot() const;

    // Calls listener on the watcher's thread after each batch of events that changed the tables.
    // Listeners must return quickly and must not release the last reference to this watcher.
    std::uint64_t subscribe(Listener listener);
    void unsubscribe(std::uint64_t id);

private:
    NetlinkWatcher() = default;
    bool open();
    void run();
    bool refill(nl_cache* cache);
    void rebuild();
    std::string deviceType(int index, const std::string& name);
    static void onChange(nl_cache* cache, nl_object* object, int action, void* data);

    // Touched only by the thread that owns the libnl objects (the constructor, then run()).
    nl_cache_mngr* manager_ = nullptr;
    nl_sock* syncSocket_ = nullptr;
    nl_cache* links_ = nullptr;
    nl_cache* addresses_ = nullptr;
    nl_cache* routes_ = nullptr;
    bool changed_ = false;
    bool linksOrAddressesChanged_ = false;
    std::map<std::pair<int, std::string>, std::string> deviceTypes_;
    int wakeFd_ = -1;
    std::thread thread_;

    mutable std::mutex mutex_;
    std::shared_ptr<const NetworkSnapshot> snapshot_;
    std::map<std::uint64_t, Listener> listeners_;
    std::uint64_t nextListener_ = 1;
};

} // namespace kestrel::platform
