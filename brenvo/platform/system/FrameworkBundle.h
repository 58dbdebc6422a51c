// Brenvo's own bundle information: its version and build number, fixed when it was built.
#pragma once

#include "brenvo/Export.h"
#include "brenvo/platform/Bundle.h"

namespace brenvo::platform {

// "CFBundleShortVersionString" is the library's version ("1.0.0"), "CFBundleVersion" its build
// number, "CFBundleName" "Brenvo"; every other key is absent. Brenvo carries no strings tables of
// its own, so localised lookups give the value, or the key when the value is empty.
class BRENVO_EXPORT FrameworkBundle final : public Bundle {
public:
    std::optional<PlistValue> objectForInfoDictionaryKey(std::string_view key) const override;
    std::string localizedStringForKey(std::string_view key, std::string_view value,
                                      std::string_view table) const override;
};

} // namespace brenvo::platform
