// The agent's check end to end: a real loopback store, the real libcurl client, real defaults
// and Info.plist files, the run loop on a manual clock and a scripted release window.
#include "AgentHarness.h"

#include "brenvo/BrenvoReleaseInfo.h"
#include "brenvo/JSON/XKJSON.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

namespace brenvo::test {
namespace {

using platform::PlistDictionary;
using platform::PlistValue;
using platform::WindowAnswer;

const std::string kNoResponseLine = "Brenvo: No response for HTTP Request (Reponse Length is 0).";
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
void expectScheduledAgain(AgentWorld& world) {
    EXPECT_EQ(world.loop.pendingTimers(), 1u);
    EXPECT_EQ(world.nextTimeout(), 86400.0);
    ASSERT_TRUE(bvMasCheckMasUpdateTimer);
    EXPECT_TRUE(bvMasCheckMasUpdateTimer->isValid());
    EXPECT_TRUE(world.lastCheckIsNow());
    EXPECT_FALSE(world.storedDefault(kBrenvoSkipVersion));
    EXPECT_TRUE(world.window.shown().empty());
    EXPECT_FALSE(updateItem);
}

struct DecisionCase {
    const char* name;
    std::string body;                      // the store's reply
    std::optional<std::string> appVersion; // the host's CFBundleShortVersionString
    std::optional<std::string> skipped;    // BrenvoSkipVersion before the check
    std::vector<std::string> tail;         // the check's last log lines
    bool shown;
};

std::ostream& operator<<(std::ostream& out, const DecisionCase& row) {
    return out << row.name;
}

std::string found(std::string_view version) {
    return "Brenvo: New Version " + std::string(version) + " found!";
}

const DecisionCase kDecisions[] = {
    {"EmptyBody", "", "1.9", std::nullopt, {kNoResponseLine}, false},
    {"Equal", reply("1.2"), "1.2", std::nullopt, {notNewerLine("1.2", "1.2")}, false},
    {"Older", reply("1.9"), "2.0", std::nullopt, {notNewerLine("2.0", "1.9")}, false},
    {"NumericComponents", reply("1.10"), "1.9", std::nullopt, {found("1.10"), kShowLine}, true},
    {"Skipped", reply("2.0"), "1.9", "2.0", {found("2.0"), kSkippedLine}, false},
    {"SkippedTextDiffers", reply("2.0"), "1.9", "2.0.0", {found("2.0"), kShowLine}, true},
    {"NoResults", "{}", "1.9", std::nullopt, {notNewerLine("1.9", "(null)")}, false},
    {"NoAppVersion", reply("1.0"), std::nullopt, std::nullopt, {found("1.0"), kShowLine}, true},
    // An app version that sorts below an absent store version still needs a store version.
    {"EmptyAppVersionNoStoreVersion", "{}", "", std::nullopt, {notNewerLine("", "(null)")}, false},
    // The store's words reach the log as one printable line each.
    {"VersionWithControls",
     reply(R"(3.0\u001b]0;x\u0007\r\b\u0085\u202e)"),
     "2.0",
     std::nullopt,
     {found(R"(3.0\x1B]0;x\x07\r\x08\u0085\u202E)"), kShowLine},
     true},
    {"VersionForgingALogLine",
     reply(R"(1.0\nBrenvo: forged line found!)"),
     "1.9",
     std::nullopt,
     {notNewerLine("1.9", R"(1.0\nBrenvo: forged line found!)")},
     false},
    // A version the defaults file cannot hold whole stays skipped once skipped.
    {"SkippedVersionWithNul",
     reply(R"(2.0\u0000x)"),
     "1.9",
     "2.0\xEF\xBF\xBDx",
     {found(R"(2.0\x00x)"),
      R"(Brenvo: Version 2.0\x00x already skipped by user. No notification.)"},
     false},
    {"NonAsciiVersion",
     reply("2.0\\u00e9"),
     "2.0",
     std::nullopt,
     {found("2.0\xC3\xA9"), kShowLine},
     true},
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
    world.log.clear();
    world.loop.dispatch();

    ASSERT_GE(world.log.lines().size(), row.tail.size());
    const std::vector<std::string> tail(world.log.lines().end() - row.tail.size(),
                                        world.log.lines().end());
    EXPECT_EQ(tail, row.tail);
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
    world.loop.dispatch();
    EXPECT_EQ(BrenvoReleaseInfo::liveControllers(), 0u);
    EXPECT_TRUE(world.lastCheckIsNow());
    EXPECT_EQ(world.lastLine(), "Brenvo: Next Update Check in 86400 seconds. Check Interval is "
                                "86400 seconds.");
    EXPECT_EQ(world.nextTimeout(), 86400.0);
    EXPECT_FALSE(world.storedDefault(kBrenvoSkipVersion) && !row.skipped);
}

INSTANTIATE_TEST_SUITE_P(Agent, Decision, ::testing::ValuesIn(kDecisions),
                         [](const auto& p) { return std::string(p.param.name); });

// Replies of a shape the check cannot decide on, and transfers that fail: each ends the check
// with its own line and leaves the next check one interval away.
struct FaultCase {
    const char* name;
    std::function<void(LoopbackServer&)> serve;
    std::vector<std::string> tail;
    double clientTimeout = 3.0;
};

std::ostream& operator<<(std::ostream& out, const FaultCase& row) {
    return out << row.name;
}

const std::string kNotJsonLine = "Brenvo: Reply is not a JSON object or array.";

std::string unusable(std::string_view why) {
    return "Brenvo: Reply not usable: " + std::string(why) + ". No decision this time.";
}

// A plain reply of `status` with `body`.
std::function<void(LoopbackServer&)> plain(int status, std::string body,
                                           std::string type = "application/json") {
    return [=](LoopbackServer& s) { s.reply("/lookup", status, body, type); };
}

std::vector<FaultCase> faultCases() {
    using S = LoopbackServer&;
    const std::string none = notNewerLine("1.9", "(null)");
    return {
        // A stopped server's port refuses the connection.
        {"ConnectionRefused", [](S s) { s.stop(); }, {kNoResponseLine}},
        {"NeverAnswers", [](S s) { s.neverAnswer("/lookup"); }, {kNoResponseLine}, 1.0},
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
        {"ForbiddenEmpty", plain(403, ""), {kNoResponseLine}},
        {"ServerErrorPage",
         plain(500, "<html><body>Internal Server Error</body></html>", "text/html"),
         {kNotJsonLine, none}},
        {"NotUtf8",
         plain(200, "{\"results\":[{\"version\":\"9.\xff\"}]}"),
         {"Brenvo: Reply is not UTF-8 text.", none}},
        {"NotJson", plain(200, "version=9.0"), {kNotJsonLine, none}},
        {"ErrorObject",
         plain(400, R"({"errorMessage":"Invalid value(s) for key(s): [id]","queryParameters":{}})"),
         {none}},
        {"EmptyResults",
         plain(200, R"({"resultCount":0,"results":[]})"),
         {"Brenvo: Reply holds no release record: \"results\" is empty. No decision this time."}},
        {"TopLevelArray",
         plain(200, R"([{"version":"9.0"}])"),
         {unusable("its top level is an array, not an object")}},
        {"ResultsNotArray",
         plain(200, R"({"results":{"version":"9.0"}})"),
         {unusable("\"results\" is not an array")}},
        {"RecordNotObject",
         plain(200, R"({"results":["9.0"]})"),
         {unusable("\"results\"[0] is not an object")}},
        {"VersionNotText",
         plain(200, R"({"results":[{"version":9.0}]})"),
         {unusable("\"version\" of the release record is not a text")}},
    };
}

class Fault : public ::testing::TestWithParam<FaultCase> {};

TEST_P(Fault, EndsCleanlyWithTheNextCheckScheduled) {
    const FaultCase& row = GetParam();
    AgentWorld world(AgentSetup{.info = AgentWorld::host(), .clientTimeout = row.clientTimeout});
    row.serve(world.server);
    Brenvo agent(*world.services);
    world.loop.dispatch();

    ASSERT_GE(world.log.lines().size(), row.tail.size());
    const std::vector<std::string> tail(world.log.lines().end() - row.tail.size(),
                                        world.log.lines().end());
    EXPECT_EQ(tail, row.tail);
    expectScheduledAgain(world);
    world.server.stop();
}

INSTANTIATE_TEST_SUITE_P(Agent, Fault, ::testing::ValuesIn(faultCases()),
                         [](const auto& p) { return std::string(p.param.name); });

// "BrenvoCastUrl" is used exactly as written, the identifier right after it.
TEST(AgentCheck, CastUrlPrefixesTheIdentifierExactly) {
    const std::pair<std::string, std::string> prefixes[] = {
        {"/lookup?id=", "/lookup?id=123456"},
        {"/v2/apps/", "/v2/apps/123456"},
        {"/lookup?country=de&id=", "/lookup?country=de&id=123456"},
        {"/lookup?id=000", "/lookup?id=000123456"},
    };
    for (const auto& [prefix, target] : prefixes) {
        AgentWorld world(AgentSetup{.info = AgentWorld::host()});
        world.setInfo(kBrenvoCastUrl, PlistValue(world.server.url(prefix)));
        world.server.reply(target.substr(0, target.find('?')), 200, reply("1.0"));
        Brenvo agent(*world.services);
        world.loop.dispatch();
        EXPECT_EQ(world.server.requests(), std::vector<std::string>{target});
        EXPECT_EQ(world.lastLine(), notNewerLine("1.9", "1.0"));
    }
}

// Without "BrenvoCastUrl" the store's own lookup service is asked, over HTTPS, with the
// request's own 10-second time-out. Kept off the network: nothing arrives.
TEST(AgentCheck, DefaultEndpointIsTheStoreOverHttps) {
    AgentWorld world(AgentSetup{.info = AgentWorld::host(), .castToLoopback = false});
    world.http.forward = false;
    Brenvo agent(*world.services);
    world.loop.dispatch();
    const std::string url = "https://itunes.apple.com/lookup?id=123456";
    EXPECT_TRUE(world.log.contains("Brenvo: Starting HTTP Request for MAS App ID 123456 using "
                                   "Request URL '" +
                                   url + "'"));
    ASSERT_EQ(world.http.requests.size(), 1u);
    EXPECT_EQ(world.http.requests[0].url, url);
    EXPECT_EQ(world.http.requests[0].cachePolicy, 0);
    EXPECT_EQ(world.http.requests[0].timeoutInterval, 10.0);
    EXPECT_EQ(world.lastLine(), kNoResponseLine);
    expectScheduledAgain(world);
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
    world.loop.dispatch(); // the check shows the window
    world.loop.dispatch(); // the window answers Skip and closes
    world.loop.dispatch(); // the controller goes away
    EXPECT_EQ(world.window.shown().size(), 1u);
    EXPECT_EQ(world.storedDefault(kBrenvoSkipVersion), PlistValue("2.0"));
    EXPECT_EQ(world.nextTimeout(), 86400.0);

    world.advanceAndDispatch(86400);
    EXPECT_EQ(world.lastLine(), kSkippedLine);
    EXPECT_EQ(world.window.shown().size(), 1u);

    version = "2.1";
    world.advanceAndDispatch(86400);
    EXPECT_EQ(world.lastLine(), kShowLine);
    EXPECT_EQ(world.window.shown().size(), 2u);
    world.loop.dispatch();
    world.loop.dispatch();
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
    world.loop.dispatch();
    EXPECT_EQ(world.log.lines(),
              std::vector<std::string>{"Brenvo: No update check possible. Please set BrenvoAppId "
                                       "in Main Bundle Info.plist."});
    EXPECT_TRUE(world.server.requests().empty());
    EXPECT_TRUE(world.http.requests.empty());
    expectScheduledAgain(world);
}

// The request's time-out bounds the check: a server that never answers holds the loop's thread
// for ten seconds, then the check ends and the schedule stands.
TEST(AgentCheck, SilentServerEndsTheCheckAfterTenSeconds) {
    AgentWorld world(AgentSetup{.info = AgentWorld::host(), .clientTimeout = 60.0});
    world.server.neverAnswer("/lookup");
    Brenvo agent(*world.services);
    const auto start = std::chrono::steady_clock::now();
    world.loop.dispatch();
    const double waited =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_GE(waited, 9.5);
    EXPECT_LT(waited, 30.0);
    EXPECT_EQ(world.lastLine(), kNoResponseLine);
    expectScheduledAgain(world);
    world.server.stop();
}

} // namespace
} // namespace brenvo::test
