// The host's loop stays free whatever the network and the reply: a name server that never
// answers, or a reply of the size cap made of many small values. A host on the machine's clock
// ticks every 10 ms on its loop while its agent checks.
#include "AgentHarness.h"

#include "brenvo/BrenvoReleaseInfo.h"
#include "support/SilentNameServer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>

namespace brenvo::test {
namespace {

using namespace std::chrono_literals;

// The test services' files, log and windows, with a run loop of the host's own on the system
// clock, and the store at `castUrl`. No debug lines, so no thread of the agent outlives a check.
struct RealTimeHost {
    RealTimeHost(platform::HttpClient& client, const std::string& castUrl) : test(client) {
        platform::PlistDictionary info = AgentWorld::host();
        info[std::string(kBrenvoCastUrl)] = castUrl;
        info[std::string(kBrenvoDebugMessages)] = false;
        test.writeInfoPlist(info);
        window.registerWith(test.windows);
    }

    // Checks now and runs the loop until the outcome, at most 5 s; how long the loop was held.
    std::chrono::milliseconds check(Brenvo& agent) {
        agent.setOutcomeObserver([this](const CheckOutcome& ended) {
            outcome = ended;
            loop.quit();
        });
        agent.checkForUpdates();
        return longestTickGap(loop, 5s);
    }

    TestServices test;
    platform::SystemClock clock;
    platform::RunLoop loop{clock};
    platform::Services services = test.servicesOn(clock, loop, test.log, test.http);
    ScriptedWindow window{platform::WindowAnswer::Close};
    std::optional<CheckOutcome> outcome;
};

// The check ends at the client's time-out with the host's thread free all along, and an agent
// destroyed during the lookup goes at once (what the lookups leave is the client's test).
TEST(AgentLoop, ANameServerThatNeverAnswersHoldsNeitherTheHostThreadNorTheAgentsEnd) {
    const std::string why = runWithSilentNameServer(3, [] {
        platform::CurlHttpClient curl(platform::CurlHttpClient::Options{.maxTimeout = 1.0});
        RealTimeHost host(curl, "http://store.invalid/lookup?id=");
        {
            Brenvo agent(host.services);
            const auto start = std::chrono::steady_clock::now();
            EXPECT_LT(host.check(agent), 250ms);
            EXPECT_LT(std::chrono::steady_clock::now() - start, 1500ms);
            ASSERT_TRUE(host.outcome);
            EXPECT_EQ(host.outcome->kind, CheckOutcome::Kind::NoReply);
            EXPECT_TRUE(host.outcome->reason.starts_with("Resolving timed out after "))
                << host.outcome->reason;
        }
        auto agent = std::make_unique<Brenvo>(host.services);
        agent->checkForUpdates();
        host.loop.runMode(platform::kDefaultRunLoopMode, 200ms);
        ASSERT_TRUE(agent->isChecking());
        const auto start = std::chrono::steady_clock::now();
        agent.reset();
        EXPECT_LT(std::chrono::steady_clock::now() - start, 250ms);
    });
    if (!why.empty())
        GTEST_SKIP() << why;
}

// A reply under the size cap made of a few hundred thousand small values is parsed and released
// off the loop; the decision, and a window sharing the huge record, still come on it.
TEST(AgentLoop, RepliesOfManySmallValuesAreReadOnAThreadOfTheirOwn) {
    std::string members = R"({"results":[{"version":"9.0")";
    for (int i = 0; i < 300'000; ++i)
        members += ",\"k" + std::to_string(i) + "\":1";
    members += "}]}";
    std::string elements = R"({"results":[{"version":"1.0"}],"padding":[0)";
    for (int i = 1; i < 1'000'000; ++i)
        elements += ",0";
    elements += "]}";
    const struct {
        const char* name;
        const std::string& reply;
        CheckOutcome::Kind kind;
    } rows[] = {
        {"300,000 members in the record", members, CheckOutcome::Kind::UpdateAvailable},
        {"1,000,000 elements beside it", elements, CheckOutcome::Kind::UpToDate},
    };
    for (const auto& row : rows) {
        LoopbackServer server;
        server.reply("/lookup", 200, row.reply);
        platform::CurlHttpClient curl(platform::CurlHttpClient::Options{.maxTimeout = 5.0});
        RealTimeHost host(curl, server.url("/lookup?id="));
        Brenvo agent(host.services);
        EXPECT_LT(host.check(agent), 250ms) << row.name;
        ASSERT_TRUE(host.outcome) << row.name;
        EXPECT_EQ(host.outcome->kind, row.kind) << row.name;
        EXPECT_EQ(host.window.shown().size(), row.kind == CheckOutcome::Kind::UpdateAvailable);
    }
}

} // namespace
} // namespace brenvo::test
