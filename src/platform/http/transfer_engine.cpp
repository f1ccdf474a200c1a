#include "platform/http/transfer_engine.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <new>
#include <stdexcept>
#include <utility>

namespace kestrel::platform::detail {

namespace {

void initialiseLibcurlOnce() {
    static const CURLcode result = curl_global_init(CURL_GLOBAL_DEFAULT);
    if (result != CURLE_OK) throw std::runtime_error("libcurl could not be initialised");
}

std::string describeSeconds(Clock::duration duration) {
    const double seconds = std::chrono::duration<double>(duration).count();
    std::string text = std::to_string(seconds);
    text.erase(text.find_last_not_of('0') + 1);
    if (!text.empty() && text.back() == '.') text.pop_back();
    return text + " s";
}

// Shared by every copy of the completion handed to the delegate: when the last copy goes without
// an answer, the challenge counts as cancelled, so the transfer never waits for ever.
class TrustResponder {
public:
    explicit TrustResponder(std::shared_ptr<TrustQuestion> question)
        : question_(std::move(question)) {}
    ~TrustResponder() {
        question_->answer(AuthChallengeDisposition::cancelAuthenticationChallenge);
    }
    TrustResponder(const TrustResponder&) = delete;
    TrustResponder& operator=(const TrustResponder&) = delete;

    void answer(AuthChallengeDisposition disposition) { question_->answer(disposition); }

private:
    const std::shared_ptr<TrustQuestion> question_;
};

} // namespace

TransferEngine::TransferEngine(const HttpSessionConfiguration& configuration,
                               HttpSessionDelegate* delegate, std::shared_ptr<DispatchQueue> queue)
    : defaultTimeout_(configuration.timeoutIntervalForRequest),
      resourceTimeout_(configuration.timeoutIntervalForResource),
      maximumBodySize_(configuration.maximumResponseBodySize), delegate_(delegate),
      queue_(std::move(queue)), trustStore_(configuration.useSystemTrustStore,
                                            configuration.additionalTrustedCertificatesPem) {
    initialiseLibcurlOnce();
    multi_ = curl_multi_init();
    if (multi_ == nullptr) throw std::bad_alloc();
    curl_multi_setopt(multi_, CURLMOPT_MAX_HOST_CONNECTIONS,
                      static_cast<long>(configuration.httpMaximumConnectionsPerHost));
    curl_multi_setopt(multi_, CURLMOPT_PIPELINING, static_cast<long>(CURLPIPE_MULTIPLEX));
}

TransferEngine::~TransferEngine() {
    shutDown();
    curl_multi_cleanup(multi_);
}

void TransferEngine::start(HttpSession& owner) {
    owner_ = &owner;
    thread_ = std::thread([this] { run(); });
}

std::uint64_t TransferEngine::nextTaskIdentifier() {
    std::lock_guard lock(mutex_);
    return ++lastTaskIdentifier_;
}

void TransferEngine::submit(std::uint64_t id, std::shared_ptr<const HttpRequest> request,
                            Handler handler) {
    std::unique_lock lock(mutex_);
    if (stopping_) {
        lock.unlock();
        return; // the handler is released here, outside the lock
    }
    pending_.emplace(id, Pending{std::move(handler), std::nullopt});
    incoming_.push_back(Submission{id, std::move(request), Clock::now()});
    curl_multi_wakeup(multi_);
}

void TransferEngine::settle(std::uint64_t id, Handler handler, Outcome outcome) {
    {
        std::lock_guard lock(mutex_);
        if (stopping_) return;
        pending_.emplace(id, Pending{std::move(handler), std::nullopt});
    }
    complete(id, std::move(outcome));
}

void TransferEngine::cancel(std::uint64_t id) {
    std::lock_guard lock(mutex_);
    const auto it = pending_.find(id);
    if (stopping_ || it == pending_.end() || it->second.outcome) return;
    cancelled_.push_back(id);
    curl_multi_wakeup(multi_);
}

void TransferEngine::shutDown() {
    {
        std::lock_guard lock(mutex_);
        if (stopping_) return;
        stopping_ = true;
    }
    curl_multi_wakeup(multi_);
    if (thread_.joinable()) thread_.join();

    std::vector<std::pair<Handler, Outcome>> unanswered;
    {
        std::lock_guard lock(mutex_);
        for (auto& [id, pending] : pending_) {
            Outcome outcome = pending.outcome ? std::move(*pending.outcome)
                                              : Outcome::failure(HttpErrorCode::cancelled,
                                                                 "the session was closed");
            unanswered.emplace_back(std::move(pending.handler), std::move(outcome));
        }
        pending_.clear();
    }
    // Also a barrier: a handler or delegate call running on the queue ends before this returns.
    const auto answerAll = [&unanswered] {
        for (auto& [handler, outcome] : unanswered)
            if (handler)
                handler(std::move(outcome.body), std::move(outcome.response),
                        std::move(outcome.error));
    };
    if (queue_->isCurrent())
        answerAll();
    else
        queue_->sync(answerAll);
}

void TransferEngine::run() {
    for (;;) {
        std::vector<Submission> incoming;
        std::vector<std::uint64_t> cancelled;
        {
            std::lock_guard lock(mutex_);
            if (stopping_) break;
            incoming.swap(incoming_);
            cancelled.swap(cancelled_);
        }
        for (auto& submission : incoming) startTransfer(std::move(submission));
        for (const auto id : cancelled) {
            const auto it = active_.find(id);
            if (it == active_.end()) continue;
            it->second->abortConnectionOnClose();
            curl_multi_remove_handle(multi_, it->second->handle());
            active_.erase(it);
            complete(id, Outcome::failure(HttpErrorCode::cancelled, "the task was cancelled"));
        }

        restartAnswered();
        int running = 0;
        curl_multi_perform(multi_, &running);
        int left = 0;
        while (CURLMsg* message = curl_multi_info_read(multi_, &left))
            if (message->msg == CURLMSG_DONE)
                finishTransfer(message->easy_handle, message->data.result);
        enforceIdleTimeouts();
        curl_multi_poll(multi_, nullptr, 0, pollTimeoutMs(), nullptr);
    }
    for (auto& [id, transfer] : active_) curl_multi_remove_handle(multi_, transfer->handle());
    active_.clear();
}

void TransferEngine::startTransfer(Submission submission) {
    auto made = CurlTransfer::make(submission.id, std::move(submission.request), defaultTimeout_,
                                   maximumBodySize_, *this);
    if (auto* refused = std::get_if<Outcome>(&made)) {
        complete(submission.id, std::move(*refused));
        return;
    }
    auto transfer = std::move(std::get<std::unique_ptr<CurlTransfer>>(made));
    const Clock::duration whole =
        resourceTimeout_.count() > 0 ? std::chrono::duration_cast<Clock::duration>(resourceTimeout_)
                                     : 4 * transfer->timeout();
    transfer->setDeadline(submission.submitted + whole, whole);
    launch(std::move(transfer));
}

void TransferEngine::launch(std::unique_ptr<CurlTransfer> transfer) {
    const auto id = transfer->id();
    if (curl_multi_add_handle(multi_, transfer->handle()) != CURLM_OK) {
        active_.erase(id);
        complete(id, Outcome::failure(HttpErrorCode::unknown, "the transfer could not be started"));
        return;
    }
    active_.insert_or_assign(id, std::move(transfer));
}

void TransferEngine::restartAnswered() {
    std::vector<CurlTransfer*> answered;
    for (auto& [id, transfer] : active_)
        if (transfer->stopReason() == StopReason::awaitingTrust &&
            transfer->trustQuestion()->answered())
            answered.push_back(transfer.get());
    for (CurlTransfer* waited : answered) {
        const auto id = waited->id();
        auto made =
            CurlTransfer::make(id, waited->request(), defaultTimeout_, maximumBodySize_, *this);
        // The request was accepted once; only a lack of memory refuses it now.
        if (auto* refused = std::get_if<Outcome>(&made)) {
            active_.erase(id);
            complete(id, std::move(*refused));
            continue;
        }
        auto fresh = std::move(std::get<std::unique_ptr<CurlTransfer>>(made));
        fresh->setDeadline(waited->deadline(), waited->wholeTime());
        fresh->setTrustQuestion(waited->trustQuestion());
        launch(std::move(fresh));
    }
}

void TransferEngine::finishTransfer(CURL* handle, CURLcode result) {
    CurlTransfer* finished = nullptr;
    curl_easy_getinfo(handle, CURLINFO_PRIVATE, &finished);
    if (finished == nullptr) return;
    const auto it = active_.find(finished->id());
    if (it == active_.end()) return;
    curl_multi_remove_handle(multi_, handle);
    // Stays among the active transfers, out of libcurl, until the delegate answers.
    if (finished->stopReason() == StopReason::awaitingTrust) return;
    Outcome outcome = it->second->finish(result);
    const auto id = it->first;
    active_.erase(it);
    complete(id, std::move(outcome));
}

void TransferEngine::enforceIdleTimeouts() {
    // A draining socket send queue is progress too. Looking at every queue costs a system call
    // each, so it is done at most every 100 ms, and for a transfer about to time out.
    const auto now = Clock::now();
    if (now - lastSendQueueSample_ >= std::chrono::milliseconds(100)) {
        lastSendQueueSample_ = now;
        for (auto& [id, transfer] : active_)
            if (transfer->idleDeadline()) transfer->sampleSendQueue();
    }
    for (auto it = active_.begin(); it != active_.end();) {
        CurlTransfer& transfer = *it->second;
        std::string why;
        if (now >= transfer.deadline()) {
            why = "the exchange took longer than " + describeSeconds(transfer.wholeTime());
        } else {
            auto deadline = transfer.idleDeadline();
            if (deadline && now >= *deadline) {
                transfer.sampleSendQueue();
                deadline = transfer.idleDeadline();
            }
            if (deadline && now >= *deadline)
                why = "no progress for " + describeSeconds(transfer.timeout());
        }
        if (why.empty()) {
            ++it;
            continue;
        }
        transfer.stop(StopReason::timedOut, std::move(why));
        curl_multi_remove_handle(multi_, transfer.handle());
        Outcome outcome = transfer.finish(CURLE_OK);
        const auto id = it->first;
        it = active_.erase(it);
        complete(id, std::move(outcome));
    }
}

int TransferEngine::pollTimeoutMs() const {
    // While exchanges are connected, look at them often enough to see a send queue move and to
    // catch the earliest idle deadline; an idle session only waits for new work.
    auto wait = std::chrono::milliseconds(active_.empty() ? 60000 : 1000);
    const auto now = Clock::now();
    for (const auto& [id, transfer] : active_) {
        if (transfer->deadline() != Clock::time_point::max()) {
            const auto untilWhole =
                std::chrono::ceil<std::chrono::milliseconds>(transfer->deadline() - now);
            wait = std::clamp(untilWhole, std::chrono::milliseconds(0), wait);
        }
        if (const auto deadline = transfer->idleDeadline()) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(*deadline - now);
            wait = std::clamp(left, std::chrono::milliseconds(0),
                              std::min(wait, std::chrono::milliseconds(250)));
        }
    }
    return static_cast<int>(wait.count());
}

void TransferEngine::complete(std::uint64_t id, Outcome outcome) {
    {
        std::lock_guard lock(mutex_);
        const auto it = pending_.find(id);
        if (it == pending_.end()) return;
        it->second.outcome = std::move(outcome);
    }
    queue_->async([self = shared_from_this(), id] { self->deliver(id); });
}

void TransferEngine::deliver(std::uint64_t id) {
    Pending pending;
    {
        std::lock_guard lock(mutex_);
        const auto it = pending_.find(id);
        // Gone when shutDown answered it already.
        if (it == pending_.end() || !it->second.outcome) return;
        pending = std::move(it->second);
        pending_.erase(it);
    }
    if (pending.handler)
        pending.handler(std::move(pending.outcome->body), std::move(pending.outcome->response),
                        std::move(pending.outcome->error));
}

curl_socket_t TransferEngine::connectionSocket(const std::string& connection, int localPort,
                                               const std::vector<curl_socket_t>& opened) {
    for (const curl_socket_t socket : opened) {
        sockaddr_storage address{};
        socklen_t length = sizeof address;
        if (::getsockname(socket, reinterpret_cast<sockaddr*>(&address), &length) != 0) continue;
        int port = -1;
        if (address.ss_family == AF_INET)
            port = ntohs(reinterpret_cast<const sockaddr_in&>(address).sin_port);
        else if (address.ss_family == AF_INET6)
            port = ntohs(reinterpret_cast<const sockaddr_in6&>(address).sin6_port);
        if (port == localPort) {
            connectionSockets_[connection] = socket;
            return socket;
        }
    }
    const auto known = connectionSockets_.find(connection);
    return known != connectionSockets_.end() ? known->second : CURL_SOCKET_BAD;
}

void TransferEngine::forgetSocket(curl_socket_t socket) {
    std::erase_if(connectionSockets_,
                  [socket](const auto& entry) { return entry.second == socket; });
}

TrustVerdict TransferEngine::evaluateServerTrust(CurlTransfer& transfer,
                                                 X509_STORE_CTX* presented) {
    const ServerTrust trust = trustStore_.evaluate(presented, transfer.host(), transfer.port());
    auto disposition = AuthChallengeDisposition::performDefaultHandling;
    if (delegate_ != nullptr) {
        const auto& question = transfer.trustQuestion();
        const auto answer = question ? question->answered() : std::nullopt;
        // An answer holds for the chain it was given about; another chain is asked about anew.
        if (!answer || question->trust() != trust) {
            {
                std::lock_guard lock(mutex_);
                if (stopping_) {
                    transfer.stop(StopReason::trustCancelled, "the session was closed");
                    return TrustVerdict::refuse;
                }
            }
            ask(transfer, trust);
            return TrustVerdict::awaitAnswer;
        }
        disposition = *answer;
    }

    switch (disposition) {
    case AuthChallengeDisposition::cancelAuthenticationChallenge:
    case AuthChallengeDisposition::rejectProtectionSpace:
        transfer.stop(StopReason::trustCancelled, "the server-trust challenge was cancelled");
        return TrustVerdict::refuse;
    case AuthChallengeDisposition::useCredential:
    case AuthChallengeDisposition::performDefaultHandling:
        break;
    }
    // Whatever the answer, an untrusted chain never passes.
    if (!trust.evaluatedAsTrusted) {
        transfer.stop(StopReason::trustRejected, "the certificate of " + trust.host +
                                                     " is not trusted: " + trust.failureReason);
        return TrustVerdict::refuse;
    }
    return TrustVerdict::proceed;
}

void TransferEngine::ask(CurlTransfer& transfer, const ServerTrust& trust) {
    // The answer wakes the transfer thread, whose next round starts the transfer again.
    auto question = std::make_shared<TrustQuestion>(trust, [weak = weak_from_this()] {
        if (const auto self = weak.lock()) curl_multi_wakeup(self->multi_);
    });
    transfer.setTrustQuestion(question);
    AuthenticationChallenge challenge{
        ProtectionSpace{trust.host, trust.port, "https", AuthenticationMethod::serverTrust, trust}};
    auto responder = std::make_shared<TrustResponder>(std::move(question));
    queue_->async([self = shared_from_this(), challenge = std::move(challenge),
                   responder = std::move(responder)]() mutable {
        {
            std::lock_guard lock(self->mutex_);
            if (self->stopping_) return;
        }
        self->delegate_->urlSession(
            *self->owner_, challenge,
            [responder = std::move(responder)](AuthChallengeDisposition answer,
                                               const std::optional<UrlCredential>&) {
                responder->answer(answer);
            });
    });
}

} // namespace kestrel::platform::detail
