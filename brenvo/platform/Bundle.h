// A bundle: the host application's Info.plist and localised texts, or the framework's own
// version information. Every lookup reads the current state afresh; nothing is cached.
#pragma once

#include "brenvo/Export.h"
#include "brenvo/platform/PropertyList.h"

#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace brenvo::platform {

class BRENVO_EXPORT Bundle {
public:
    virtual ~Bundle();

    // The Info.plist value for `key`, or nullopt when the key is not there (or the Info.plist
    // cannot be read).
    virtual std::optional<PlistValue> objectForInfoDictionaryKey(std::string_view key) const = 0;

    // The Info.plist values for `keys`, by key, from one reading; keys that are not there are
    // left out. The default asks objectForInfoDictionaryKey() key by key; a bundle that reads a
    // file reads it once.
    virtual PlistDictionary
    objectsForInfoDictionaryKeys(std::span<const std::string_view> keys) const {
        PlistDictionary found;
        for (const std::string_view key : keys) {
            if (auto value = objectForInfoDictionaryKey(key))
                found.emplace(key, std::move(*value));
        }
        return found;
    }

    // The text for `key` in the strings table `table` of the user's language. A key missing
    // from the table gives `value` when it is not empty, else the key itself.
    virtual std::string localizedStringForKey(std::string_view key, std::string_view value,
                                              std::string_view table) const = 0;
};

} // namespace brenvo::platform
