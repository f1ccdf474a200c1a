// The HTTP server of the service, with bounds that keep slow or greedy clients from taking every
// worker: a request's headers must arrive within a time, its body at a minimum rate after that,
// and one client address may hold only a few connections at once. Connections over the bounds
// are closed; other clients go on being served.
#pragma once

#include <httplib.h>

#include <chrono>
#include <cstddef>
#include <map>
#include <mutex>
#include <string>

namespace kestrel::devservice {

struct ConnectionLimits {
    std::chrono::milliseconds headerTime{10'000}; // from the first byte of a request
    std::size_t minBodyRate = 16u << 10;          // bytes a second, after headerTime
    std::size_t perAddress = 16;                  // connections open at once from one address
    std::size_t workers = 64;                     // connections served at once
};

class GuardedServer : public httplib::Server {
public:
    explicit GuardedServer(ConnectionLimits limits);

private:
    // Serves the requests of one connection, each read through a stream that enforces the
    // limits; replaces cpp-httplib's own loop, which bounds each read but not a request.
    bool process_and_close_socket(socket_t sock) override;
    // Counts a connection of address; false when the address has as many as it may.
    bool admit(const std::string& address);
    void release(const std::string& address);
    // Waits for the next request of a kept-alive connection; false when none comes in time.
    bool awaitRequest(socket_t sock) const;

    const ConnectionLimits limits_;
    std::mutex mutex_;
    std::map<std::string, std::size_t> connections_; // per address
};

} // namespace kestrel::devservice
