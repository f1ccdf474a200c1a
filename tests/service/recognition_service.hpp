// Runs recognition_server.py, a stand-in recognition service with parsers of its own, for the
// length of a test program, and talks to its control requests.
#pragma once

#include <kestrel/json.hpp>
#include <kestrel/platform/http_session.hpp>

#include <memory>
#include <string>
#include <sys/types.h>

namespace kestrel::testing {

class RecognitionService {
public:
    RecognitionService();
    ~RecognitionService();
    RecognitionService(const RecognitionService&) = delete;
    RecognitionService& operator=(const RecognitionService&) = delete;

    // "http://127.0.0.1:PORT".
    const std::string& base() const { return base_; }
    // Forgets the recorded requests and queued replies; later requests get `fallback`
    // ({"status", "body", "delay", "drop"}).
    void reset(const JsonValue& fallback);
    // Replies to use in turn before the fallback.
    void queueReplies(const JsonValue& replies);
    // Every request so far, as the service parsed it: method, target, headers (name/value pairs
    // in order), body (base64), parts (headers, name, filename, contentType, data in base64) or
    // problem (why the body did not parse as multipart).
    JsonValue requests();

private:
    void control(const std::string& path, const std::string& body);

    pid_t pid_ = -1;
    int stdinFd_ = -1;
    std::string base_;
    std::shared_ptr<platform::HttpSession> session_;
};

// Base64 decoding of the recorded bodies.
std::string fromBase64(const std::string& text);

} // namespace kestrel::testing
