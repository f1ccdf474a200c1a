#include "platform/network/cellular_link.hpp"

#include <array>
#include <net/if_arp.h>
#include <string_view>

namespace kestrel::platform {

namespace {
bool startsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}
} // namespace

bool isCellularLink(const LinkState& link) {
    if (link.deviceType == "wwan") return true;
    if (link.kind == "wwan" || link.kind == "rmnet") return true;
    if (link.hardwareType == ARPHRD_PPP || link.hardwareType == ARPHRD_RAWIP) return true;
    constexpr std::array<std::string_view, 3> prefixes{"wwan", "rmnet", "ppp"};
    for (auto prefix : prefixes)
        if (startsWith(link.name, prefix)) return true;
    return false;
}

} // namespace kestrel::platform
