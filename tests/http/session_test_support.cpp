#include "http/session_test_support.hpp"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <future>

namespace kestrel::testing {

namespace {
// Requests to 127.0.0.1 must not go to a proxy that the environment may name, and a peer that
// hangs up must not end the test process.
[[maybe_unused]] const bool environmentPrepared = [] {
    for (const char* name :
         {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"})
        ::unsetenv(name);
    std::signal(SIGPIPE, SIG_IGN);
    return true;
}();
} // namespace

Received fetch(platform::HttpSession& session, platform::HttpRequest request) {
    std::promise<Received> promise;
    auto future = promise.get_future();
    platform::DispatchQueue& queue = session.delegateQueue();
    session
        .dataTask(std::move(request),
                  [&promise, &queue](auto body, auto response, auto error) {
                      promise.set_value(Received{std::move(body), std::move(response),
                                                 std::move(error), std::this_thread::get_id(),
                                                 queue.isCurrent()});
                  })
        ->resume();
    if (future.wait_for(std::chrono::seconds(30)) != std::future_status::ready) {
        ADD_FAILURE() << "the handler never ran";
        std::abort(); // the handler still refers to this frame
    }
    return future.get();
}

platform::HttpSessionConfiguration testConfiguration(double timeoutSeconds) {
    auto configuration = platform::HttpSessionConfiguration::defaultConfiguration();
    configuration.timeoutIntervalForRequest = std::chrono::duration<double>(timeoutSeconds);
    return configuration;
}

} // namespace kestrel::testing
