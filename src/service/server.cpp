#include <kestrel/service/click_outbox.hpp>
#include <kestrel/service/server.hpp>

#include <stdexcept>
#include <utility>

namespace kestrel {

Server& Server::shared() {
    // Never destroyed: completions may still arrive while the process exits.
    static Server* const instance = [] {
        auto* made = new Server();
        made->setClickOutbox(std::make_shared<ClickOutbox>(ClickOutbox::defaultFile(), *made));
        return made;
    }();
    return *instance;
}

Server::Server(platform::HttpSessionConfiguration configuration)
    : session_(platform::HttpSession::create(std::move(configuration), this)) {}

Server::~Server() {
    // The outbox's sender uses this server: it stops first.
    setClickOutbox(nullptr);
    // Destroyed before the rest of the server, since it calls this server as its delegate; outside
    // the lock, since the handlers it still runs may ask for the session.
    std::shared_ptr<platform::HttpSession> session;
    {
        std::lock_guard lock(mutex_);
        session.swap(session_);
    }
}

std::shared_ptr<platform::HttpSession> Server::session() const {
    std::lock_guard lock(mutex_);
    return session_;
}

void Server::setSession(std::shared_ptr<platform::HttpSession> session) {
    if (!session) {
        throw std::invalid_argument("Server::setSession: the session must not be null");
    }
    // The old session is released outside the lock: destroying it runs the handlers of what it
    // still had in flight, and those may ask for the session.
    {
        std::lock_guard lock(mutex_);
        session_.swap(session);
    }
    session.reset();
}

std::shared_ptr<ClickOutbox> Server::clickOutbox() const {
    std::lock_guard lock(mutex_);
    return clickOutbox_;
}

void Server::setClickOutbox(std::shared_ptr<ClickOutbox> outbox) {
    {
        std::lock_guard lock(mutex_);
        clickOutbox_.swap(outbox);
    }
    outbox.reset(); // outside the lock: stopping the sender waits for it
}

void Server::urlSession(platform::HttpSession& /*session*/,
                        const platform::AuthenticationChallenge& challenge,
                        ChallengeCompletion completionHandler) {
    const auto& space = challenge.protectionSpace;
    if (space.authenticationMethod == platform::AuthenticationMethod::serverTrust &&
        space.serverTrust && space.serverTrust->evaluatedAsTrusted) {
        completionHandler(platform::AuthChallengeDisposition::useCredential,
                          platform::UrlCredential::forTrust(*space.serverTrust));
        return;
    }
    // The default handling refuses an untrusted chain as such, so the call's failure says the
    // certificate was the reason rather than that something was cancelled.
    completionHandler(platform::AuthChallengeDisposition::performDefaultHandling, std::nullopt);
}

} // namespace kestrel
