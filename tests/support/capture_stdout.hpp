// Captures what the library prints on standard output while a piece of test code runs.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace kestrel::testing {

template <typename F>
std::string captureStdout(F&& body) {
    std::fflush(stdout);
    ::testing::internal::CaptureStdout();
    body();
    std::fflush(stdout);
    return ::testing::internal::GetCapturedStdout();
}

} // namespace kestrel::testing
