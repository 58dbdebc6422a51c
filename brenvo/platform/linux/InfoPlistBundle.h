// The host application's bundle: its Info.plist and its resources folder.
//
//   InfoPlistBundle bundle(log);                       // Info.plist found from the executable
//   InfoPlistBundle bundle("/opt/app/Info.plist", log);
//   auto appId = bundle.objectForInfoDictionaryKey("BrenvoAppId");
//
// The Info.plist (XML or binary) is read again on every lookup, so edits take effect at once.
// The resources folder, which holds the "<language>.lproj" folders of localised texts, is the
// folder of the Info.plist, or its "Resources" subfolder when there is one (the bundle layout
// "App/Info.plist" + "App/Resources/"), or the folder that the host names. Safe to use from any
// thread.
#pragma once

#include "brenvo/Export.h"
#include "brenvo/platform/Bundle.h"
#include "brenvo/platform/Log.h"

#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace brenvo::platform {

class BRENVO_EXPORT InfoPlistBundle final : public Bundle {
public:
    // Looks for "<exe dir>/Info.plist", then "<exe dir>/../Info.plist", then
    // "<exe dir>/../share/<exe name>/Info.plist" (the data folder of an installed program), on
    // every lookup.
    explicit InfoPlistBundle(Log& log);
    // The Info.plist at `infoPlist`.
    InfoPlistBundle(std::filesystem::path infoPlist, Log& log);
    // The Info.plist at `infoPlist` with resources in `resources`.
    InfoPlistBundle(std::filesystem::path infoPlist, std::filesystem::path resources, Log& log);
    // A dictionary given by the host instead of a file, with resources in `resources` (may be
    // empty: no localised texts).
    InfoPlistBundle(PlistDictionary info, std::filesystem::path resources, Log& log);

    std::optional<PlistValue> objectForInfoDictionaryKey(std::string_view key) const override;
    PlistDictionary
    objectsForInfoDictionaryKeys(std::span<const std::string_view> keys) const override;
    std::string localizedStringForKey(std::string_view key, std::string_view value,
                                      std::string_view table) const override;

    // The whole Info.plist as read now; nullopt when there is none or it cannot be read (which
    // is logged once per version of the file).
    std::optional<PlistDictionary> infoDictionary() const;
    // The Info.plist file in use now (empty for a dictionary given by the host).
    std::filesystem::path infoPlistPath() const;
    // The resources folder in use now.
    std::filesystem::path resourcesPath() const;

    // The executable's folder, from /proc/self/exe.
    static std::filesystem::path executableDirectory();

private:
    std::filesystem::path explicitPlist_;
    std::filesystem::path explicitResources_;
    std::optional<PlistDictionary> fixedInfo_;
    bool searchNextToExecutable_ = false;
    Log& log_;
    mutable std::mutex reportLock_;
    mutable std::string lastReported_;
};

} // namespace brenvo::platform
