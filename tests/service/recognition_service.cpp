#include "service/recognition_service.hpp"

#include "platform/http/test_server.hpp"

#include <gtest/gtest.h>

#include <csignal>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

namespace kestrel::testing {

RecognitionService::RecognitionService()
    : session_(platform::HttpSession::create(testConfiguration())) {
    int in[2];
    int out[2];
    if (::pipe(in) != 0 || ::pipe(out) != 0) throw std::runtime_error("pipe failed");
    pid_ = ::fork();
    if (pid_ == 0) {
        ::dup2(in[0], 0);
        ::dup2(out[1], 1);
        ::close(in[1]);
        ::close(out[0]);
        ::execl("/usr/bin/python3", "python3", KESTREL_RECOGNITION_SERVER_SCRIPT, nullptr);
        ::_exit(127);
    }
    ::close(in[0]);
    ::close(out[1]);
    stdinFd_ = in[1];
    std::string port;
    char c = 0;
    while (::read(out[0], &c, 1) == 1 && c != '\n') port.push_back(c);
    ::close(out[0]);
    if (port.empty()) throw std::runtime_error("the recognition test service did not start");
    base_ = "http://127.0.0.1:" + port;
}

RecognitionService::~RecognitionService() {
    ::close(stdinFd_);
    int status = 0;
    if (::waitpid(pid_, &status, 0) < 0) ::kill(pid_, SIGKILL);
}

void RecognitionService::control(const std::string& path, const std::string& body) {
    platform::HttpRequest request(base_ + path);
    request.httpMethod = "POST";
    request.httpBody = body;
    const auto received = fetch(*session_, request);
    ASSERT_TRUE(received.response && received.response->statusCode == 204) << path;
}

void RecognitionService::reset(const JsonValue& fallback) {
    control("/control/reset", "");
    control("/control/default", fallback.dump());
}

void RecognitionService::queueReplies(const JsonValue& replies) {
    control("/control/replies", replies.dump());
}

JsonValue RecognitionService::requests() {
    const auto received = fetch(*session_, platform::HttpRequest(base_ + "/control/requests"));
    if (!received.body) return JsonValue::array();
    return JsonValue::parse(*received.body);
}

std::string fromBase64(const std::string& text) {
    static const std::string alphabet =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    unsigned bits = 0;
    int count = 0;
    for (const char c : text) {
        const auto value = alphabet.find(c);
        if (value == std::string::npos) continue; // padding
        bits = (bits << 6) | static_cast<unsigned>(value);
        count += 6;
        if (count >= 8) {
            count -= 8;
            out.push_back(static_cast<char>((bits >> count) & 0xFF));
        }
    }
    return out;
}

} // namespace kestrel::testing
