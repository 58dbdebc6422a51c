// The check's steps on their own: a reply becomes a release record, and the decision with its
// gates. No network, no files: plain values in, lines and an outcome out.
#include "brenvo/BrenvoCheck.h"

#include "brenvo/JSON/XKJSON.h"
#include "brenvo/platform/Window.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace brenvo::check {
namespace {

using Kind = CheckOutcome::Kind;
using Gate = CheckOutcome::Gate;

platform::URLResponse body(std::string_view text) {
    platform::URLResponse response;
    response.body.assign(text.begin(), text.end());
    return response;
}

platform::URLResponse failed(std::string error, bool tooLarge = false) {
    platform::URLResponse response;
    response.error = std::move(error);
    response.tooLarge = tooLarge;
    return response;
}

std::string unusable(std::string_view why) {
    return "Reply not usable: " + std::string(why) + ". No decision this time.";
}

struct ReplyCase {
    const char* name;
    platform::URLResponse response;
    std::vector<std::string> lines;
    std::optional<Kind> ending; // nullopt: on to the decision
    std::string reason;
    std::optional<std::string> version;
};

std::string repeated(std::string_view text, size_t times) {
    std::string out;
    for (size_t i = 0; i < times; ++i)
        out += text;
    return out;
}

TEST(CheckSteps, ReadReplyEndsEachShapeWithItsLine) {
    const std::string kNoResponse = "No response for HTTP Request (Reponse Length is 0).";
    const std::string kTooLong =
        unusable("\"version\" of the release record is longer than 256 bytes");
    const ReplyCase cases[] = {
        {"record", body(R"({"results":[{"version":"2.0","trackId":1}]})"), {}, {}, "", "2.0"},
        {"empty body", body(""), {kNoResponse}, Kind::NoReply, "empty reply", {}},
        {"refused",
         failed("Couldn't connect to server"),
         {"HTTP Request failed: Couldn't connect to server", kNoResponse},
         Kind::NoReply,
         "Couldn't connect to server",
         {}},
        {"too large",
         failed("the response is larger than 4194304 bytes", true),
         {"No response for HTTP Request (Response larger than 4194304 bytes was dropped)."},
         Kind::NoReply,
         "the reply is larger than 4194304 bytes",
         {}},
        {"not UTF-8",
         body("{\"results\":[{\"version\":\"9.\xff\"}]}"),
         {"Reply is not UTF-8 text."},
         {},
         "the reply is not UTF-8 text",
         {}},
        {"error page",
         body("<html><body>Internal Server Error</body></html>"),
         {"Reply is not a JSON object or array."},
         {},
         "the reply is not a JSON object or array",
         {}},
        {"error object",
         body(R"({"errorMessage":"Invalid value(s) for key(s): [id]"})"),
         {},
         {},
         "the reply has no \"results\"",
         {}},
        {"no version",
         body(R"({"results":[{}]})"),
         {},
         {},
         "the release record has no \"version\"",
         {}},
        {"empty results",
         body(R"({"resultCount":0,"results":[]})"),
         {"Reply holds no release record: \"results\" is empty. No decision this time."},
         Kind::UnusableReply,
         "\"results\" is empty",
         {}},
        {"top-level array",
         body(R"([{"version":"9.0"}])"),
         {unusable("its top level is an array, not an object")},
         Kind::UnusableReply,
         "its top level is an array, not an object",
         {}},
        {"results not array",
         body(R"({"results":{"version":"9.0"}})"),
         {unusable("\"results\" is not an array")},
         Kind::UnusableReply,
         "\"results\" is not an array",
         {}},
        {"record not object",
         body(R"({"results":["9.0"]})"),
         {unusable("\"results\"[0] is not an object")},
         Kind::UnusableReply,
         "\"results\"[0] is not an object",
         {}},
        {"version not text",
         body(R"({"results":[{"version":9.0}]})"),
         {unusable("\"version\" of the release record is not a text")},
         Kind::UnusableReply,
         "\"version\" is not a text",
         {}},
        // A version is at most 256 bytes of UTF-8, however few characters it takes.
        {"version of 256 bytes",
         body(R"({"results":[{"version":")" + std::string(256, '9') + R"("}]})"),
         {},
         {},
         "",
         std::string(256, '9')},
        {"version of 257 bytes",
         body(R"({"results":[{"version":")" + std::string(257, '9') + R"("}]})"),
         {kTooLong},
         Kind::UnusableReply,
         "\"version\" is longer than 256 bytes",
         {}},
        {"version of 129 two-byte characters",
         body(R"({"results":[{"version":")" + repeated("\u00E9", 129) + R"("}]})"),
         {kTooLong},
         Kind::UnusableReply,
         "\"version\" is longer than 256 bytes",
         {}},
        {"version of four million characters",
         body(R"({"results":[{"version":"9)" + std::string(4'000'000, '&') + R"("}]})"),
         {kTooLong},
         Kind::UnusableReply,
         "\"version\" is longer than 256 bytes",
         {}},
        // Only element 0 counts, however long the list.
        {"first of many",
         body(R"({"results":[{"version":"3.1"},{"version":"9.9"},7]})"),
         {},
         {},
         "",
         "3.1"},
    };
    for (const ReplyCase& c : cases) {
        std::vector<std::string> lines;
        const ReleaseReading reading =
            readReply(c.response, [&](std::string_view text) { lines.emplace_back(text); });
        EXPECT_EQ(lines, c.lines) << c.name;
        EXPECT_EQ(reading.ending, c.ending) << c.name;
        EXPECT_EQ(reading.reason, c.reason) << c.name;
        EXPECT_EQ(reading.release ? reading.release->version : std::nullopt, c.version) << c.name;
        EXPECT_EQ(reading.release != nullptr,
                  c.version.has_value() || c.reason.starts_with("the release"))
            << c.name;
    }
}

// The record's fields as the decision and the window take them: read once, texts only, long ones
// cut as a window shows them.
TEST(CheckSteps, StoreReleaseReadsEachFieldOnce) {
    const std::string longNotes = repeated("\u00E9", 40'000); // 80,000 bytes of UTF-8
    const std::string record =
        R"({"version":")" + std::string(300, '7') + R"(","releaseNotes":")" + longNotes +
        R"(","currentVersionReleaseDate":"2026-01-02T03:04:05Z",)"
        R"("minimumOsVersion":12,"trackViewUrl":"https://apps.apple.com/x"})";
    const StoreRelease release = readStoreRelease(
        std::make_shared<const JsonValue>(*XKJSON().objectWithString(record, nullptr)));
    EXPECT_FALSE(release.version);
    EXPECT_EQ(release.versionFault, StoreRelease::VersionFault::TooLong);
    EXPECT_EQ(release.shownVersion, std::string(256, '7') + "\u2026");
    ASSERT_TRUE(release.releaseNotes); // 32,768 characters of two bytes, then "…"
    EXPECT_EQ(release.releaseNotes->size(), platform::kMaxShownReleaseNotes + 3);
    EXPECT_TRUE(release.releaseNotes->ends_with("\u00E9\u2026"));
    EXPECT_EQ(release.releaseDate, "2026-01-02T03:04:05Z");
    EXPECT_FALSE(release.minimumOsVersion); // a number is no text
    EXPECT_EQ(release.page, "https://apps.apple.com/x");

    const StoreRelease empty = readStoreRelease(nullptr);
    ASSERT_TRUE(empty.record);
    EXPECT_FALSE(empty.version || empty.shownVersion || empty.releaseNotes || empty.page);
    EXPECT_EQ(empty.versionFault, StoreRelease::VersionFault::None);
}

struct DecisionCase {
    const char* name;
    DecisionInput input;
    std::vector<std::string> lines;
    Kind kind;
    Gate gate = Gate::None;
};

DecisionInput versions(std::optional<std::string> store, std::optional<std::string> app,
                       std::optional<std::string> skipped = std::nullopt,
                       StoreRelease release = {}) {
    DecisionInput input;
    release.version = std::move(store);
    input.release = std::make_shared<const StoreRelease>(std::move(release));
    input.appVersion = std::move(app);
    input.skippedVersion = std::move(skipped);
    input.now = platform::Date{1'800'000'000.0}; // 2027-01-15T08:00:00Z
    return input;
}

DecisionInput aged(std::optional<std::string> date, int64_t minimum) {
    StoreRelease release;
    release.releaseDate = std::move(date);
    DecisionInput input = versions("2.0", "1.9", std::nullopt, std::move(release));
    input.minimumReleaseAge = minimum;
    return input;
}

DecisionInput needing(std::string minimum, std::optional<std::string> system) {
    StoreRelease release;
    release.minimumOsVersion = std::move(minimum);
    DecisionInput input = versions("2.0", "1.9", std::nullopt, std::move(release));
    input.systemVersion = std::move(system);
    return input;
}

DecisionInput asked(DecisionInput input) {
    input.userInitiated = true;
    return input;
}

std::string notNewer(std::string_view app, std::string_view store) {
    return "No new Version available. App Version: " + std::string(app) +
           ", MAS Version: " + std::string(store);
}

const std::string kFound = "New Version 2.0 found!";

TEST(CheckSteps, DecideFromVersionsSkipAndGates) {
    const DecisionCase cases[] = {
        {"equal", versions("1.2", "1.2"), {notNewer("1.2", "1.2")}, Kind::UpToDate},
        {"older", versions("1.9", "2.0"), {notNewer("2.0", "1.9")}, Kind::UpToDate},
        {"numeric components",
         versions("1.10", "1.9"),
         {"New Version 1.10 found!"},
         Kind::UpdateAvailable},
        {"no app version", versions("1.0", {}), {"New Version 1.0 found!"}, Kind::UpdateAvailable},
        {"no store version", versions({}, ""), {notNewer("", "(null)")}, Kind::UpToDate},
        {"non-ASCII",
         versions("2.0\xC3\xA9", "2.0"),
         {"New Version 2.0\xC3\xA9 found!"},
         Kind::UpdateAvailable},
        {"skipped",
         versions("2.0", "1.9", "2.0"),
         {kFound, "Version 2.0 already skipped by user. No notification."},
         Kind::Skipped},
        {"skipped text differs", versions("2.0", "1.9", "2.0.0"), {kFound}, Kind::UpdateAvailable},
        {"skipped as stored",
         versions(std::string("2.0\0x", 5), "1.9", "2.0\xEF\xBF\xBDx"),
         {"New Version " + std::string("2.0\0x", 5) + " found!",
          "Version " + std::string("2.0\0x", 5) + " already skipped by user. No notification."},
         Kind::Skipped},
        {"skipped, but the user asked",
         asked(versions("2.0", "1.9", "2.0")),
         {kFound, "Version 2.0 was skipped by the user, who now asked for updates."},
         Kind::UpdateAvailable},
        // The release age: the store lists a version hours before it can deliver it.
        {"released an hour ago",
         aged("2027-01-15T07:00:00Z", 86400),
         {kFound, "Version 2.0 held back by BrenvoMinimumReleaseAge: released 3600 seconds ago, "
                  "86400 seconds required."},
         Kind::HeldBack,
         Gate::MinimumReleaseAge},
        {"released long enough ago",
         aged("2027-01-14T08:00:00Z", 86400),
         {kFound},
         Kind::UpdateAvailable},
        {"release date with an offset",
         aged("2027-01-15T10:00:00+04:00", 7200),
         {kFound},
         Kind::UpdateAvailable},
        {"release date unreadable",
         aged("yesterday", 86400),
         {kFound, "The release date of version 2.0 cannot be read. BrenvoMinimumReleaseAge does "
                  "not hold it back."},
         Kind::UpdateAvailable},
        {"no minimum age", aged("2027-01-15T07:59:59Z", 0), {kFound}, Kind::UpdateAvailable},
        {"gates hold back what the user asked for too",
         asked(aged("2027-01-15T07:00:00Z", 86400)),
         {kFound, "Version 2.0 held back by BrenvoMinimumReleaseAge: released 3600 seconds ago, "
                  "86400 seconds required."},
         Kind::HeldBack,
         Gate::MinimumReleaseAge},
        {"system too old",
         needing("10.13", "10.12.6"),
         {kFound, "Version 2.0 held back by its minimumOsVersion: it needs system version 10.13, "
                  "this system has 10.12.6."},
         Kind::HeldBack,
         Gate::MinimumOsVersion},
        {"system new enough", needing("10.13", "10.13.0"), {kFound}, Kind::UpdateAvailable},
        {"system unknown", needing("99.0", std::nullopt), {kFound}, Kind::UpdateAvailable},
    };
    for (const DecisionCase& c : cases) {
        std::vector<std::string> lines;
        const Decision decision =
            decide(c.input, [&](std::string_view text) { lines.emplace_back(text); });
        EXPECT_EQ(lines, c.lines) << c.name;
        EXPECT_EQ(decision.kind, c.kind) << c.name;
        EXPECT_EQ(decision.gate, c.gate) << c.name;
    }
}

TEST(CheckSteps, OutcomesInTheToolsWords) {
    auto outcome = [](Kind kind, std::optional<std::string> version, std::string reason = "",
                      Gate gate = Gate::None) {
        CheckOutcome result;
        result.kind = kind;
        result.version = std::move(version);
        result.reason = std::move(reason);
        result.gate = gate;
        return result;
    };
    const std::pair<CheckOutcome, std::string> cases[] = {
        {outcome(Kind::UpdateAvailable, "2.0"), "update-available 2.0"},
        {outcome(Kind::UpToDate, "1.0"), "up-to-date 1.0"},
        {outcome(Kind::Skipped, "2.0"), "skipped 2.0"},
        {outcome(Kind::HeldBack, "2.0", "", Gate::MinimumReleaseAge),
         "held-back minimum-release-age 2.0"},
        {outcome(Kind::HeldBack, "2.0", "", Gate::MinimumOsVersion),
         "held-back minimum-os-version 2.0"},
        {outcome(Kind::NoReply, {}, "Timeout was reached"), "no-reply Timeout was reached"},
        {outcome(Kind::UnusableReply, {}, "\"results\" is empty"),
         "unusable-reply \"results\" is empty"},
        {outcome(Kind::NotConfigured, {}), "not-configured"},
        // The store's words stay on one line.
        {outcome(Kind::UpToDate, "1.0\nforged\x1B[2J"), "up-to-date 1.0\\nforged\\x1B[2J"},
    };
    for (const auto& [value, words] : cases)
        EXPECT_EQ(describeOutcome(value), words);
}

TEST(CheckSteps, OnlyLookupsOffThisMachineNeedTheNetwork) {
    const std::pair<const char*, bool> cases[] = {
        {"http://127.0.0.1:8080/lookup?id=", false},
        {"https://LocalHost/x", false},
        {"http://user@127.1.2.3?id=1", false},
        {"http://[::1]:99/", false},
        {"https://itunes.apple.com/lookup?id=1", true},
        {"http://127.0.0.1.example.com/", true},
        {"http://127.0.0.1000/", true},
        {"http://[::1]x/", true},
        {"http://localhost@example.com/", true},
        {"not a url", true},
    };
    for (const auto& [url, needs] : cases)
        EXPECT_EQ(needsNetwork(url), needs) << url;
}

} // namespace
} // namespace brenvo::check
