// What the system around the application says about update checks: the administrator's policy
// file, the BRENVO_DISABLE variable, and whether a package manager brings the application's
// updates. Everything is read afresh at each call.
//
//   # ${XDG_CONFIG_DIRS:-/etc/xdg}/brenvo/policy.conf
//   [Checks]
//   Enabled=false
//   [org.example.Editor]
//   Enabled=true
#pragma once

#include "brenvo/Export.h"

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace brenvo::platform {

// The policy file's place under each folder of $XDG_CONFIG_DIRS, and the most of it that is read.
inline constexpr std::string_view kUpdatePolicyFile = "brenvo/policy.conf";
inline constexpr size_t kMaxUpdatePolicySize = 64 * 1024;

// Groups of "Key=value" lines, by group name then key. A key with a locale ("Name[de]") is kept
// under its whole text.
using KeyFile = std::map<std::string, std::map<std::string, std::string, std::less<>>, std::less<>>;

// `text` in the key-file format of desktop entries: UTF-8 without control characters but tab,
// lines of "[Group]", "Key=value" (spaces around "=" allowed), "#" comments and blank lines;
// every key inside a group, no group or key twice. nullopt, with `fault` saying where and why,
// for anything else.
BRENVO_EXPORT std::optional<KeyFile> parseKeyFile(std::string_view text, std::string& fault);

struct UpdatePolicy {
    bool enabled = true;
    // The file that was read, empty when there is none.
    std::string path;
    // Why the file found could not be used, in which case it disables nothing.
    std::optional<std::string> fault;
};

// The first "brenvo/policy.conf" found along $XDG_CONFIG_DIRS (absolute folders only; unset or
// empty means /etc/xdg). "Enabled" of the group named `application`, when it has one, else of
// "[Checks]", else on; its value is "true" or "false" and nothing else.
BRENVO_EXPORT UpdatePolicy readUpdatePolicy(std::optional<std::string_view> application);

// BRENVO_DISABLE holds "1", "true" or "yes" (any case): no request for this run.
BRENVO_EXPORT bool disabledByEnvironment();

enum class PackageManager { None, Flatpak, Snap };

// Flatpak when "/.flatpak-info" exists or FLATPAK_ID is set, else Snap when SNAP and SNAP_NAME
// both are. BRENVO_SYSTEM_ROOT, when set, is the folder looked in instead of "/".
BRENVO_EXPORT PackageManager packageManager();

} // namespace brenvo::platform
