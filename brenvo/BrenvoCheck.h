// One check, step by step. Hosts need none of this: the agent (brenvo/Brenvo.h) runs the steps
// and hands over how the check ended (brenvo/CheckOutcome.h).
//
// The agent runs the steps in this order, each writing its debug lines as it goes: one reading of
// the host's settings (readSettings) gives the schedule, the lookup URL (lookupUrl) and, once the
// reply is in, the host's side of the decision; the switches of the administrator, the environment
// and a package manager may stop the check before it asks (restraint); the request goes out on the
// run loop; a reply with status 429 or 503 ends the check as a rate limit (isRateLimited,
// readRetryAfter); any other becomes a release record (readReply: UTF-8, JSON, then the shape, each
// with an early return); and a decision is taken from the store's version, the host's, the skipped
// one and the gates (decide). The steps after the request take plain values and write their lines
// through a function, so each can be tried alone.
#pragma once

#include "brenvo/CheckOutcome.h"
#include "brenvo/Export.h"
#include "brenvo/StoreRelease.h"
#include "brenvo/platform/Bundle.h"
#include "brenvo/platform/HttpClient.h"
#include "brenvo/platform/PropertyList.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace brenvo {

namespace check {

// Where a step writes its debug lines (the agent's logMessage()).
using Note = std::function<void(std::string_view text)>;

// The host's Info.plist as the agent uses it, from one reading: at start-up, at each arming, and
// at each check, whose decision uses what the check read at its start.
struct AgentSettings {
    std::optional<std::string> appId;   // "BrenvoAppId" in its text form; any kind is present
    std::optional<std::string> castUrl; // "BrenvoCastUrl" in its text form
    std::optional<std::string> country; // "BrenvoCountry" in its text form
    // "BrenvoInterval"'s integer reading: nullopt when absent or without one (a date, an array),
    // which `intervalUnreadable` tells apart.
    std::optional<int64_t> interval;
    bool intervalUnreadable = false;
    bool debugMessages = false;                  // "BrenvoDebugMessages"'s boolean reading
    std::optional<int64_t> minimumReleaseAge;    // "BrenvoMinimumReleaseAge"'s integer reading
    std::optional<std::string> appVersion;       // "CFBundleShortVersionString" in its text form
    std::optional<std::string> bundleIdentifier; // "CFBundleIdentifier" in its text form
    // "BrenvoAutomaticChecks"'s boolean reading: the default of the user's switch.
    std::optional<bool> automaticChecks;
    std::optional<std::string> whenPackaged; // "BrenvoWhenPackaged" in its text form
};

// The settings from one reading of `mainBundle`'s Info.plist.
BRENVO_EXPORT AgentSettings readSettings(const platform::Bundle& mainBundle);

// The URL a check asks: "BrenvoCastUrl" exactly as the host wrote it, or kDefaultLookupUrlPrefix
// (brenvo/Brenvo.h), followed by the identifier; the default one then ends in "&country=xx" for a
// "BrenvoCountry" of two ASCII letters, lower-cased. Any other country is left out with a debug
// line. `settings.appId` must be present.
BRENVO_EXPORT std::string lookupUrl(const AgentSettings& settings, const Note& note);

// False when `url` names this machine ("localhost", 127.0.0.0/8, "[::1]"), which answers
// without any network; true for every other URL, readable or not.
BRENVO_EXPORT bool needsNetwork(std::string_view url);

// Why a check must not reach the store, with its debug lines: BRENVO_DISABLE, then the
// administrator's policy for `settings.bundleIdentifier` (brenvo/platform/linux/UpdatePolicy.h; a
// policy file that cannot be used disables nothing and says why through `warn`), then, for a
// scheduled check, a package manager unless "BrenvoWhenPackaged" is "announce". nullopt lets the
// check go on; otherwise an outcome of kind Disabled or Managed.
BRENVO_EXPORT std::optional<CheckOutcome>
restraint(const AgentSettings& settings, bool userInitiated, const Note& note, const Note& warn);

// A reply that asks for fewer requests: status 429 or 503, whatever its body.
BRENVO_EXPORT bool isRateLimited(const platform::URLResponse& response);

// The wait a rate-limited reply asks for, with its debug line: "Retry-After" in seconds or as an
// HTTP date after `now`, clamped to 0 through kMaximumRetryAfter; nullopt when the reply has none
// or one that cannot be read.
BRENVO_EXPORT std::optional<int64_t> readRetryAfter(const platform::URLResponse& response,
                                                    platform::Date now, const Note& note);

// What a reply gave.
struct ReleaseReading {
    // No decision is possible: the check ends here with a NoReply or UnusableReply outcome.
    // Otherwise the decision follows, with `version` absent when the reply had none (its
    // outcome is then UnusableReply with `reason`, after the decision's not-newer line).
    std::optional<CheckOutcome::Kind> ending;
    std::string reason;
    std::shared_ptr<const StoreRelease> release; // "results"[0], when the reply has one
    bool storeReached = false;                   // for NoReply: a connection to the store was made
};

// The reply as a release record, with the debug lines of every way it can fail.
BRENVO_EXPORT ReleaseReading readReply(platform::URLResponse response, const Note& note);

// Everything the decision depends on, read by the agent beforehand.
struct DecisionInput {
    // The store's side: its version, and for the gates the release date and minimum system.
    std::shared_ptr<const StoreRelease> release;
    std::optional<std::string> appVersion;
    std::optional<std::string> skippedVersion; // as stored in the defaults
    bool userInitiated = false;                // a user who asked sees a skipped version again
    // The gates: "BrenvoMinimumReleaseAge" with the record's release date and the clock; the
    // record's minimum system version with the system's version.
    std::optional<int64_t> minimumReleaseAge; // seconds
    platform::Date now;
    std::optional<std::string> systemVersion; // "major.minor.bugFix", when it can be read
};

struct Decision {
    CheckOutcome::Kind kind;
    CheckOutcome::Gate gate = CheckOutcome::Gate::None;
};

// The decision, with its lines: the not-newer line, or "New Version %@ found!" followed by the
// skipped line or a held-back line. Never UpdateAvailable without a store version.
BRENVO_EXPORT Decision decide(const DecisionInput& input, const Note& note);

} // namespace check
} // namespace brenvo
