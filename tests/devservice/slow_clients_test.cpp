// Clients that send their requests slowly: one address holds only a few connections, each is
// closed once its request takes too long, and everyone else goes on being served meanwhile.
#include "running_service.hpp"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>

namespace kestrel::testing {
namespace {

// A connection to the service from source, one of the loopback addresses.
int connectFrom(const char* source) {
    const int sock = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in local{}, remote{};
    local.sin_family = remote.sin_family = AF_INET;
    ::inet_pton(AF_INET, source, &local.sin_addr);
    ::inet_pton(AF_INET, "127.0.0.1", &remote.sin_addr);
    remote.sin_port = htons(std::uint16_t(service().port()));
    EXPECT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&local), sizeof local), 0);
    EXPECT_EQ(::connect(sock, reinterpret_cast<sockaddr*>(&remote), sizeof remote), 0);
    return sock;
}

// True once the service has closed sock: reading (past any answer) gives the end of the stream
// or a reset.
bool closedByService(int sock) {
    char buffer[512];
    ssize_t got = 0;
    while ((got = ::recv(sock, buffer, sizeof buffer, MSG_DONTWAIT)) > 0) {}
    return got == 0 || (errno != EAGAIN && errno != EWOULDBLOCK);
}

// Waits (polling, at most bound) until at least wanted of the sockets are closed by the service.
std::size_t waitForClosed(const std::vector<int>& sockets, std::size_t wanted,
                          std::chrono::seconds bound) {
    const auto until = std::chrono::steady_clock::now() + bound;
    std::vector<bool> closed(sockets.size(), false);
    std::size_t count = 0;
    while (true) {
        for (std::size_t i = 0; i < sockets.size(); ++i)
            if (!closed[i] && closedByService(sockets[i])) closed[i] = true, ++count;
        if (count >= wanted || std::chrono::steady_clock::now() > until) return count;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

TEST(SlowClients, AreCutOffWhileEveryoneElseIsServed) {
    // 64 connections from one address send headers a byte at a time, without end; one from
    // another address sends its body a byte at a time.
    std::vector<int> slowHeaders, slowBody{connectFrom("127.0.0.3")};
    for (int i = 0; i < 64; ++i) slowHeaders.push_back(connectFrom("127.0.0.2"));
    const std::string headers = "GET /v1/stats HTTP/1.1\r\nHost: x\r\nApiKey: " + kDemoKey + "\r\n";
    const std::string body =
        "PUT /v1/clicks?actionId=a HTTP/1.1\r\nHost: x\r\nApiKey: " + kDemoKey +
        "\r\nSessionId: s\r\nContent-Length: 100000\r\n\r\n";
    ASSERT_EQ(::send(slowBody[0], body.data(), body.size(), MSG_NOSIGNAL), ssize_t(body.size()));
    std::atomic<bool> stop{false};
    std::thread trickler([&] {
        for (std::size_t at = 0; !stop; ++at) {
            const char next = at < headers.size() ? headers[at] : "X-Slow: 1\r\n"[at % 11];
            for (const int sock : slowHeaders) ::send(sock, &next, 1, MSG_NOSIGNAL);
            ::send(slowBody[0], "x", 1, MSG_NOSIGNAL);
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        }
    });
    const std::unique_ptr<void, std::function<void(void*)>> finally(&stop, [&](void*) {
        stop = true;
        trickler.join();
        for (const int sock : slowHeaders) ::close(sock);
        ::close(slowBody[0]);
    });

    httplib::Client client = service().client();
    client.set_read_timeout(20, 0);
    for (int i = 0; i < 20; ++i) {
        const auto reply = client.Get("/v1/stats", httplib::Headers{{"ApiKey", kDemoKey}});
        ASSERT_TRUE(reply) << "request " << i << ": " << httplib::to_string(reply.error());
        EXPECT_EQ(reply->status, 200);
    }
    // The address's connections over its share were closed at once, the rest once their
    // request took too long.
    EXPECT_GE(waitForClosed(slowHeaders, 48, std::chrono::seconds(30)), 48u);
    EXPECT_EQ(waitForClosed(slowHeaders, 64, std::chrono::seconds(90)), 64u);
    EXPECT_EQ(waitForClosed(slowBody, 1, std::chrono::seconds(90)), 1u);
}

} // namespace
} // namespace kestrel::testing
