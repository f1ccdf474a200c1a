// A private D-Bus message bus for one test: a dbus-daemon of its own in a temporary folder, and
// child processes (a mock service) attached to it. Everything is stopped when the objects go.
#pragma once

#include "support/temp_dir.hpp"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace kestrel::testing {

// A child process with this process's environment, killed and reaped when the object goes.
class ChildProcess {
public:
    ChildProcess() = default;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    ~ChildProcess() {
        if (pid_ > 0 && ::kill(pid_, SIGKILL) == 0) ::waitpid(pid_, nullptr, 0);
    }

    // Starts argv[0], a full path, with its standard output written to the file stdoutPath.
    bool start(std::vector<std::string> argv, const std::string& stdoutPath = "/dev/null") {
        std::vector<char*> args;
        for (auto& a : argv) args.push_back(a.data());
        args.push_back(nullptr);
        pid_ = ::fork();
        if (pid_ == 0) { // only calls that are safe after fork until exec
            ::dup2(::open(stdoutPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), STDOUT_FILENO);
            ::execv(args[0], args.data());
            ::_exit(127);
        }
        return pid_ > 0;
    }

    // True while the child has not exited.
    bool running() {
        if (pid_ > 0 && ::waitpid(pid_, nullptr, WNOHANG) == pid_) pid_ = -1;
        return pid_ > 0;
    }

private:
    pid_t pid_ = -1;
};

// A dbus-daemon on a socket in a temporary folder, with a "services" folder of activatable
// services so that a test can see whether something asks the bus to start a service.
class PrivateBus {
public:
    // Starts the daemon and waits (at most 20 s) for it to print its address, which it does once
    // it listens. On failure address() is empty.
    PrivateBus() {
        folder_.write("services/.keep", "");
        folder_.write("bus.conf", "<busconfig><type>session</type><listen>unix:path=" +
                                      (folder_.path() / "bus").string() +
                                      "</listen><auth>EXTERNAL</auth><servicedir>" +
                                      (folder_.path() / "services").string() +
                                      "</servicedir><policy context=\"default\">"
                                      "<allow send_destination=\"*\"/><allow receive_sender=\"*\"/>"
                                      "<allow own=\"*\"/>"
                                      "</policy></busconfig>\n");
        if (!daemon_.start({"/usr/bin/dbus-daemon",
                            "--config-file=" + (folder_.path() / "bus.conf").string(), "--nofork",
                            "--nopidfile", "--nosyslog", "--print-address"},
                           (folder_.path() / "address").string()))
            return;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        std::string line;
        while (daemon_.running() && std::chrono::steady_clock::now() < deadline) {
            std::ifstream file(folder_.path() / "address");
            if (std::getline(file, line) && !file.eof()) { // a whole line, ended by '\n'
                address_ = line;
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }

    const std::string& address() const { return address_; }
    const TempDir& folder() const { return folder_; }

private:
    TempDir folder_;
    ChildProcess daemon_;
    std::string address_;
};

} // namespace kestrel::testing
