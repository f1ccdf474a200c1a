// Server trust: the session's own evaluation of the chain and host name, and what a delegate's
// answer can and cannot change.
#include "platform/http/test_server.hpp"

#include <gtest/gtest.h>

#include <future>

using namespace kestrel::platform;
using namespace kestrel::testing;

namespace {

Reply ok(const ReceivedRequest&) { return Reply{200, {}, "secret"}; }

HttpSessionConfiguration trustingTestAuthority() {
    auto configuration = testConfiguration();
    configuration.additionalTrustedCertificatesPem = {TestCertificates::shared().authorityPem};
    return configuration;
}

// Records every challenge and gives the same answer to each, with the server's own trust when the
// answer uses a credential. The task's handler runs after the answer, so the test reads the
// record after fetch.
struct RecordingDelegate : HttpSessionDelegate {
    explicit RecordingDelegate(AuthChallengeDisposition answer) : answer(answer) {}

    void urlSession(HttpSession& session, const AuthenticationChallenge& challenge,
                    ChallengeCompletion completion) override {
        challenges.push_back(challenge);
        onDelegateQueue.push_back(session.delegateQueue().isCurrent());
        const auto& trust = challenge.protectionSpace.serverTrust;
        completion(answer, answer == AuthChallengeDisposition::useCredential && trust
                               ? std::optional(UrlCredential::forTrust(*trust))
                               : std::nullopt);
    }

    const AuthChallengeDisposition answer;
    std::vector<AuthenticationChallenge> challenges;
    std::vector<bool> onDelegateQueue;
};

} // namespace

// Each case runs without a delegate, with one that leaves the decision to the session, with one
// that answers with the server's own trust, which must not rescue a chain the session refused, and
// with one that cancels. A delegate sees the evaluation on its queue.
TEST(HttpSessionTrust, ChainAndHostNameAreCheckedAndShownToTheDelegate) {
    const auto& certificates = TestCertificates::shared();
    const struct {
        const char* what;
        const TlsIdentity* identity;
        bool addAuthority;
        bool trusted;
    } cases[] = {{"unknown authority", &certificates.localhost, false, false},
                 {"added authority", &certificates.localhost, true, true},
                 {"wrong host", &certificates.wrongHost, true, false}};
    using enum AuthChallengeDisposition;
    for (const auto& c : cases) {
        for (const std::optional<AuthChallengeDisposition> answer :
             {std::optional<AuthChallengeDisposition>(), std::optional(performDefaultHandling),
              std::optional(useCredential), std::optional(cancelAuthenticationChallenge)}) {
            SCOPED_TRACE(std::string(c.what) + ", answer " +
                         std::to_string(answer ? int(*answer) : -1));
            TestServer server(ok, {.tls = *c.identity});
            RecordingDelegate delegate(answer.value_or(performDefaultHandling));
            auto session =
                HttpSession::create(c.addAuthority ? trustingTestAuthority() : testConfiguration(),
                                    answer ? &delegate : nullptr);
            const auto received = fetch(*session, HttpRequest{server.url("/clicks")});
            const bool cancelled = answer == cancelAuthenticationChallenge;
            if (c.trusted && !cancelled) {
                ASSERT_FALSE(received.error) << received.error->description();
                EXPECT_EQ(received.response->statusCode, 200);
                EXPECT_EQ(received.body, "secret");
            } else {
                ASSERT_TRUE(received.error);
                EXPECT_EQ(received.error->code, cancelled
                                                    ? HttpErrorCode::cancelled
                                                    : HttpErrorCode::serverCertificateUntrusted)
                    << received.error->description();
                EXPECT_FALSE(received.body);
                EXPECT_TRUE(server.requests().empty()); // not a byte of the request went out
            }
            if (!answer) continue;

            const auto& challenges = delegate.challenges;
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
            EXPECT_EQ(delegate.onDelegateQueue, std::vector<bool>{true});
        }
    }
}

// A delegate that keeps its answer back holds up only the handshake that asked: another task of
// the session completes meanwhile, and the held-back one goes on once answered.
TEST(HttpSessionTrust, ASlowAnswerHoldsBackOnlyItsOwnTask) {
    using namespace std::chrono_literals;
    struct HoldingDelegate : HttpSessionDelegate {
        void urlSession(HttpSession&, const AuthenticationChallenge&,
                        ChallengeCompletion completion) override {
            held.set_value(std::move(completion));
        }
        std::promise<ChallengeCompletion> held;
    } delegate;
    TestServer secure(ok, {.tls = TestCertificates::shared().localhost});
    TestServer plain(ok);
    auto session = HttpSession::create(trustingTestAuthority(), &delegate);
    auto asked = delegate.held.get_future();
    auto secured = std::async(std::launch::async,
                              [&] { return fetch(*session, HttpRequest{secure.url("/held")}); });
    ASSERT_EQ(asked.wait_for(10s), std::future_status::ready);
    const auto answer = asked.get();

    auto other = std::async(std::launch::async,
                            [&] { return fetch(*session, HttpRequest{plain.url("/other")}); });
    const bool otherDoneFirst = other.wait_for(5s) == std::future_status::ready;
    answer(AuthChallengeDisposition::performDefaultHandling, std::nullopt);
    EXPECT_TRUE(otherDoneFirst) << "the other task waited for the trust answer";
    EXPECT_EQ(other.get().body, "secret");
    const auto received = secured.get();
    ASSERT_FALSE(received.error) << received.error->description();
    EXPECT_EQ(received.body, "secret");
}
