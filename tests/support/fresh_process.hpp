// Runs a piece of a test in a fresh child process whose standard settings store is a file the
// test chooses: the settings manager is created once per process.
#pragma once

#include <kestrel/platform/user_defaults.hpp>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <sys/wait.h>
#include <unistd.h>

namespace kestrel::testing {

// The child's GoogleTest failures become its exit status, which the parent checks.
inline void inFreshProcess(const std::filesystem::path& path, const std::function<void()>& body) {
    std::fflush(stdout);
    const pid_t pid = ::fork();
    if (pid == 0) {
        platform::UserDefaults::setStandard(platform::UserDefaults::openFile(path));
        body();
        std::fflush(stdout);
        ::_exit(::testing::Test::HasFailure() ? 1 : 0);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the child process reported failures above";
}

} // namespace kestrel::testing
