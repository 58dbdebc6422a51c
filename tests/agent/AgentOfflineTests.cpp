// Scheduled checks that the network failed are tried again, against a store that is first
// unreachable (a refused port), then up, on the manual clock.
#include "AgentHarness.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace brenvo::test {
namespace {

// A loopback URL whose port nobody listens on: connections are refused.
std::string refusedUrl() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    EXPECT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    EXPECT_EQ(::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length), 0);
    ::close(fd);
    return "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/lookup?id=";
}

struct LadderCase {
    const char* name;
    int64_t interval;
    int failures;              // checks that find the store unreachable before it is up
    int storeStatus;           // what the store answers once up
    std::vector<double> waits; // the delays between the checks that follow the first
    size_t retries;            // "Trying again" lines
};

// clang-format off
const LadderCase kLadders[] = {
    // 5 min, 30 min, 2 h, then the regular check a day after the first; then again.
    {"ThreeRetriesThenTheRegularCheck", 86400, 6, 200, {300, 1800, 7200, 77100, 300, 1800}, 5},
    {"BackAtTheSecondRetry", 86400, 2, 200, {300, 1800, 84300, 86400}, 2},
    // A retry never passes the next regular check, which starts the steps again.
    {"ShortInterval", 600, 4, 200, {300, 300, 300, 300, 600}, 2},
    // Any response ends the retries, whatever its status.
    {"ServerErrorIsAResponse", 86400, 1, 500, {300, 86100, 86400}, 1},
};
// clang-format on

class NetworkRetries : public ::testing::TestWithParam<LadderCase> {};

TEST_P(NetworkRetries, FollowTheLadderAndKeepTheSchedule) {
    const LadderCase& row = GetParam();
    AgentWorld world(AgentSetup{.info = AgentWorld::host({{"BrenvoInterval", row.interval}})});
    world.server.handle("/lookup", [&row](const LoopbackServer::Request&) {
        return LoopbackServer::Reply{row.storeStatus, R"({"results":[{"version":"1.0"}]})"};
    });
    const std::string down = refusedUrl();
    world.setInfo(kBrenvoCastUrl, platform::PlistValue(down));

    Brenvo agent(*world.services);
    std::vector<CheckOutcome> outcomes;
    agent.setOutcomeObserver([&](const CheckOutcome& outcome) { outcomes.push_back(outcome); });
    world.advanceAndDispatch(0);
    std::vector<double> waits;
    double recorded = kEpoch;
    for (size_t step = 0; step < row.waits.size(); ++step) {
        if (outcomes.size() == static_cast<size_t>(row.failures))
            world.setInfo(kBrenvoCastUrl, platform::PlistValue(world.castUrl()));
        const auto wait = world.nextTimeout();
        ASSERT_TRUE(wait) << "step " << step;
        waits.push_back(*wait);
        world.advanceAndDispatch(*wait);
        // Only regular checks are recorded: a retry leaves the last check where it was.
        const bool regular = std::fmod(world.clock.date().secondsSince1970 - kEpoch,
                                       static_cast<double>(row.interval)) == 0;
        if (regular)
            recorded = world.clock.date().secondsSince1970;
        const auto last = world.storedDefault(kBrenvoLastCheck);
        ASSERT_TRUE(last && last->asDate());
        EXPECT_EQ(last->asDate()->secondsSince1970, recorded) << "step " << step;
    }
    EXPECT_EQ(waits, row.waits);
    ASSERT_EQ(outcomes.size(), row.waits.size() + 1);
    for (size_t i = 0; i < outcomes.size(); ++i)
        EXPECT_EQ(describeOutcome(outcomes[i]).substr(0, 8),
                  static_cast<int>(i) < row.failures ? "no-reply" : "up-to-da")
            << i;
    EXPECT_EQ(world.countLines("Brenvo: The network failed. Trying again in "), row.retries);
}

INSTANTIATE_TEST_SUITE_P(Agent, NetworkRetries, ::testing::ValuesIn(kLadders),
                         [](const auto& p) { return std::string(p.param.name); });

// The user's own check is not retried: the user sees its outcome and may ask again.
TEST(NetworkRetries, NotForTheUsersCheck) {
    AgentWorld world(AgentSetup{
        .info = AgentWorld::host({{"BrenvoCastUrl", refusedUrl()}}),
        .defaultsFile = platform::PlistDictionary{{"BrenvoLastCheck", platform::Date{kEpoch}}}});
    Brenvo agent(*world.services);
    agent.checkForUpdates();
    world.settle();
    world.loop.dispatch();
    EXPECT_EQ(world.nextTimeout(), 86400.0);
    EXPECT_EQ(world.countLines("Brenvo: The network failed."), 0u);
}

} // namespace
} // namespace brenvo::test
