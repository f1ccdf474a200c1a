// Helpers shared by the session suites: one request sent and waited for, and a record of what a
// handler received.
#pragma once

#include <kestrel/platform/http_session.hpp>

#include <chrono>
#include <optional>
#include <string>
#include <thread>

namespace kestrel::testing {

struct Received {
    std::optional<std::string> body;
    std::optional<platform::HttpResponse> response;
    std::optional<platform::HttpError> error;
    std::thread::id thread;
    bool onDelegateQueue = false;
};

// Resumes a task for the request and waits (at most 30 s) for its handler; fails the test when
// the handler never runs.
Received fetch(platform::HttpSession& session, platform::HttpRequest request);

// A session configuration whose time-out keeps a stuck test short.
platform::HttpSessionConfiguration testConfiguration(double timeoutSeconds = 10.0);

} // namespace kestrel::testing
