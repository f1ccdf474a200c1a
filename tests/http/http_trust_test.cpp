// Server trust: the session's own evaluation of the chain and host name, and what a delegate's
// answer can and cannot change.
#include "http/session_test_support.hpp"
#include "http/test_server.hpp"

#include <gtest/gtest.h>

#include <mutex>
#include <thread>

using namespace kestrel::platform;
using kestrel::testing::fetch;
using kestrel::testing::ReceivedRequest;
using kestrel::testing::Reply;
using kestrel::testing::TestCertificates;
using kestrel::testing::testConfiguration;
using kestrel::testing::TestServer;
using kestrel::testing::TestServerOptions;

namespace {

TestServerOptions tlsWith(const kestrel::testing::TlsIdentity& identity) {
    TestServerOptions options;
    options.tls = identity;
    return options;
}

Reply ok(const ReceivedRequest&) { return Reply{200, {}, "secret"}; }

HttpSessionConfiguration trustingTestAuthority() {
    auto configuration = testConfiguration();
    configuration.additionalTrustedCertificatesPem = {TestCertificates::shared().authorityPem};
    return configuration;
}

// Records every challenge and answers as told; may also keep the completion and never answer.
class RecordingDelegate : public HttpSessionDelegate {
public:
    enum class Answer { useCredential, defaultHandling, cancel, reject, dropCompletion };
    explicit RecordingDelegate(Answer answer) : answer_(answer) {}

    void urlSession(HttpSession& session, const AuthenticationChallenge& challenge,
                    ChallengeCompletion completion) override {
        std::lock_guard lock(mutex_);
        challenges_.push_back(challenge);
        onDelegateQueue_.push_back(session.delegateQueue().isCurrent());
        const auto& trust = challenge.protectionSpace.serverTrust;
        switch (answer_) {
        case Answer::useCredential:
            completion(AuthChallengeDisposition::useCredential,
                       trust ? std::optional(UrlCredential::forTrust(*trust)) : std::nullopt);
            break;
        case Answer::defaultHandling:
            completion(AuthChallengeDisposition::performDefaultHandling, std::nullopt);
            break;
        case Answer::cancel:
            completion(AuthChallengeDisposition::cancelAuthenticationChallenge, std::nullopt);
            break;
        case Answer::reject:
            completion(AuthChallengeDisposition::rejectProtectionSpace, std::nullopt);
            break;
        case Answer::dropCompletion:
            break;
        }
    }
    std::vector<AuthenticationChallenge> challenges() const {
        std::lock_guard lock(mutex_);
        return challenges_;
    }
    std::vector<bool> onDelegateQueue() const {
        std::lock_guard lock(mutex_);
        return onDelegateQueue_;
    }

private:
    const Answer answer_;
    mutable std::mutex mutex_;
    std::vector<AuthenticationChallenge> challenges_;
    std::vector<bool> onDelegateQueue_;
};

} // namespace

TEST(HttpSessionTrust, UnknownAuthorityIsRefusedByDefault) {
    TestServer server(ok, tlsWith(TestCertificates::shared().localhost));
    auto session = HttpSession::create(testConfiguration());
    const auto received = fetch(*session, HttpRequest{server.url("/clicks")});
    ASSERT_TRUE(received.error);
    EXPECT_EQ(received.error->code, HttpErrorCode::serverCertificateUntrusted)
        << received.error->description();
    EXPECT_FALSE(received.body);
    EXPECT_TRUE(server.requests().empty()); // not a byte of the request went out
}

TEST(HttpSessionTrust, AuthorityAddedToTheConfigurationIsTrusted) {
    TestServer server(ok, tlsWith(TestCertificates::shared().localhost));
    auto session = HttpSession::create(trustingTestAuthority());
    const auto received = fetch(*session, HttpRequest{server.url("/clicks")});
    ASSERT_FALSE(received.error) << received.error->description();
    EXPECT_EQ(received.response->statusCode, 200);
    EXPECT_EQ(received.body, "secret");
}

TEST(HttpSessionTrust, CertificateForAnotherHostIsRefused) {
    TestServer server(ok, tlsWith(TestCertificates::shared().wrongHost));
    auto session = HttpSession::create(trustingTestAuthority());
    const auto received = fetch(*session, HttpRequest{server.url("/clicks")});
    ASSERT_TRUE(received.error);
    EXPECT_EQ(received.error->code, HttpErrorCode::serverCertificateUntrusted)
        << received.error->description();
    EXPECT_TRUE(server.requests().empty());
}

TEST(HttpSessionTrust, DelegateSeesTheEvaluationOnItsQueue) {
    struct Case {
        const char* what;
        const kestrel::testing::TlsIdentity* identity;
        bool addAuthority;
        bool trusted;
    };
    const auto& certificates = TestCertificates::shared();
    const Case cases[] = {{"trusted", &certificates.localhost, true, true},
                          {"unknown authority", &certificates.localhost, false, false},
                          {"wrong host", &certificates.wrongHost, true, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TestServer server(ok, tlsWith(*c.identity));
        RecordingDelegate delegate(RecordingDelegate::Answer::defaultHandling);
        auto session = HttpSession::create(
            c.addAuthority ? trustingTestAuthority() : testConfiguration(), &delegate);
        const auto received = fetch(*session, HttpRequest{server.url("/clicks")});
        EXPECT_EQ(received.error.has_value(), !c.trusted);

        const auto challenges = delegate.challenges();
        ASSERT_EQ(challenges.size(), 1u);
        const auto& space = challenges[0].protectionSpace;
        EXPECT_EQ(space.authenticationMethod, AuthenticationMethod::serverTrust);
        EXPECT_EQ(space.host, "127.0.0.1");
        EXPECT_EQ(space.port, server.port());
        EXPECT_EQ(space.protocol, "https");
        ASSERT_TRUE(space.serverTrust);
        EXPECT_EQ(space.serverTrust->evaluatedAsTrusted, c.trusted);
        EXPECT_EQ(space.serverTrust->failureReason.empty(), c.trusted);
        ASSERT_FALSE(space.serverTrust->certificateChainPem.empty());
        EXPECT_EQ(space.serverTrust->certificateChainPem.front(), c.identity->certificatePem);
        EXPECT_EQ(delegate.onDelegateQueue(), std::vector<bool>{true});
    }
}

TEST(HttpSessionTrust, UseCredentialCannotMakeAnUntrustedChainPass) {
    const auto& certificates = TestCertificates::shared();
    for (const auto* identity : {&certificates.localhost, &certificates.wrongHost}) {
        TestServer server(ok, tlsWith(*identity));
        RecordingDelegate delegate(RecordingDelegate::Answer::useCredential);
        // Without the authority for localhost; with it for the wrong host name.
        auto session = HttpSession::create(
            identity == &certificates.localhost ? testConfiguration() : trustingTestAuthority(),
            &delegate);
        const auto received = fetch(*session, HttpRequest{server.url("/clicks")});
        ASSERT_TRUE(received.error);
        EXPECT_EQ(received.error->code, HttpErrorCode::serverCertificateUntrusted);
        EXPECT_EQ(delegate.challenges().size(), 1u);
        EXPECT_TRUE(server.requests().empty());
    }
}

TEST(HttpSessionTrust, UseCredentialForATrustedChainProceeds) {
    TestServer server(ok, tlsWith(TestCertificates::shared().localhost));
    RecordingDelegate delegate(RecordingDelegate::Answer::useCredential);
    auto session = HttpSession::create(trustingTestAuthority(), &delegate);
    const auto received = fetch(*session, HttpRequest{server.url("/clicks")});
    ASSERT_FALSE(received.error) << received.error->description();
    EXPECT_EQ(received.body, "secret");
}

TEST(HttpSessionTrust, RefusingTheChallengeFailsTheTaskAsCancelled) {
    for (const auto answer : {RecordingDelegate::Answer::cancel, RecordingDelegate::Answer::reject,
                              RecordingDelegate::Answer::dropCompletion}) {
        TestServer server(ok, tlsWith(TestCertificates::shared().localhost));
        RecordingDelegate delegate(answer);
        auto session = HttpSession::create(trustingTestAuthority(), &delegate);
        const auto received = fetch(*session, HttpRequest{server.url("/clicks")});
        ASSERT_TRUE(received.error);
        EXPECT_EQ(received.error->code, HttpErrorCode::cancelled) << received.error->description();
        EXPECT_FALSE(received.response);
        EXPECT_TRUE(server.requests().empty());
    }
}

TEST(HttpSessionTrust, AnswerMayComeLaterFromAnotherThread) {
    class LateDelegate : public HttpSessionDelegate {
    public:
        void urlSession(HttpSession&, const AuthenticationChallenge&,
                        ChallengeCompletion completion) override {
            answerer = std::thread([completion] {
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
                completion(AuthChallengeDisposition::performDefaultHandling, std::nullopt);
                completion(AuthChallengeDisposition::cancelAuthenticationChallenge, std::nullopt);
            });
        }
        std::thread answerer;
    };
    TestServer server(ok, tlsWith(TestCertificates::shared().localhost));
    LateDelegate delegate;
    auto session = HttpSession::create(trustingTestAuthority(), &delegate);
    const auto received = fetch(*session, HttpRequest{server.url("/clicks")});
    delegate.answerer.join();
    // Only the first answer counts.
    ASSERT_FALSE(received.error) << received.error->description();
    EXPECT_EQ(received.body, "secret");
}
