#include "brenvo/platform/linux/InfoPlistBundle.h"

#include "brenvo/platform/linux/FrameworkBundle.h"
#include "brenvo/platform/linux/PlistFile.h"
#include "brenvo/platform/linux/StringsTable.h"

#include <climits>
#include <sys/stat.h>
#include <unistd.h>

namespace brenvo::platform {

namespace {

std::string cannotReadInfoPlist(const std::filesystem::path& path, std::string_view reason) {
    return "Brenvo: The Info.plist file " + path.string() + " could not be read (" +
           std::string(reason) + ").";
}

bool isFile(const std::filesystem::path& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && !S_ISDIR(info.st_mode);
}

bool isFolder(const std::filesystem::path& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// The running executable, from /proc/self/exe; empty when it cannot be read.
std::filesystem::path executableFile() {
    char target[PATH_MAX];
    const ssize_t length = ::readlink("/proc/self/exe", target, sizeof target - 1);
    if (length <= 0) {
        return {};
    }
    return std::filesystem::path(std::string(target, static_cast<size_t>(length)));
}

std::filesystem::path executableName() {
    return executableFile().filename();
}

} // namespace

InfoPlistBundle::InfoPlistBundle(Log& log) : searchNextToExecutable_(true), log_(log) {}

InfoPlistBundle::InfoPlistBundle(std::filesystem::path infoPlist, Log& log)
    : explicitPlist_(std::move(infoPlist)), log_(log) {}

InfoPlistBundle::InfoPlistBundle(std::filesystem::path infoPlist, std::filesystem::path resources,
                                 Log& log)
    : explicitPlist_(std::move(infoPlist)), explicitResources_(std::move(resources)), log_(log) {}

InfoPlistBundle::InfoPlistBundle(PlistDictionary info, std::filesystem::path resources, Log& log)
    : explicitResources_(std::move(resources)), fixedInfo_(std::move(info)), log_(log) {}

std::filesystem::path InfoPlistBundle::executableDirectory() {
    return executableFile().parent_path();
}

std::filesystem::path InfoPlistBundle::infoPlistPath() const {
    if (fixedInfo_) {
        return {};
    }
    if (!searchNextToExecutable_) {
        return explicitPlist_;
    }
    const std::filesystem::path folder = executableDirectory();
    if (folder.empty()) {
        return {};
    }
    std::filesystem::path beside = folder / "Info.plist";
    if (isFile(beside)) {
        return beside;
    }
    std::filesystem::path bundled = (folder.parent_path() / "Info.plist").lexically_normal();
    if (isFile(bundled)) {
        return bundled;
    }
    // The data folder of an installed program: /usr/bin/app reads /usr/share/app/Info.plist.
    std::filesystem::path shared =
        (folder.parent_path() / "share" / executableName() / "Info.plist").lexically_normal();
    if (isFile(shared)) {
        return shared;
    }
    return beside;
}

std::filesystem::path InfoPlistBundle::resourcesPath() const {
    if (fixedInfo_ || !explicitResources_.empty()) {
        return explicitResources_;
    }
    const std::filesystem::path plist = infoPlistPath();
    if (plist.empty()) {
        return {};
    }
    std::filesystem::path folder = plist.parent_path();
    if (isFolder(folder / "Resources")) {
        return folder / "Resources";
    }
    return folder;
}

std::optional<PlistDictionary> InfoPlistBundle::infoDictionary() const {
    if (fixedInfo_) {
        return fixedInfo_;
    }
    const std::filesystem::path path = infoPlistPath();
    struct stat info {};
    if (path.empty() || ::stat(path.c_str(), &info) != 0) {
        return std::nullopt; // no Info.plist: every key is absent
    }
    std::string why;
    auto root = readPropertyListFile(path, &why);
    if (root && root->asDictionary() == nullptr) {
        root.reset();
        why = "does not hold a dictionary";
    }
    if (!root) {
        // Once per version of the file, not on every lookup.
        const std::string version = path.string() + '\n' + std::to_string(info.st_size) + '\n' +
                                    std::to_string(info.st_mtim.tv_sec) + '.' +
                                    std::to_string(info.st_mtim.tv_nsec) + '\n' + why;
        bool report = false;
        {
            std::lock_guard<std::mutex> hold(reportLock_);
            report = version != lastReported_;
            lastReported_ = version;
        }
        if (report)
            log_.write(cannotReadInfoPlist(path, why));
        return std::nullopt;
    }
    return *root->asDictionary();
}

std::optional<PlistValue> InfoPlistBundle::objectForInfoDictionaryKey(std::string_view key) const {
    const auto info = infoDictionary();
    if (!info) {
        return std::nullopt;
    }
    const auto found = info->find(key);
    if (found == info->end()) {
        return std::nullopt;
    }
    return found->second;
}

PlistDictionary
InfoPlistBundle::objectsForInfoDictionaryKeys(std::span<const std::string_view> keys) const {
    PlistDictionary found;
    const auto info = infoDictionary();
    if (!info) {
        return found;
    }
    for (const std::string_view key : keys) {
        if (const auto value = info->find(key); value != info->end()) {
            found.emplace(value->first, value->second);
        }
    }
    return found;
}

std::string InfoPlistBundle::localizedStringForKey(std::string_view key, std::string_view value,
                                                   std::string_view table) const {
    // The languages the host declares beside its ".lproj" folders; the framework's translations
    // are used for these and those only.
    std::vector<std::string> localizations;
    if (auto listed = objectForInfoDictionaryKey("CFBundleLocalizations")) {
        if (const auto* array = listed->asArray()) {
            for (const auto& item : *array) {
                if (const std::string* name = item.asString())
                    localizations.push_back(*name);
            }
        }
    }
    return localizedStringFromTables(resourcesPath(), localizations,
                                     FrameworkBundle::resourcesPath(), table, key, value, &log_);
}

} // namespace brenvo::platform
