// Click reports survive the process being killed: a child clicks as fast as it can and is killed
// with SIGKILL at a random moment; a second child, the restarted host, delivers what the first
// left. No click that the first child had made may be lost. Duplicates are possible only where
// the kill fell between the service counting a click and the report being removed; they are
// counted and printed. KESTREL_KILL_TRIALS and KESTREL_KILL_CLICKS make the run longer.
//
// Each child is this test program started afresh (posix_spawn), told its part in the
// environment: a plain forked copy of this process would inherit whatever lock one of the test
// server's threads held at that moment (the allocator's, say) and could hang on it.
#include "platform/http/test_server.hpp"
#include "support/service_addresses.hpp"
#include "support/temp_dir.hpp"

#include <kestrel/config/kestrel_manager.hpp>
#include <kestrel/platform/bundle.hpp>
#include <kestrel/platform/user_defaults.hpp>
#include <kestrel/service/click_outbox.hpp>
#include <kestrel/service/server.hpp>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <random>
#include <set>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace kestrel;
using namespace kestrel::testing;
using namespace std::chrono_literals;

namespace {

int fromEnvironment(const char* name, int fallback) {
    const char* text = std::getenv(name);
    return text ? std::max(1, std::atoi(text)) : fallback;
}

// What runs in each child: the library set up from scratch for the test server.
void configure(const std::filesystem::path& dir, const std::string& url) {
    platform::UserDefaults::setStandard(platform::UserDefaults::openFile(dir / "settings.sqlite"));
    useServiceAt(dir, url);
    platform::Bundle::setMainInfoDictionary({{"CFBundleShortVersionString", "1.0"}});
    KestrelLight::setApiKey("key-1");
}

// Clicks `clicks` times, writing each action identifier to `made` once the call has returned.
[[noreturn]] void clickUntilKilled(int trial, int clicks, int made) {
    for (int i = 0; i < clicks; ++i) {
        const std::string action = "t" + std::to_string(trial) + "-" + std::to_string(i);
        Server::shared().clicksWithSessionId("s", action, [](auto, auto) {});
        const std::string line = action + "\n";
        if (::write(made, line.data(), line.size()) < 0) break;
    }
    std::this_thread::sleep_for(10s); // the kill comes first
    ::_exit(0);
}

// The restarted host: its outbox sends what the killed one left.
[[noreturn]] void deliverLeftovers() {
    const auto outbox = Server::shared().clickOutbox();
    for (int i = 0; i < 3000 && outbox && outbox->pendingCount() > 0; ++i)
        std::this_thread::sleep_for(10ms);
    ::_exit(outbox && outbox->pendingCount() == 0 ? 0 : 1);
}

// In a child started by startChild: plays the part its environment names, never returning.
void playChildPart() {
    const char* part = std::getenv("KESTREL_KILL_PART");
    if (!part) return;
    configure(std::getenv("KESTREL_KILL_DIR"), std::getenv("KESTREL_KILL_URL"));
    if (std::string(part) == "deliver") deliverLeftovers();
    clickUntilKilled(std::atoi(std::getenv("KESTREL_KILL_TRIAL")),
                     std::atoi(std::getenv("KESTREL_KILL_CLICKS")),
                     std::atoi(std::getenv("KESTREL_KILL_FD")));
}

// Starts this test program again, running only this test, with `part` added to its environment.
pid_t startChild(const std::vector<std::string>& part) {
    std::vector<std::string> environment(part);
    for (char** variable = environ; *variable; ++variable) environment.emplace_back(*variable);
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string program = "/proc/self/exe", brief = "--gtest_brief=1";
    std::string filter =
        std::string("--gtest_filter=") + test->test_suite_name() + "." + test->name();
    std::vector<char*> arguments{program.data(), filter.data(), brief.data(), nullptr};
    std::vector<char*> variables;
    for (std::string& variable : environment) variables.push_back(variable.data());
    variables.push_back(nullptr);
    std::fflush(stdout);
    pid_t pid = -1;
    if (::posix_spawn(&pid, program.c_str(), nullptr, nullptr, arguments.data(),
                      variables.data()) != 0)
        return -1;
    return pid;
}

} // namespace

TEST(ClickOutboxKills, NoClickIsLostWhenTheProcessIsKilledAtARandomMoment) {
    playChildPart();
    const int trials = fromEnvironment("KESTREL_KILL_TRIALS", 3);
    const int clicks = fromEnvironment("KESTREL_KILL_CLICKS", 1000);
    TempDir dir;
    std::mutex mutex;
    std::map<std::string, int> counted;
    TestServer server([&](const ReceivedRequest& request) {
        thread_local std::mt19937 delay(std::random_device{}());
        std::this_thread::sleep_for(std::chrono::microseconds(delay() % 3000));
        std::lock_guard lock(mutex);
        ++counted[request.target.substr(request.target.find('=') + 1)];
        return Reply{204};
    });
    std::mt19937 random(11);
    std::set<std::string> made;
    for (int trial = 0; trial < trials; ++trial) {
        int pipe[2];
        ASSERT_EQ(::pipe(pipe), 0);
        const std::vector<std::string> common{"KESTREL_KILL_DIR=" + dir.path().string(),
                                              "KESTREL_KILL_URL=" + server.url("")};
        std::vector<std::string> click(common);
        click.insert(click.end(),
                     {"KESTREL_KILL_PART=click", "KESTREL_KILL_TRIAL=" + std::to_string(trial),
                      "KESTREL_KILL_CLICKS=" + std::to_string(clicks),
                      "KESTREL_KILL_FD=" + std::to_string(pipe[1])});
        const pid_t clicker = startChild(click);
        ASSERT_GT(clicker, 0); // never kill(-1)
        ::close(pipe[1]);
        std::this_thread::sleep_for(std::chrono::milliseconds(5 + random() % 400));
        ::kill(clicker, SIGKILL);
        ::waitpid(clicker, nullptr, 0);
        std::string written;
        char buffer[4096];
        for (long n; (n = ::read(pipe[0], buffer, sizeof buffer)) > 0;)
            written.append(buffer, static_cast<std::size_t>(n));
        ::close(pipe[0]);
        for (std::size_t at = 0, end; (end = written.find('\n', at)) != std::string::npos;
             at = end + 1)
            made.insert(written.substr(at, end - at));

        std::vector<std::string> deliver(common);
        deliver.emplace_back("KESTREL_KILL_PART=deliver");
        const pid_t restarted = startChild(deliver);
        ASSERT_GT(restarted, 0);
        int status = 0;
        ::waitpid(restarted, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "trial " << trial;
    }
    std::lock_guard lock(mutex);
    std::size_t lost = 0, duplicated = 0;
    for (const auto& action : made) lost += counted.count(action) == 0 ? 1 : 0;
    for (const auto& [action, times] : counted) duplicated += times > 1 ? 1 : 0;
    std::printf("kill trials: %d, clicks made %zu, delivered %zu, lost %zu, duplicated %zu\n",
                trials, made.size(), counted.size(), lost, duplicated);
    EXPECT_EQ(lost, 0u);
    EXPECT_GT(made.size(), 0u);
}
