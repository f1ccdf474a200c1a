#include "platform/network/netlink_watcher.hpp"

#include <netlink/cache.h>
#include <netlink/netlink.h>
#include <netlink/route/addr.h>
#include <netlink/route/link.h>
#include <netlink/route/nexthop.h>
#include <netlink/route/route.h>

#include <linux/rtnetlink.h>
#include <net/if.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

namespace kestrel::platform {

namespace {
IpAddress toIpAddress(nl_addr* address) {
    IpAddress result;
    if (!address) return result;
    result.family = nl_addr_get_family(address);
    const auto length = std::min<std::size_t>(nl_addr_get_len(address), result.bytes.size());
    if (length > 0) std::memcpy(result.bytes.data(), nl_addr_get_binary_addr(address), length);
    return result;
}

std::string readFirstLine(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}
} // namespace

std::shared_ptr<NetlinkWatcher> NetlinkWatcher::acquire() {
    // Never destroyed, so that targets released during exit still find them.
    static auto* const mutex = new std::mutex;
    static auto* const current = new std::weak_ptr<NetlinkWatcher>;
    std::lock_guard lock(*mutex);
    if (auto watcher = current->lock()) return watcher;
    std::shared_ptr<NetlinkWatcher> watcher(new NetlinkWatcher);
    if (!watcher->open()) return nullptr;
    *current = watcher;
    return watcher;
}

bool NetlinkWatcher::open() {
    wakeFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wakeFd_ < 0) return false;
    syncSocket_ = nl_socket_alloc();
    if (!syncSocket_ || nl_connect(syncSocket_, NETLINK_ROUTE) < 0) return false;
    if (nl_cache_mngr_alloc(nullptr, NETLINK_ROUTE, 0, &manager_) < 0) return false;
    if (nl_cache_mngr_add(manager_, "route/link", &NetlinkWatcher::onChange, this, &links_) < 0 ||
        nl_cache_mngr_add(manager_, "route/addr", &NetlinkWatcher::onChange, this, &addresses_) <
            0 ||
        nl_cache_mngr_add(manager_, "route/route", &NetlinkWatcher::onChange, this, &routes_) < 0)
        return false;
    rebuild();
    thread_ = std::thread([this] { run(); });
    return true;
}

NetlinkWatcher::~NetlinkWatcher() {
    if (thread_.joinable()) {
        const std::uint64_t one = 1;
        [[maybe_unused]] auto written = write(wakeFd_, &one, sizeof one);
        thread_.join();
    }
    if (manager_) nl_cache_mngr_free(manager_); // frees the caches it holds
    if (syncSocket_) nl_socket_free(syncSocket_);
    if (wakeFd_ >= 0) close(wakeFd_);
}

std::shared_ptr<const NetworkSnapshot> NetlinkWatcher::snapshot() const {
    std::lock_guard lock(mutex_);
    return snapshot_;
}

std::uint64_t NetlinkWatcher::subscribe(Listener listener) {
    std::lock_guard lock(mutex_);
    const auto id = nextListener_++;
    listeners_.emplace(id, std::move(listener));
    return id;
}

void NetlinkWatcher::unsubscribe(std::uint64_t id) {
    std::lock_guard lock(mutex_);
    listeners_.erase(id);
}

void NetlinkWatcher::onChange(nl_cache* cache, nl_object*, int, void* data) {
    auto* self = static_cast<NetlinkWatcher*>(data);
    self->changed_ = true;
    if (cache == self->links_ || cache == self->addresses_) self->linksOrAddressesChanged_ = true;
}

bool NetlinkWatcher::refill(nl_cache* cache) { return nl_cache_refill(syncSocket_, cache) >= 0; }

void NetlinkWatcher::run() {
    pollfd fds[2] = {{nl_cache_mngr_get_fd(manager_), POLLIN, 0}, {wakeFd_, POLLIN, 0}};
    for (;;) {
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (fds[1].revents != 0) return; // asked to stop
        if (fds[0].revents & POLLNVAL) return;
        if (fds[0].revents == 0) continue;

        changed_ = linksOrAddressesChanged_ = false;
        if (nl_cache_mngr_data_ready(manager_) < 0) {
            // Events were lost (the socket's buffer overflowed): read every table again.
            if (!refill(links_) || !refill(addresses_) || !refill(routes_)) return;
            changed_ = true;
        } else if (linksOrAddressesChanged_) {
            // The kernel drops IPv4 routes of a link that goes down or away, and the routes of
            // a removed address, without telling: read the routes again.
            if (!refill(routes_)) return;
        }
        if (!changed_) continue;

        const auto before = snapshot();
        rebuild();
        if (*snapshot() == *before) continue;

        std::vector<Listener> listeners;
        {
            std::lock_guard lock(mutex_);
            for (const auto& [id, listener] : listeners_) listeners.push_back(listener);
        }
        for (const auto& listener : listeners) listener();
    }
}

std::string NetlinkWatcher::deviceType(int index, const std::string& name) {
    const auto key = std::pair(index, name);
    if (auto it = deviceTypes_.find(key); it != deviceTypes_.end()) return it->second;
    // sysfs shows the interfaces of the namespace it was mounted in, which may not be ours: trust
    // it only when the interface it shows under this name has the same index.
    std::string type;
    if (name.find('/') == std::string::npos && name != "." && name != "..") {
        const std::string dir = "/sys/class/net/" + name + "/";
        if (readFirstLine(dir + "ifindex") == std::to_string(index)) {
            std::ifstream uevent(dir + "uevent");
            for (std::string line; std::getline(uevent, line);)
                if (line.rfind("DEVTYPE=", 0) == 0) type = line.substr(8);
        }
    }
    deviceTypes_.emplace(key, type);
    return type;
}

void NetlinkWatcher::rebuild() {
    auto snapshot = std::make_shared<NetworkSnapshot>();

    for (nl_object* o = nl_cache_get_first(links_); o; o = nl_cache_get_next(o)) {
        auto* link = reinterpret_cast<rtnl_link*>(o);
        LinkState state;
        state.index = rtnl_link_get_ifindex(link);
        if (const char* name = rtnl_link_get_name(link)) state.name = name;
        if (const char* kind = rtnl_link_get_type(link)) state.kind = kind;
        state.hardwareType = rtnl_link_get_arptype(link);
        const unsigned flags = rtnl_link_get_flags(link);
        state.up = (flags & IFF_UP) != 0;
        state.running = (flags & IFF_RUNNING) != 0;
        state.loopback = (flags & IFF_LOOPBACK) != 0;
        state.deviceType = deviceType(state.index, state.name);
        snapshot->links.push_back(std::move(state));
    }
    // Forget device types of interfaces that are gone, so that the map stays small.
    std::erase_if(deviceTypes_, [&](const auto& entry) {
        return std::none_of(snapshot->links.begin(), snapshot->links.end(), [&](const auto& l) {
            return l.index == entry.first.first && l.name == entry.first.second;
        });
    });

    for (nl_object* o = nl_cache_get_first(addresses_); o; o = nl_cache_get_next(o)) {
        auto* address = reinterpret_cast<rtnl_addr*>(o);
        const IpAddress local = toIpAddress(rtnl_addr_get_local(address));
        if (local.family != AF_INET && local.family != AF_INET6) continue;
        snapshot->addresses.push_back({local, rtnl_addr_get_ifindex(address)});
    }

    for (nl_object* o = nl_cache_get_first(routes_); o; o = nl_cache_get_next(o)) {
        auto* route = reinterpret_cast<rtnl_route*>(o);
        Route r;
        r.family = rtnl_route_get_family(route);
        if (r.family != AF_INET && r.family != AF_INET6) continue;
        r.table = rtnl_route_get_table(route);
        r.type = rtnl_route_get_type(route);
        r.priority = rtnl_route_get_priority(route);
        if (nl_addr* dst = rtnl_route_get_dst(route)) {
            r.destination = toIpAddress(dst);
            r.prefixLength = static_cast<std::uint8_t>(nl_addr_get_prefixlen(dst));
        }
        r.destination.family = r.family;
        const int count = rtnl_route_get_nnexthops(route);
        for (int i = 0; i < count; ++i) {
            rtnl_nexthop* nh = rtnl_route_nexthop_n(route, i);
            if (!nh) continue;
            Nexthop hop;
            hop.linkIndex = rtnl_route_nh_get_ifindex(nh);
            hop.hasGateway = rtnl_route_nh_get_gateway(nh) || rtnl_route_nh_get_via(nh);
            hop.dead = (rtnl_route_nh_get_flags(nh) & (RTNH_F_DEAD | RTNH_F_LINKDOWN)) != 0;
            r.nexthops.push_back(hop);
        }
        snapshot->routes.push_back(std::move(r));
    }

    std::lock_guard lock(mutex_);
    snapshot_ = std::move(snapshot);
}

} // namespace kestrel::platform
