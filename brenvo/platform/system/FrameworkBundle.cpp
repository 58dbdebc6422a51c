#include "brenvo/platform/system/FrameworkBundle.h"

namespace brenvo::platform {

std::optional<PlistValue> FrameworkBundle::objectForInfoDictionaryKey(std::string_view key) const {
    if (key == "CFBundleShortVersionString") {
        return PlistValue(BRENVO_VERSION_STRING);
    }
    if (key == "CFBundleVersion") {
        return PlistValue(BRENVO_BUILD_VERSION_STRING);
    }
    if (key == "CFBundleName") {
        return PlistValue("Brenvo");
    }
    return std::nullopt;
}

std::string FrameworkBundle::localizedStringForKey(std::string_view key, std::string_view value,
                                                   std::string_view) const {
    return std::string(value.empty() ? key : value);
}

} // namespace brenvo::platform
