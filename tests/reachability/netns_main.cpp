#include "reachability/netns.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sched.h>
#include <unistd.h>

namespace kestrel::test::netns {

namespace {
std::string reason = "the network namespace was not entered";
}

void enter() {
    if (geteuid() != 0) {
        reason = "creating a network namespace needs root";
        return;
    }
    if (unshare(CLONE_NEWNET) != 0) {
        reason = std::string("unshare(CLONE_NEWNET) failed: ") + std::strerror(errno);
        return;
    }
    // Interfaces created from now on get no IPv6, so bringing them up sends no solicitations.
    std::ofstream sysctl("/proc/sys/net/ipv6/conf/default/disable_ipv6");
    sysctl << "1\n";
    sysctl.close();
    if (!sysctl) {
        reason = "cannot turn IPv6 off for new interfaces in the namespace";
        return;
    }
    if (ip("link set lo up") != 0) {
        reason = "`ip link set lo up` failed (is iproute2 installed?)";
        return;
    }
    reason.clear();
}

const std::string& unavailableReason() { return reason; }

int ip(const std::string& arguments) {
    const std::string command = "ip " + arguments + " >/dev/null 2>&1";
    const int status = std::system(command.c_str());
    if (status == -1 || !WIFEXITED(status)) return 127;
    return WEXITSTATUS(status);
}

} // namespace kestrel::test::netns

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    kestrel::test::netns::enter();
    return RUN_ALL_TESTS();
}
