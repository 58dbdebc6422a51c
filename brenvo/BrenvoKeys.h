// Every settings key, user-defaults key and notification name that Brenvo reads or writes, and the
// few texts its parts share.
#pragma once

#include <cstddef>
#include <string_view>

namespace brenvo {

// Keys of the host application's Info.plist.
inline constexpr std::string_view kBrenvoAppId = "BrenvoAppId";
inline constexpr std::string_view kBrenvoInterval = "BrenvoInterval";
inline constexpr std::string_view kBrenvoDebugMessages = "BrenvoDebugMessages";
inline constexpr std::string_view kBrenvoCastUrl = "BrenvoCastUrl";
inline constexpr std::string_view kBrenvoCountry = "BrenvoCountry";
// Under a package manager: "announce" checks as anywhere else; otherwise no scheduled request.
inline constexpr std::string_view kBrenvoWhenPackaged = "BrenvoWhenPackaged";
inline constexpr std::string_view kAnnounce = "announce";
inline constexpr std::string_view kCFBundleShortVersionString = "CFBundleShortVersionString";
inline constexpr std::string_view kCFBundleVersion = "CFBundleVersion";
inline constexpr std::string_view kCFBundleName = "CFBundleName";
inline constexpr std::string_view kCFBundleIdentifier = "CFBundleIdentifier";
inline constexpr std::string_view kCFBundleExecutable = "CFBundleExecutable";

// Keys of the user's defaults.
inline constexpr std::string_view kBrenvoLastCheck = "BrenvoLastCheck";
inline constexpr std::string_view kBrenvoSkipVersion = "BrenvoSkipVersion";
// The user's switch for scheduled checks; the host's Info.plist may give its default under the
// same key.
inline constexpr std::string_view kBrenvoAutomaticChecks = "BrenvoAutomaticChecks";

// Notifications and tables. The release-info window's name, which the windows below the agent
// register under as well, is platform::kReleaseInfoWindow (brenvo/platform/Window.h).
inline constexpr std::string_view kBrenvoReleaseWindowClosed = "BrenvoReleaseWindowClosed";
inline constexpr std::string_view kBrenvoStringsTable = "Brenvo";

// Texts shared by the agent and its window: the prefix of every line they log, and how an absent
// value shows inside a text.
inline constexpr std::string_view kLogPrefix = "Brenvo: ";
inline constexpr std::string_view kAbsentText = "(null)";

// Optional gates of the host's Info.plist and the release record's fields they read.
inline constexpr std::string_view kBrenvoMinimumReleaseAge = "BrenvoMinimumReleaseAge";
inline constexpr std::string_view kCurrentVersionReleaseDate = "currentVersionReleaseDate";
inline constexpr std::string_view kMinimumOsVersion = "minimumOsVersion";
inline constexpr std::string_view kTrackViewUrl = "trackViewUrl";

// Timing.
inline constexpr long long kDefaultCheckInterval = 86400; // one day, in seconds
inline constexpr long long kMinimumCheckInterval = 60;    // whatever "BrenvoInterval" says
inline constexpr double kRequestTimeout = 10.0;           // seconds, whole transfer
// The longest wait a store's "Retry-After" imposes: a store cannot switch the agent off.
inline constexpr long long kMaximumRetryAfter = 7 * 86400;

// The longest store version, in bytes of UTF-8: a reply with a longer one is unusable, and
// nothing longer is stored, compared or shown.
inline constexpr std::size_t kMaxVersionLength = 256;

} // namespace brenvo
