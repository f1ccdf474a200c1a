// Helpers for the namespace suites: a network namespace of the process's own (entered once at
// start-up, loopback up, IPv6 off for new interfaces so that links brought up send nothing), a
// fixture that skips without it and removes the links a test made, and a watch that waits, woken
// by a target's callbacks, for given flags.
#pragma once

#include <kestrel/platform/network_reachability.hpp>

#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>

namespace kestrel::test {

namespace netns {
// Enters a new network namespace; call before anything opens a socket.
void enter();
// Empty when the namespace is ready; otherwise why it could not be made.
const std::string& unavailableReason();
// Runs `ip <arguments>` and gives its exit status (127 when ip cannot be run).
int ip(const std::string& arguments);
} // namespace netns

#define ASSERT_IP(arguments)                                                                       \
    ASSERT_EQ(::kestrel::test::netns::ip(arguments), 0) << "ip " << (arguments)

class NamespaceTest : public testing::Test {
protected:
    void SetUp() override {
        if (!netns::unavailableReason().empty()) GTEST_SKIP() << netns::unavailableReason();
    }
    void TearDown() override {
        if (!netns::unavailableReason().empty()) return;
        for (const char* name : {"v0", "wwan0"}) netns::ip(std::string("link del ") + name);
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

inline sockaddr_in ipv4(const char* text) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    inet_pton(AF_INET, text, &address.sin_addr);
    return address;
}

class FlagWatch {
public:
    explicit FlagWatch(std::shared_ptr<platform::NetworkReachability> target)
        : target_(std::move(target)), queue_(platform::DispatchQueue::create("test.flags")) {
        target_->setCallback([this](platform::ReachabilityFlags flags) {
            std::lock_guard lock(mutex_);
            ++calls_;
            if (!queue_->isCurrent()) ++callsOffQueue_;
            lastCalledWith_ = flags;
            changed_.notify_all();
        });
        target_->setDispatchQueue(queue_);
    }
    ~FlagWatch() {
        target_->setCallback(nullptr);
        target_->setDispatchQueue(nullptr);
    }

    // Waits, at most a generous failure bound, until the target reads `expected` or, with
    // `byCallback`, until the callback has been called with `expected`.
    bool waitFor(platform::ReachabilityFlags expected, bool byCallback = false) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(30), [&] {
            return (byCallback ? lastCalledWith_ : target_->getFlags()) == expected;
        });
    }
    // The calls so far, and how many of them ran off the watch's queue.
    std::pair<int, int> calls() {
        std::lock_guard lock(mutex_);
        return {calls_, callsOffQueue_};
    }

private:
    std::shared_ptr<platform::NetworkReachability> target_;
    std::shared_ptr<platform::DispatchQueue> queue_;
    std::mutex mutex_;
    std::condition_variable changed_;
    int calls_ = 0;
    int callsOffQueue_ = 0;
    std::optional<platform::ReachabilityFlags> lastCalledWith_;
};

} // namespace kestrel::test
