// The update agent: start-up, schedule, logging and the store lookup.
#include "brenvo/Brenvo.h"

#include "brenvo/BrenvoCheck.h"
#include "brenvo/BrenvoKeys.h"
#include "brenvo/BrenvoReleaseInfo.h"
#include "brenvo/CheckResultMessage.h"
#include "brenvo/JsonLogBridge.h"
#include "brenvo/platform/Services.h"
#include "brenvo/utf/Printable.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

namespace brenvo {

thread_local std::shared_ptr<platform::Timer> bvMasCheckMasUpdateTimer;

struct Brenvo::ReplyBeingRead {
    explicit ReplyBeingRead(platform::RunLoop& loop) : pending(loop) {}
    platform::RunLoop::PendingIO pending;
};

namespace {

// The log texts of the agent, byte for byte.
constexpr std::string_view kNoAppId =
    "No update check possible. Please set BrenvoAppId in Main Bundle Info.plist.";
constexpr std::string_view kDealloced = "Class dealloced.";
constexpr std::string_view kShowWindow =
    "Show release info window. Check Timer stopped until user responds to release info window.";
// Lines of this library for situations the check has no decision for.
constexpr std::string_view kIntervalUnreadable =
    "BrenvoInterval has no integer reading. Using the default interval.";
constexpr std::string_view kLastCheckNotDate =
    "BrenvoLastCheck does not hold a date. Treating it as never checked.";
constexpr std::string_view kRequestRunning =
    "A store request is already running. No second one is sent.";
constexpr std::string_view kLoopNotRun =
    "Nothing has run the agent's run loop for a minute since its check was armed: no check can "
    "happen until the host runs it (RunLoop::run(), or the loop hooked up to a GLib or Qt main "
    "loop).";
// How long an armed check waits for somebody to run its loop before that line is written.
constexpr auto kIdleLoopGrace = std::chrono::minutes(1);
constexpr std::string_view kInsideStoreWait =
    "The store asked for no request yet. The scheduled check is not sent.";
constexpr std::string_view kAutomaticChecksOff =
    "Automatic update checks are off. No check is scheduled.";
constexpr std::string_view kWaitingForNetwork =
    "No network is available. The scheduled check waits for the network.";
constexpr std::string_view kNetworkBack = "The network is back.";
// How long a network that came back gets to settle before the check that waited for it.
constexpr int64_t kNetworkSettleSeconds = 5;
// The waits before each retry of a scheduled check that the network failed, in seconds.
constexpr std::array<int64_t, 3> kNetworkRetryWaits = {5 * 60, 30 * 60, 2 * 60 * 60};
constexpr std::string_view kWindowAlreadyOpen =
    "The release info window is already open. No second one is shown.";

std::string orAbsent(const std::optional<std::string>& text) {
    return text ? *text : std::string(kAbsentText);
}

std::optional<std::string> infoText(const platform::Bundle& bundle, std::string_view key) {
    if (auto value = bundle.objectForInfoDictionaryKey(key))
        return value->description();
    return std::nullopt;
}

// Seconds as a whole number, truncated toward zero and clamped to the 64-bit range.
int64_t truncateSeconds(double seconds) {
    constexpr double kTwoTo63 = 9223372036854775808.0;
    if (seconds >= kTwoTo63)
        return std::numeric_limits<int64_t>::max();
    if (seconds <= -kTwoTo63)
        return std::numeric_limits<int64_t>::min();
    return static_cast<int64_t>(seconds);
}

} // namespace

Brenvo::Brenvo() : Brenvo(platform::Services::shared()) {}

Brenvo::Brenvo(platform::Services& services)
    : services_(services), self_(std::make_shared<Brenvo*>(this)) {
    detail::jsonLogBridgeInstalled();
    const auto shortVersion = infoText(services_.frameworkBundle, kCFBundleShortVersionString);
    const auto bundleVersion = infoText(services_.frameworkBundle, kCFBundleVersion);
    const check::AgentSettings settings = check::readSettings(services_.mainBundle);
    logDebug(settings, "Brenvo Framework Version " + orAbsent(shortVersion) + " (" +
                           orAbsent(bundleVersion) + "). Debugging Messages are activated.");

    if (!settings.appId) {
        writeLine(kNoAppId);
        return;
    }
    services_.defaultCenter.addObserver(
        this, [this](const platform::Notification& note) { setTimerWithNotification(note); },
        kBrenvoReleaseWindowClosed, nullptr, services_.runLoop);
    observing_ = true;
    if (services_.networkMonitor) {
        std::weak_ptr<Brenvo*> self = self_;
        networkWatch_ = services_.networkMonitor->watch(services_.runLoop, [self](bool available) {
            if (auto agent = self.lock())
                (*agent)->networkChanged(available);
        });
    }
    arm(settings);
}

Brenvo::~Brenvo() {
    // Nothing of the agent writes after its last line: the idle report goes first (waiting for
    // one in progress), the request after the line, without a word.
    if (idleReport_)
        platform::RunLoop::cancelIdle(idleReport_);
    logMessage(kDealloced);
    if (observing_)
        services_.defaultCenter.removeObserver(this);
    // This agent's pending check, which is the one in the slot when it is ours; a slot timer
    // armed by another agent keeps that agent's schedule.
    if (timer_)
        timer_->invalidate();
    networkWatch_.reset();
    request_.reset();
    replyBeingRead_.reset();
    self_.reset();
}

void Brenvo::setTimerWithNotification(const platform::Notification&) {
    windowOpen_ = false;
    setCurrentDateAsLastCheckDate();
    setTimer();
}

void Brenvo::setTimer() {
    arm(check::readSettings(services_.mainBundle));
}

int64_t Brenvo::arm(const check::AgentSettings& settings, int64_t atLeast) {
    const auto note = [this, &settings](std::string_view text) { logDebug(settings, text); };
    if (!automaticChecksOn(settings)) {
        note(kAutomaticChecksOff);
        if (timer_)
            timer_->invalidate();
        if (idleReport_)
            platform::RunLoop::cancelIdle(std::exchange(idleReport_, 0));
        return 0;
    }
    const NextCheck next = regularDelay(settings, note);
    const int64_t delay = std::max(next.delay, atLeast);
    note("Next Update Check in " + std::to_string(delay) + " seconds. Check Interval is " +
         std::to_string(next.interval) + " seconds.");
    armTimer(delay, false);

    // A host that forgot to run the loop (or to hook it up to its own) hears why nothing ever
    // happens, from a watchdog thread that writes this one line and nothing else.
    if (idleReport_)
        platform::RunLoop::cancelIdle(std::exchange(idleReport_, 0));
    if (settings.debugMessages) {
        platform::Log& log = services_.log;
        idleReport_ = services_.runLoop.reportIfIdle(kIdleLoopGrace, [&log] {
            log.write(std::string(kLogPrefix) + std::string(kLoopNotRun));
        });
    }
    return delay;
}

Brenvo::NextCheck Brenvo::regularDelay(const check::AgentSettings& settings,
                                       const std::function<void(std::string_view)>& note) {
    int64_t interval = settings.interval.value_or(kDefaultCheckInterval);
    if (settings.intervalUnreadable)
        note(kIntervalUnreadable);
    // However the setting reads, checks stay at least a minute apart.
    if (interval < kMinimumCheckInterval) {
        note("BrenvoInterval of " + std::to_string(interval) +
             " seconds is below the minimum. Using " + std::to_string(kMinimumCheckInterval) +
             " seconds.");
        interval = kMinimumCheckInterval;
    }

    int64_t elapsed = interval;
    if (auto stored = services_.standardUserDefaults.objectForKey(kBrenvoLastCheck)) {
        const platform::Date* last = stored->asDate();
        if (last && std::isfinite(last->secondsSince1970)) {
            elapsed = truncateSeconds(services_.clock.date().timeIntervalSinceDate(*last));
        } else {
            note(kLastCheckNotDate);
        }
    }
    // A last check in the future (the clock was ahead, then corrected) counts as a check made
    // now: the wait is never longer than one interval.
    if (elapsed < 0) {
        note("BrenvoLastCheck lies " +
             std::to_string(elapsed == std::numeric_limits<int64_t>::min()
                                ? std::numeric_limits<int64_t>::max()
                                : -elapsed) +
             " seconds in the future. Counting it as a check made now.");
        elapsed = 0;
    }

    int64_t delay = elapsed < interval ? interval - elapsed : 0;
    // The store's wait, when it ends later; never more than its longest, whatever the clock did.
    if (storeWaitEnds_) {
        const double left = *storeWaitEnds_ - services_.clock.date().secondsSince1970;
        if (left > 0)
            delay = std::max(delay, static_cast<int64_t>(std::ceil(
                                        std::min(left, static_cast<double>(kMaximumRetryAfter)))));
        else
            storeWaitEnds_.reset();
    }
    return {delay, interval};
}

void Brenvo::armTimer(int64_t delay, bool retry) {
    // An agent has one pending check: arming again replaces it.
    if (timer_)
        timer_->invalidate();
    std::weak_ptr<Brenvo*> self = self_;
    timer_ = platform::Timer::timerWithTimeInterval(static_cast<double>(delay), [self, retry] {
        if (auto agent = self.lock())
            (*agent)->check(false, true, retry);
    });
    bvMasCheckMasUpdateTimer = timer_;
    services_.runLoop.addTimer(timer_, platform::kDefaultRunLoopMode);
}

void Brenvo::retryAfterNetworkFailure(const check::AgentSettings& settings) {
    // Retries are not recorded, so the regular check keeps its place after them.
    const int64_t regular = regularDelay(settings, [](std::string_view) {}).delay;
    if (networkRetries_ < kNetworkRetryWaits.size() &&
        kNetworkRetryWaits[networkRetries_] < regular) {
        const int64_t wait = kNetworkRetryWaits[networkRetries_++];
        logDebug(settings,
                 "The network failed. Trying again in " + std::to_string(wait) + " seconds.");
        armTimer(wait, true);
        return;
    }
    networkRetries_ = 0;
}

void Brenvo::networkChanged(bool available) {
    if (!available || !waitingForNetwork_)
        return;
    const WaitingForNetwork waiting = *std::exchange(waitingForNetwork_, std::nullopt);
    const check::AgentSettings settings = check::readSettings(services_.mainBundle);
    logDebug(settings, kNetworkBack);
    if (waiting.retry) {
        armTimer(kNetworkSettleSeconds, true);
        return;
    }
    arm(settings, kNetworkSettleSeconds);
}

void Brenvo::setCurrentDateAsLastCheckDate() {
    services_.standardUserDefaults.setObject(platform::PlistValue(services_.clock.date()),
                                             kBrenvoLastCheck);
    services_.standardUserDefaults.synchronize();
}

void Brenvo::bvMasCheckMasUpdates() {
    check(false, false);
}

bool Brenvo::automaticChecksOn(const check::AgentSettings& settings) {
    if (auto stored = services_.standardUserDefaults.objectForKey(kBrenvoAutomaticChecks))
        return stored->boolValue();
    return settings.automaticChecks.value_or(true);
}

bool Brenvo::automaticallyChecksForUpdates() {
    return automaticChecksOn(check::readSettings(services_.mainBundle));
}

void Brenvo::setAutomaticallyChecksForUpdates(bool automaticallyChecks) {
    services_.standardUserDefaults.setObject(platform::PlistValue(automaticallyChecks),
                                             kBrenvoAutomaticChecks);
    services_.standardUserDefaults.synchronize();
    // An agent without an identifier stays inert; any other arms or disarms as at start-up.
    if (observing_)
        setTimer();
}

void Brenvo::checkForUpdates() {
    // An agent started without an identifier stays inert: nothing is recorded or armed.
    if (!observing_) {
        logMessage(kNoAppId, true);
        CheckOutcome outcome;
        outcome.userInitiated = true;
        deliver(outcome);
        return;
    }
    check(true, false);
}

void Brenvo::setOutcomeObserver(std::function<void(const CheckOutcome&)> observer) {
    observer_ = std::move(observer);
}

void Brenvo::check(bool userInitiated, bool fromTimer, bool retry) {
    // The one reading of the settings for this check, its arming and its decision.
    auto settings =
        std::make_shared<const check::AgentSettings>(check::readSettings(services_.mainBundle));
    // The user's switch may have been turned off elsewhere (another process) since the arming.
    if (fromTimer && !automaticChecksOn(*settings)) {
        arm(*settings);
        return;
    }
    // A scheduled check inside the store's wait is not sent: the next one comes at its end.
    if (!userInitiated && storeWaitEnds_ &&
        services_.clock.date().secondsSince1970 < *storeWaitEnds_) {
        logDebug(*settings, kInsideStoreWait);
        arm(*settings);
        return;
    }
    // Switched off, or left to a package manager: nothing is sent. A scheduled check still counts
    // as made, so the schedule keeps its pace; a user's check changes nothing.
    if (settings->appId) {
        const auto held = check::restraint(
            *settings, userInitiated,
            [this, &settings](std::string_view text) { logDebug(*settings, text); },
            [this](std::string_view text) { writeLine(text); });
        if (held) {
            if (!userInitiated) {
                if (!retry)
                    setCurrentDateAsLastCheckDate();
                arm(*settings);
            }
            deliver(*held);
            return;
        }
    }
    // Offline, as the system knows: the scheduled check waits for the network, unspent.
    if (!userInitiated && settings->appId && services_.networkMonitor &&
        !services_.networkMonitor->networkAvailable() &&
        check::needsNetwork(check::lookupUrl(*settings, [](std::string_view) {}))) {
        logDebug(*settings, kWaitingForNetwork);
        if (timer_)
            timer_->invalidate();
        waitingForNetwork_ = WaitingForNetwork{retry};
        return;
    }
    if (userInitiated)
        networkRetries_ = 0;
    if (!retry)
        setCurrentDateAsLastCheckDate();
    arm(*settings);

    if (isChecking()) {
        userInitiated_ = userInitiated_ || userInitiated;
        logDebug(*settings, kRequestRunning);
        return;
    }
    if (!settings->appId) {
        writeLine(kNoAppId);
        CheckOutcome outcome;
        outcome.userInitiated = userInitiated;
        deliver(outcome);
        return;
    }
    const std::string& appId = *settings->appId;
    const std::string url = check::lookupUrl(
        *settings, [this, &settings](std::string_view text) { logDebug(*settings, text); });
    logDebug(*settings, "Starting HTTP Request for MAS App ID " + utf::logField(appId) +
                            " using Request URL '" + utf::logField(url) + "'");

    userInitiated_ = userInitiated;
    request_ = services_.http.startRequest(platform::URLRequest{url, 0, kRequestTimeout},
                                           services_.runLoop,
                                           [this, settings](platform::URLResponse response) {
                                               replyArrived(std::move(response), settings);
                                           });
}

namespace {

// A reply read away from the loop, with the debug lines its reading wrote.
struct ReplyRead {
    check::ReleaseReading reading;
    std::vector<std::string> notes;
};

std::shared_ptr<ReplyRead> readReplyNoting(platform::URLResponse response) {
    auto read = std::make_shared<ReplyRead>();
    read->reading = check::readReply(
        std::move(response), [&read](std::string_view text) { read->notes.emplace_back(text); });
    return read;
}

} // namespace

void Brenvo::replyArrived(platform::URLResponse response,
                          std::shared_ptr<const check::AgentSettings> settings) {
    // The request is over. Parsing a reply of the size cap takes a few hundred milliseconds, and
    // releasing it as long again: both happen on a thread of their own, which touches nothing of
    // the agent, and the decision comes back to the loop. Until then the check is still running.
    const auto finished = std::move(request_);
    if (check::isRateLimited(response)) {
        networkRetries_ = 0;
        rateLimited(response, *settings);
        return;
    }
    const bool networkFailed = response.networkFailed;
    // Any other reply from the store ends its wait.
    if (response.status != 0 && std::exchange(storeWaitEnds_, std::nullopt))
        arm(*settings);
    replyBeingRead_ = std::make_unique<ReplyBeingRead>(services_.runLoop);
    std::weak_ptr<Brenvo*> self = self_;
    auto decideOnLoop = [self, settings = std::move(settings),
                         networkFailed](const std::shared_ptr<ReplyRead>& read) {
        if (auto agent = self.lock())
            (*agent)->replyRead(std::move(read->reading), read->notes, *settings, networkFailed);
    };
    // Still here when no thread can be had: the reply is then read on the loop rather than lost.
    auto reply = std::make_shared<platform::URLResponse>(std::move(response));
    try {
        std::thread([reply, inbox = services_.runLoop.inbox(), decideOnLoop] {
            auto read = readReplyNoting(std::move(*reply));
            // A loop that is gone drops the reading here, on this thread.
            inbox->perform([decideOnLoop, read] { decideOnLoop(read); });
        }).detach();
    } catch (const std::system_error&) {
        decideOnLoop(readReplyNoting(std::move(*reply)));
    }
}

void Brenvo::rateLimited(const platform::URLResponse& response,
                         const check::AgentSettings& settings) {
    const platform::Date now = services_.clock.date();
    CheckOutcome outcome;
    outcome.kind = CheckOutcome::Kind::RateLimited;
    outcome.userInitiated = std::exchange(userInitiated_, false);
    outcome.retryAfter = check::readRetryAfter(
        response, now, [this, &settings](std::string_view text) { logDebug(settings, text); });
    storeWaitEnds_.reset();
    if (outcome.retryAfter)
        storeWaitEnds_ = now.secondsSince1970 + static_cast<double>(*outcome.retryAfter);
    outcome.nextCheckIn = arm(settings);
    deliver(outcome);
}

void Brenvo::replyRead(check::ReleaseReading reading, const std::vector<std::string>& notes,
                       const check::AgentSettings& settings, bool networkFailed) {
    replyBeingRead_.reset();
    for (const std::string& line : notes)
        logDebug(settings, line);
    // A scheduled check the network failed is tried again soon; any response ends the retries.
    if (networkFailed && !userInitiated_)
        retryAfterNetworkFailure(settings);
    else
        networkRetries_ = 0;
    const check::Note note = [this, &settings](std::string_view text) { logDebug(settings, text); };

    CheckOutcome outcome;
    outcome.userInitiated = std::exchange(userInitiated_, false);
    outcome.release = reading.release;
    if (reading.release)
        outcome.version = reading.release->version;
    if (reading.ending) {
        outcome.kind = *reading.ending;
        outcome.reason = std::move(reading.reason);
        outcome.storeReached = reading.storeReached;
        deliver(outcome);
        return;
    }

    check::DecisionInput input;
    input.release = reading.release;
    input.appVersion = settings.appVersion;
    input.skippedVersion = services_.standardUserDefaults.stringForKey(kBrenvoSkipVersion);
    input.userInitiated = outcome.userInitiated;
    input.now = services_.clock.date();
    input.minimumReleaseAge = settings.minimumReleaseAge;
    if (auto system = services_.systemVersion.systemVersion())
        input.systemVersion = std::to_string(system->major) + "." + std::to_string(system->minor) +
                              "." + std::to_string(system->bugFix);
    const check::Decision decision = check::decide(input, note);
    outcome.kind = decision.kind;
    outcome.gate = decision.gate;
    if (outcome.kind == CheckOutcome::Kind::UpToDate && !outcome.version) {
        outcome.kind = CheckOutcome::Kind::UnusableReply;
        outcome.reason = std::move(reading.reason);
    }
    if (outcome.kind != CheckOutcome::Kind::UpdateAvailable) {
        deliver(outcome);
        return;
    }

    if (windowOpen_) {
        note(kWindowAlreadyOpen);
        deliver(outcome);
        return;
    }
    note(kShowWindow);
    if (timer_)
        timer_->invalidate();
    platform::Services& services = services_;
    if (!deliver(outcome))
        return;
    windowOpen_ = true;
    // Shared, not copied: a record of the size cap takes tens of milliseconds to copy.
    BrenvoReleaseInfo::initWithReleaseInfo(outcome.release, services, outcome.userInitiated);
}

bool Brenvo::deliver(const CheckOutcome& outcome) {
    if (observer_) {
        const std::weak_ptr<Brenvo*> alive = self_;
        // A copy: the observer may replace itself, or destroy the agent.
        const auto observer = observer_;
        observer(outcome);
        if (alive.expired())
            return false;
    }
    if (outcome.userInitiated && showsUserCheckResults_)
        showCheckResult(outcome);
    return true;
}

void Brenvo::setShowsUserCheckResults(bool showsUserCheckResults) {
    showsUserCheckResults_ = showsUserCheckResults;
}

void Brenvo::showCheckResult(const CheckOutcome& outcome) {
    const auto texts = checkResultTexts(outcome, services_.mainBundle);
    if (!texts)
        return;
    if (!message_)
        message_ = std::make_unique<CheckResultMessage>(services_);
    message_->show(*texts, debugMessagesOn());
}

void Brenvo::logMessage(std::string_view text) {
    logMessage(text, false);
}

bool Brenvo::debugMessagesOn() {
    const auto value = services_.mainBundle.objectForInfoDictionaryKey(kBrenvoDebugMessages);
    return value && value->boolValue();
}

void Brenvo::logMessage(std::string_view text, bool Always) {
    if (Always || debugMessagesOn())
        writeLine(text);
}

void Brenvo::logDebug(const check::AgentSettings& settings, std::string_view text) {
    if (settings.debugMessages)
        writeLine(text);
}

void Brenvo::writeLine(std::string_view text) {
    // The text may carry the store's words: one printable line, whatever log receives it.
    std::string line(kLogPrefix);
    utf::appendPrintable(line, text);
    services_.log.write(line);
}

} // namespace brenvo
