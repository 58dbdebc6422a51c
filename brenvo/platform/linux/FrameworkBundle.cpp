#include "brenvo/platform/linux/FrameworkBundle.h"

#include "brenvo/platform/linux/StringsTable.h"

#include <dlfcn.h>
#include <system_error>

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
                                                   std::string_view table) const {
    return localizedStringFromTable(resourcesPath(), table, key, value, nullptr);
}

std::filesystem::path FrameworkBundle::resourcesPath() {
    Dl_info info{};
    if (::dladdr(reinterpret_cast<void*>(&FrameworkBundle::resourcesPath), &info) == 0 ||
        info.dli_fname == nullptr) {
        return {};
    }
    std::error_code ec;
    std::filesystem::path library = std::filesystem::canonical(info.dli_fname, ec);
    if (ec) {
        return {};
    }
    const std::filesystem::path folder = library.parent_path();
    for (const char* relative : {BRENVO_RESOURCES_FROM_LIBDIR, "../share/brenvo/Resources"}) {
        std::filesystem::path candidate = (folder / relative).lexically_normal();
        if (std::filesystem::is_directory(candidate, ec)) {
            return candidate;
        }
    }
    return {};
}

} // namespace brenvo::platform
