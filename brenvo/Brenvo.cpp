// The update agent: start-up, schedule, logging and the store lookup.
#include "brenvo/Brenvo.h"

#include "brenvo/BrenvoKeys.h"
#include "brenvo/BrenvoReleaseInfo.h"
#include "brenvo/JSON/XKJSON.h"
#include "brenvo/compareVersions.h"
#include "brenvo/platform/Text.h"
#include "brenvo/utf/Printable.h"

#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <utility>

namespace brenvo {

std::shared_ptr<platform::Timer> bvMasCheckMasUpdateTimer;

namespace {

// The log texts of the agent, byte for byte.
constexpr std::string_view kLogPrefix = "Brenvo: ";
constexpr std::string_view kAbsentText = "(null)";
constexpr std::string_view kNoAppId =
    "No update check possible. Please set BrenvoAppId in Main Bundle Info.plist.";
constexpr std::string_view kDealloced = "Class dealloced.";
constexpr std::string_view kNoResponse = "No response for HTTP Request (Reponse Length is 0).";
constexpr std::string_view kShowWindow =
    "Show release info window. Check Timer stopped until user responds to release info window.";
// Lines of this library for situations the check has no decision for.
constexpr std::string_view kIntervalUnreadable =
    "BrenvoInterval has no integer reading. Using the default interval.";
constexpr std::string_view kLastCheckNotDate =
    "BrenvoLastCheck does not hold a date. Treating it as never checked.";
constexpr std::string_view kReplyTopLevelArray =
    "Reply not usable: its top level is an array, not an object. No decision this time.";
constexpr std::string_view kReplyResultsNotArray =
    "Reply not usable: \"results\" is not an array. No decision this time.";
constexpr std::string_view kReplyResultsEmpty =
    "Reply holds no release record: \"results\" is empty. No decision this time.";
constexpr std::string_view kReplyRecordNotObject =
    "Reply not usable: \"results\"[0] is not an object. No decision this time.";
constexpr std::string_view kReplyVersionNotText =
    "Reply not usable: \"version\" of the release record is not a text. No decision this time.";
constexpr std::string_view kReplyNotUtf8 = "Reply is not UTF-8 text.";
constexpr std::string_view kReplyNotJson = "Reply is not a JSON object or array.";

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
    const auto shortVersion = infoText(services_.frameworkBundle, kCFBundleShortVersionString);
    const auto bundleVersion = infoText(services_.frameworkBundle, kCFBundleVersion);
    logMessage("Brenvo Framework Version " + orAbsent(shortVersion) + " (" +
               orAbsent(bundleVersion) + "). Debugging Messages are activated.");

    if (!services_.mainBundle.objectForInfoDictionaryKey(kBrenvoAppId)) {
        logMessage(kNoAppId, true);
        return;
    }
    services_.defaultCenter.addObserver(
        this, [this](const platform::Notification& note) { setTimerWithNotification(note); },
        kBrenvoReleaseWindowClosed, nullptr);
    observing_ = true;
    setTimer();
}

Brenvo::~Brenvo() {
    logMessage(kDealloced);
    if (observing_)
        services_.defaultCenter.removeObserver(this);
    // This agent's pending check, which is the one in the slot when it is ours; a slot timer
    // armed by another agent keeps that agent's schedule.
    if (timer_)
        timer_->invalidate();
    self_.reset();
}

void Brenvo::setTimerWithNotification(const platform::Notification&) {
    setCurrentDateAsLastCheckDate();
    setTimer();
}

void Brenvo::setTimer() {
    int64_t interval = kDefaultCheckInterval;
    if (auto value = services_.mainBundle.objectForInfoDictionaryKey(kBrenvoInterval)) {
        if (auto reading = value->integerValue())
            interval = *reading;
        else
            logMessage(kIntervalUnreadable);
    }
    // However the setting reads, checks stay at least a minute apart.
    if (interval < kMinimumCheckInterval) {
        logMessage("BrenvoInterval of " + std::to_string(interval) +
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
            logMessage(kLastCheckNotDate);
        }
    }
    // A last check in the future (the clock was ahead, then corrected) counts as a check made
    // now: the wait is never longer than one interval.
    if (elapsed < 0) {
        logMessage("BrenvoLastCheck lies " +
                   std::to_string(elapsed == std::numeric_limits<int64_t>::min()
                                      ? std::numeric_limits<int64_t>::max()
                                      : -elapsed) +
                   " seconds in the future. Counting it as a check made now.");
        elapsed = 0;
    }

    const int64_t delay = elapsed < interval ? interval - elapsed : 0;
    logMessage("Next Update Check in " + std::to_string(delay) + " seconds. Check Interval is " +
               std::to_string(interval) + " seconds.");

    // An agent has one pending check: arming again replaces it.
    if (timer_)
        timer_->invalidate();
    std::weak_ptr<Brenvo*> self = self_;
    timer_ = platform::Timer::timerWithTimeInterval(static_cast<double>(delay), [self] {
        if (auto agent = self.lock())
            (*agent)->bvMasCheckMasUpdates();
    });
    bvMasCheckMasUpdateTimer = timer_;
    services_.runLoop.addTimer(timer_, platform::kDefaultRunLoopMode);
}

void Brenvo::setCurrentDateAsLastCheckDate() {
    services_.standardUserDefaults.setObject(platform::PlistValue(services_.clock.date()),
                                             kBrenvoLastCheck);
    services_.standardUserDefaults.synchronize();
}

void Brenvo::bvMasCheckMasUpdates() {
    setCurrentDateAsLastCheckDate();
    setTimer();

    const auto appIdValue = services_.mainBundle.objectForInfoDictionaryKey(kBrenvoAppId);
    if (!appIdValue) {
        logMessage(kNoAppId, true);
        return;
    }
    const std::string appId = appIdValue->description();
    const auto castUrl = infoText(services_.mainBundle, kBrenvoCastUrl);
    const std::string url = (castUrl ? *castUrl : std::string(kDefaultLookupUrlPrefix)) + appId;
    logMessage("Starting HTTP Request for MAS App ID " + appId + " using Request URL '" + url +
               "'");

    platform::URLResponse response =
        services_.http.sendSynchronousRequest(platform::URLRequest{url, 0, kRequestTimeout});
    if (response.tooLarge) {
        logMessage("No response for HTTP Request (Response larger than " +
                   std::to_string(platform::HttpClient::kMaxResponseSize) + " bytes was dropped).");
        return;
    }
    if (response.body.empty()) {
        if (!response.error.empty())
            logMessage("HTTP Request failed: " + response.error);
        logMessage(kNoResponse);
        return;
    }

    std::optional<JsonValue> reply;
    {
        const std::string_view bytes(reinterpret_cast<const char*>(response.body.data()),
                                     response.body.size());
        if (platform::isValidUTF8(bytes)) {
            XKJSON json;
            reply = json.objectWithString(bytes, nullptr);
            if (!reply)
                logMessage(kReplyNotJson);
        } else {
            logMessage(kReplyNotUtf8);
        }
        response.body.clear();
        response.body.shrink_to_fit();
    }

    // "results"[0] is the release record and its "version" the store version; a reply
    // without them has an absent store version and ends in the not-newer line.
    const JsonValue* record = nullptr;
    std::optional<std::string> storeVersion;
    if (reply) {
        if (reply->isArray()) {
            logMessage(kReplyTopLevelArray);
            return;
        }
        if (const JsonValue* results = reply->asObject()->find(u"results")) {
            const JsonValue::Array* list = results->asArray();
            if (!list) {
                logMessage(kReplyResultsNotArray);
                return;
            }
            if (list->empty()) {
                logMessage(kReplyResultsEmpty);
                return;
            }
            record = &list->front();
            if (!record->isObject()) {
                logMessage(kReplyRecordNotObject);
                return;
            }
            if (const JsonValue* version = record->asObject()->find(u"version")) {
                const JsonString* text = version->asString();
                if (!text) {
                    logMessage(kReplyVersionNotText);
                    return;
                }
                storeVersion = toUtf8(*text);
            }
        }
    }

    const auto appVersion = infoText(services_.mainBundle, kCFBundleShortVersionString);
    const int order = compareVersions(
        storeVersion ? std::optional<std::string_view>(*storeVersion) : std::nullopt,
        appVersion ? std::optional<std::string_view>(*appVersion) : std::nullopt);
    // Without a store version there is nothing to announce, whatever the app version reads.
    if (order != 1 || !storeVersion) {
        logMessage("No new Version available. App Version: " + orAbsent(appVersion) +
                   ", MAS Version: " + orAbsent(storeVersion));
        return;
    }

    logMessage("New Version " + *storeVersion + " found!");
    // Compared in the form the defaults file holds, so that a version it cannot hold whole
    // stays skipped once skipped.
    const auto skipped = services_.standardUserDefaults.stringForKey(kBrenvoSkipVersion);
    if (skipped && *skipped == platform::storableText(*storeVersion)) {
        logMessage("Version " + *storeVersion + " already skipped by user. No notification.");
        return;
    }
    logMessage(kShowWindow);
    if (timer_)
        timer_->invalidate();
    BrenvoReleaseInfo::initWithReleaseInfo(*record, services_);
}

void Brenvo::logMessage(std::string_view text) {
    logMessage(text, false);
}

void Brenvo::logMessage(std::string_view text, bool Always) {
    bool debug = false;
    if (auto value = services_.mainBundle.objectForInfoDictionaryKey(kBrenvoDebugMessages))
        debug = value->boolValue();
    if (!debug && !Always)
        return;
    // The text may carry the store's words: one printable line, whatever log receives it.
    std::string line(kLogPrefix);
    utf::appendPrintable(line, text);
    services_.log.write(line);
}

} // namespace brenvo
