// A server-trust question put to the session's delegate. The transfer that asked it waits, out of
// libcurl, until the answer arrives; the other transfers of the session go on meanwhile.
#pragma once

#include <kestrel/platform/authentication_challenge.hpp>

#include <functional>
#include <mutex>
#include <optional>
#include <utility>

namespace kestrel::platform::detail {

class TrustQuestion {
public:
    // onAnswer runs on the answering thread once the first answer is in, to wake the transfer
    // thread.
    TrustQuestion(ServerTrust trust, std::function<void()> onAnswer)
        : trust_(std::move(trust)), onAnswer_(std::move(onAnswer)) {}

    // Any thread; only the first answer counts.
    void answer(AuthChallengeDisposition disposition) {
        {
            std::lock_guard lock(mutex_);
            if (answer_) return;
            answer_ = disposition;
        }
        onAnswer_();
    }
    std::optional<AuthChallengeDisposition> answered() const {
        std::lock_guard lock(mutex_);
        return answer_;
    }
    // The session's own evaluation of the chain, made when the question was asked.
    const ServerTrust& trust() const { return trust_; }

private:
    const ServerTrust trust_;
    const std::function<void()> onAnswer_;
    mutable std::mutex mutex_;
    std::optional<AuthChallengeDisposition> answer_;
};

} // namespace kestrel::platform::detail
