// Brenvo's own bundle: its version and build number, fixed when it was built, and its
// translations of the release window's texts, "<lang>.lproj/Brenvo.strings" in its resources
// folder.
#pragma once

#include "brenvo/Export.h"
#include "brenvo/platform/Bundle.h"

#include <filesystem>

namespace brenvo::platform {

// "CFBundleShortVersionString" is the library's version ("1.0.0"), "CFBundleVersion" its build
// number, "CFBundleName" "Brenvo"; every other key is absent. Localised lookups read the
// framework's own tables for the user's languages; a key found in none gives the value, or the
// key when the value is empty.
class BRENVO_EXPORT FrameworkBundle final : public Bundle {
public:
    std::optional<PlistValue> objectForInfoDictionaryKey(std::string_view key) const override;
    std::string localizedStringForKey(std::string_view key, std::string_view value,
                                      std::string_view table) const override;

    // The folder of the framework's translations, found from the library's own file so that an
    // installed tree can be moved: "<datadir>/brenvo/Resources" as installed, or
    // "<build>/share/brenvo/Resources" beside "<build>/lib" in the build tree. Empty when neither
    // exists.
    static std::filesystem::path resourcesPath();
};

} // namespace brenvo::platform
