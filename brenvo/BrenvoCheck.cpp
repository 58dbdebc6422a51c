// The check's steps after the request: the reply as a release record, and the decision.
#include "brenvo/BrenvoCheck.h"

#include "brenvo/Brenvo.h"
#include "brenvo/BrenvoKeys.h"
#include "brenvo/JSON/XKJSON.h"
#include "brenvo/compareVersions.h"
#include "brenvo/platform/Text.h"
#include "brenvo/platform/Window.h"
#include "brenvo/platform/linux/UpdatePolicy.h"
#include "brenvo/utf/Printable.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

namespace brenvo {

namespace {

using Kind = CheckOutcome::Kind;

// The log texts of the check, byte for byte.
constexpr std::string_view kNoResponse = "No response for HTTP Request (Reponse Length is 0).";
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
constexpr std::string_view kDisabledByEnvironment =
    "Update checks are disabled by BRENVO_DISABLE. No request is sent.";
constexpr std::string_view kWhenPackagedUnknown =
    "BrenvoWhenPackaged is not \"announce\". The package manager brings the updates.";
constexpr std::string_view kReplyNotUtf8 = "Reply is not UTF-8 text.";
constexpr std::string_view kReplyNotJson = "Reply is not a JSON object or array.";
const std::string kReplyVersionTooLong = "Reply not usable: \"version\" of the release record is "
                                         "longer than " +
                                         std::to_string(kMaxVersionLength) +
                                         " bytes. No decision this time.";

// A text from outside as one field of a log line (brenvo/utf/Printable.h), "(null)" when absent.
std::string orAbsent(const std::optional<std::string>& text) {
    return text ? utf::logField(*text) : std::string(kAbsentText);
}

check::ReleaseReading ending(Kind kind, std::string reason) {
    check::ReleaseReading reading;
    reading.ending = kind;
    reading.reason = std::move(reason);
    return reading;
}

// `text` in UTF-8 as far as its first `limit` + 1 UTF-16 units: the whole text when that is at most
// `limit` bytes, otherwise more. No unit takes less than one byte, so nothing past that is needed
// to tell, or to cut the text at `limit` bytes.
std::string textStart(const JsonString& text, size_t limit) {
    return toUtf8(text.view().substr(0, std::min(text.size(), limit + 1)));
}

// Whole seconds, truncated toward zero and clamped to the 64-bit range.
int64_t wholeSeconds(double seconds) {
    if (std::isnan(seconds))
        return 0;
    if (seconds >= 9223372036854775807.0)
        return std::numeric_limits<int64_t>::max();
    if (seconds <= -9223372036854775807.0)
        return std::numeric_limits<int64_t>::min();
    return static_cast<int64_t>(seconds);
}

} // namespace

std::string describeOutcome(const CheckOutcome& outcome) {
    const std::string version = utf::printable(orAbsent(outcome.version));
    switch (outcome.kind) {
    case Kind::UpdateAvailable:
        return "update-available " + version;
    case Kind::UpToDate:
        return "up-to-date " + version;
    case Kind::Skipped:
        return "skipped " + version;
    case Kind::HeldBack:
        return std::string(outcome.gate == CheckOutcome::Gate::MinimumOsVersion
                               ? "held-back minimum-os-version "
                               : "held-back minimum-release-age ") +
               version;
    case Kind::NoReply:
        return "no-reply " + utf::printable(outcome.reason);
    case Kind::UnusableReply:
        return "unusable-reply " + utf::printable(outcome.reason);
    case Kind::RateLimited:
        return "rate-limited " + std::to_string(outcome.retryAfter.value_or(outcome.nextCheckIn));
    case Kind::Disabled:
        return outcome.disabledBy == CheckOutcome::DisabledBy::Environment ? "disabled environment"
                                                                           : "disabled policy";
    case Kind::Managed:
        return outcome.packageManager == CheckOutcome::PackageManager::Snap ? "managed snap"
                                                                            : "managed flatpak";
    case Kind::NotConfigured:
        break;
    }
    return "not-configured";
}

StoreRelease readStoreRelease(std::shared_ptr<const JsonValue> record) {
    StoreRelease release;
    release.record = record ? std::move(record) : std::make_shared<const JsonValue>();
    const JsonRef fields(*release.record);
    if (const JsonValue* version = fields[std::string_view("version")].get()) {
        if (const JsonString* text = version->asString()) {
            std::string start = textStart(*text, kMaxVersionLength);
            if (start.size() > kMaxVersionLength) {
                release.versionFault = StoreRelease::VersionFault::TooLong;
                release.shownVersion = utf::shortened(start, kMaxVersionLength);
            } else {
                release.version = start;
                release.shownVersion = std::move(start);
            }
        } else {
            release.versionFault = StoreRelease::VersionFault::NotText;
        }
    }
    if (const JsonString* notes = fields[std::string_view("releaseNotes")].asString())
        release.releaseNotes = utf::shortened(textStart(*notes, platform::kMaxShownReleaseNotes),
                                              platform::kMaxShownReleaseNotes);
    release.releaseDate = fields[kCurrentVersionReleaseDate].stringUtf8();
    release.minimumOsVersion = fields[kMinimumOsVersion].stringUtf8();
    release.page = fields[kTrackViewUrl].stringUtf8();
    return release;
}

namespace check {

AgentSettings readSettings(const platform::Bundle& mainBundle) {
    static constexpr std::array<std::string_view, 10> kKeys = {kBrenvoAppId,
                                                               kBrenvoCastUrl,
                                                               kBrenvoCountry,
                                                               kBrenvoInterval,
                                                               kBrenvoDebugMessages,
                                                               kBrenvoMinimumReleaseAge,
                                                               kCFBundleShortVersionString,
                                                               kCFBundleIdentifier,
                                                               kBrenvoAutomaticChecks,
                                                               kBrenvoWhenPackaged};
    const platform::PlistDictionary info = mainBundle.objectsForInfoDictionaryKeys(kKeys);
    const auto value = [&info](std::string_view key) -> const platform::PlistValue* {
        const auto found = info.find(key);
        return found == info.end() ? nullptr : &found->second;
    };
    const auto text = [&value](std::string_view key) -> std::optional<std::string> {
        if (const platform::PlistValue* found = value(key))
            return found->description();
        return std::nullopt;
    };
    AgentSettings settings;
    settings.appId = text(kBrenvoAppId);
    settings.castUrl = text(kBrenvoCastUrl);
    settings.country = text(kBrenvoCountry);
    if (const platform::PlistValue* interval = value(kBrenvoInterval)) {
        settings.interval = interval->integerValue();
        settings.intervalUnreadable = !settings.interval;
    }
    const platform::PlistValue* debug = value(kBrenvoDebugMessages);
    settings.debugMessages = debug && debug->boolValue();
    if (const platform::PlistValue* age = value(kBrenvoMinimumReleaseAge))
        settings.minimumReleaseAge = age->integerValue();
    settings.appVersion = text(kCFBundleShortVersionString);
    settings.bundleIdentifier = text(kCFBundleIdentifier);
    if (const platform::PlistValue* automatic = value(kBrenvoAutomaticChecks))
        settings.automaticChecks = automatic->boolValue();
    settings.whenPackaged = text(kBrenvoWhenPackaged);
    return settings;
}

std::optional<CheckOutcome> restraint(const AgentSettings& settings, bool userInitiated,
                                      const Note& note, const Note& warn) {
    CheckOutcome outcome;
    outcome.userInitiated = userInitiated;
    if (platform::disabledByEnvironment()) {
        note(kDisabledByEnvironment);
        outcome.kind = Kind::Disabled;
        outcome.disabledBy = CheckOutcome::DisabledBy::Environment;
        return outcome;
    }
    const platform::UpdatePolicy policy = platform::readUpdatePolicy(settings.bundleIdentifier);
    if (policy.fault)
        warn("The update policy " + utf::logField(policy.path) + " " + *policy.fault +
             ". It disables nothing.");
    if (!policy.enabled) {
        note("Update checks are disabled by the policy in " + utf::logField(policy.path) +
             ". No request is sent.");
        outcome.kind = Kind::Disabled;
        outcome.disabledBy = CheckOutcome::DisabledBy::Policy;
        return outcome;
    }
    if (userInitiated || settings.whenPackaged == kAnnounce)
        return std::nullopt;
    const platform::PackageManager manager = platform::packageManager();
    if (manager == platform::PackageManager::None)
        return std::nullopt;
    if (settings.whenPackaged)
        note(kWhenPackagedUnknown);
    const bool snap = manager == platform::PackageManager::Snap;
    note(std::string("Installed by ") + (snap ? "Snap" : "Flatpak") +
         ", which brings the application's updates. The scheduled check is not sent.");
    outcome.kind = Kind::Managed;
    outcome.packageManager =
        snap ? CheckOutcome::PackageManager::Snap : CheckOutcome::PackageManager::Flatpak;
    return outcome;
}

std::string lookupUrl(const AgentSettings& settings, const Note& note) {
    if (settings.castUrl)
        return *settings.castUrl + *settings.appId;
    std::string url = std::string(kDefaultLookupUrlPrefix) + *settings.appId;
    if (!settings.country)
        return url;
    const std::string& country = *settings.country;
    const auto letter = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
    if (country.size() != 2 || !letter(country[0]) || !letter(country[1])) {
        note(std::string(kBrenvoCountry) + " " + utf::logField(country) +
             " is not two ASCII letters. Looking up without a country.");
        return url;
    }
    url += "&country=";
    for (const char c : country)
        url += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return url;
}

bool needsNetwork(std::string_view url) {
    const size_t scheme = url.find("://");
    if (scheme == std::string_view::npos)
        return true;
    std::string_view host = url.substr(scheme + 3);
    host = host.substr(0, host.find_first_of("/?#"));
    if (const size_t at = host.rfind('@'); at != std::string_view::npos)
        host.remove_prefix(at + 1);
    if (host.starts_with("[::1]"))
        return !(host.size() == 5 || host[5] == ':');
    host = host.substr(0, host.find(':'));
    std::string lower(host);
    for (char& c : lower)
        c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    if (lower == "localhost" || lower == "localhost.")
        return false;
    // Dotted IPv4 in 127.0.0.0/8: four numbers of digits only.
    if (!lower.starts_with("127."))
        return true;
    int parts = 0;
    size_t digits = 0;
    for (const char c : lower) {
        if (c == '.') {
            if (digits == 0 || digits > 3)
                return true;
            ++parts;
            digits = 0;
        } else if (c >= '0' && c <= '9') {
            ++digits;
        } else {
            return true;
        }
    }
    return parts != 3 || digits == 0 || digits > 3;
}

bool isRateLimited(const platform::URLResponse& response) {
    return response.status == 429 || response.status == 503;
}

std::optional<int64_t> readRetryAfter(const platform::URLResponse& response, platform::Date now,
                                      const Note& note) {
    const std::string limited =
        "The store limits requests (HTTP status " + std::to_string(response.status) + ")";
    std::string_view header = response.retryAfter;
    const auto space = [](char c) { return c == ' ' || c == '\t'; };
    while (!header.empty() && space(header.front()))
        header.remove_prefix(1);
    while (!header.empty() && space(header.back()))
        header.remove_suffix(1);
    if (header.empty()) {
        note(limited + " and names no wait.");
        return std::nullopt;
    }
    std::optional<int64_t> wait;
    if (std::all_of(header.begin(), header.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        // Delta-seconds; any number of digits saturates at the longest wait.
        int64_t seconds = 0;
        for (const char c : header)
            seconds = std::min<int64_t>(seconds * 10 + (c - '0'), kMaximumRetryAfter + 1);
        wait = seconds;
    } else if (const auto date = platform::dateFromHttpDate(header)) {
        const double ahead = date->timeIntervalSinceDate(now);
        wait = std::isnan(ahead) ? 0
                                 : static_cast<int64_t>(std::ceil(std::clamp(
                                       ahead, 0.0, static_cast<double>(kMaximumRetryAfter))));
    }
    if (!wait) {
        note(limited + " with a Retry-After that cannot be read: " + utf::logField(header) + ".");
        return std::nullopt;
    }
    wait = std::min<int64_t>(*wait, kMaximumRetryAfter);
    note(limited + " and asks to wait " + std::to_string(*wait) + " seconds.");
    return wait;
}

ReleaseReading readReply(platform::URLResponse response, const Note& note) {
    if (response.tooLarge) {
        note("No response for HTTP Request (Response larger than " +
             std::to_string(platform::HttpClient::kMaxResponseSize) + " bytes was dropped).");
        ReleaseReading tooLarge = ending(
            Kind::NoReply, "the reply is larger than " +
                               std::to_string(platform::HttpClient::kMaxResponseSize) + " bytes");
        tooLarge.storeReached = true;
        return tooLarge;
    }
    if (response.body.empty()) {
        if (!response.error.empty())
            note("HTTP Request failed: " + utf::logField(response.error));
        note(kNoResponse);
        ReleaseReading nothing =
            ending(Kind::NoReply, response.error.empty() ? "empty reply" : response.error);
        nothing.storeReached = response.connected;
        return nothing;
    }

    ReleaseReading reading;
    std::optional<JsonValue> reply;
    {
        const std::string_view bytes(reinterpret_cast<const char*>(response.body.data()),
                                     response.body.size());
        if (!platform::isValidUTF8(bytes)) {
            note(kReplyNotUtf8);
            reading.reason = "the reply is not UTF-8 text";
            return reading;
        }
        XKJSON json;
        reply = json.objectWithString(bytes, nullptr);
        if (!reply) {
            note(kReplyNotJson);
            reading.reason = "the reply is not a JSON object or array";
            return reading;
        }
    }
    response.body = {};

    // "results"[0] is the release record and its "version" the store version; a reply without
    // them has no store version and ends in the not-newer line.
    if (reply->isArray()) {
        note(kReplyTopLevelArray);
        return ending(Kind::UnusableReply, "its top level is an array, not an object");
    }
    JsonValue* results = reply->asObject()->find(u"results");
    if (results == nullptr) {
        reading.reason = "the reply has no \"results\"";
        return reading;
    }
    JsonValue::Array* list = results->asArray();
    if (list == nullptr) {
        note(kReplyResultsNotArray);
        return ending(Kind::UnusableReply, "\"results\" is not an array");
    }
    if (list->empty()) {
        note(kReplyResultsEmpty);
        return ending(Kind::UnusableReply, "\"results\" is empty");
    }
    if (!list->front().isObject()) {
        note(kReplyRecordNotObject);
        return ending(Kind::UnusableReply, "\"results\"[0] is not an object");
    }
    // The record is kept; the rest of the reply goes with it.
    auto release = std::make_shared<const StoreRelease>(
        readStoreRelease(std::make_shared<const JsonValue>(std::move(list->front()))));
    reply.reset();
    switch (release->versionFault) {
    case StoreRelease::VersionFault::NotText:
        note(kReplyVersionNotText);
        return ending(Kind::UnusableReply, "\"version\" is not a text");
    case StoreRelease::VersionFault::TooLong:
        note(kReplyVersionTooLong);
        return ending(Kind::UnusableReply,
                      "\"version\" is longer than " + std::to_string(kMaxVersionLength) + " bytes");
    case StoreRelease::VersionFault::None:
        break;
    }
    if (!release->version)
        reading.reason = "the release record has no \"version\"";
    reading.release = std::move(release);
    return reading;
}

Decision decide(const DecisionInput& in, const Note& note) {
    static const StoreRelease kNoRelease;
    const StoreRelease& release = in.release ? *in.release : kNoRelease;
    const int order = compareVersions(
        release.version ? std::optional<std::string_view>(*release.version) : std::nullopt,
        in.appVersion ? std::optional<std::string_view>(*in.appVersion) : std::nullopt);
    // Without a store version there is nothing to announce, whatever the app version reads.
    if (order != 1 || !release.version) {
        note("No new Version available. App Version: " + orAbsent(in.appVersion) +
             ", MAS Version: " + orAbsent(release.version));
        return {Kind::UpToDate};
    }
    const std::string version = utf::logField(*release.version);
    note("New Version " + version + " found!");

    // Compared in the form the defaults file holds, so that a version it cannot hold whole stays
    // skipped once skipped.
    if (in.skippedVersion && *in.skippedVersion == platform::storableText(*release.version)) {
        if (!in.userInitiated) {
            note("Version " + version + " already skipped by user. No notification.");
            return {Kind::Skipped};
        }
        note("Version " + version + " was skipped by the user, who now asked for updates.");
    }

    if (in.minimumReleaseAge && *in.minimumReleaseAge > 0) {
        const auto released =
            release.releaseDate ? platform::dateFromISO8601(*release.releaseDate) : std::nullopt;
        if (!released) {
            note("The release date of version " + version + " cannot be read. " +
                 std::string(kBrenvoMinimumReleaseAge) + " does not hold it back.");
        } else {
            const int64_t age = wholeSeconds(in.now.timeIntervalSinceDate(*released));
            if (age < *in.minimumReleaseAge) {
                note("Version " + version + " held back by " +
                     std::string(kBrenvoMinimumReleaseAge) + ": released " + std::to_string(age) +
                     " seconds ago, " + std::to_string(*in.minimumReleaseAge) +
                     " seconds required.");
                return {Kind::HeldBack, CheckOutcome::Gate::MinimumReleaseAge};
            }
        }
    }
    if (release.minimumOsVersion && in.systemVersion &&
        compareVersions(std::optional<std::string_view>(*in.systemVersion),
                        std::optional<std::string_view>(*release.minimumOsVersion)) == -1) {
        note("Version " + version + " held back by its " + std::string(kMinimumOsVersion) +
             ": it needs system version " + utf::logField(*release.minimumOsVersion) +
             ", this system has " + *in.systemVersion + ".");
        return {Kind::HeldBack, CheckOutcome::Gate::MinimumOsVersion};
    }
    return {Kind::UpdateAvailable};
}

} // namespace check
} // namespace brenvo
