// The switches that keep the agent from the store: the user's, the administrator's policy file,
// BRENVO_DISABLE, and a package manager, each through real files and the loopback store.
#include "AgentHarness.h"

#include "brenvo/platform/linux/UpdatePolicy.h"
#include "support/ScopedEnvironment.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>

namespace brenvo::test {
namespace {

using platform::PlistDictionary;

constexpr const char* kSent = "up-to-date 1.0";

struct SwitchCase {
    const char* name;
    std::map<std::string, std::string> environment;
    std::optional<std::string> policy; // "brenvo/policy.conf" in the second config folder
    PlistDictionary info;              // added to the host's Info.plist
    std::optional<PlistDictionary> defaults;
    bool flatpakInfo; // a ".flatpak-info" under BRENVO_SYSTEM_ROOT
    // Each scheduled check's outcome; nullptr when none is armed.
    const char* scheduled;
    bool userSent; // checkForUpdates() reaches the store
    // The line an unusable policy file writes at each check, after the file's name.
    const char* policyFault;
};

const PlistDictionary kOff = {{"BrenvoAutomaticChecks", false}};
const PlistDictionary kOn = {{"BrenvoAutomaticChecks", true}};
const std::string kApp = "[org.brenvo.test]\n";

// clang-format off
const SwitchCase kSwitches[] = {
    {"UserOff", {}, {}, {}, kOff, false, nullptr, true, nullptr},
    {"HostDefaultOff", {}, {}, kOff, {}, false, nullptr, true, nullptr},
    {"UserOnOverHostDefault", {}, {}, kOff, kOn, false, kSent, true, nullptr},
    {"PolicyForAll", {}, "[Checks]\nEnabled=false\n", {}, {}, false, "disabled policy", false,
     nullptr},
    {"PolicyForTheApplication", {}, "[Checks]\nEnabled=true\n\n" + kApp + "Enabled = false\n", {},
     {}, false, "disabled policy", false, nullptr},
    {"ApplicationGroupWins", {}, "# site\n[Checks]\nEnabled=false\n" + kApp + "Enabled=true\n", {},
     {}, false, kSent, true, nullptr},
    {"OtherApplications", {}, "[org.other]\nEnabled=false\n[Checks]\nOther=1\n", {}, {}, false,
     kSent, true, nullptr},
    {"Environment", {{"BRENVO_DISABLE", "1"}}, {}, {}, kOn, false, "disabled environment", false,
     nullptr},
    {"EnvironmentZero", {{"BRENVO_DISABLE", "0"}}, {}, {}, {}, false, kSent, true, nullptr},
    {"FlatpakFile", {}, {}, {}, {}, true, "managed flatpak", true, nullptr},
    {"FlatpakVariable", {{"FLATPAK_ID", "org.example.App"}}, {}, {}, {}, false, "managed flatpak",
     true, nullptr},
    {"Snap", {{"SNAP", "/snap/app/1"}, {"SNAP_NAME", "app"}}, {}, {}, {}, false, "managed snap",
     true, nullptr},
    {"SnapWithoutName", {{"SNAP", "/snap/app/1"}}, {}, {}, {}, false, kSent, true, nullptr},
    {"Announce", {{"FLATPAK_ID", "org.example.App"}}, {}, {{"BrenvoWhenPackaged", "announce"}}, {},
     false, kSent, true, nullptr},
    {"PolicyOverPackage", {{"SNAP", "/s"}, {"SNAP_NAME", "s"}}, "[Checks]\nEnabled=false\n", {}, {},
     false, "disabled policy", false, nullptr},
    {"NotAKeyLine", {}, "[Checks]\nEnabled false\n", {}, {}, false, kSent, true,
     "cannot be parsed: line 2 is not a group, a key or a comment"},
    {"Binary", {}, std::string("\x7f" "ELF\x02\x01\x01\0\0\0[Checks]\nEnabled=false\n", 33), {}, {},
     false, kSent, true, "cannot be parsed: line 1 holds a control character"},
    {"NotUtf8", {}, "[Checks]\nEnabled=false\xff\n", {}, {}, false, kSent, true,
     "cannot be parsed: it is not UTF-8 text"},
    {"RepeatedKey", {}, "[Checks]\nEnabled=true\nEnabled=false\n", {}, {}, false, kSent, true,
     "cannot be parsed: line 3 repeats a key of its group"},
    {"NotABoolean", {}, "[Checks]\nEnabled=no\n", {}, {}, false, kSent, true,
     "cannot be used: \"Enabled\" of [Checks] is neither true nor false"},
    {"TooLarge", {}, "[Checks]\nEnabled=false\n#" + std::string(platform::kMaxUpdatePolicySize,
     'x'), {}, {}, false, kSent, true, "is larger than 65536 bytes"},
};
// clang-format on

class Switches : public ::testing::TestWithParam<SwitchCase> {};

// Four scheduled checks a minute apart, then the user's; the store counts what reached it.
TEST_P(Switches, DecideWhatReachesTheStore) {
    const SwitchCase& row = GetParam();
    PlistDictionary info = AgentWorld::host({{"BrenvoInterval", 60}});
    for (const auto& [key, value] : row.info)
        info[key] = value;
    AgentWorld world(AgentSetup{.info = info, .defaultsFile = row.defaults});
    world.server.handle("/lookup", [](const LoopbackServer::Request&) {
        return LoopbackServer::Reply{200, R"({"results":[{"version":"1.0"}]})"};
    });
    const std::filesystem::path config = world.dir / "xdg";
    const std::filesystem::path root = world.dir / "root";
    std::filesystem::create_directories(config / "brenvo");
    std::filesystem::create_directories(root);
    if (row.policy)
        std::ofstream(config / platform::kUpdatePolicyFile, std::ios::binary) << *row.policy;
    if (row.flatpakInfo)
        std::ofstream(root / ".flatpak-info") << "[Application]\nname=org.brenvo.test\n";
    std::map<std::string, std::string> environment = row.environment;
    environment["XDG_CONFIG_DIRS"] =
        "relative:" + (world.dir / "none").string() + ":" + config.string();
    environment["BRENVO_SYSTEM_ROOT"] = root.string();
    ScopedEnvironment scoped(switchVariables(), environment);

    Brenvo agent(*world.services);
    std::vector<CheckOutcome> outcomes;
    agent.setOutcomeObserver([&](const CheckOutcome& outcome) { outcomes.push_back(outcome); });
    world.advanceAndDispatch(0);
    for (int i = 0; i < 3; ++i)
        world.advanceAndDispatch(60);

    const bool sent = row.scheduled && std::string(row.scheduled) == kSent;
    EXPECT_EQ(world.server.requests().size(), sent ? 4u : 0u);
    ASSERT_EQ(outcomes.size(), row.scheduled ? 4u : 0u);
    for (const CheckOutcome& outcome : outcomes)
        EXPECT_EQ(describeOutcome(outcome), row.scheduled);
    EXPECT_EQ(world.nextTimeout().has_value(), row.scheduled != nullptr);
    EXPECT_EQ(agent.automaticallyChecksForUpdates(), row.scheduled != nullptr);

    agent.checkForUpdates();
    world.settle();
    EXPECT_EQ(world.server.requests().size(), (sent ? 4u : 0u) + (row.userSent ? 1u : 0u));
    ASSERT_EQ(outcomes.size(), (row.scheduled ? 4u : 0u) + 1u);
    EXPECT_TRUE(outcomes.back().userInitiated);
    EXPECT_EQ(describeOutcome(outcomes.back()), row.userSent ? kSent : row.scheduled);

    const std::string faultLine =
        "Brenvo: The update policy " + (config / platform::kUpdatePolicyFile).string() + " " +
        (row.policyFault ? row.policyFault : "") + ". It disables nothing.";
    EXPECT_EQ(world.countLines(faultLine), row.policyFault ? outcomes.size() : 0u);
    EXPECT_EQ(world.countLines("Brenvo: The update policy "),
              row.policyFault ? outcomes.size() : 0u);
}

INSTANTIATE_TEST_SUITE_P(Agent, Switches, ::testing::ValuesIn(kSwitches),
                         [](const auto& p) { return std::string(p.param.name); });

// The user's switch, kept in the defaults: off disarms at once, on arms from the last check.
TEST(AgentSwitch, TurningAutomaticChecksOnArmsFromTheLastCheck) {
    AgentWorld world(AgentSetup{
        .info = AgentWorld::host({{"BrenvoInterval", 60}}),
        .defaultsFile = PlistDictionary{{"BrenvoLastCheck", platform::Date{kEpoch - 20}}}});
    Brenvo agent(*world.services);
    EXPECT_EQ(world.nextTimeout(), 40.0);

    agent.setAutomaticallyChecksForUpdates(false);
    EXPECT_EQ(world.storedDefault(kBrenvoAutomaticChecks), platform::PlistValue(false));
    EXPECT_EQ(world.nextTimeout(), std::nullopt);
    EXPECT_EQ(world.countLines("Brenvo: Automatic update checks are off. No check is scheduled."),
              1u);
    world.advanceAndDispatch(100);
    EXPECT_TRUE(world.server.requests().empty());

    world.clock.setDate(platform::Date{kEpoch + 30});
    agent.setAutomaticallyChecksForUpdates(true);
    EXPECT_TRUE(agent.automaticallyChecksForUpdates());
    EXPECT_EQ(world.nextTimeout(), 10.0);
}

} // namespace
} // namespace brenvo::test
