// Records what is written to standard output, from any thread, into a file, so that a test can
// wait for a line that a handler on another thread prints.
#pragma once

#include "support/temp_dir.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <unistd.h>

namespace kestrel::testing {

class StdoutLines {
public:
    StdoutLines() {
        std::fflush(stdout);
        saved_ = ::dup(1);
        const int fd = ::open((dir_ / "stdout").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(fd, 1);
        ::close(fd);
    }
    // Gives back what was recorded, on standard error, when the test has failed: GoogleTest's own
    // failure messages are among it.
    ~StdoutLines() {
        std::fflush(stdout);
        ::dup2(saved_, 1);
        ::close(saved_);
        if (::testing::Test::HasFailure()) std::fputs(text().c_str(), stderr);
    }
    StdoutLines(const StdoutLines&) = delete;
    StdoutLines& operator=(const StdoutLines&) = delete;

    std::string text() const {
        std::fflush(stdout);
        std::ostringstream out;
        out << std::ifstream(dir_ / "stdout").rdbuf();
        return out.str();
    }
    // How many lines start with the prefix.
    int count(const std::string& prefix) const {
        std::istringstream in(text());
        int n = 0;
        for (std::string line; std::getline(in, line);) n += line.rfind(prefix, 0) == 0 ? 1 : 0;
        return n;
    }
    // Waits (at most 30 s) until `n` lines start with the prefix.
    bool waitFor(const std::string& prefix, int n = 1) const {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (count(prefix) < n) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return true;
    }

private:
    TempDir dir_;
    int saved_ = -1;
};

} // namespace kestrel::testing
