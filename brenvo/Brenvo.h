// The update agent: checks once per interval whether the store offers a newer version of the
// host application and, when it does, shows the release-info window.
//
//   int main() {
//       brenvo::Brenvo agent;                        // reads BrenvoAppId & co from Info.plist
//       brenvo::platform::RunLoop::currentRunLoop().run();
//   }
//
// A host may also offer "Check for Updates…" and hear how every check ended:
//
//   agent.setOutcomeObserver([&](const brenvo::CheckOutcome& outcome) {
//       if (outcome.userInitiated && outcome.kind == brenvo::CheckOutcome::Kind::UpToDate)
//           showMessage("You are up to date.");
//   });
//   agent.checkForUpdates();                          // from the menu item
//
// The agent works on the run loop of its services and on that thread only: with the default
// services, the run loop of the thread that constructs it. Agents on several threads may share
// the default services; each hears "BrenvoReleaseWindowClosed" on its own thread, whichever
// thread posted it. Its settings come from the host's Info.plist, read afresh, in one reading, at
// start-up, at every arming and at every check (whose decision uses what the check read at its
// start): "BrenvoAppId" (required; without it the agent never checks), "BrenvoInterval" (seconds,
// default 86400), "BrenvoCastUrl" (replaces the lookup URL up to the identifier),
// "BrenvoCountry" (two ASCII letters, any case: the default lookup URL ends in "&country=xx",
// lower-cased; any other value is left out with a debug line, and a "BrenvoCastUrl" is never
// changed), "BrenvoDebugMessages", "BrenvoMinimumReleaseAge" (seconds: a version
// is announced only that long after the record's "currentVersionReleaseDate"),
// "BrenvoAutomaticChecks" (the default of the user's switch below) and "BrenvoWhenPackaged"
// ("announce" checks under a package manager as anywhere else). Its state is the date of the last
// check under "BrenvoLastCheck" in the user's defaults, the user's switch under
// "BrenvoAutomaticChecks" there, the process-wide timer slot, and in memory only the end of a
// wait the store asked for.
//
// Switches, read afresh at every check:
// - The user's (setAutomaticallyChecksForUpdates()): off, no check is scheduled; the host's own
//   calls still check.
// - The administrator's: "brenvo/policy.conf" in the first folder of $XDG_CONFIG_DIRS (default
//   /etc/xdg) that has one, in the key-file format of desktop entries, "Enabled=false" in the
//   group named by "CFBundleIdentifier", else in "[Checks]"; or BRENVO_DISABLE=1 for one run.
//   Either way no request of any kind is sent, and the check ends Disabled. A policy file that
//   cannot be read or parsed disables nothing and says why in a line the log always gets.
// - A package manager's: inside Flatpak ("/.flatpak-info", or FLATPAK_ID) or Snap (SNAP and
//   SNAP_NAME) a scheduled check is not sent and ends Managed, unless "BrenvoWhenPackaged" is
//   "announce"; checkForUpdates() is sent all the same.
// A scheduled check that a switch stops still counts as made ("BrenvoLastCheck"), so the schedule
// keeps its pace; a stopped checkForUpdates() records nothing.
//
// The check records itself, arms the next one and sends its request, then returns to the loop:
// the reply (or its failure) arrives on the loop, is parsed on a short-lived thread of its own,
// which also releases all of it but the release record (so even a reply of the size cap made of a
// million small values never stalls the loop), and the decision follows on the loop's thread.
// One check is in flight per agent at most; destroying the agent cancels it, and a reply still
// being parsed is then dropped.
//
// How odd settings read:
// - "BrenvoInterval" uses the integer reading of its value (a number, or a text with a leading
//   decimal integer; a text without digits is 0). A value without an integer reading (an array,
//   a dictionary, a date, data) counts as absent: 86400, with a debug line saying so.
// - Checks are at least 60 seconds apart whatever the settings: a smaller interval (0, negative,
//   a text without digits) is used as 60, with a debug line each time the timer is armed. The
//   first check of a process still runs at once when no check was ever recorded.
// - "BrenvoLastCheck" holding anything but a date counts as never checked: the check is due at
//   once (delay 0), and that check replaces the value with a date. A debug line says so. A date
//   in the future (a clock that was ahead) counts as a check made now, so the wait is never
//   longer than one interval; a debug line says so too.
// - Interval, elapsed time and delay are signed 64-bit seconds; their arithmetic saturates
//   instead of overflowing, and a stored date that is not a finite number counts as never checked.
// - An agent has at most one pending check: arming (at start-up, in a check, on
//   "BrenvoReleaseWindowClosed" from any sender) cancels the agent's earlier pending timer.
// - The skipped version is compared in the form the defaults file holds (platform::storableText),
//   so a version the file cannot hold whole stays skipped once skipped.
// - Log lines are one printable line each: control and format characters from the store's reply
//   show as visible escapes, and each text from outside in a line is cut at 1 KiB with "…"
//   (brenvo/utf/Printable.h).
// - "BrenvoAppId" of any kind counts as present; its text form (PlistValue::description()) goes
//   into the request URL.
// - An absent value inside a log line is written as "(null)".
//
// The check asks "https://itunes.apple.com/lookup?id=<BrenvoAppId>" (or "<BrenvoCastUrl><id>")
// with a 10-second time-out, reads "results"[0] as the release record and its "version" as the
// store version, and decides by compareVersions(store, app) (brenvo/BrenvoCheck.h has the steps).
// A newer version is held back, with a debug line, while it is younger than
// "BrenvoMinimumReleaseAge" or needs a newer system than the one running (the record's
// "minimumOsVersion", where the system's version can be read). Besides its fixed lines it writes
// these debug lines where a reply gives no decision; each ends the check with the next one
// already scheduled:
//   "No response for HTTP Request (Response larger than 4194304 bytes was dropped)."
//   "HTTP Request failed: <reason>"   (before the no-response line, when the client knows why)
//   "Reply is not UTF-8 text." / "Reply is not a JSON object or array."  (then the not-newer line)
//   "Reply not usable: ..." / "Reply holds no release record: ..."  (a reply of another shape,
//   or a "version" longer than 256 bytes, which is never stored, compared or shown)
// A reply without "results" or without "version" has an absent store version and is never
// announced. A reply of status 429 or 503 is a rate limit whatever its body (every other status
// leaves the body to decide): the check ends RateLimited with the debug line "The store limits
// requests (HTTP status <status>) ...", and its "Retry-After" (seconds or an HTTP date, at most 7
// days) delays the next scheduled check beyond the interval when it is longer. A scheduled check
// inside that wait is not sent ("The store asked for no request yet. ..."), and the next one is
// armed for its end; checkForUpdates() is sent all the same, and any other reply of the store ends
// the wait. Without "BrenvoAppId" at check time the always-message is written and nothing sent.
//
// Offline, a scheduled check is not spent:
// - With a network monitor (Services::networkMonitor; GTK and Qt hosts on GLib have GLib's), a
//   scheduled check that falls due while the system knows of no network, for a lookup URL off
//   this machine, is neither recorded nor sent ("No network is available. The scheduled check
//   waits for the network."); when the monitor reports the network back, the check follows after
//   5 seconds for the network to settle, and never sooner than the interval since the last
//   recorded check allows.
// - A scheduled check whose request the network failed (no route, the name not resolved, the
//   connection refused or timed out, with no response of any kind) is tried again after 5
//   minutes, then 30 minutes, then 2 hours ("The network failed. Trying again in <n> seconds."),
//   never beyond the next regular check. The retries are not recorded as checks, so the
//   schedule keeps its pace; any response, and any check the user starts, ends them.
#pragma once

#include "brenvo/CheckOutcome.h"
#include "brenvo/Export.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace brenvo {

namespace platform {
class HttpRequest;
class NetworkWatch;
struct Notification;
struct Services;
class Timer;
struct URLResponse;
} // namespace platform

class CheckResultMessage;

namespace check {
struct AgentSettings;
struct ReleaseReading;
} // namespace check

// The most recently armed check timer of the calling thread, shared by every agent of that
// thread (a timer can only be cancelled on the thread whose loop holds it, so each thread has
// its own slot). It is never cleared: after its timer has fired or been cancelled it still
// refers to that timer until the next arming on the thread replaces it. Cancelling through it
// twice is harmless.
extern BRENVO_EXPORT thread_local std::shared_ptr<platform::Timer> bvMasCheckMasUpdateTimer;

// The store lookup URL used when the host sets no "BrenvoCastUrl"; the identifier follows it.
inline constexpr std::string_view kDefaultLookupUrlPrefix = "https://itunes.apple.com/lookup?id=";

class BRENVO_EXPORT Brenvo {
public:
    // Starts the agent with the process-wide default services.
    Brenvo();
    // Starts the agent: logs its banner (debug only), and with "BrenvoAppId" present observes
    // "BrenvoReleaseWindowClosed" and arms the first check; without it writes the always-message
    // and stays inert. `services` must outlive the agent.
    explicit Brenvo(platform::Services& services);
    // Logs "Class dealloced." (debug only), stops observing, cancels the pending check and a
    // request in flight (nothing of the agent runs afterwards); a release window that is open
    // stays open.
    ~Brenvo();

    Brenvo(const Brenvo&) = delete;
    Brenvo& operator=(const Brenvo&) = delete;

    // Observer of "BrenvoReleaseWindowClosed": records now as the last check and arms the timer
    // for a full interval. The notification's contents are not read.
    void setTimerWithNotification(const platform::Notification& notification);
    // Arms the one-shot check timer for the rest of the interval since the last check (0 when
    // never checked) and stores it in bvMasCheckMasUpdateTimer; with automatic checks off, arms
    // nothing and cancels the pending check.
    void setTimer();
    // Stores the current date under "BrenvoLastCheck" and writes the defaults out at once.
    void setCurrentDateAsLastCheckDate();
    // The check: records it, arms the next one, sends the request for the host's record and
    // returns; when the reply arrives, shows the release-info window if the store's version is
    // newer, not skipped and not held back. While a request is in flight it starts no second one.
    void bvMasCheckMasUpdates();
    // "Check for Updates…", for a user who asked: the same check now, except that a version the
    // user skipped earlier is shown again. While a request is in flight it starts no second one;
    // the running check's outcome then counts as the user's.
    void checkForUpdates();
    // The user's switch for scheduled checks, kept under "BrenvoAutomaticChecks" in the user's
    // defaults; without a stored value, the Info.plist's "BrenvoAutomaticChecks", else on. Off,
    // no check is armed or sent by the schedule, while checkForUpdates() and
    // bvMasCheckMasUpdates() still check; turning it on arms the next check from the last one, as
    // at start-up.
    bool automaticallyChecksForUpdates();
    void setAutomaticallyChecksForUpdates(bool automaticallyChecks);
    // Calls `observer` with the outcome of every check, scheduled or not, on the agent's thread
    // after the decision and before any window shows. An empty function removes it. The
    // observer may destroy the agent; the check then ends without a window.
    void setOutcomeObserver(std::function<void(const CheckOutcome& outcome)> observer);
    // Off unless the host turns it on: a check the user asked for that shows no release window
    // then answers in a message with one "OK" button, in the kind of window a release would
    // show in (after the outcome observer has heard it): "Your version is current", or "The check
    // for updates did not succeed" with the reason (brenvo/CheckResultMessage.h). A host's own
    // window shows no messages. A message still open closes with the agent.
    void setShowsUserCheckResults(bool showsUserCheckResults);
    bool showsUserCheckResults() const { return showsUserCheckResults_; }
    // True while a check of this agent waits for its reply or reads it.
    bool isChecking() const { return request_ != nullptr || replyBeingRead_ != nullptr; }
    // Writes "Brenvo: " + text to the log when "BrenvoDebugMessages" reads true.
    void logMessage(std::string_view text);
    // Writes "Brenvo: " + text when "BrenvoDebugMessages" reads true or `Always` is set. The text
    // is written as it is; nothing in it is read as a format.
    void logMessage(std::string_view text, bool Always);

private:
    platform::Services& services_;
    // Expires with the agent; timers that outlive it find it expired and do nothing.
    std::shared_ptr<Brenvo*> self_;
    bool debugMessagesOn();
    // The user's switch, with `settings` read by the caller.
    bool automaticChecksOn(const check::AgentSettings& settings);
    // Arms the check timer as setTimer() does, with `settings` read by the caller, and never
    // before the store's wait ends; returns the delay in seconds. With the user's switch off it
    // cancels the pending check instead and returns 0.
    int64_t arm(const check::AgentSettings& settings, int64_t atLeast = 0);
    // The seconds until the next regular check, from the last one recorded and the store's wait,
    // and the interval it used; `note` hears why an odd setting reads as it does.
    struct NextCheck {
        int64_t delay;
        int64_t interval;
    };
    NextCheck regularDelay(const check::AgentSettings& settings,
                           const std::function<void(std::string_view)>& note);
    // Replaces the agent's pending check with one in `delay` seconds; `retry` marks a check that
    // tries again after the network failed.
    void armTimer(int64_t delay, bool retry);
    // After a scheduled check that the network failed: the next step of the retries, unless the
    // regular check comes first.
    void retryAfterNetworkFailure(const check::AgentSettings& settings);
    // The monitor's word: with the network back, a check that waits for it is armed.
    void networkChanged(bool available);
    // Ends a check whose reply asked for fewer requests: keeps the store's wait and re-arms.
    void rateLimited(const platform::URLResponse& response, const check::AgentSettings& settings);
    // `fromTimer`: the schedule's own check, which the user's switch can stop; `retry`: a check
    // that tries again after the network failed, and is not recorded.
    void check(bool userInitiated, bool fromTimer, bool retry = false);
    void replyArrived(platform::URLResponse response,
                      std::shared_ptr<const check::AgentSettings> settings);
    // The decision, on the loop, once the reply has been read elsewhere; `notes` are the debug
    // lines the reading wrote, `settings` what the check read at its start; `networkFailed`: no
    // response arrived because the network failed.
    void replyRead(check::ReleaseReading reading, const std::vector<std::string>& notes,
                   const check::AgentSettings& settings, bool networkFailed);
    // Writes "Brenvo: " + text when `settings` have debug messages on.
    void logDebug(const check::AgentSettings& settings, std::string_view text);
    // Writes "Brenvo: " + text, whatever the settings say.
    void writeLine(std::string_view text);
    // Hands `outcome` to the observer, then shows the user's answer when asked to; false when the
    // observer destroyed the agent.
    bool deliver(const CheckOutcome& outcome);
    void showCheckResult(const CheckOutcome& outcome);

    // The agent's one pending check: arming again cancels it first.
    std::shared_ptr<platform::Timer> timer_;
    // The debug line that says nobody runs the loop the pending check waits on.
    uint64_t idleReport_ = 0;
    // The store request in flight, if any.
    std::unique_ptr<platform::HttpRequest> request_;
    // Held while the reply is read off the loop, so a manual clock waits for the decision.
    struct ReplyBeingRead;
    std::unique_ptr<ReplyBeingRead> replyBeingRead_;
    bool userInitiated_ = false;
    // Network failures of scheduled checks in a row, which pick the next retry's wait.
    size_t networkRetries_ = 0;
    // Set while a scheduled check waits for the network; `retry` as for check().
    struct WaitingForNetwork {
        bool retry = false;
    };
    std::optional<WaitingForNetwork> waitingForNetwork_;
    std::unique_ptr<platform::NetworkWatch> networkWatch_;
    // Until then (seconds since 1970 on the services' clock) the store asked for no request
    // ("Retry-After"): no scheduled check is sent. Kept for the agent's life only; the latest
    // reply with a status replaces it.
    std::optional<double> storeWaitEnds_;
    // A release window of this agent is open: a newer version found meanwhile opens no second.
    bool windowOpen_ = false;
    std::function<void(const CheckOutcome&)> observer_;
    bool observing_ = false;
    bool showsUserCheckResults_ = false;
    std::unique_ptr<CheckResultMessage> message_;
};

} // namespace brenvo
