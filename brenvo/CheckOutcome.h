// How one check ended: exactly one per check, scheduled or started by the host, delivered on the
// agent's thread after the decision and before any window shows.
//
//   agent.setOutcomeObserver([](const brenvo::CheckOutcome& outcome) {
//       if (outcome.kind == brenvo::CheckOutcome::Kind::UpToDate) showUpToDate(*outcome.version);
//   });
#pragma once

#include "brenvo/Export.h"
#include "brenvo/StoreRelease.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace brenvo {

struct BRENVO_EXPORT CheckOutcome {
    enum class Kind {
        UpdateAvailable, // newer and announced: the release window follows
        UpToDate,        // the store's version is not newer than the host's
        Skipped,         // newer, but the user chose to skip exactly this version
        HeldBack,        // newer, but a gate holds it back (see gate)
        NoReply,         // nothing usable arrived (see reason)
        UnusableReply,   // a reply arrived that gives no store version (see reason)
        NotConfigured,   // the host's Info.plist has no "BrenvoAppId"
        RateLimited,     // the store answered 429 or 503, whatever the body (see retryAfter)
        Disabled,        // switched off by the administrator or for this run (see disabledBy)
        Managed,         // a package manager brings the updates (see packageManager)
    };
    enum class Gate { None, MinimumReleaseAge, MinimumOsVersion };
    // What switched checks off: the policy file "brenvo/policy.conf" under $XDG_CONFIG_DIRS, or
    // BRENVO_DISABLE in the environment.
    enum class DisabledBy { None, Policy, Environment };
    enum class PackageManager { None, Flatpak, Snap };

    Kind kind = Kind::NotConfigured;
    std::optional<std::string> version;          // the store's version, when the reply had one
    std::shared_ptr<const StoreRelease> release; // the release record, when the reply had one
    Gate gate = Gate::None;                      // for HeldBack
    std::string reason;                          // for NoReply and UnusableReply
    // For NoReply: a connection to the store was made, and no answer came over it in time (or
    // the answer was cut off or too large); false when the store could not be reached at all.
    bool storeReached = false;
    bool userInitiated = false; // started by Brenvo::checkForUpdates()
    // For RateLimited: the wait the store's "Retry-After" asked for, in seconds (0 to 7 days),
    // when it had a readable one; and the seconds until the next scheduled check.
    std::optional<int64_t> retryAfter;
    int64_t nextCheckIn = 0;
    DisabledBy disabledBy = DisabledBy::None;             // for Disabled
    PackageManager packageManager = PackageManager::None; // for Managed
};

// The outcome in the words `brenvo check` prints: "update-available 2.0", "up-to-date 1.0",
// "skipped 2.0", "held-back minimum-release-age 2.0", "held-back minimum-os-version 2.0",
// "no-reply <reason>", "unusable-reply <reason>", "not-configured", "rate-limited <seconds>" (the
// store's wait, or without one the seconds until the next scheduled check), "disabled policy",
// "disabled environment", "managed flatpak", "managed snap". Texts from the reply
// are shown printable, on one line.
BRENVO_EXPORT std::string describeOutcome(const CheckOutcome& outcome);

} // namespace brenvo
