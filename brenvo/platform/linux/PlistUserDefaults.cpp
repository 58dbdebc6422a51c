#include "brenvo/platform/linux/PlistUserDefaults.h"

#include "brenvo/platform/linux/PlistFile.h"
#include "brenvo/utf/Printable.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace brenvo::platform {

namespace {

// A relative path is made absolute once, so the folder to flush after a rename is always known
// and a later change of the working folder cannot move the file.
std::filesystem::path absoluteOrAsGiven(std::filesystem::path file) {
    if (file.empty() || file.is_absolute())
        return file;
    std::error_code error;
    std::filesystem::path absolute = std::filesystem::absolute(file, error);
    return error ? file : absolute;
}

// The texts this store logs.
std::string cannotCreateFolder(const std::filesystem::path& folder, int error) {
    return "Brenvo: Could not create the preferences folder " + folder.string() + " (" +
           std::strerror(error) + ").";
}
std::string cannotSave(const std::filesystem::path& file, std::string_view step, int error) {
    return "Brenvo: Could not save the preferences file " + file.string() + " (" +
           std::string(step) + ": " + std::strerror(error) + "); the previous file is unchanged.";
}
std::string cannotFlushFolder(const std::filesystem::path& file, int error) {
    return "Brenvo: Saved the preferences file " + file.string() +
           " but could not flush its folder (" + std::strerror(error) + ").";
}
std::string cannotRead(const std::filesystem::path& file, std::string_view reason) {
    return "Brenvo: Could not read the preferences file " + file.string() + " (" +
           std::string(reason) + "); nothing was saved.";
}
std::string unreadableUntilSave(const std::filesystem::path& file, std::string_view reason) {
    return "Brenvo: The preferences file " + file.string() + " could not be read (" +
           std::string(reason) + "); it will be moved aside at the next save.";
}
std::string movedAside(const std::filesystem::path& file, std::string_view reason,
                       const std::string& aside) {
    return "Brenvo: The preferences file " + file.string() + " could not be read (" +
           std::string(reason) + ") and was moved to " + aside + ".";
}
std::string cannotMoveAside(const std::filesystem::path& file, std::string_view reason, int error) {
    return "Brenvo: The preferences file " + file.string() + " could not be read (" +
           std::string(reason) + ") and could not be moved aside (" + std::strerror(error) +
           "); nothing was saved.";
}
std::string tooLargeToReadBack(const std::filesystem::path& file, std::string_view key) {
    return "Brenvo: Did not save " + utf::logField(key) + " in the preferences file " +
           file.string() + ": with it the file would be larger than " +
           std::to_string(kMaxPropertyListFileSize) +
           " bytes, more than can be read back. It keeps its saved value.";
}
std::string noHomeFolder() {
    return "Brenvo: Could not save the preferences: no home folder was found.";
}
std::string folderRefused(const std::filesystem::path& folder, std::string_view reason) {
    return "Brenvo: The preferences folder " + folder.string() + " is not used (" +
           std::string(reason) + "); preferences are kept in memory for this run.";
}

// A descriptor, closed through `ops` when it goes.
class Descriptor {
public:
    Descriptor(detail::FileOps& ops, int fd) : ops_(ops), fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) {
            ops_.close(fd_);
        }
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;

    int get() const { return fd_; }

private:
    detail::FileOps& ops_;
    int fd_;
};

// Holds an exclusive flock on the side lock file `name` in `folder` for the lifetime of the
// object. The lock file is never reached through a link.
class FileLock {
public:
    FileLock(detail::FileOps& ops, int folder, const std::string& name) : ops_(ops) {
        fd_ = ops_.openat(folder, name.c_str(),
                          O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY, 0600);
        if (fd_ < 0) {
            error_ = errno;
            return;
        }
        while (ops_.flock(fd_, LOCK_EX) != 0) {
            if (errno != EINTR) {
                error_ = errno;
                ops_.close(fd_);
                fd_ = -1;
                return;
            }
        }
    }
    ~FileLock() {
        if (fd_ >= 0) {
            ops_.close(fd_);
        }
    }
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    bool locked() const { return fd_ >= 0; }
    int error() const { return error_; }

private:
    detail::FileOps& ops_;
    int fd_ = -1;
    int error_ = 0;
};

std::string sanitizedName(std::string_view name) {
    std::string out;
    for (char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        out += (c == '/' || byte < 0x20 || byte == 0x7F) ? '_' : c;
    }
    if (out.empty() || out == "." || out == "..") {
        out = "brenvo-host";
    }
    return out;
}

std::string executableName() {
    char target[PATH_MAX];
    const ssize_t length = ::readlink("/proc/self/exe", target, sizeof target - 1);
    if (length > 0) {
        return std::filesystem::path(std::string(target, static_cast<size_t>(length)))
            .filename()
            .string();
    }
    return program_invocation_short_name != nullptr ? program_invocation_short_name : "";
}

std::filesystem::path configHome() {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg != nullptr && xdg[0] == '/') {
        return xdg;
    }
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] == '/') {
        return std::filesystem::path(home) / ".config";
    }
    struct passwd entry {};
    struct passwd* found = nullptr;
    std::vector<char> buffer(16384);
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 &&
        found != nullptr && found->pw_dir != nullptr && found->pw_dir[0] == '/') {
        return std::filesystem::path(found->pw_dir) / ".config";
    }
    return {};
}

} // namespace

PlistUserDefaults::PlistUserDefaults(std::filesystem::path file, Log& log)
    : PlistUserDefaults(std::move(file), log, detail::FileOps::system()) {}

PlistUserDefaults::PlistUserDefaults(std::filesystem::path file, Log& log, detail::FileOps& ops)
    : file_(absoluteOrAsGiven(std::move(file))), name_(file_.filename().string()), log_(log),
      ops_(ops) {
    refreshIfChanged();
}

std::filesystem::path PlistUserDefaults::defaultPathForName(std::string_view name) {
    const std::filesystem::path home = configHome();
    if (home.empty()) {
        return {};
    }
    const std::string safe = sanitizedName(name);
    return home / safe / (safe + ".plist");
}

std::filesystem::path PlistUserDefaults::defaultPath(const Bundle& mainBundle) {
    const auto identifier = mainBundle.objectForInfoDictionaryKey("CFBundleIdentifier");
    if (identifier && identifier->asString() != nullptr && !identifier->asString()->empty()) {
        return defaultPathForName(*identifier->asString());
    }
    return defaultPathForName(executableName());
}

std::optional<PlistValue> PlistUserDefaults::objectForKey(std::string_view key) {
    refreshIfChanged();
    const auto found = values_.find(key);
    if (found == values_.end()) {
        return std::nullopt;
    }
    return found->second;
}

void PlistUserDefaults::setObject(const PlistValue& value, std::string_view key) {
    values_.insert_or_assign(std::string(key), value);
    changed_.emplace(key);
}

void PlistUserDefaults::removeObjectForKey(std::string_view key) {
    const auto found = values_.find(key);
    if (found != values_.end()) {
        values_.erase(found);
    }
    changed_.emplace(key);
}

PlistDictionary PlistUserDefaults::dictionaryRepresentation() {
    refreshIfChanged();
    return values_;
}

int PlistUserDefaults::openFolder() {
    if (refused_) {
        errno = EPERM;
        return -1;
    }
    const std::filesystem::path folder = file_.parent_path();
    const int fd = ops_.open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC, 0);
    const int error = errno;
    std::string_view refusal;
    struct stat info {};
    if (fd < 0) {
        if (error == ELOOP || error == ENOTDIR) {
            // A link fails either way, whatever it leads to.
            const bool link =
                ops_.fstatat(AT_FDCWD, folder.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 &&
                S_ISLNK(info.st_mode);
            refusal = link ? "it is a symbolic link" : "it is not a folder";
        } else {
            errno = error;
            return -1;
        }
    } else if (ops_.fstat(fd, &info) != 0) {
        const int statError = errno;
        ops_.close(fd);
        errno = statError;
        return -1;
    } else if (info.st_uid != geteuid()) {
        refusal = "it belongs to another user";
    } else if ((info.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        refusal = "others may write to it";
    } else {
        return fd;
    }
    if (fd >= 0) {
        ops_.close(fd);
    }
    refused_ = true;
    log_.write(folderRefused(folder, refusal));
    errno = EPERM;
    return -1;
}

std::optional<PlistUserDefaults::FileIdentity> PlistUserDefaults::identityIn(int folder) {
    struct stat info {};
    if (ops_.fstatat(folder, name_.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
        return std::nullopt;
    }
    return FileIdentity{info.st_dev, info.st_ino, info.st_size,
                        static_cast<int64_t>(info.st_mtim.tv_sec) * 1'000'000'000 +
                            info.st_mtim.tv_nsec};
}

PlistUserDefaults::ReadResult PlistUserDefaults::readFile(int folder) {
    ReadResult result;
    // Never through a link, and without waiting for a writer should a FIFO stand there.
    const int fd = ops_.openat(folder, name_.c_str(),
                               O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY, 0);
    if (fd < 0) {
        const int error = errno;
        if (error == ENOENT) {
            result.status = ReadStatus::Missing;
        } else {
            // Unreadable (permissions, a link, a socket): kept, but moved out of the way.
            const bool unreadable =
                error == EACCES || error == EPERM || error == ELOOP || error == ENXIO;
            result.status = unreadable ? ReadStatus::Corrupt : ReadStatus::Failed;
        }
        result.reason = std::strerror(error);
        return result;
    }
    struct stat info {};
    std::string bytes;
    result.status = ReadStatus::Parsed;
    if (ops_.fstat(fd, &info) != 0) {
        result.status = ReadStatus::Failed;
        result.reason = std::strerror(errno);
    } else if (!S_ISREG(info.st_mode)) {
        result.status = ReadStatus::Corrupt;
        result.reason = "not a regular file";
    } else if (static_cast<uint64_t>(info.st_size) > kMaxPropertyListFileSize) {
        result.status = ReadStatus::Corrupt;
        result.reason = "the file is too large";
    } else {
        result.identity = FileIdentity{info.st_dev, info.st_ino, info.st_size,
                                       static_cast<int64_t>(info.st_mtim.tv_sec) * 1'000'000'000 +
                                           info.st_mtim.tv_nsec};
    }
    char buffer[65536];
    while (result.status == ReadStatus::Parsed) {
        const ssize_t got = ops_.read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            result.status = ReadStatus::Failed;
            result.reason = std::strerror(errno);
        } else if (got == 0) {
            break;
        } else if (bytes.size() + static_cast<size_t>(got) > kMaxPropertyListFileSize) {
            result.status = ReadStatus::Corrupt;
            result.reason = "the file is too large";
        } else {
            bytes.append(buffer, static_cast<size_t>(got));
        }
    }
    ops_.close(fd);
    if (result.status != ReadStatus::Parsed) {
        return result;
    }
    std::string why;
    auto root = propertyListFromData(bytes, &why);
    if (!root) {
        result.status = ReadStatus::Corrupt;
        result.reason = why;
    } else if (root->asDictionary() == nullptr) {
        result.status = ReadStatus::Corrupt;
        result.reason = "does not hold a dictionary";
    } else {
        result.values = *root->asDictionary();
    }
    return result;
}

void PlistUserDefaults::adopt(PlistDictionary fromFile) {
    for (const std::string& key : changed_) {
        const auto mine = values_.find(key);
        if (mine != values_.end()) {
            fromFile.insert_or_assign(key, mine->second);
        } else if (const auto theirs = fromFile.find(key); theirs != fromFile.end()) {
            fromFile.erase(theirs);
        }
    }
    values_ = std::move(fromFile);
}

void PlistUserDefaults::refreshIfChanged() {
    if (file_.empty() || refused_) {
        return;
    }
    const Descriptor folder(ops_, openFolder());
    if (folder.get() < 0 && errno != ENOENT) {
        return; // refused, or a passing fault
    }
    const auto identity = folder.get() < 0 ? std::nullopt : identityIn(folder.get());
    if (identity == seen_) {
        return;
    }
    ReadResult result = folder.get() < 0 ? ReadResult{} : readFile(folder.get());
    switch (result.status) {
    case ReadStatus::Missing:
        adopt({});
        seen_ = std::nullopt;
        return;
    case ReadStatus::Parsed:
        adopt(std::move(result.values));
        seen_ = result.identity;
        return;
    case ReadStatus::Corrupt:
        if (!reportedCorrupt_ || reportedCorrupt_ != identity) {
            log_.write(unreadableUntilSave(file_, result.reason));
            reportedCorrupt_ = identity;
        }
        seen_ = identity;
        return;
    case ReadStatus::Failed:
        return; // a passing fault; the next lookup tries again
    }
}

bool PlistUserDefaults::makeFolders() {
    const std::filesystem::path folder = file_.parent_path();
    std::filesystem::path partial;
    for (const auto& part : folder) {
        partial /= part;
        if (partial == partial.root_path()) {
            continue;
        }
        if (ops_.mkdir(partial.c_str(), 0700) != 0 && errno != EEXIST) {
            log_.write(cannotCreateFolder(partial, errno));
            return false;
        }
    }
    return true;
}

bool PlistUserDefaults::moveAside(int folder, const std::string& reason) {
    int error = EEXIST;
    for (int attempt = 1; attempt <= 1000; ++attempt) {
        const std::string suffix =
            attempt == 1 ? ".corrupt" : ".corrupt-" + std::to_string(attempt);
        if (ops_.renameNoReplace(folder, name_.c_str(), (name_ + suffix).c_str()) == 0) {
            log_.write(movedAside(file_, reason, file_.string() + suffix));
            reportedCorrupt_ = std::nullopt;
            return true;
        }
        error = errno;
        if (error != EEXIST) {
            break;
        }
    }
    log_.write(cannotMoveAside(file_, reason, error));
    return false;
}

// Every save creates its temporary file while holding the lock, so under the lock any temporary
// file of this store belongs to a save that died before its rename (a killed process).
void PlistUserDefaults::removeAbandonedTemporaries(int folder) {
    const int listed = ops_.openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
    DIR* entries = listed < 0 ? nullptr : ::fdopendir(listed);
    if (entries == nullptr) {
        if (listed >= 0) {
            ops_.close(listed);
        }
        return;
    }
    const std::string prefix = temporaryPrefix();
    while (const dirent* entry = ::readdir(entries)) {
        if (std::string_view(entry->d_name).starts_with(prefix)) {
            ops_.unlinkat(folder, entry->d_name);
        }
    }
    ::closedir(entries);
}

bool PlistUserDefaults::writeFile(int folder, const PlistDictionary& values) {
    const std::string bytes = dataFromPropertyList(PlistValue(values), PlistFormat::XML);
    if (bytes.empty()) {
        log_.write(cannotSave(file_, "encode", EINVAL));
        return false;
    }
    std::string temporary;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temporary = temporaryPrefix() + std::to_string(getpid()) + "-" +
                    std::to_string(++temporaryCounter_);
        fd = ops_.openat(folder, temporary.c_str(),
                         O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd < 0 && errno != EEXIST) {
            break;
        }
    }
    if (fd < 0) {
        log_.write(cannotSave(file_, "open", errno));
        return false;
    }
    const auto fail = [&](std::string_view step, int error, bool open) {
        if (open) {
            ops_.close(fd);
        }
        ops_.unlinkat(folder, temporary.c_str());
        log_.write(cannotSave(file_, step, error));
        return false;
    };
    std::string_view rest = bytes;
    while (!rest.empty()) {
        const ssize_t written = ops_.write(fd, rest.data(), rest.size());
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return fail("write", written < 0 ? errno : ENOSPC, true);
        }
        rest.remove_prefix(static_cast<size_t>(written));
    }
    if (ops_.fsync(fd) != 0) {
        return fail("fsync", errno, true);
    }
    if (ops_.close(fd) != 0) {
        return fail("close", errno, false);
    }
    if (ops_.renameat(folder, temporary.c_str(), name_.c_str()) != 0) {
        return fail("rename", errno, false);
    }
    if (ops_.fsync(folder) != 0) {
        log_.write(cannotFlushFolder(file_, errno));
        return false;
    }
    return true;
}

bool PlistUserDefaults::synchronize() {
    if (changed_.empty()) {
        refreshIfChanged();
        return true;
    }
    if (file_.empty()) {
        log_.write(noHomeFolder());
        return false;
    }
    if (refused_ || !makeFolders()) {
        return false;
    }
    const Descriptor folder(ops_, openFolder());
    if (folder.get() < 0) {
        if (!refused_) {
            log_.write(cannotSave(file_, "open folder", errno));
        }
        return false;
    }
    const FileLock lock(ops_, folder.get(), name_ + ".lock");
    if (!lock.locked()) {
        log_.write(cannotSave(file_, "lock", lock.error()));
        return false;
    }
    ReadResult current = readFile(folder.get());
    PlistDictionary onFile;
    switch (current.status) {
    case ReadStatus::Failed:
        log_.write(cannotRead(file_, current.reason));
        return false;
    case ReadStatus::Corrupt:
        if (!moveAside(folder.get(), current.reason)) {
            return false;
        }
        adopt({});
        break;
    case ReadStatus::Missing:
        adopt({});
        break;
    case ReadStatus::Parsed:
        onFile = current.values;
        adopt(std::move(current.values));
        break;
    }
    removeAbandonedTemporaries(folder.get());
    const size_t changes = changed_.size();
    const bool written = keepReadable(onFile) && writeFile(folder.get(), values_);
    const bool whole = changed_.size() == changes;
    if (written) {
        changed_.clear();
    }
    seen_ = identityIn(folder.get());
    return written && whole;
}

// A file larger than kMaxPropertyListFileSize would be moved aside by the next reader, every key
// in it lost. The changed values that would make it so go back to what the file holds, largest
// first, each with a line. True when something is left to write and it fits.
bool PlistUserDefaults::keepReadable(const PlistDictionary& onFile) {
    const auto encodedSize = [](const PlistDictionary& values) {
        return dataFromPropertyList(PlistValue(values), PlistFormat::XML).size();
    };
    size_t size = encodedSize(values_);
    if (size <= kMaxPropertyListFileSize) {
        return true;
    }
    std::vector<std::pair<size_t, std::string>> largestFirst;
    for (const std::string& key : changed_) {
        const auto value = values_.find(key);
        largestFirst.emplace_back(
            value == values_.end() ? 0 : encodedSize(PlistDictionary{{key, value->second}}), key);
    }
    std::sort(largestFirst.rbegin(), largestFirst.rend());
    for (const auto& [valueSize, key] : largestFirst) {
        if (size <= kMaxPropertyListFileSize) {
            break;
        }
        if (const auto saved = onFile.find(key); saved != onFile.end()) {
            values_.insert_or_assign(key, saved->second);
        } else {
            values_.erase(key);
        }
        changed_.erase(key);
        log_.write(tooLargeToReadBack(file_, key));
        size = encodedSize(values_);
    }
    return size <= kMaxPropertyListFileSize && !changed_.empty();
}

} // namespace brenvo::platform
