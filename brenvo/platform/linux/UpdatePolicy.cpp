// The administrator's policy file, the environment's switch and the package-manager detection.
#include "brenvo/platform/linux/UpdatePolicy.h"

#include "brenvo/utf/Utf8.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <strings.h>
#include <system_error>
#include <tuple>

namespace brenvo::platform {

namespace {

constexpr std::string_view kChecksGroup = "Checks";
constexpr std::string_view kEnabledKey = "Enabled";
constexpr std::string_view kDefaultConfigDirs = "/etc/xdg";

std::string_view trimmed(std::string_view text) {
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

bool isKeyCharacter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-';
}

// "Key" or "Key[locale]".
bool isKey(std::string_view key) {
    const size_t open = key.find('[');
    const std::string_view name = key.substr(0, open);
    if (name.empty() || !std::all_of(name.begin(), name.end(), isKeyCharacter))
        return false;
    if (open == std::string_view::npos)
        return true;
    const std::string_view locale = key.substr(open + 1);
    return locale.size() >= 2 && locale.back() == ']' &&
           locale.find_first_of("[]") == locale.size() - 1;
}

std::string atLine(size_t line, std::string_view what) {
    return "line " + std::to_string(line) + " " + std::string(what);
}

std::string systemError(int error) {
    return std::error_code(error, std::generic_category()).message();
}

// The file's text, or a fault; ENOENT and ENOTDIR give neither: there is no file here.
struct FileText {
    std::optional<std::string> text;
    std::optional<std::string> fault;
};

FileText readPolicyFile(const std::string& path) {
    FileText file;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        if (errno != ENOENT && errno != ENOTDIR)
            file.fault = "cannot be opened: " + systemError(errno);
        return file;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        file.fault = "cannot be read: " + systemError(errno);
    } else if (!S_ISREG(info.st_mode)) {
        file.fault = "is not a regular file";
    } else {
        std::string text;
        std::array<char, 4096> buffer{};
        while (text.size() <= kMaxUpdatePolicySize) {
            const ssize_t got = ::read(fd, buffer.data(), buffer.size());
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0) {
                file.fault = "cannot be read: " + systemError(errno);
                break;
            }
            if (got == 0)
                break;
            text.append(buffer.data(), static_cast<size_t>(got));
        }
        if (!file.fault && text.size() > kMaxUpdatePolicySize)
            file.fault = "is larger than " + std::to_string(kMaxUpdatePolicySize) + " bytes";
        else if (!file.fault)
            file.text = std::move(text);
    }
    ::close(fd);
    return file;
}

bool isSet(const char* name) {
    const char* value = std::getenv(name);
    return value && *value;
}

} // namespace

std::optional<KeyFile> parseKeyFile(std::string_view text, std::string& fault) {
    if (!utf::isValidUtf8(text)) {
        fault = "it is not UTF-8 text";
        return std::nullopt;
    }
    KeyFile groups;
    KeyFile::iterator group = groups.end();
    size_t number = 0;
    for (size_t start = 0; start < text.size(); ++number) {
        const size_t end = std::min(text.find('\n', start), text.size());
        std::string_view line = text.substr(start, end - start);
        start = end + 1;
        if (line.ends_with('\r'))
            line.remove_suffix(1);
        const auto control = [](char c) {
            return (static_cast<unsigned char>(c) < 0x20 && c != '\t') || c == 0x7F;
        };
        if (std::any_of(line.begin(), line.end(), control)) {
            fault = atLine(number + 1, "holds a control character");
            return std::nullopt;
        }
        line = trimmed(line);
        if (line.empty() || line.front() == '#')
            continue;
        if (line.front() == '[') {
            const std::string_view name = line.substr(1, line.size() - 2);
            if (line.size() < 3 || !line.ends_with(']') ||
                name.find_first_of("[]") != std::string_view::npos) {
                fault = atLine(number + 1, "is not a valid group header");
                return std::nullopt;
            }
            bool added = false;
            std::tie(group, added) = groups.try_emplace(std::string(name));
            if (!added) {
                fault = atLine(number + 1, "repeats a group");
                return std::nullopt;
            }
            continue;
        }
        const size_t equals = line.find('=');
        const std::string_view key =
            trimmed(line.substr(0, equals == std::string_view::npos ? 0 : equals));
        if (equals == std::string_view::npos || !isKey(key)) {
            fault = atLine(number + 1, "is not a group, a key or a comment");
            return std::nullopt;
        }
        if (group == groups.end()) {
            fault = atLine(number + 1, "holds a key before any group");
            return std::nullopt;
        }
        if (!group->second.try_emplace(std::string(key), trimmed(line.substr(equals + 1))).second) {
            fault = atLine(number + 1, "repeats a key of its group");
            return std::nullopt;
        }
    }
    return groups;
}

UpdatePolicy readUpdatePolicy(std::optional<std::string_view> application) {
    UpdatePolicy policy;
    const char* variable = std::getenv("XDG_CONFIG_DIRS");
    std::string_view dirs = variable && *variable ? variable : kDefaultConfigDirs;
    while (!dirs.empty()) {
        const std::string_view dir = dirs.substr(0, dirs.find(':'));
        dirs.remove_prefix(std::min(dirs.size(), dir.size() + 1));
        if (!dir.starts_with('/'))
            continue;
        std::string path = std::string(dir) + "/" + std::string(kUpdatePolicyFile);
        FileText file = readPolicyFile(path);
        if (!file.text && !file.fault)
            continue;
        policy.path = std::move(path);
        if (file.fault) {
            policy.fault = std::move(file.fault);
            return policy;
        }
        std::string why;
        const auto groups = parseKeyFile(*file.text, why);
        if (!groups) {
            policy.fault = "cannot be parsed: " + why;
            return policy;
        }
        // The application's own group wins over the one for every application.
        const std::string* enabled = nullptr;
        std::string_view from;
        for (const std::optional<std::string_view> name :
             {application, std::optional<std::string_view>(kChecksGroup)}) {
            const auto found = name ? groups->find(*name) : groups->end();
            if (found == groups->end())
                continue;
            const auto key = found->second.find(kEnabledKey);
            if (key != found->second.end()) {
                enabled = &key->second;
                from = *name;
                break;
            }
        }
        if (enabled && *enabled != "true" && *enabled != "false")
            policy.fault = "cannot be used: \"Enabled\" of [" + std::string(from) +
                           "] is neither true nor false";
        else
            policy.enabled = !enabled || *enabled == "true";
        return policy;
    }
    return policy;
}

bool disabledByEnvironment() {
    const char* value = std::getenv("BRENVO_DISABLE");
    if (!value)
        return false;
    for (const char* yes : {"1", "true", "yes"}) {
        if (::strcasecmp(value, yes) == 0)
            return true;
    }
    return false;
}

PackageManager packageManager() {
    const char* root = std::getenv("BRENVO_SYSTEM_ROOT");
    const std::string info = std::string(root && *root ? root : "") + "/.flatpak-info";
    if (isSet("FLATPAK_ID") || ::access(info.c_str(), F_OK) == 0)
        return PackageManager::Flatpak;
    if (isSet("SNAP") && isSet("SNAP_NAME"))
        return PackageManager::Snap;
    return PackageManager::None;
}

} // namespace brenvo::platform
