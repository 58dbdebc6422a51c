// Localised texts from ".strings" tables: `<resources>/<lang>.lproj/<table>.strings`.
//
//   /* German texts of the release window */
//   "Software Update" = "Softwareaktualisierung";
//
//   std::string title = localizedStringFromTable(resources, "Brenvo", "Software Update", "", &log);
//
// A table is UTF-8 (with or without byte-order mark) or UTF-16 with a byte-order mark (either
// byte order). Entries are `"key" = "value";`, keys and values may also be bare words of
// letters, digits and `_$/:.-`, and `"key";` alone maps the key to itself. Comments are
// `/* ... */` and `// ...`. Strings know the escapes \" \\ \n \t \r \a \b \f \v \0 and
// \Uxxxx / \uxxxx (four hex digits; UTF-16 surrogate pairs are joined); any other escaped
// character stands for itself.
#pragma once

#include "brenvo/Export.h"

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace brenvo::platform {

class Log;

// Parses the bytes of a .strings file into its entries (UTF-8 keys and values; a later
// duplicate key replaces an earlier one). On malformed input gives nullopt and, when `error` is
// not null, a one-line description naming the line, e.g. "line 3: missing ';' after entry".
BRENVO_EXPORT std::optional<std::map<std::string, std::string, std::less<>>>
parseStringsFile(std::span<const uint8_t> bytes, std::string* error);

// The user's languages, most preferred first, from LANGUAGE (a colon list), then the first set
// of LC_ALL, LC_MESSAGES and LANG, with ".encoding" and "@modifier" removed. "C" and "POSIX"
// name no language. "en" closes the list.
BRENVO_EXPORT std::vector<std::string> preferredLanguages();

// The folder names tried for the languages above, in order: for "de_AT" these are "de_AT",
// "de-AT", then "de" ("zh_CN" adds "zh-Hans" before "zh", "zh_TW" "zh-Hant"); duplicates are
// dropped and "en" comes last.
BRENVO_EXPORT std::vector<std::string>
localizationCandidates(const std::vector<std::string>& languages);

// The text for `key` from `<resourcesDir>/<lang>.lproj/<table>.strings`, trying the user's
// languages in the order of localizationCandidates(preferredLanguages()). A key found in no
// table gives `value` when it is not empty, else the key itself. A table that cannot be read or
// parsed is reported on `log` (when not null) and skipped; a missing table is no failure.
BRENVO_EXPORT std::string localizedStringFromTable(const std::filesystem::path& resourcesDir,
                                                   std::string_view table, std::string_view key,
                                                   std::string_view value, Log* log);

// The text for `key` as a host application shows it, with the framework's translations behind
// the host's own: for each of the user's languages in the order above, the host's table
// `<resourcesDir>/<lang>.lproj/<table>.strings`, then, only when the host is localised into that
// language (it has the "<lang>.lproj" folder, or lists the language in `hostLocalizations`, its
// "CFBundleLocalizations"), the framework's table of the same name under
// `frameworkResourcesDir`. A key found nowhere gives `value` when it is not empty, else the key:
// an application that is not localised into the user's language keeps the English keys.
BRENVO_EXPORT std::string localizedStringFromTables(
    const std::filesystem::path& resourcesDir, const std::vector<std::string>& hostLocalizations,
    const std::filesystem::path& frameworkResourcesDir, std::string_view table,
    std::string_view key, std::string_view value, Log* log);

} // namespace brenvo::platform
