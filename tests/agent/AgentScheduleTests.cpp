// The agent's start-up, schedule, logging and destruction on a manual clock with real files.
#include "AgentHarness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <span>
#include <string>

namespace brenvo::test {
namespace {

using platform::Date;
using platform::PlistArray;
using platform::PlistDictionary;
using platform::PlistValue;

constexpr int64_t kMax = std::numeric_limits<int64_t>::max();

std::string scheduleLine(int64_t delay, int64_t interval) {
    return "Brenvo: Next Update Check in " + std::to_string(delay) +
           " seconds. Check Interval is " + std::to_string(interval) + " seconds.";
}

std::string bannerLine() {
    platform::FrameworkBundle framework;
    return "Brenvo: Brenvo Framework Version " +
           framework.objectForInfoDictionaryKey(kCFBundleShortVersionString)->description() + " (" +
           framework.objectForInfoDictionaryKey(kCFBundleVersion)->description() +
           "). Debugging Messages are activated.";
}

const std::string kNoAppIdLine =
    "Brenvo: No update check possible. Please set BrenvoAppId in Main Bundle Info.plist.";
const std::string kIntervalUnreadableLine =
    "Brenvo: BrenvoInterval has no integer reading. Using the default interval.";
const std::string kLastCheckNotDateLine =
    "Brenvo: BrenvoLastCheck does not hold a date. Treating it as never checked.";
const std::string kStartingPrefix = "Brenvo: Starting HTTP Request";

std::string belowMinimumLine(const std::string& interval) {
    return "Brenvo: BrenvoInterval of " + interval +
           " seconds is below the minimum. Using 60 seconds.";
}

std::string futureLine(int64_t seconds) {
    return "Brenvo: BrenvoLastCheck lies " + std::to_string(seconds) +
           " seconds in the future. Counting it as a check made now.";
}

struct ScheduleCase {
    const char* name;
    std::optional<PlistValue> interval;  // "BrenvoInterval"; nullopt: absent
    std::optional<PlistValue> lastCheck; // "BrenvoLastCheck" as stored; nullopt: absent
    double now;                          // the clock, relative to kEpoch
    int64_t delay;
    int64_t checkInterval;
    std::vector<std::string> notes; // lines logged between the banner and the schedule line
};

std::ostream& operator<<(std::ostream& out, const ScheduleCase& row) {
    return out << row.name;
}

const ScheduleCase kScheduleCases[] = {
    {"NeverChecked", std::nullopt, std::nullopt, 0, 0, 86400, {}},
    {"CheckedAFractionAgo", std::nullopt, Date{kEpoch}, 100.9, 86300, 86400, {}},
    {"CheckedExactlyAnIntervalAgo", std::nullopt, Date{kEpoch}, 86400, 0, 86400, {}},
    {"CheckedLongAgo", std::nullopt, Date{kEpoch}, 10 * 86400.5, 0, 86400, {}},
    // A last check in the future counts as one made now: never more than one interval.
    {"CheckInTheFuture", std::nullopt, Date{kEpoch + 51}, 0.5, 86400, 86400, {futureLine(50)}},
    {"LastCheckDaysInTheFuture",
     std::nullopt,
     Date{kEpoch + 864000},
     0,
     86400,
     86400,
     {futureLine(864000)}},
    {"IntervalHugeNumberClockSetBack",
     PlistValue(kMax),
     Date{kEpoch + 100},
     0,
     kMax,
     kMax,
     {futureLine(100)}},
    // No setting makes checks come more often than once a minute.
    {"IntervalZero", 0, Date{kEpoch}, 10, 50, 60, {belowMinimumLine("0")}},
    {"IntervalNegative", -30, Date{kEpoch}, 1, 59, 60, {belowMinimumLine("-30")}},
    {"IntervalNegativeCheckInTheFuture",
     -30,
     Date{kEpoch + 100},
     0,
     60,
     60,
     {belowMinimumLine("-30"), futureLine(100)}},
    {"IntervalTextWithoutDigits", "hourly", Date{kEpoch}, 100, 0, 60, {belowMinimumLine("0")}},
    {"IntervalMostNegative",
     PlistValue(std::numeric_limits<int64_t>::min()),
     Date{kEpoch},
     5,
     55,
     60,
     {belowMinimumLine("-9223372036854775808")}},
    {"IntervalZeroNeverChecked", 0, std::nullopt, 0, 0, 60, {belowMinimumLine("0")}},
    {"IntervalText", "3600", Date{kEpoch}, 100, 3500, 3600, {}},
    {"IntervalNumber", 3600, Date{kEpoch}, 100, 3500, 3600, {}},
    {"IntervalArray",
     PlistArray{PlistValue(3600)},
     Date{kEpoch},
     100,
     86300,
     86400,
     {kIntervalUnreadableLine}},
    {"IntervalDictionary",
     PlistDictionary{{"seconds", PlistValue(3600)}},
     Date{kEpoch},
     100,
     86300,
     86400,
     {kIntervalUnreadableLine}},
    {"IntervalDate", Date{kEpoch}, Date{kEpoch}, 100, 86300, 86400, {kIntervalUnreadableLine}},
    {"LastCheckText", std::nullopt, "yesterday", 0, 0, 86400, {kLastCheckNotDateLine}},
    {"LastCheckNumber", std::nullopt, PlistValue(kEpoch), 100, 0, 86400, {kLastCheckNotDateLine}},
};

class Schedule : public ::testing::TestWithParam<ScheduleCase> {};

TEST_P(Schedule, ArmsTheFirstCheckAndFiresItOnTime) {
    const ScheduleCase& row = GetParam();
    AgentSetup setup{.info = AgentWorld::host(), .now = kEpoch + row.now};
    if (row.interval)
        setup.info[std::string(kBrenvoInterval)] = *row.interval;
    if (row.lastCheck)
        setup.defaultsFile = PlistDictionary{{std::string(kBrenvoLastCheck), *row.lastCheck}};
    AgentWorld world(std::move(setup));
    world.server.reply("/lookup", 200, "");

    Brenvo agent(*world.services);

    std::vector<std::string> expected{bannerLine()};
    expected.insert(expected.end(), row.notes.begin(), row.notes.end());
    expected.push_back(scheduleLine(row.delay, row.checkInterval));
    EXPECT_EQ(world.log.lines(), expected);
    ASSERT_TRUE(bvMasCheckMasUpdateTimer);
    EXPECT_EQ(bvMasCheckMasUpdateTimer->timeInterval(), static_cast<double>(row.delay));
    EXPECT_EQ(world.loop.pendingTimers(), 1u);

    // Nothing runs before the delay has passed.
    const double early = row.delay > 0 ? std::min<double>(row.delay, 1e9) - 0.5 : 0;
    if (row.delay > 0) {
        world.advanceAndDispatch(early);
        EXPECT_EQ(world.countLines(kStartingPrefix), 0u);
        EXPECT_EQ(world.storedDefault(kBrenvoLastCheck), row.lastCheck);
    }
    if (row.delay > 1e9)
        return;
    world.advanceAndDispatch(row.delay > 0 ? 0.5 : 0);
    EXPECT_EQ(world.countLines(kStartingPrefix), 1u);
    EXPECT_TRUE(world.lastCheckIsNow());
}

INSTANTIATE_TEST_SUITE_P(Agent, Schedule, ::testing::ValuesIn(kScheduleCases),
                         [](const auto& p) { return std::string(p.param.name); });

struct LoggingCase {
    const char* name;
    std::optional<PlistValue> debug; // "BrenvoDebugMessages"
    bool appId;
    bool logs; // debug lines are written
};

std::ostream& operator<<(std::ostream& out, const LoggingCase& row) {
    return out << row.name;
}

const LoggingCase kLoggingCases[] = {
    {"DebugAbsent", std::nullopt, true, false},
    {"DebugFalse", false, true, false},
    {"DebugOne", 1, true, true},
    {"DebugAbsentNoAppId", std::nullopt, false, false},
    {"DebugOnNoAppId", true, false, true},
};

class Logging : public ::testing::TestWithParam<LoggingCase> {};

// The banner, the schedule line and "Class dealloced." follow the switch; the missing-identifier
// message is written regardless.
TEST_P(Logging, FollowsTheSwitchExceptForTheAlwaysMessage) {
    const LoggingCase& row = GetParam();
    PlistDictionary info = AgentWorld::host();
    info.erase(std::string(kBrenvoDebugMessages));
    if (row.debug)
        info[std::string(kBrenvoDebugMessages)] = *row.debug;
    if (!row.appId)
        info.erase(std::string(kBrenvoAppId));
    AgentWorld world(AgentSetup{.info = info});
    {
        Brenvo agent(*world.services);
        agent.logMessage("plain");
        agent.logMessage("forced", true);
    }
    std::vector<std::string> expected;
    if (row.logs)
        expected.push_back(bannerLine());
    if (!row.appId)
        expected.push_back(kNoAppIdLine);
    else if (row.logs)
        expected.push_back(scheduleLine(0, 86400));
    if (row.logs)
        expected.push_back("Brenvo: plain");
    expected.push_back("Brenvo: forced");
    if (row.logs)
        expected.push_back("Brenvo: Class dealloced.");
    EXPECT_EQ(world.log.lines(), expected);
}

INSTANTIATE_TEST_SUITE_P(Agent, Logging, ::testing::ValuesIn(kLoggingCases),
                         [](const auto& p) { return std::string(p.param.name); });

// Writes `key` into the host's Info.plist as an <integer> element holding `digits`, a number
// that no 64-bit integer need hold.
void setIntegerInfo(AgentWorld& world, std::string_view key, std::string_view digits) {
    world.setInfo(key, PlistValue("integer-to-be"));
    const auto path = world.test.infoPlistPath();
    std::string xml = *world.dir.readFile(path.lexically_relative(world.dir.path()).string());
    const std::string placeholder = "<string>integer-to-be</string>";
    xml.replace(xml.find(placeholder), placeholder.size(),
                "<integer>" + std::string(digits) + "</integer>");
    world.dir.writeFile(path.lexically_relative(world.dir.path()).string(), xml);
}

// Integer settings past 64 bits hold as long as the largest 64-bit number says: never a wrap to a
// small or negative number that would check every minute or hold nothing back.
TEST(AgentSettings, IntegersPast64BitsSaturate) {
    for (const char* digits :
         {"9223372036854775808", "18446744073709551615", "99999999999999999999"}) {
        AgentWorld interval(AgentSetup{.info = AgentWorld::host()});
        setIntegerInfo(interval, kBrenvoInterval, digits);
        {
            Brenvo agent(*interval.services);
            EXPECT_EQ(interval.lastLine(), scheduleLine(0, kMax)) << digits;
            interval.advanceAndDispatch(0);
            EXPECT_EQ(interval.countLines(kStartingPrefix), 1u) << digits;
            EXPECT_TRUE(interval.log.contains(scheduleLine(kMax, kMax))) << digits;
            EXPECT_EQ(bvMasCheckMasUpdateTimer->timeInterval(), static_cast<double>(kMax))
                << digits;
        }

        AgentWorld age(AgentSetup{.info = AgentWorld::host()});
        setIntegerInfo(age, kBrenvoMinimumReleaseAge, digits);
        age.server.reply("/lookup", 200,
                         R"({"results":[{"version":"2.0",)"
                         R"("currentVersionReleaseDate":"2027-01-15T07:00:00Z"}]})");
        Brenvo agent(*age.services);
        std::vector<CheckOutcome> outcomes;
        agent.setOutcomeObserver([&](const CheckOutcome& outcome) { outcomes.push_back(outcome); });
        age.advanceAndDispatch(0);
        ASSERT_EQ(outcomes.size(), 1u) << digits;
        EXPECT_EQ(outcomes[0].kind, CheckOutcome::Kind::HeldBack) << digits;
        EXPECT_EQ(age.lastLine(), "Brenvo: Version 2.0 held back by BrenvoMinimumReleaseAge: "
                                  "released 3600 seconds ago, 9223372036854775807 seconds "
                                  "required.")
            << digits;
        EXPECT_TRUE(age.window.shown().empty()) << digits;
    }
}

// The host's bundle, counting the readings of its Info.plist.
class CountingBundle final : public platform::Bundle {
public:
    explicit CountingBundle(const platform::Bundle& inner) : inner_(inner) {}
    std::optional<PlistValue> objectForInfoDictionaryKey(std::string_view key) const override {
        ++readings;
        return inner_.objectForInfoDictionaryKey(key);
    }
    PlistDictionary
    objectsForInfoDictionaryKeys(std::span<const std::string_view> keys) const override {
        ++readings;
        return inner_.objectsForInfoDictionaryKeys(keys);
    }
    std::string localizedStringForKey(std::string_view key, std::string_view value,
                                      std::string_view table) const override {
        ++readings;
        return inner_.localizedStringForKey(key, value, table);
    }
    mutable int readings = 0;

private:
    const platform::Bundle& inner_;
};

// Start-up, each arming and each check (its debug lines and decision included) read the Info.plist
// once, whatever the check ends with.
TEST(AgentSettings, OneInfoPlistReadingPerArmingAndPerCheck) {
    const struct {
        int status;
        const char* reply;
    } replies[] = {
        {200, R"({"results":[{"version":"1.0"}]})"}, // up to date
        {200, R"({"results":[{"version":"2.0"}]})"}, // skipped
        {200, R"({"results":[]})"},                  // no release record
        {404, ""},                                   // no reply
        {429, ""},                                   // rate limited
    };
    for (const auto& reply : replies) {
        AgentWorld world(AgentSetup{.info = AgentWorld::host(),
                                    .defaultsFile = PlistDictionary{{"BrenvoSkipVersion", "2.0"}}});
        world.server.reply("/lookup", reply.status, reply.reply);
        CountingBundle bundle(world.test.mainBundle);
        platform::Services services{bundle,
                                    world.test.frameworkBundle,
                                    world.test.defaults,
                                    world.clock,
                                    world.loop,
                                    world.center,
                                    world.log,
                                    world.http,
                                    world.test.systemVersion,
                                    world.test.workspace,
                                    world.test.windows};
        Brenvo agent(services);
        EXPECT_EQ(bundle.readings, 1) << reply.reply;
        world.advanceAndDispatch(0);
        EXPECT_EQ(world.countLines(kStartingPrefix), 1u) << reply.reply;
        EXPECT_EQ(bundle.readings, 2) << reply.reply;
        world.center.postNotificationName(kBrenvoReleaseWindowClosed, nullptr);
        EXPECT_EQ(bundle.readings, 3) << reply.reply;
    }
}

TEST(AgentLogging, WritesFormatCharactersLiterallyAndControlsEscaped) {
    AgentWorld world(AgentSetup{.info = AgentWorld::host()});
    Brenvo agent(*world.services);
    world.log.clear();
    agent.logMessage("100% done: %@ %i %s %n %%");
    agent.logMessage(std::string_view("nul\0inside", 10));
    EXPECT_EQ(world.log.lines(), (std::vector<std::string>{"Brenvo: 100% done: %@ %i %s %n %%",
                                                           "Brenvo: nul\\x00inside"}));
}

// Without "BrenvoAppId" the agent neither arms nor observes, whatever happens later.
TEST(AgentStartUp, StaysInertWithoutAnIdentifier) {
    PlistDictionary info = AgentWorld::host();
    info.erase(std::string(kBrenvoAppId));
    AgentWorld world(AgentSetup{.info = info});
    Brenvo agent(*world.services);
    EXPECT_EQ(world.loop.pendingTimers(), 0u);
    world.center.postNotificationName(kBrenvoReleaseWindowClosed, nullptr);
    world.advanceAndDispatch(3 * 86400);
    EXPECT_EQ(world.loop.pendingTimers(), 0u);
    EXPECT_FALSE(world.storedDefault(kBrenvoLastCheck));
    EXPECT_EQ(world.log.lines(), (std::vector<std::string>{bannerLine(), kNoAppIdLine}));
}

TEST(AgentSchedule, WindowClosedFromAnySenderRecordsAndArmsAFullInterval) {
    int sender = 0;
    const void* senders[] = {nullptr, &sender};
    for (const void* object : senders) {
        AgentWorld world(
            AgentSetup{.info = AgentWorld::host({{"BrenvoInterval", 7200}}),
                       .defaultsFile = PlistDictionary{{"BrenvoLastCheck", Date{kEpoch - 100}}}});
        Brenvo agent(*world.services);
        EXPECT_EQ(world.nextTimeout(), 7100.0);
        world.clock.advance(1234.5);
        world.center.postNotificationName("SomethingElse", object);
        EXPECT_EQ(world.storedDefault(kBrenvoLastCheck), PlistValue(Date{kEpoch - 100}));

        world.center.postNotificationName(kBrenvoReleaseWindowClosed, object);
        EXPECT_TRUE(world.lastCheckIsNow());
        EXPECT_EQ(world.lastLine(), scheduleLine(7200, 7200));
        EXPECT_EQ(bvMasCheckMasUpdateTimer->timeInterval(), 7200.0);
        // The earlier pending check was replaced, not joined.
        EXPECT_EQ(world.loop.pendingTimers(), 1u);
    }
}

// However often the schedule is armed (close notifications from anybody, a direct call), an
// agent keeps one pending check, and even an interval of 0 gives one request a minute.
TEST(AgentSchedule, OnePendingCheckAndOneRequestPerInterval) {
    for (const PlistValue& interval : {PlistValue(600), PlistValue(0)}) {
        const int64_t seconds = std::max<int64_t>(*interval.integerValue(), 60);
        AgentWorld world(AgentSetup{.info = AgentWorld::host({{"BrenvoInterval", interval}})});
        world.server.reply("/lookup", 200, R"({"results":[{"version":"1.0"}]})");
        Brenvo agent(*world.services);
        world.advanceAndDispatch(0);
        EXPECT_EQ(world.countLines(kStartingPrefix), 1u);

        world.center.postNotificationName(kBrenvoReleaseWindowClosed, nullptr);
        world.center.postNotificationName(kBrenvoReleaseWindowClosed, &world);
        agent.setTimer();
        EXPECT_EQ(world.loop.pendingTimers(), 1u);
        for (int round = 1; round <= 5; ++round) {
            world.advanceAndDispatch(static_cast<double>(seconds) - 0.5);
            EXPECT_EQ(world.countLines(kStartingPrefix), static_cast<size_t>(round));
            world.advanceAndDispatch(0.5);
            EXPECT_EQ(world.countLines(kStartingPrefix), static_cast<size_t>(round + 1));
            EXPECT_EQ(world.loop.pendingTimers(), 1u);
        }
    }
}

TEST(AgentLifecycle, DestructionCancelsThePendingCheckAndStopsObserving) {
    AgentWorld world(
        AgentSetup{.info = AgentWorld::host(),
                   .defaultsFile = PlistDictionary{{"BrenvoLastCheck", Date{kEpoch}}}});
    {
        Brenvo agent(*world.services);
        agent.setTimer();
        EXPECT_EQ(world.loop.pendingTimers(), 1u);
    }
    EXPECT_EQ(world.lastLine(), "Brenvo: Class dealloced.");
    EXPECT_EQ(world.loop.pendingTimers(), 0u);
    EXPECT_FALSE(bvMasCheckMasUpdateTimer->isValid());
    bvMasCheckMasUpdateTimer->invalidate();

    world.center.postNotificationName(kBrenvoReleaseWindowClosed, nullptr);
    world.advanceAndDispatch(2 * 86400);
    EXPECT_EQ(world.countLines(kStartingPrefix), 0u);
    EXPECT_EQ(world.storedDefault(kBrenvoLastCheck), PlistValue(Date{kEpoch}));
}

// A second agent's destruction leaves the first agent's schedule alone.
TEST(AgentLifecycle, DestroyingOneAgentKeepsAnothersTimer) {
    AgentWorld world(AgentSetup{.info = AgentWorld::host()});
    world.server.reply("/lookup", 200, "");
    Brenvo first(*world.services);
    { Brenvo second(*world.services); }
    EXPECT_EQ(world.loop.pendingTimers(), 1u);
    world.advanceAndDispatch(0);
    EXPECT_EQ(world.countLines(kStartingPrefix), 1u);
}

// The agent starts whatever state the preferences file is in, and keeps the old bytes.
TEST(AgentStartUp, StartsOverAnUnusablePreferencesFile) {
    const std::string contents[] = {"", "<?xml version=\"1.0\"?><plist><dict><key>Brenvo",
                                    "not a property list", std::string("bplist00\xff\x01", 10)};
    for (const auto& bytes : contents) {
        AgentWorld world(AgentSetup{.info = AgentWorld::host()});
        world.server.reply("/lookup", 200, "");
        std::filesystem::create_directories(world.defaultsPath().parent_path());
        world.dir.writeFile(
            std::filesystem::relative(world.defaultsPath(), world.dir.path()).string(), bytes);
        Brenvo agent(*world.services);
        EXPECT_EQ(world.lastLine(), scheduleLine(0, 86400));
        world.advanceAndDispatch(0);
        EXPECT_TRUE(world.lastCheckIsNow());
        if (bytes.empty())
            continue;
        bool kept = false;
        for (const auto& entry :
             std::filesystem::directory_iterator(world.defaultsPath().parent_path())) {
            auto aside = world.dir.readFile(
                std::filesystem::relative(entry.path(), world.dir.path()).string());
            kept = kept || aside == bytes;
        }
        EXPECT_TRUE(kept) << "the unusable file was not kept aside";
    }
}

// A reply of status 429 or 503 is a rate limit whatever its body: the next scheduled check waits
// for the later of the interval (60 s here) and the store's "Retry-After", at most 7 days.
struct RateLimitCase {
    const char* name;
    int status;
    std::optional<std::string> retryAfter;
    std::optional<int64_t> asked; // the outcome's retryAfter
    int64_t next;                 // seconds to the next request
};

const RateLimitCase kRateLimits[] = {
    {"Seconds", 429, "120", 120, 120},
    {"SecondsWithinTheInterval", 429, " 30 ", 30, 60},
    {"HttpDate", 429, "Fri, 15 Jan 2027 08:05:00 GMT", 300, 300},
    {"ObsoleteDate", 503, "Friday, 15-Jan-27 08:05:00 GMT", 300, 300},
    {"AsctimeDate", 429, "Fri Jan 15 08:05:00 2027", 300, 300},
    {"DateInThePast", 429, "Thu, 01 Jan 2026 00:00:00 GMT", 0, 60},
    {"ServiceUnavailable", 503, std::nullopt, std::nullopt, 60},
    {"NoHeader", 429, std::nullopt, std::nullopt, 60},
    {"TenYears", 429, "315360000", 604800, 604800},
    {"PastAnyInteger", 429, "99999999999999999999999999999", 604800, 604800},
    {"Unreadable", 429, "in a while", std::nullopt, 60},
    {"ImpossibleDate", 429, "Fri, 30 Feb 2027 08:05:00 GMT", std::nullopt, 60},
};

class RateLimit : public ::testing::TestWithParam<RateLimitCase> {};

TEST_P(RateLimit, WaitsForTheLaterOfTheIntervalAndTheStore) {
    const RateLimitCase& row = GetParam();
    AgentWorld world(AgentSetup{.info = AgentWorld::host({{"BrenvoInterval", 60}})});
    int served = 0;
    world.server.handle("/lookup", [&row, &served](const LoopbackServer::Request&) {
        LoopbackServer::Reply reply{200, R"({"results":[{"version":"1.0"}]})"};
        if (served++ == 0) {
            reply = {row.status, R"({"results":[{"version":"2.0"}]})"};
            if (row.retryAfter)
                reply.headers = {{"Retry-After", *row.retryAfter}};
        }
        return reply;
    });
    Brenvo agent(*world.services);
    std::vector<CheckOutcome> outcomes;
    agent.setOutcomeObserver([&](const CheckOutcome& outcome) { outcomes.push_back(outcome); });

    world.advanceAndDispatch(0);
    ASSERT_EQ(outcomes.size(), 1u);
    EXPECT_EQ(outcomes[0].kind, CheckOutcome::Kind::RateLimited);
    EXPECT_EQ(outcomes[0].retryAfter, row.asked);
    EXPECT_EQ(describeOutcome(outcomes[0]),
              "rate-limited " + std::to_string(row.asked.value_or(row.next)));
    EXPECT_EQ(world.countLines("Brenvo: The store limits requests (HTTP status " +
                               std::to_string(row.status) + ")"),
              1u);
    EXPECT_TRUE(world.window.shown().empty());
    EXPECT_EQ(world.nextTimeout(), static_cast<double>(row.next));

    world.advanceAndDispatch(static_cast<double>(row.next) - 0.5);
    EXPECT_EQ(world.server.requests().size(), 1u);
    world.advanceAndDispatch(0.5);
    EXPECT_EQ(world.server.requests().size(), 2u);
    ASSERT_EQ(outcomes.size(), 2u);
    EXPECT_EQ(outcomes[1].kind, CheckOutcome::Kind::UpToDate);
}

INSTANTIATE_TEST_SUITE_P(Agent, RateLimit, ::testing::ValuesIn(kRateLimits),
                         [](const auto& p) { return std::string(p.param.name); });

// Inside the store's wait a scheduled check is not sent and waits for its end; the user who asks
// is answered, and that reply ends the wait.
TEST(AgentSchedule, TheUserIsAnsweredDuringTheStoresWait) {
    AgentWorld world(AgentSetup{.info = AgentWorld::host({{"BrenvoInterval", 60}})});
    int served = 0;
    world.server.handle("/lookup", [&served](const LoopbackServer::Request&) {
        if (served++ == 0)
            return LoopbackServer::Reply{429, "", "text/plain", {{"Retry-After", "600"}}};
        return LoopbackServer::Reply{200, R"({"results":[{"version":"1.0"}]})"};
    });
    Brenvo agent(*world.services);
    world.advanceAndDispatch(0);
    world.advanceAndDispatch(100);
    agent.bvMasCheckMasUpdates();
    world.settle();
    EXPECT_EQ(world.server.requests().size(), 1u);
    EXPECT_EQ(world.countLines("Brenvo: The store asked for no request yet."), 1u);
    EXPECT_EQ(world.nextTimeout(), 500.0);

    std::vector<CheckOutcome> outcomes;
    agent.setOutcomeObserver([&](const CheckOutcome& outcome) { outcomes.push_back(outcome); });
    agent.checkForUpdates();
    world.settle();
    EXPECT_EQ(world.server.requests().size(), 2u);
    ASSERT_EQ(outcomes.size(), 1u);
    EXPECT_EQ(outcomes[0].kind, CheckOutcome::Kind::UpToDate);
    EXPECT_EQ(world.nextTimeout(), 60.0);
}

} // namespace
} // namespace brenvo::test
