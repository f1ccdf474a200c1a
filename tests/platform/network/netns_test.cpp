// Targets and the monitor end to end on rtnetlink, in a network namespace of the process's own
// (entered at start-up, loopback up, IPv6 off for new interfaces so that links brought up send
// nothing). Without it the suites are skipped.
#include "platform/network/flag_letters.hpp"
#include "platform/network/monitor_harness.hpp"

#include <kestrel/platform/network_reachability.hpp>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sched.h>
#include <thread>
#include <unistd.h>

using namespace kestrel::platform;
using kestrel::Reachability;
using kestrel::test::ManualFlagSource;
using kestrel::test::Report;
using kestrel::test::ReportLog;
using Status = Reachability::NetworkStatus;

namespace {

using namespace kestrel::test::flag_letters;

// Runs `ip <arguments>` and gives its exit status (127 when ip cannot be run).
int ip(const std::string& arguments) {
    const int status = std::system(("ip " + arguments + " >/dev/null 2>&1").c_str());
    return status == -1 || !WIFEXITED(status) ? 127 : WEXITSTATUS(status);
}
#define ASSERT_IP(arguments) ASSERT_EQ(ip(arguments), 0) << "ip " << (arguments)

// Empty when the namespace is ready; otherwise why it could not be made.
std::string unavailable = "the network namespace was not entered";

std::string enterNamespace() {
    if (geteuid() != 0) return "creating a network namespace needs root";
    if (unshare(CLONE_NEWNET) != 0)
        return std::string("unshare(CLONE_NEWNET) failed: ") + std::strerror(errno);
    std::ofstream sysctl("/proc/sys/net/ipv6/conf/default/disable_ipv6");
    if (!(sysctl << "1\n" << std::flush))
        return "cannot turn IPv6 off for new interfaces in the namespace";
    if (ip("link set lo up") != 0) return "`ip link set lo up` failed (is iproute2 installed?)";
    return "";
}

// Skips without the namespace and removes the links a test made.
class OnNetlink : public testing::Test {
protected:
    void SetUp() override {
        if (!unavailable.empty()) GTEST_SKIP() << unavailable;
    }
    void TearDown() override {
        if (unavailable.empty())
            for (const char* name : {"v0", "wwan0"}) ip(std::string("link del ") + name);
    }
    // A veth pair named `name` and v1, both up unless told, with 198.51.100.2/24 on `name`.
    static void addLink(const std::string& name = "v0", bool peerUp = true) {
        ASSERT_IP("link add " + name + " type veth peer name v1");
        if (peerUp) {
            ASSERT_IP("link set v1 up");
        }
        ASSERT_IP("link set " + name + " up");
        ASSERT_IP("addr add 198.51.100.2/24 dev " + name);
    }
};

std::shared_ptr<NetworkReachability> anyAddress() {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    inet_pton(AF_INET, "0.0.0.0", &address.sin_addr);
    return NetworkReachability::createWithAddress(address);
}

// Polls, at most a generous failure bound, until target reads expected.
bool reads(ReachabilityFlagSource& target, ReachabilityFlags expected) {
    for (int i = 0; i < 600 && target.getFlags() != expected; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    return target.getFlags() == expected;
}

TEST_F(OnNetlink, CarrierGatewayAndCellularLinkShowInTheFlags) {
    auto target = anyAddress();
    ASSERT_TRUE(target);
    addLink("wwan0", /*peerUp=*/false);
    ASSERT_IP("route add default dev wwan0");
    ASSERT_TRUE(reads(*target, c)) << "flags " << target->getFlags().value_or(0); // no carrier
    ASSERT_IP("link set v1 up"); // the carrier comes; no gateway means direct
    ASSERT_TRUE(reads(*target, R | W | d)) << "flags " << target->getFlags().value_or(0);
    ASSERT_IP("route replace default via 198.51.100.1 dev wwan0");
    ASSERT_TRUE(reads(*target, R | W)) << "flags " << target->getFlags().value_or(0);
}

TEST_F(OnNetlink, OnlyNamesThatCanBeLookedUpMakeTargets) {
    EXPECT_FALSE(NetworkReachability::createWithName(""));
    EXPECT_FALSE(NetworkReachability::createWithName(std::string(254, 'a')));
    EXPECT_FALSE(NetworkReachability::createWithName(std::string_view("a\0b", 3)));
    const auto literal = NetworkReachability::createWithName("0.0.0.0"); // taken as an address
    ASSERT_TRUE(literal);
    EXPECT_EQ(literal->getFlags(), 0u);
}

// A monitor over the zero-address target, through a source that shows what it registered and
// how the target called back: the target follows the default route, also when a link goes with
// its routes, and calls back on the monitor's serial queue; after a stop and a start the monitor
// reports only when the flags changed meanwhile.
TEST_F(OnNetlink, MonitorFollowsTheDefaultRoute) {
    auto target = anyAddress();
    ASSERT_TRUE(target);
    auto source = std::make_shared<ManualFlagSource>(target);
    EXPECT_EQ(source->getFlags(), 0u); // loopback only
    auto monitor = Reachability::create(source);
    ReportLog log;
    log.attach(*monitor);
    const auto waitForStatus = [&](Status status, std::size_t after) {
        return log.waitUntil([&](const std::vector<Report>& r) {
            return r.size() > after && r.back().status == status;
        });
    };
    const auto settle = [&] { kestrel::test::settle(source->registered().queue); };

    monitor->startNotifier();
    monitor->startNotifier(); // the second call does nothing
    EXPECT_EQ(source->registered().callbacksSet, 1);
    ASSERT_TRUE(waitForStatus(Status::notReachable, 0));
    settle();
    monitor->stopNotifier();
    monitor->startNotifier();
    settle();
    auto reports = log.reports();
    ASSERT_EQ(reports.size(), 1u); // the same flags after a stop and a start report nothing

    addLink();
    ASSERT_IP("route add default via 198.51.100.1 dev v0");
    ASSERT_TRUE(waitForStatus(Status::reachableViaWiFi, 1)) << monitor->description();
    const std::size_t whileUp = log.reports().size();
    ASSERT_IP("link del v0"); // takes its routes with it, without route events
    ASSERT_TRUE(waitForStatus(Status::notReachable, whileUp)) << monitor->description();
    EXPECT_GE(source->registered().calls, 2);

    monitor->stopNotifier();
    DispatchQueue::main().sync([] {});
    const std::size_t atStop = log.reports().size();
    addLink();
    ASSERT_IP("route add default via 198.51.100.1 dev v0");
    ASSERT_TRUE(reads(*source, R)); // the tables show it, the stopped monitor reports nothing
    EXPECT_EQ(log.reports().size(), atStop);
    monitor->startNotifier();
    settle();
    reports = log.reports();
    ASSERT_EQ(reports.size(), atStop + 1);
    EXPECT_EQ(reports.back().status, Status::reachableViaWiFi);
    EXPECT_FALSE(reports.back().onMainQueue); // the first evaluation of the new start
    EXPECT_EQ(source->registered().callbacksSet, 3);
    EXPECT_EQ(source->registered().callsOffQueue, 0);
}

} // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    unavailable = enterNamespace(); // before anything opens a socket
    return RUN_ALL_TESTS();
}
