// The update agent: checks once per interval whether the store offers a newer version of the
// host application and, when it does, shows the release-info window.
//
//   int main() {
//       brenvo::Brenvo agent;                        // reads BrenvoAppId & co from Info.plist
//       brenvo::platform::RunLoop::currentRunLoop().run();
//   }
//
// The agent works on the run loop of its services and on that thread only: with the default
// services, the run loop of the thread that constructs it. Its settings come
// from the host's Info.plist, looked up anew on every use: "BrenvoAppId" (required; without it
// the agent never checks), "BrenvoInterval" (seconds, default 86400), "BrenvoCastUrl" (replaces
// the lookup URL up to the identifier) and "BrenvoDebugMessages". Its state is the date of the
// last check under "BrenvoLastCheck" in the user's defaults and the process-wide timer slot.
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
// - Log lines are one printable line each: control characters from the store's reply show as
//   visible escapes (brenvo/utf/Printable.h).
// - "BrenvoAppId" of any kind counts as present; its text form (PlistValue::description()) goes
//   into the request URL.
// - An absent value inside a log line is written as "(null)".
//
// The check asks "https://itunes.apple.com/lookup?id=<BrenvoAppId>" (or "<BrenvoCastUrl><id>")
// with a 10-second time-out, reads "results"[0] as the release record and its "version" as the
// store version, and decides by compareVersions(store, app). Besides its fixed lines it writes
// these debug lines where a reply gives no decision; each ends the check with the next one
// already scheduled:
//   "No response for HTTP Request (Response larger than 4194304 bytes was dropped)."
//   "HTTP Request failed: <reason>"   (before the no-response line, when the client knows why)
//   "Reply is not UTF-8 text." / "Reply is not a JSON object or array."  (then the not-newer line)
//   "Reply not usable: ..." / "Reply holds no release record: ..."  (a reply of another shape)
// A reply without "results" or without "version" has an absent store version and is never
// announced. Without "BrenvoAppId" at check time the always-message is written and nothing sent.
#pragma once

#include "brenvo/Export.h"
#include "brenvo/platform/NotificationCenter.h"
#include "brenvo/platform/RunLoop.h"
#include "brenvo/platform/Services.h"

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace brenvo {

// The most recently armed check timer, shared by every agent of the process. It is never
// cleared: after its timer has fired or been cancelled it still refers to that timer until the
// next arming replaces it. Cancelling through it twice is harmless. Touch it only on the thread
// that runs the agents' run loop.
extern BRENVO_EXPORT std::shared_ptr<platform::Timer> bvMasCheckMasUpdateTimer;

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
    // Logs "Class dealloced." (debug only), stops observing and cancels every check timer this
    // agent armed; a release window that is open stays open.
    ~Brenvo();

    Brenvo(const Brenvo&) = delete;
    Brenvo& operator=(const Brenvo&) = delete;

    // Observer of "BrenvoReleaseWindowClosed": records now as the last check and arms the timer
    // for a full interval. The notification's contents are not read.
    void setTimerWithNotification(const platform::Notification& notification);
    // Arms the one-shot check timer for the rest of the interval since the last check (0 when
    // never checked) and stores it in bvMasCheckMasUpdateTimer.
    void setTimer();
    // Stores the current date under "BrenvoLastCheck" and writes the defaults out at once.
    void setCurrentDateAsLastCheckDate();
    // The check: records it, arms the next one, asks the store for the host's record and shows
    // the release-info window when the store's version is newer and not skipped.
    void bvMasCheckMasUpdates();
    // Writes "Brenvo: " + text to the log when "BrenvoDebugMessages" reads true.
    void logMessage(std::string_view text);
    // Writes "Brenvo: " + text when "BrenvoDebugMessages" reads true or `Always` is set. The text
    // is written as it is; nothing in it is read as a format.
    void logMessage(std::string_view text, bool Always);

private:
    platform::Services& services_;
    // Expires with the agent; timers that outlive it find it expired and do nothing.
    std::shared_ptr<Brenvo*> self_;
    // The agent's one pending check: arming again cancels it first.
    std::shared_ptr<platform::Timer> timer_;
    bool observing_ = false;
};

} // namespace brenvo
