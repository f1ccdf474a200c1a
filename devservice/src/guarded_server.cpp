#include "guarded_server.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>

namespace kestrel::devservice {
namespace {

using Clock = std::chrono::steady_clock;

std::string addressOf(const sockaddr_storage& address, int* port) {
    char text[INET6_ADDRSTRLEN] = "";
    if (address.ss_family == AF_INET) {
        const auto& v4 = reinterpret_cast<const sockaddr_in&>(address);
        ::inet_ntop(AF_INET, &v4.sin_addr, text, sizeof text);
        if (port) *port = ntohs(v4.sin_port);
    } else if (address.ss_family == AF_INET6) {
        const auto& v6 = reinterpret_cast<const sockaddr_in6&>(address);
        ::inet_ntop(AF_INET6, &v6.sin6_addr, text, sizeof text);
        if (port) *port = ntohs(v6.sin6_port);
    }
    return text;
}

std::string peerAddress(int sock, int* port = nullptr) {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (::getpeername(sock, reinterpret_cast<sockaddr*>(&address), &length) != 0) return {};
    return addressOf(address, port);
}

// Waits until sock is ready for events, at most timeout; false when it is not.
bool ready(int sock, short events, Clock::duration timeout) {
    if (timeout <= Clock::duration::zero()) return false;
    pollfd entry{sock, events, 0};
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(timeout).count();
    int got = 0;
    do {
        got = ::poll(&entry, 1, int(std::min<long long>(ms, 60'000)));
    } while (got < 0 && errno == EINTR);
    return got > 0;
}

// One request's reading and writing on a connection. A read fails once the request has taken
// longer than the header time plus the time its bytes so far need at the minimum body rate, or
// when nothing arrives for the idle time.
class DeadlineStream : public httplib::Stream {
public:
    DeadlineStream(int sock, const ConnectionLimits& limits, Clock::duration idle,
                   Clock::duration writeTime)
        : sock_(sock), limits_(limits), idle_(idle), writeTime_(writeTime), start_(Clock::now()) {}

    bool is_readable() const override { return begin_ < end_ || ready(sock_, POLLIN, waitLimit()); }
    bool is_writable() const override { return ready(sock_, POLLOUT, writeTime_); }

    // True once a read failed because the request took too long or went quiet.
    bool overdue() const { return overdue_; }

    ssize_t read(char* ptr, std::size_t size) override {
        if (begin_ == end_) {
            if (!ready(sock_, POLLIN, waitLimit())) {
                overdue_ = true;
                return -1;
            }
            ssize_t got = 0;
            do {
                got = ::recv(sock_, buffer_.data(), buffer_.size(), 0);
            } while (got < 0 && errno == EINTR);
            if (got <= 0) return got;
            begin_ = 0;
            end_ = std::size_t(got);
            received_ += std::size_t(got);
        }
        const std::size_t n = std::min(size, end_ - begin_);
        std::memcpy(ptr, buffer_.data() + begin_, n);
        begin_ += n;
        return ssize_t(n);
    }

    ssize_t write(const char* ptr, std::size_t size) override {
        if (!is_writable()) return -1;
        ssize_t sent = 0;
        do {
            sent = ::send(sock_, ptr, size, MSG_NOSIGNAL);
        } while (sent < 0 && errno == EINTR);
        return sent;
    }

    void get_remote_ip_and_port(std::string& ip, int& port) const override {
        ip = peerAddress(sock_, &port);
    }
    void get_local_ip_and_port(std::string& ip, int& port) const override {
        sockaddr_storage address{};
        socklen_t length = sizeof address;
        if (::getsockname(sock_, reinterpret_cast<sockaddr*>(&address), &length) == 0)
            ip = addressOf(address, &port);
    }
    socket_t socket() const override { return sock_; }

private:
    // How long the next read may wait.
    Clock::duration waitLimit() const {
        const auto allowed = limits_.headerTime +
                             std::chrono::milliseconds(
                                 received_ * 1000 / std::max<std::size_t>(limits_.minBodyRate, 1));
        return std::min(idle_, start_ + allowed - Clock::now());
    }

    int sock_;
    const ConnectionLimits& limits_;
    Clock::duration idle_, writeTime_;
    Clock::time_point start_;
    std::size_t received_ = 0;
    std::array<char, 4096> buffer_{};
    std::size_t begin_ = 0, end_ = 0;
    bool overdue_ = false;
};

} // namespace

GuardedServer::GuardedServer(ConnectionLimits limits) : limits_(limits) {
    const std::size_t workers = std::max<std::size_t>(limits_.workers, 1);
    new_task_queue = [workers] { return new httplib::ThreadPool(workers); };
}

bool GuardedServer::admit(const std::string& address) {
    std::lock_guard lock(mutex_);
    std::size_t& open = connections_[address];
    if (open >= limits_.perAddress) return false;
    ++open;
    return true;
}

void GuardedServer::release(const std::string& address) {
    std::lock_guard lock(mutex_);
    if (--connections_[address] == 0) connections_.erase(address);
}

bool GuardedServer::awaitRequest(socket_t sock) const {
    const auto until = Clock::now() + std::chrono::seconds(keep_alive_timeout_sec_);
    // In short steps, so that a stopping server is noticed.
    while (svr_sock_ != INVALID_SOCKET) {
        const auto left = until - Clock::now();
        if (left <= Clock::duration::zero()) return false;
        pollfd entry{sock, POLLIN, 0};
        const int got =
            ::poll(&entry, 1,
                   int(std::min<long long>(
                       100, std::chrono::ceil<std::chrono::milliseconds>(left).count())));
        if (got > 0) return (entry.revents & POLLIN) != 0;
        if (got < 0 && errno != EINTR) return false;
    }
    return false;
}

bool GuardedServer::process_and_close_socket(socket_t sock) {
    const std::string address = peerAddress(sock);
    bool served = false;
    if (admit(address)) {
        const auto idle =
            std::chrono::seconds(read_timeout_sec_) + std::chrono::microseconds(read_timeout_usec_);
        const auto writeTime = std::chrono::seconds(write_timeout_sec_) +
                               std::chrono::microseconds(write_timeout_usec_);
        for (std::size_t count = keep_alive_max_count_; count > 0 && awaitRequest(sock); --count) {
            DeadlineStream stream(sock, limits_, idle, writeTime);
            bool closed = false;
            served = process_request(stream, count == 1, closed, nullptr);
            // An overdue request may have been answered 400; its connection is not kept.
            if (!served || closed || stream.overdue()) break;
        }
        release(address);
    }
    ::shutdown(sock, SHUT_RDWR);
    ::close(sock);
    return served;
}

} // namespace kestrel::devservice
