#include "platform/network/netns.hpp"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sched.h>
#include <unistd.h>

namespace kestrel::test::netns {

static std::string reason = "the network namespace was not entered";

static std::string prepare() {
    if (geteuid() != 0) return "creating a network namespace needs root";
    if (unshare(CLONE_NEWNET) != 0)
        return std::string("unshare(CLONE_NEWNET) failed: ") + std::strerror(errno);
    // Interfaces created from now on get no IPv6, so bringing them up sends no solicitations.
    std::ofstream sysctl("/proc/sys/net/ipv6/conf/default/disable_ipv6");
    if (!(sysctl << "1\n" << std::flush))
        return "cannot turn IPv6 off for new interfaces in the namespace";
    if (ip("link set lo up") != 0) return "`ip link set lo up` failed (is iproute2 installed?)";
    return "";
}

void enter() { reason = prepare(); }

const std::string& unavailableReason() { return reason; }

int ip(const std::string& arguments) {
    const int status = std::system(("ip " + arguments + " >/dev/null 2>&1").c_str());
    if (status == -1 || !WIFEXITED(status)) return 127;
    return WEXITSTATUS(status);
}

} // namespace kestrel::test::netns

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    kestrel::test::netns::enter();
    return RUN_ALL_TESTS();
}
