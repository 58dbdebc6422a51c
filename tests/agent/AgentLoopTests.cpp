// The host's loop stays free whatever the network: a name server that never answers holds
// neither the loop nor the agent's end. A host on the machine's clock ticks every 10 ms on its
// loop while its agent checks.
#include "AgentHarness.h"

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
        LoopTicker ticker(loop);
        loop.runMode(platform::kDefaultRunLoopMode, 5s);
        return ticker.longestGap();
    }

    TestServices test;
    platform::SystemClock clock;
    platform::RunLoop loop{clock};
    platform::Services services{test.mainBundle,
                                test.frameworkBundle,
                                test.defaults,
                                clock,
                                loop,
                                test.center,
                                test.log,
                                test.http,
                                test.systemVersion,
                                test.workspace,
                                test.windows};
    ScriptedWindow window{platform::WindowAnswer::Close};
    std::optional<CheckOutcome> outcome;
};

// The check ends at the client's time-out with the loop free all along; an agent destroyed
// during the lookup goes at once, and nothing of the lookups is left once they return.
TEST(AgentLoop, ANameServerThatNeverAnswersHoldsNothing) {
    const std::string why = runWithSilentNameServer(3, [] {
        platform::CurlHttpClient curl(platform::CurlHttpClient::Options{.maxTimeout = 1.0});
        RealTimeHost host(curl, "http://store.invalid/lookup?id=");
        const size_t threads = threadCount();
        const size_t descriptors = descriptorCount();
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
        EXPECT_TRUE(eventually(
            10s, [&] { return threadCount() <= threads && descriptorCount() <= descriptors; }))
            << threadCount() << " threads, " << descriptorCount() << " descriptors";
    });
    if (!why.empty())
        GTEST_SKIP() << why;
}

} // namespace
} // namespace brenvo::test
