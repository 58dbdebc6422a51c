// The agent's check end to end: a real loopback store, the real libcurl client, real defaults
// and Info.plist files, the run loop on a manual clock and a scripted release window.
#include "AgentHarness.h"

#include "brenvo/BrenvoReleaseInfo.h"
#include "brenvo/JSON/XKJSON.h"
#include "support/ListeningPort.h"

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>

namespace brenvo::test {
namespace {

using platform::PlistDictionary;
using platform::PlistValue;
using platform::WindowAnswer;

const std::string kNoResponseLine = "Brenvo: No response for HTTP Request (Reponse Length is 0).";
const std::string kRetryLine = "Brenvo: The network failed. Trying again in 300 seconds.";
const std::string kSkippedLine = "Brenvo: Version 2.0 already skipped by user. No notification.";
const std::string kShowLine = "Brenvo: Show release info window. Check Timer stopped until user "
                              "responds to release info window.";

std::string notNewerLine(std::string_view app, std::string_view store) {
    return "Brenvo: No new Version available. App Version: " + std::string(app) +
           ", MAS Version: " + std::string(store);
}

std::string reply(std::string_view version) {
    return R"({"resultCount":1,"results":[{"version":")" + std::string(version) +
           R"(","releaseNotes":"Fixes.\nMore fixes.","trackViewUrl":"https://example.org/app"}]})";
}

// The state every check leaves when it decided nothing should be shown: the next check one
// interval after this one started, the check's date recorded, nothing else written.
// `next`: a check the network failed is tried again after 5 minutes.
void expectScheduledAgain(AgentWorld& world, double next = 86400.0) {
    EXPECT_EQ(world.loop.pendingTimers(), 1u);
    EXPECT_EQ(world.nextTimeout(), next);
    ASSERT_TRUE(bvMasCheckMasUpdateTimer);
    EXPECT_TRUE(bvMasCheckMasUpdateTimer->isValid());
    EXPECT_TRUE(world.lastCheckIsNow());
    EXPECT_FALSE(world.storedDefault(kBrenvoSkipVersion));
    EXPECT_TRUE(world.window.shown().empty());
    EXPECT_FALSE(updateItem);
}

// End to end, the pieces meet: a reply from a real store, decided on the loop, logged, shown.
// The decisions themselves are tabled in BrenvoCheckTests.cpp.
struct DecisionCase {
    const char* name;
    std::string body;                      // the store's reply
    std::optional<std::string> appVersion; // the host's CFBundleShortVersionString
    std::optional<std::string> skipped;    // BrenvoSkipVersion before the check
    std::vector<std::string> tail;         // the check's last log lines
    CheckOutcome::Kind outcome;
    bool shown;
};

std::ostream& operator<<(std::ostream& out, const DecisionCase& row) {
    return out << row.name;
}

std::string found(std::string_view version) {
    return "Brenvo: New Version " + std::string(version) + " found!";
}

using Kind = CheckOutcome::Kind;

// {"resultCount":n,"results":[{"version":"2.0",...},{"version":"1.0",...},...]}, its first
// record's notes padded to bring the whole to `size` bytes.
std::string manyResults(int n, std::size_t size) {
    std::string rest;
    for (int i = 1; i < n; ++i)
        rest += R"(,{"version":"1.0","trackId":)" + std::to_string(i) + "}";
    std::string body = R"({"resultCount":)" + std::to_string(n) +
                       R"(,"results":[{"version":"2.0","trackId":0,"releaseNotes":")";
    const std::size_t used = body.size() + 2 + rest.size() + 2;
    body.append(size > used ? size - used : 0, 'x');
    return body + "\"}" + rest + "]}";
}

const DecisionCase kDecisions[] = {
    {"EmptyBody", "", "1.9", std::nullopt, {kNoResponseLine}, Kind::NoReply, false},
    {"Equal",
     reply("1.2"),
     "1.2",
     std::nullopt,
     {notNewerLine("1.2", "1.2")},
     Kind::UpToDate,
     false},
    {"Newer",
     reply("1.10"),
     "1.9",
     std::nullopt,
     {found("1.10"), kShowLine},
     Kind::UpdateAvailable,
     true},
    {"Skipped", reply("2.0"), "1.9", "2.0", {found("2.0"), kSkippedLine}, Kind::Skipped, false},
    {"NoResults",
     "{}",
     "1.9",
     std::nullopt,
     {notNewerLine("1.9", "(null)")},
     Kind::UnusableReply,
     false},
    // The store's words reach the log as one printable line each.
    {"VersionWithControls",
     reply(R"(3.0\u001b]0;x\u0007\r\b\u0085\u202e)"),
     "2.0",
     std::nullopt,
     {found(R"(3.0\x1B]0;x\x07\r\x08\u0085\u202E)"), kShowLine},
     Kind::UpdateAvailable,
     true},
    {"VersionForgingALogLine",
     reply(R"(1.0\nBrenvo: forged line found!)"),
     "1.9",
     std::nullopt,
     {notNewerLine("1.9", R"(1.0\nBrenvo: forged line found!)")},
     Kind::UpToDate,
     false},
    // The depth limit fails a deeply nested reply at once.
    {"HundredThousandNestedArrays",
     std::string(100000, '[') + std::string(100000, ']'),
     "1.9",
     std::nullopt,
     {"Brenvo: Reply is not a JSON object or array.", notNewerLine("1.9", "(null)")},
     Kind::UnusableReply,
     false},
    // A version longer than any real one is refused before anything stores, compares or shows it.
    {"VersionOfFourMillionCharacters",
     reply("9" + std::string(4'000'000, '&')),
     "1.9",
     std::nullopt,
     {"Brenvo: Reply not usable: \"version\" of the release record is longer than 256 bytes. "
      "No decision this time."},
     Kind::UnusableReply,
     false},
    // A reply just under the size cap is read whole and decided from its first record.
    {"FourMiBOfResults",
     manyResults(100000, 4194304 - 100),
     "1.9",
     std::nullopt,
     {found("2.0"), kShowLine},
     Kind::UpdateAvailable,
     true},
    // A version the defaults file cannot hold whole stays skipped once skipped.
    {"SkippedVersionWithNul",
     reply(R"(2.0\u0000x)"),
     "1.9",
     "2.0\xEF\xBF\xBDx",
     {found(R"(2.0\x00x)"),
      R"(Brenvo: Version 2.0\x00x already skipped by user. No notification.)"},
     Kind::Skipped,
     false},
};

class Decision : public ::testing::TestWithParam<DecisionCase> {};

TEST_P(Decision, EndsWithItsLineAndLeavesTheSchedule) {
    const DecisionCase& row = GetParam();
    AgentSetup setup{.info = AgentWorld::host()};
    setup.info.erase(std::string(kCFBundleShortVersionString));
    if (row.appVersion)
        setup.info[std::string(kCFBundleShortVersionString)] = *row.appVersion;
    if (row.skipped)
        setup.defaultsFile = PlistDictionary{{std::string(kBrenvoSkipVersion), *row.skipped}};
    AgentWorld world(std::move(setup));
    world.server.reply("/lookup", 200, row.body);
    Brenvo agent(*world.services);
    std::vector<CheckOutcome> outcomes;
    agent.setOutcomeObserver([&](const CheckOutcome& outcome) {
        // Heard before any window shows.
        EXPECT_TRUE(world.window.shown().empty());
        outcomes.push_back(outcome);
    });
    world.log.clear();
    world.advanceAndDispatch(0);
    ASSERT_EQ(outcomes.size(), 1u);
    EXPECT_EQ(outcomes[0].kind, row.outcome);
    EXPECT_FALSE(outcomes[0].userInitiated);

    ASSERT_GE(world.log.lines().size(), row.tail.size());
    const std::vector<std::string> tail(world.log.lines().end() - row.tail.size(),
                                        world.log.lines().end());
    EXPECT_EQ(tail, row.tail);
    for (const std::string& line : world.log.lines())
        EXPECT_LT(line.size(), 2048u) << line.substr(0, 100);
    EXPECT_EQ(world.log.lines().at(1), "Brenvo: Starting HTTP Request for MAS App ID 123456 using "
                                       "Request URL '" +
                                           world.castUrl() + "123456'");
    EXPECT_EQ(world.server.requests(), std::vector<std::string>{"/lookup?id=123456"});
    EXPECT_TRUE(world.lastCheckIsNow());
    EXPECT_EQ(world.storedDefault(kBrenvoSkipVersion),
              row.skipped ? std::optional<PlistValue>(*row.skipped) : std::nullopt);

    if (!row.shown) {
        EXPECT_EQ(world.loop.pendingTimers(), 1u);
        EXPECT_EQ(world.nextTimeout(), 86400.0);
        EXPECT_TRUE(world.window.shown().empty());
        return;
    }
    // Shown: the check's timer is cancelled and nothing is scheduled until the window closes.
    EXPECT_EQ(world.window.shown().size(), 1u);
    EXPECT_FALSE(bvMasCheckMasUpdateTimer->isValid());
    EXPECT_EQ(world.loop.pendingTimers(), 0u);
    ASSERT_TRUE(updateItem);
    const auto parsed = XKJSON().objectWithString(row.body, nullptr);
    const JsonValue* record = JsonRef(parsed)["results"][0].get();
    ASSERT_TRUE(record);
    EXPECT_EQ(*updateItem, *record);
    const auto checkDate = world.storedDefault(kBrenvoLastCheck);
    world.advanceAndDispatch(5 * 86400);
    EXPECT_EQ(world.server.requests().size(), 1u);
    EXPECT_EQ(world.storedDefault(kBrenvoLastCheck), checkDate);

    // Closing the window records its time and arms one full interval from there.
    world.window.closeByWindowManager();
    world.advanceAndDispatch(0);
    EXPECT_EQ(BrenvoReleaseInfo::liveControllers(), 0u);
    EXPECT_TRUE(world.lastCheckIsNow());
    EXPECT_EQ(world.lastLine(), "Brenvo: Next Update Check in 86400 seconds. Check Interval is "
                                "86400 seconds.");
    EXPECT_EQ(world.nextTimeout(), 86400.0);
    EXPECT_FALSE(world.storedDefault(kBrenvoSkipVersion) && !row.skipped);
}

INSTANTIATE_TEST_SUITE_P(Agent, Decision, ::testing::ValuesIn(kDecisions),
                         [](const auto& p) { return std::string(p.param.name); });

// Transfers that fail, on a real loopback server: each ends the check with its own line, the
// NoReply outcome and the next check one interval away, or a retry when no response arrived at
// all. (Replies of a shape the check cannot decide on are tabled in BrenvoCheckTests.cpp.)
struct FaultCase {
    const char* name;
    std::function<void(LoopbackServer&)> serve;
    std::vector<std::string> tail;
    double clientTimeout = 3.0;
    double next = 86400.0;
};

std::ostream& operator<<(std::ostream& out, const FaultCase& row) {
    return out << row.name;
}

std::vector<FaultCase> faultCases() {
    using S = LoopbackServer&;
    return {
        // A stopped server's port refuses the connection.
        {"ConnectionRefused", [](S s) { s.stop(); }, {kNoResponseLine, kRetryLine}, 3.0, 300},
        {"NeverAnswers",
         [](S s) { s.neverAnswer("/lookup"); },
         {kNoResponseLine, kRetryLine},
         1.0,
         300},
        {"OneBytePerSecond",
         [](S s) { s.slowBody("/lookup", reply("9.0")); },
         {kNoResponseLine},
         2.0},
        {"TruncatedBody",
         [](S s) { s.truncatedBody("/lookup", R"({"results":[{"vers)", 400); },
         {kNoResponseLine}},
        {"HugeBodyChunked",
         [](S s) { s.unboundedBody("/lookup", 50 * 1024 * 1024); },
         {"Brenvo: No response for HTTP Request (Response larger than 4194304 bytes was "
          "dropped)."}},
        {"RedirectLoop", [](S s) { s.redirect("/lookup", "/lookup"); }, {kNoResponseLine}},
        {"RedirectToFile",
         [](S s) { s.redirect("/lookup", "file:///etc/hostname"); },
         {kNoResponseLine}},
        {"ForbiddenEmpty", [](S s) { s.reply("/lookup", 403, ""); }, {kNoResponseLine}},
    };
}

class Fault : public ::testing::TestWithParam<FaultCase> {};

TEST_P(Fault, EndsCleanlyWithTheNextCheckScheduled) {
    const FaultCase& row = GetParam();
    AgentWorld world(AgentSetup{.info = AgentWorld::host(), .clientTimeout = row.clientTimeout});
    row.serve(world.server);
    Brenvo agent(*world.services);
    std::vector<CheckOutcome> outcomes;
    agent.setOutcomeObserver([&](const CheckOutcome& outcome) { outcomes.push_back(outcome); });
    world.advanceAndDispatch(0);
    ASSERT_EQ(outcomes.size(), 1u);
    EXPECT_EQ(outcomes[0].kind, CheckOutcome::Kind::NoReply);
    EXPECT_FALSE(outcomes[0].reason.empty());

    ASSERT_GE(world.log.lines().size(), row.tail.size());
    const std::vector<std::string> tail(world.log.lines().end() - row.tail.size(),
                                        world.log.lines().end());
    EXPECT_EQ(tail, row.tail);
    expectScheduledAgain(world, row.next);
    world.server.stop();
}

INSTANTIATE_TEST_SUITE_P(Agent, Fault, ::testing::ValuesIn(faultCases()),
                         [](const auto& p) { return std::string(p.param.name); });

// The query the store receives: "BrenvoCastUrl" exactly as written with the identifier's text form
// (any kind counts as present) right after it, or the default lookup URL (served here by the
// loopback store) with a country of two ASCII letters, lower-cased; any other country is left out
// with a line.
TEST(AgentCheck, LookupQueryIsTheCastUrlOrTheDefaultWithItsCountry) {
    const struct {
        std::optional<std::string> castPrefix; // nullopt: the default lookup URL
        std::optional<PlistValue> country;
        std::string target;
        bool ignored = false; // the country is left out with a line
        PlistValue appId = "123456";
    } rows[] = {
        {"/lookup?id=", std::nullopt, "/lookup?id=123456"},
        {"/v2/apps/", std::nullopt, "/v2/apps/123456"},
        {"/lookup?id=000", "de", "/lookup?id=000123456"},
        {"/lookup?country=DE&id=", "fr", "/lookup?country=DE&id=123456"},
        {"/lookup?id=", std::nullopt, "/lookup?id=987", false, PlistValue(987)},
        {"/lookup?id=", std::nullopt, "/lookup?id=0", false, PlistValue(false)},
        {"/lookup?id=", std::nullopt, "/lookup?id=", false, ""},
        {std::nullopt, std::nullopt, "/lookup?id=123456"},
        {std::nullopt, "de", "/lookup?id=123456&country=de"},
        {std::nullopt, "Gb", "/lookup?id=123456&country=gb"},
        {std::nullopt, "deu", "/lookup?id=123456", true},
        {std::nullopt, "d1", "/lookup?id=123456", true},
        {std::nullopt, "\xc3\xa9s", "/lookup?id=123456", true},
        {std::nullopt, PlistValue(49), "/lookup?id=123456", true},
        {std::nullopt, "", "/lookup?id=123456", true},
    };
    for (const auto& row : rows) {
        const std::string name = row.country ? row.country->description() : "(none)";
        SCOPED_TRACE(row.target + " " + name);
        AgentWorld world(AgentSetup{.info = AgentWorld::host({{"BrenvoAppId", row.appId}}),
                                    .castToLoopback = false});
        world.http.storeStandIn = world.server.url("/lookup?id=");
        if (row.castPrefix)
            world.setInfo(kBrenvoCastUrl, PlistValue(world.server.url(*row.castPrefix)));
        world.setInfo(kBrenvoCountry, row.country);
        world.server.reply(row.target.substr(0, row.target.find('?')), 200, reply("1.0"));
        Brenvo agent(*world.services);
        world.advanceAndDispatch(0);
        EXPECT_EQ(world.server.requests(), std::vector<std::string>{row.target});
        // The default is the store's own lookup service over HTTPS, with a 10-second time-out.
        ASSERT_EQ(world.http.requests.size(), 1u);
        const std::string& url = world.http.requests[0].url;
        EXPECT_EQ(url, row.castPrefix ? world.server.url(row.target)
                                      : std::string(kDefaultLookupUrlPrefix) +
                                            row.target.substr(row.target.find('=') + 1));
        EXPECT_EQ(world.http.requests[0].timeoutInterval, 10.0);
        EXPECT_TRUE(world.log.contains("Brenvo: Starting HTTP Request for MAS App ID " +
                                       row.appId.description() + " using Request URL '" + url +
                                       "'"));
        EXPECT_EQ(world.lastLine(), notNewerLine("1.9", "1.0"));
        EXPECT_EQ(world.countLines("Brenvo: BrenvoCountry " + name +
                                   " is not two ASCII letters. Looking up without a country."),
                  row.ignored ? 1u : 0u);
    }
}

// A "BrenvoCastUrl" of another scheme than http or https is never followed: no file is read as
// the store's reply, no other server is asked, and the check ends without a reply.
TEST(AgentCheck, CastUrlOfAnotherSchemeReadsNothing) {
    ListeningPort port;
    ASSERT_NE(port.port(), 0);
    for (const bool file : {true, false}) {
        AgentWorld world(AgentSetup{.info = AgentWorld::host()});
        world.dir.writeFile("reply-123456", reply("2.0"));
        world.setInfo(kBrenvoCastUrl,
                      PlistValue(file ? "file://" + (world.dir / "reply-").string()
                                      : "dict://127.0.0.1:" + std::to_string(port.port()) + "/d:"));
        Brenvo agent(*world.services);
        std::vector<CheckOutcome> outcomes;
        agent.setOutcomeObserver([&](const CheckOutcome& outcome) { outcomes.push_back(outcome); });
        world.advanceAndDispatch(0);
        ASSERT_EQ(outcomes.size(), 1u) << file;
        EXPECT_EQ(outcomes[0].kind, Kind::NoReply) << file;
        EXPECT_EQ(world.lastLine(), kNoResponseLine) << file;
        EXPECT_FALSE(port.connected()) << file;
        expectScheduledAgain(world);
    }
}

// The whole round: shown, skipped by the user, then no longer announced; a different newer
// version is announced again.
TEST(AgentCheck, SkipThenSameVersionIsQuietAndANewerOneShowsAgain) {
    AgentWorld world(AgentSetup{.info = AgentWorld::host(), .answer = WindowAnswer::Skip});
    std::string version = "2.0";
    world.server.handle("/lookup", [&version](const LoopbackServer::Request&) {
        return LoopbackServer::Reply{200, reply(version)};
    });
    Brenvo agent(*world.services);
    world.advanceAndDispatch(0); // the check shows the window
    world.advanceAndDispatch(0); // the window answers Skip and closes
    world.advanceAndDispatch(0); // the controller goes away
    ASSERT_EQ(world.window.shown().size(), 1u);
    // Nobody asked for this window: it ignores keys for a moment.
    EXPECT_EQ(world.window.shown()[0].texts.keyGuard, platform::kKeyGuard);
    EXPECT_EQ(world.storedDefault(kBrenvoSkipVersion), PlistValue("2.0"));
    EXPECT_EQ(world.nextTimeout(), 86400.0);

    world.advanceAndDispatch(86400);
    EXPECT_EQ(world.lastLine(), kSkippedLine);
    EXPECT_EQ(world.window.shown().size(), 1u);

    version = "2.1";
    world.advanceAndDispatch(86400);
    EXPECT_EQ(world.lastLine(), kShowLine);
    EXPECT_EQ(world.window.shown().size(), 2u);
    world.advanceAndDispatch(0);
    world.advanceAndDispatch(0);
    EXPECT_EQ(BrenvoReleaseInfo::liveControllers(), 0u);
    EXPECT_EQ(world.storedDefault(kBrenvoSkipVersion), PlistValue("2.1"));
}

// Settings are read afresh: an identifier removed after start-up stops the check before any
// request, says so whatever the debug switch reads, and keeps the schedule.
TEST(AgentCheck, IdentifierRemovedBeforeTheCheckSendsNothing) {
    AgentWorld world(AgentSetup{.info = AgentWorld::host()});
    Brenvo agent(*world.services);
    world.setInfo(kBrenvoAppId, std::nullopt);
    world.setInfo(kBrenvoDebugMessages, std::nullopt);
    world.log.clear();
    world.advanceAndDispatch(0);
    EXPECT_EQ(world.log.lines(),
              std::vector<std::string>{"Brenvo: No update check possible. Please set BrenvoAppId "
                                       "in Main Bundle Info.plist."});
    EXPECT_TRUE(world.server.requests().empty());
    EXPECT_TRUE(world.http.requests.empty());
    expectScheduledAgain(world);
}

// The request runs beside the host: the check returns to the loop at once, and the time-out
// (ten seconds) ends it later, with the schedule standing.
TEST(AgentCheck, ASilentServerNeverHoldsTheLoop) {
    AgentWorld world(AgentSetup{.info = AgentWorld::host(), .clientTimeout = 60.0});
    world.server.neverAnswer("/lookup");
    Brenvo agent(*world.services);
    const auto start = std::chrono::steady_clock::now();
    world.loop.dispatch();
    EXPECT_TRUE(agent.isChecking());
    EXPECT_EQ(world.countLines("Brenvo: Starting HTTP Request"), 1u);
    EXPECT_NE(world.lastLine(), kNoResponseLine);
    world.settle();
    const double waited =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_GE(waited, 9.5);
    EXPECT_LT(waited, 30.0);
    EXPECT_FALSE(agent.isChecking());
    EXPECT_EQ(world.countLines(kNoResponseLine), 1u);
    EXPECT_EQ(world.lastLine(), kRetryLine);
    expectScheduledAgain(world, 300.0);
    world.server.stop();
}

// One request in flight per agent: a second timer, a close notification or "Check for
// Updates…" during the request sends nothing more. Destroying the agent cancels the request:
// nothing of it runs or stays on the loop afterwards.
TEST(AgentCheck, OneRequestInFlightCancelledWithTheAgent) {
    AgentWorld world(AgentSetup{.info = AgentWorld::host()});
    world.server.neverAnswer("/lookup");
    std::vector<CheckOutcome> outcomes;
    {
        Brenvo agent(*world.services);
        agent.setOutcomeObserver([&](const CheckOutcome& outcome) { outcomes.push_back(outcome); });
        world.loop.dispatch();
        EXPECT_FALSE(world.loop.finishPendingIO(std::chrono::milliseconds(300)));
        agent.bvMasCheckMasUpdates();
        world.center.postNotificationName(kBrenvoReleaseWindowClosed, nullptr);
        agent.checkForUpdates();
        EXPECT_FALSE(world.loop.finishPendingIO(std::chrono::milliseconds(300)));
        EXPECT_EQ(world.server.requests().size(), 1u);
        EXPECT_EQ(world.countLines("Brenvo: A store request is already running."), 2u);
        EXPECT_EQ(world.loop.pendingTimers(), 1u);
    }
    EXPECT_EQ(world.lastLine(), "Brenvo: Class dealloced.");
    const size_t lines = world.log.lines().size();
    EXPECT_EQ(world.loop.pendingIO(), 0u);
    EXPECT_EQ(world.loop.watches().size(), 1u); // the loop's own wake-up descriptor
    world.loop.runMode(platform::kDefaultRunLoopMode, std::chrono::hours(48));
    EXPECT_EQ(world.log.lines().size(), lines);
    EXPECT_TRUE(outcomes.empty());
    world.server.stop();
}

// "Check for Updates…" shows a skipped version again, records the check and re-arms the
// schedule; an agent without an identifier only says so.
TEST(AgentCheck, CheckForUpdatesShowsASkippedVersionToTheUserWhoAsked) {
    AgentWorld world(AgentSetup{.info = AgentWorld::host(),
                                .defaultsFile = PlistDictionary{{"BrenvoSkipVersion", "2.0"}}});
    world.server.reply("/lookup", 200, reply("2.0"));
    Brenvo agent(*world.services);
    std::vector<CheckOutcome> outcomes;
    agent.setOutcomeObserver([&](const CheckOutcome& outcome) { outcomes.push_back(outcome); });
    world.advanceAndDispatch(0);
    world.clock.advance(3600);
    agent.checkForUpdates();
    world.settle();
    ASSERT_EQ(outcomes.size(), 2u);
    EXPECT_EQ(outcomes[0].kind, Kind::Skipped);
    EXPECT_EQ(outcomes[1].kind, Kind::UpdateAvailable);
    EXPECT_TRUE(outcomes[1].userInitiated);
    EXPECT_EQ(outcomes[1].version, "2.0");
    ASSERT_EQ(world.window.shown().size(), 1u);
    EXPECT_EQ(world.window.shown()[0].texts.keyGuard, std::chrono::milliseconds::zero());
    EXPECT_TRUE(world.lastCheckIsNow());
    EXPECT_EQ(world.server.requests().size(), 2u);

    PlistDictionary info = AgentWorld::host();
    info.erase(std::string(kBrenvoAppId));
    AgentWorld inert(AgentSetup{.info = info});
    Brenvo unconfigured(*inert.services);
    std::vector<CheckOutcome> heard;
    unconfigured.setOutcomeObserver([&](const CheckOutcome& outcome) { heard.push_back(outcome); });
    unconfigured.checkForUpdates();
    ASSERT_EQ(heard.size(), 1u);
    EXPECT_EQ(heard[0].kind, Kind::NotConfigured);
    EXPECT_EQ(inert.loop.pendingTimers(), 0u);
    EXPECT_FALSE(inert.storedDefault(kBrenvoLastCheck));
}

// A release younger than "BrenvoMinimumReleaseAge" is held back, and announced once old enough.
TEST(AgentCheck, AReleaseIsAnnouncedOnceOldEnough) {
    AgentWorld world(AgentSetup{.info = AgentWorld::host({{"BrenvoMinimumReleaseAge", 86400}}),
                                .now = 1'800'000'000.0});
    world.server.reply(
        "/lookup", 200,
        R"({"results":[{"version":"2.0","currentVersionReleaseDate":"2027-01-15T07:00:00Z"}]})");
    Brenvo agent(*world.services);
    std::vector<CheckOutcome> outcomes;
    agent.setOutcomeObserver([&](const CheckOutcome& outcome) { outcomes.push_back(outcome); });
    world.advanceAndDispatch(0);
    world.advanceAndDispatch(86400);
    ASSERT_EQ(outcomes.size(), 2u);
    EXPECT_EQ(outcomes[0].kind, Kind::HeldBack);
    EXPECT_EQ(outcomes[0].gate, CheckOutcome::Gate::MinimumReleaseAge);
    EXPECT_EQ(outcomes[1].kind, Kind::UpdateAvailable);
    EXPECT_EQ(world.window.shown().size(), 1u);
}

// With the opt-in, "Check for Updates…" answers in the window in use when no release window
// follows, saying why a check failed; scheduled checks, and every check without the opt-in,
// show nothing.
TEST(AgentCheck, UserCheckResultsShowOnlyWhenTheHostOptsIn) {
    const struct {
        int status;
        std::string body;
        bool sent; // false: no connection is made
        std::string message, detail;
    } cases[] = {
        {200, reply("1.9"), true, "Your version is current",
         "Brenvo Test 1.9 is the newest version in the App Store."},
        {200, reply("1.9"), false, "The check for updates did not succeed",
         "There is no connection to the App Store."},
        {200, "", true, "The check for updates did not succeed", "The App Store did not answer."},
        {200, "{\"results\":[]}", true, "The check for updates did not succeed",
         "The App Store's reply could not be used."},
    };
    for (const auto& c : cases) {
        for (const bool optIn : {false, true}) {
            SCOPED_TRACE(c.detail + (optIn ? " (opted in)" : ""));
            AgentWorld world(AgentSetup{.info = AgentWorld::host()});
            world.server.reply("/lookup", c.status, c.body);
            world.http.forward = c.sent;
            Brenvo agent(*world.services);
            EXPECT_FALSE(agent.showsUserCheckResults());
            agent.setShowsUserCheckResults(optIn);
            world.advanceAndDispatch(0); // the scheduled check
            EXPECT_TRUE(world.window.shown().empty());
            agent.checkForUpdates();
            world.settle();
            if (!optIn) {
                EXPECT_TRUE(world.window.shown().empty());
                continue;
            }
            ASSERT_EQ(world.window.shown().size(), 1u);
            const auto& message = world.window.shown()[0].message;
            ASSERT_TRUE(message);
            EXPECT_EQ(message->windowTitle, "Software Update");
            EXPECT_EQ(message->messageText, c.message);
            EXPECT_EQ(message->informativeText, c.detail);
            EXPECT_EQ(message->buttonTitle, "OK");
        }
    }
}

} // namespace
} // namespace brenvo::test
