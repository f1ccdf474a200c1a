// A private D-Bus message bus for one test: a dbus-daemon of its own in a temporary folder, and
// child processes (a mock service) attached to it. Everything is stopped when the objects go.
#pragma once

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>
#include <vector>

extern char** environ;

namespace kestrel::testing {

// A temporary folder, removed with its content.
class TempFolder {
public:
    TempFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "kestrel-XXXXXX").string();
        if (::mkdtemp(pattern.data())) path_ = pattern;
    }
    ~TempFolder() {
        std::error_code ignored;
        if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    bool ok() const { return !path_.empty(); }
    const std::filesystem::path& path() const { return path_; }

    // Writes a file below the folder, creating the folders on its way.
    void write(const std::filesystem::path& relative, std::string_view content) const {
        const auto file = path_ / relative;
        std::filesystem::create_directories(file.parent_path());
        std::ofstream(file, std::ios::binary) << content;
    }

private:
    std::filesystem::path path_;
};

// A child process, ended with SIGTERM (then SIGKILL) and reaped when the object goes.
class ChildProcess {
public:
    ChildProcess() = default;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    ~ChildProcess() { stop(); }

    // Starts argv[0] (a full path) with the environment given ("NAME=value", replacing any
    // inherited variable of that name; "NAME" alone removes it). stdoutFd, when not -1, becomes
    // the child's standard output; otherwise it writes to /dev/null. Standard error goes to
    // stderrPath when one is given.
    bool start(const std::vector<std::string>& argv, const std::vector<std::string>& env,
               int stdoutFd = -1, const std::string& stderrPath = {}) {
        std::vector<std::string> environment;
        for (char** e = environ; *e; ++e) {
            const std::string entry(*e);
            const std::string name = entry.substr(0, entry.find('='));
            bool replaced = false;
            for (const auto& change : env)
                if (change.substr(0, change.find('=')) == name) replaced = true;
            if (!replaced) environment.push_back(entry);
        }
        for (const auto& change : env)
            if (change.find('=') != std::string::npos) environment.push_back(change);

        std::vector<char*> args, envp;
        for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        for (const auto& e : environment) envp.push_back(const_cast<char*>(e.c_str()));
        envp.push_back(nullptr);

        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        if (stdoutFd >= 0)
            posix_spawn_file_actions_adddup2(&actions, stdoutFd, STDOUT_FILENO);
        else
            posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        if (!stderrPath.empty())
            posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, stderrPath.c_str(),
                                             O_WRONLY | O_CREAT | O_APPEND, 0600);
        const int rc = posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), envp.data());
        posix_spawn_file_actions_destroy(&actions);
        if (rc != 0) pid_ = -1;
        return pid_ > 0;
    }

    // True while the child has not exited.
    bool running() {
        if (pid_ <= 0) return false;
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            return false;
        }
        return true;
    }

    void stop() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGTERM);
        for (int i = 0; i < 200; ++i) { // up to 2 s for a clean exit
            if (!running()) return;
            ::usleep(10'000);
        }
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }

private:
    pid_t pid_ = -1;
};

// A dbus-daemon on a socket in a temporary folder, with a folder of activatable services
// (servicesFolder()) so that a test can see whether something asks the bus to start a service.
class PrivateBus {
public:
    // Starts the daemon and waits (at most 20 s) for it to print its address. On failure
    // error() says why and address() is empty.
    PrivateBus() {
        if (!folder_.ok()) {
            error_ = "cannot create a temporary folder";
            return;
        }
        const auto daemon = std::filesystem::path("/usr/bin/dbus-daemon");
        if (!std::filesystem::exists(daemon)) {
            error_ = "dbus-daemon is not installed";
            return;
        }
        std::filesystem::create_directories(servicesFolder());
        const auto config = folder_.path() / "bus.conf";
        folder_.write("bus.conf",
                      "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration "
                      "1.0//EN\" \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                      "<busconfig>\n"
                      "  <type>session</type>\n"
                      "  <listen>unix:path=" +
                          (folder_.path() / "bus").string() +
                          "</listen>\n"
                          "  <auth>EXTERNAL</auth>\n"
                          "  <servicedir>" +
                          servicesFolder().string() +
                          "</servicedir>\n"
                          "  <policy context=\"default\">\n"
                          "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
                          "    <allow eavesdrop=\"true\"/>\n"
                          "    <allow own=\"*\"/>\n"
                          "  </policy>\n"
                          "</busconfig>\n");
        int out[2];
        if (::pipe2(out, O_CLOEXEC) != 0) {
            error_ = "cannot create a pipe";
            return;
        }
        const bool started =
            daemon_.start({daemon.string(), "--config-file=" + config.string(), "--nofork",
                           "--nopidfile", "--nosyslog", "--print-address=1"},
                          {}, out[1], logPath().string());
        ::close(out[1]);
        if (!started) {
            ::close(out[0]);
            error_ = "cannot start dbus-daemon";
            return;
        }
        std::string line;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (line.find('\n') == std::string::npos &&
               std::chrono::steady_clock::now() < deadline) {
            pollfd p{out[0], POLLIN, 0};
            if (::poll(&p, 1, 100) <= 0) continue;
            char buffer[512];
            const ssize_t got = ::read(out[0], buffer, sizeof buffer);
            if (got <= 0) break;
            line.append(buffer, static_cast<std::size_t>(got));
        }
        ::close(out[0]);
        if (line.find('\n') == std::string::npos) {
            std::ifstream log(logPath());
            error_ = "dbus-daemon printed no address: " +
                     std::string(std::istreambuf_iterator<char>(log), {});
            daemon_.stop();
            return;
        }
        address_ = line.substr(0, line.find('\n'));
    }

    const std::string& address() const { return address_; }
    const std::string& error() const { return error_; }
    std::filesystem::path servicesFolder() const { return folder_.path() / "services"; }
    // What the daemon wrote to its standard error (warnings that need no attention as a rule).
    std::filesystem::path logPath() const { return folder_.path() / "daemon.log"; }
    const TempFolder& folder() const { return folder_; }

private:
    TempFolder folder_;
    ChildProcess daemon_;
    std::string address_;
    std::string error_;
};

} // namespace kestrel::testing
