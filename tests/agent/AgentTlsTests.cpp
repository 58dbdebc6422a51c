// The check over HTTPS, the way every real user's runs: a loopback store with certificates made
// at run time, the real libcurl client trusting the test's own authority. A sound chain lets the
// check decide; every flaw in it, an outdated protocol and a redirect down to plain http end the
// check with the client's reason and no decision.
#include "AgentHarness.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <unistd.h>

namespace brenvo::test {
namespace {

using Leaf = TestCertificates::Leaf;
using Versions = LoopbackServer::TlsVersions;

const std::string kNoResponseLine = "Brenvo: No response for HTTP Request (Reponse Length is 0).";
const std::string kReply = R"({"resultCount":1,"results":[{"version":"2.0"}]})";

class AgentTls : public ::testing::Test {
protected:
    AgentSetup setup(const TlsIdentity& identity, Versions versions = Versions::Current) {
        dir.writeFile("ca.pem", pki.authorityPem());
        return AgentSetup{.info = AgentWorld::host(),
                          .tls = identity,
                          .tlsVersions = versions,
                          .caBundle = (dir / "ca.pem").string()};
    }

    TempDir dir;
    TestCertificates pki;
};

TEST_F(AgentTls, ASoundChainLetsTheCheckDecide) {
    AgentWorld world(setup(pki.identity(Leaf::Valid)));
    world.server.reply("/lookup", 200, kReply);
    Brenvo agent(*world.services);
    std::vector<CheckOutcome> outcomes;
    agent.setOutcomeObserver([&](const CheckOutcome& outcome) { outcomes.push_back(outcome); });
    world.advanceAndDispatch(0);
    ASSERT_EQ(outcomes.size(), 1u);
    EXPECT_EQ(outcomes[0].kind, CheckOutcome::Kind::UpdateAvailable);
    EXPECT_TRUE(world.log.contains("Brenvo: New Version 2.0 found!"));
    EXPECT_EQ(world.window.shown().size(), 1u);
    EXPECT_EQ(world.server.requests(), std::vector<std::string>{"/lookup?id=123456"});
}

TEST_F(AgentTls, RefusedServersEndTheCheckWithTheReasonAndNoDecision) {
    struct Case {
        const char* name;
        Leaf leaf;
        std::string reason; // after "HTTP Request failed: "
    };
    const Case cases[] = {
        {"self-signed", Leaf::SelfSigned, "SSL certificate problem: self-signed certificate"},
        {"other host", Leaf::OtherHost,
         "SSL: no alternative certificate subject name matches target host name '127.0.0.1'"},
        {"expired", Leaf::Expired, "SSL certificate problem: certificate has expired"},
        {"unknown authority", Leaf::UnknownAuthority,
         "SSL certificate problem: unable to get local issuer certificate"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        AgentWorld world(setup(pki.identity(c.leaf)));
        world.server.reply("/lookup", 200, kReply);
        Brenvo agent(*world.services);
        std::vector<CheckOutcome> outcomes;
        agent.setOutcomeObserver([&](const CheckOutcome& outcome) { outcomes.push_back(outcome); });
        world.advanceAndDispatch(0);
        ASSERT_EQ(outcomes.size(), 1u);
        EXPECT_EQ(outcomes[0].kind, CheckOutcome::Kind::NoReply);
        EXPECT_EQ(outcomes[0].reason, c.reason);
        const std::vector<std::string>& lines = world.log.lines();
        ASSERT_GE(lines.size(), 2u);
        EXPECT_EQ(lines[lines.size() - 2], "Brenvo: HTTP Request failed: " + c.reason);
        EXPECT_EQ(lines.back(), kNoResponseLine);
        EXPECT_TRUE(world.server.requests().empty());
        EXPECT_TRUE(world.window.shown().empty());
        EXPECT_EQ(world.nextTimeout(), 86400.0);
    }
}

// An OpenSSL configuration as lax as an old system's: TLS 1.0 and weak signatures allowed.
constexpr const char* kLaxOpenSslConfig = R"(openssl_conf = openssl_init
[openssl_init]
ssl_conf = ssl_module
[ssl_module]
system_default = lax
[lax]
MinProtocol = TLSv1
CipherString = DEFAULT:@SECLEVEL=0
)";

// A server that speaks only TLS 1.0 and 1.1 is refused even where the system would allow it.
// OpenSSL reads its configuration once per process, as the process starts, so the check runs
// in a process started afresh with the lax configuration (gtest's re-executing death test).
TEST_F(AgentTls, AnOutdatedProtocolIsRefusedWhateverTheSystemAllows) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    dir.writeFile("openssl.cnf", kLaxOpenSslConfig);
    ::setenv("OPENSSL_CONF", (dir / "openssl.cnf").c_str(), 1);
    EXPECT_EXIT(
        {
            AgentWorld world(setup(pki.identity(Leaf::Valid), Versions::BelowTls12));
            world.server.reply("/lookup", 200, kReply);
            Brenvo agent(*world.services);
            std::optional<CheckOutcome> outcome;
            agent.setOutcomeObserver([&](const CheckOutcome& seen) { outcome = seen; });
            world.advanceAndDispatch(0);
            const bool refused =
                outcome && outcome->kind == CheckOutcome::Kind::NoReply &&
                outcome->reason.ends_with("SSL routines::tlsv1 alert protocol version") &&
                world.server.requests().empty();
            std::fprintf(stderr, "%s\n", outcome ? describeOutcome(*outcome).c_str() : "none");
            std::fflush(stderr);
            ::_exit(refused ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
    ::unsetenv("OPENSSL_CONF");
}

// A store that sends the client from https down to plain http would hand the reply to anybody
// on the way: the redirect is not followed.
TEST_F(AgentTls, ARedirectToPlainHttpIsNotFollowed) {
    LoopbackServer plain;
    plain.reply("/lookup", 200, kReply);
    AgentWorld world(setup(pki.identity(Leaf::Valid)));
    world.server.redirect("/lookup", plain.url("/lookup?id=123456"));
    Brenvo agent(*world.services);
    std::vector<CheckOutcome> outcomes;
    agent.setOutcomeObserver([&](const CheckOutcome& outcome) { outcomes.push_back(outcome); });
    world.advanceAndDispatch(0);
    ASSERT_EQ(outcomes.size(), 1u);
    EXPECT_EQ(outcomes[0].kind, CheckOutcome::Kind::NoReply);
    EXPECT_EQ(world.server.requests(), std::vector<std::string>{"/lookup?id=123456"});
    EXPECT_TRUE(plain.requests().empty());
    EXPECT_EQ(world.log.lines().back(), kNoResponseLine);
    EXPECT_TRUE(world.window.shown().empty());
}

} // namespace
} // namespace brenvo::test
