// User defaults kept in an XML property list, one file per host application.
//
//   PlistUserDefaults defaults(PlistUserDefaults::defaultPath(mainBundle), log);
//   defaults.setObject(clock.date(), "BrenvoLastCheck");
//   defaults.synchronize();
//
// synchronize() takes an exclusive flock on "<file>.lock", re-reads the file, lays the keys this
// object changed since its last synchronize over what it finds, and replaces the file atomically
// (temporary file in the same folder, fsync, rename, fsync of the folder). Two processes sharing
// the file therefore never lose each other's keys, and a process killed in the middle of a save
// leaves the previous file whole; the temporary file it leaves behind is removed by the next
// save. A file that cannot be read or parsed is
// renamed to "<file>.corrupt" (or "<file>.corrupt-2", ...), never deleted, and logged. The file
// is written 0600. When synchronize() fails, the previous file is left as it was and the unsaved
// keys are kept for the next attempt; the one exception is a failed flush of the folder after the
// rename, where the new file is in place but its durability is unknown (logged, and reported as
// a failure). The file never grows past what it can read back (kMaxPropertyListFileSize): a
// changed value that would take it there is refused with a log line and goes back to the value
// the file holds, the largest first; the other keys are saved, and synchronize() reports a
// failure.
//
// The folder belongs to the user. It is opened without following a link, and used only when it
// belongs to the process's (effective) user and neither its group nor others may write to it.
// The file, its lock and the temporary files are opened inside that open folder, never through
// a link, and only a regular file is read: anything else in the file's place (a FIFO, a device,
// a link) is taken for a damaged file, without waiting on it. A folder that fails the check is
// neither read nor written for the life of this object: the log says so once, and the values
// live in memory only (synchronize() returns false). Missing folders on the way to the file are
// created 0700, so that a folder the store makes itself always passes; existing folders are
// never changed.
#pragma once

#include "brenvo/Export.h"
#include "brenvo/platform/Bundle.h"
#include "brenvo/platform/Log.h"
#include "brenvo/platform/UserDefaults.h"
#include "brenvo/platform/linux/FileOps.h"

#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <string_view>

namespace brenvo::platform {

// Used by one thread at a time; LockedUserDefaults shares one between threads.
class BRENVO_EXPORT PlistUserDefaults final : public UserDefaults {
public:
    PlistUserDefaults(std::filesystem::path file, Log& log);
    // With the file-system calls of `ops` (tests pass one that fails on purpose).
    PlistUserDefaults(std::filesystem::path file, Log& log, detail::FileOps& ops);

    // "${XDG_CONFIG_HOME:-$HOME/.config}/<name>/<name>.plist", the name being the bundle's
    // "CFBundleIdentifier" or, without one, the executable's file name. Characters that cannot
    // be part of a file name become "_". Empty when no home folder can be found.
    static std::filesystem::path defaultPath(const Bundle& mainBundle);
    static std::filesystem::path defaultPathForName(std::string_view name);

    // Values come from memory, refreshed from the file whenever another process has replaced it;
    // keys changed here and not yet synchronized keep their local values.
    std::optional<PlistValue> objectForKey(std::string_view key) override;
    void setObject(const PlistValue& value, std::string_view key) override;
    void removeObjectForKey(std::string_view key) override;
    bool synchronize() override;

    // Every key and value as this object sees them now.
    PlistDictionary dictionaryRepresentation();
    const std::filesystem::path& path() const { return file_; }

private:
    struct FileIdentity {
        dev_t device = 0;
        ino_t inode = 0;
        off_t size = 0;
        int64_t modified = 0;
        friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
    };
    enum class ReadStatus { Missing, Parsed, Corrupt, Failed };
    struct ReadResult {
        ReadStatus status = ReadStatus::Missing;
        PlistDictionary values;
        std::string reason;
        std::optional<FileIdentity> identity;
    };

    // The file's folder, open, when it may be used; -1 when it is missing (errno ENOENT), could
    // not be opened (errno), or is refused (logged once; refused_ is set).
    int openFolder();
    ReadResult readFile(int folder);
    void refreshIfChanged();
    void adopt(PlistDictionary fromFile);
    bool makeFolders();
    bool moveAside(int folder, const std::string& reason);
    // ".<file name>.tmp-": the start of the name of every temporary file of a save.
    std::string temporaryPrefix() const { return "." + name_ + ".tmp-"; }
    void removeAbandonedTemporaries(int folder);
    bool writeFile(int folder, const PlistDictionary& values);
    bool keepReadable(const PlistDictionary& onFile);
    std::optional<FileIdentity> identityIn(int folder);

    std::filesystem::path file_;
    std::string name_; // the file's name in its folder
    Log& log_;
    detail::FileOps& ops_;
    PlistDictionary values_;
    std::set<std::string, std::less<>> changed_;
    std::optional<FileIdentity> seen_;
    std::optional<FileIdentity> reportedCorrupt_;
    unsigned temporaryCounter_ = 0;
    bool refused_ = false; // the folder failed its check: memory only
};

} // namespace brenvo::platform
