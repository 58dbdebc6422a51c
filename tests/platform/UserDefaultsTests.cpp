// The plist defaults store on real files: merging between writers, damaged files, failing
// system calls (each call of a save made to fail in turn), and two processes at once.
#include "brenvo/platform/linux/PlistFile.h"
#include "brenvo/platform/linux/PlistUserDefaults.h"
#include "support/CapturingLog.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace brenvo::platform;
using brenvo::test::CapturingLog;
using brenvo::test::TempDir;

namespace {

// Makes one call fail: the n-th call of any kind, or the first call of one kind.
class FailingFileOps final : public brenvo::detail::FileOps {
public:
    void failCall(int n) { failAt_ = n; }
    void failFirst(std::string name, int error) {
        failName_ = std::move(name);
        failError_ = error;
    }
    void disarm() {
        failAt_ = 0;
        failName_.clear();
    }
    // Every open of the file `name` fails with EACCES.
    void deny(std::string name) { denied_ = std::move(name); }
    int calls() const { return calls_; }
    const std::string& failed() const { return failed_; }

    int open(const char* path, int flags, mode_t mode) override {
        return check("open") ? -1 : FileOps::open(path, flags, mode);
    }
    int openat(int folder, const char* name, int flags, mode_t mode) override {
        if (name == denied_) {
            errno = EACCES;
            return -1;
        }
        return check("openat") ? -1 : FileOps::openat(folder, name, flags, mode);
    }
    ssize_t read(int fd, void* buffer, size_t size) override {
        return check("read") ? -1 : FileOps::read(fd, buffer, size);
    }
    ssize_t write(int fd, const void* buffer, size_t size) override {
        return check("write") ? -1 : FileOps::write(fd, buffer, size);
    }
    int fsync(int fd) override { return check("fsync") ? -1 : FileOps::fsync(fd); }
    int close(int fd) override {
        // A failing close still releases the descriptor, as on Linux.
        const bool fail = check("close");
        const int result = FileOps::close(fd);
        if (fail) {
            errno = EIO;
            return -1;
        }
        return result;
    }
    int fstat(int fd, struct stat* info) override {
        return check("fstat") ? -1 : FileOps::fstat(fd, info);
    }
    int fstatat(int folder, const char* name, struct stat* info, int flags) override {
        return check("fstatat") ? -1 : FileOps::fstatat(folder, name, info, flags);
    }
    int flock(int fd, int operation) override {
        return check("flock") ? -1 : FileOps::flock(fd, operation);
    }
    int mkdir(const char* path, mode_t mode) override {
        return check("mkdir") ? -1 : FileOps::mkdir(path, mode);
    }
    int renameat(int folder, const char* from, const char* to) override {
        return check("renameat") ? -1 : FileOps::renameat(folder, from, to);
    }
    int renameNoReplace(int folder, const char* from, const char* to) override {
        return check("renameNoReplace") ? -1 : FileOps::renameNoReplace(folder, from, to);
    }
    int unlinkat(int folder, const char* name) override {
        return check("unlinkat") ? -1 : FileOps::unlinkat(folder, name);
    }

private:
    bool check(const char* name) {
        ++calls_;
        const bool byCount = failAt_ != 0 && calls_ == failAt_;
        const bool byName = !failName_.empty() && failName_ == name;
        if (!byCount && !byName) {
            return false;
        }
        failed_ = name;
        errno = byName ? failError_ : (std::string(name) == "write" ? ENOSPC : EIO);
        if (byName) {
            failName_.clear();
        }
        return true;
    }

    int calls_ = 0;
    int failAt_ = 0;
    std::string failName_;
    int failError_ = 0;
    std::string failed_;
    std::string denied_;
};

PlistDictionary fileContents(const std::filesystem::path& path) {
    auto root = readPropertyListFile(path, nullptr);
    return root && root->asDictionary() ? *root->asDictionary() : PlistDictionary{};
}

void writePlist(const std::filesystem::path& path, const PlistDictionary& values) {
    ASSERT_TRUE(writePropertyListFile(PlistValue(values), path, PlistFormat::XML, nullptr));
}

std::string savedMessage(const std::filesystem::path& file, std::string_view step, int error) {
    return "Brenvo: Could not save the preferences file " + file.string() + " (" +
           std::string(step) + ": " + std::strerror(error) + "); the previous file is unchanged.";
}

TEST(PlistUserDefaults, WritersMergePerKeyAndKeepUnknownKeys) {
    TempDir dir;
    const auto file = dir / "prefs" / "app.plist";
    CapturingLog log;
    PlistUserDefaults first(file, log);
    PlistUserDefaults second(file, log);

    first.setObject("one", "a");
    first.setObject(1, "shared");
    ASSERT_TRUE(first.synchronize());
    // Someone else's key, written by hand.
    PlistDictionary onDisk = fileContents(file);
    onDisk.emplace("Unknown", PlistValue(PlistArray{1, "x"}));
    writePlist(file, onDisk);

    second.setObject("two", "b");
    ASSERT_TRUE(second.synchronize());
    first.removeObjectForKey("a");
    first.setObject(2, "shared");
    ASSERT_TRUE(first.synchronize());
    // `second` never touched "shared" or "a": it must not bring back its old view of them.
    second.setObject("three", "c");
    ASSERT_TRUE(second.synchronize());

    const PlistDictionary expected{
        {"b", "two"}, {"c", "three"}, {"shared", 2}, {"Unknown", PlistValue(PlistArray{1, "x"})}};
    EXPECT_EQ(fileContents(file), expected);
    EXPECT_EQ(first.dictionaryRepresentation(), expected);
    EXPECT_EQ(second.dictionaryRepresentation(), expected);
    EXPECT_TRUE(log.lines().empty());

    struct stat info {};
    ASSERT_EQ(stat(file.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    ASSERT_EQ(stat(file.parent_path().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
}

TEST(PlistUserDefaults, ValuesRoundTripAndDatesAreStoredAsDates) {
    TempDir dir;
    CapturingLog log;
    const auto file = dir / "app.plist";
    PlistUserDefaults writer(file, log);
    const std::vector<std::pair<std::string, PlistValue>> values = {
        // Every type's file form is tested with the plist files; these are the defaults' own.
        {"text", "Grüße & <tags>"},
        {"negative", int64_t{-42}},
        {"flag", true},
        {"date", Date{1'800'000'123.0}},
    };
    for (const auto& [key, value] : values) {
        writer.setObject(value, key);
    }
    ASSERT_TRUE(writer.synchronize());
    PlistUserDefaults reader(file, log);
    for (const auto& [key, value] : values) {
        EXPECT_EQ(reader.objectForKey(key), value) << key;
    }
    EXPECT_NE(dir.readFile("app.plist")->find("<date>2027-01-15T08:02:03Z</date>"),
              std::string::npos);
    EXPECT_EQ(reader.stringForKey("negative"), "-42");
    EXPECT_EQ(reader.stringForKey("flag"), std::nullopt);
    // The file holds whole seconds; the writing process keeps what it stored.
    writer.setObject(Date{1'800'000'000.75}, "fraction");
    ASSERT_TRUE(writer.synchronize());
    EXPECT_EQ(writer.objectForKey("fraction"), PlistValue(Date{1'800'000'000.75}));
    EXPECT_EQ(reader.objectForKey("fraction"), PlistValue(Date{1'800'000'000.0}));
}

// The file never grows past what it can read back: a value that would take it there is refused
// with a line, the largest first; the file keeps that key's saved value and every other key.
TEST(PlistUserDefaults, AValueTooLargeToReadBackIsRefused) {
    TempDir dir;
    CapturingLog log;
    const auto file = dir / "app.plist";
    PlistUserDefaults defaults(file, log);
    defaults.setObject("1.0", "BrenvoSkipVersion");
    defaults.setObject(Date{1'800'000'000}, "BrenvoLastCheck");
    ASSERT_TRUE(defaults.synchronize());
    const auto refused = [&](std::string_view key) {
        return "Brenvo: Did not save " + std::string(key) + " in the preferences file " +
               file.string() +
               ": with it the file would be larger than 16777216 bytes, more than can be read "
               "back. It keeps its saved value.";
    };

    // Less than the limit as a text, more in the file, where each "&" takes five bytes.
    const std::string huge =
        std::string(kMaxPropertyListFileSize - 1000, '9') + std::string(300, '&');
    const auto before = dir.readFile("app.plist");
    defaults.setObject(huge, "BrenvoSkipVersion");
    EXPECT_FALSE(defaults.synchronize());
    EXPECT_EQ(dir.readFile("app.plist"), before);
    EXPECT_EQ(defaults.objectForKey("BrenvoSkipVersion"), PlistValue("1.0"));
    EXPECT_EQ(log.lines(), std::vector<std::string>{refused("BrenvoSkipVersion")});

    // Changes beside it are saved; of two values that fit only one at a time, the larger goes.
    log.clear();
    defaults.setObject("x", "other");
    defaults.setObject(std::string(size_t{9} << 20, 'a'), "nine");
    defaults.setObject(std::string(size_t{8} << 20, 'b'), "eight");
    EXPECT_FALSE(defaults.synchronize());
    EXPECT_EQ(log.lines(), std::vector<std::string>{refused("nine")});
    const PlistDictionary saved = fileContents(file);
    EXPECT_EQ(saved.at("BrenvoSkipVersion"), PlistValue("1.0"));
    EXPECT_EQ(saved.at("BrenvoLastCheck"), PlistValue(Date{1'800'000'000}));
    EXPECT_EQ(saved.at("other"), PlistValue("x"));
    EXPECT_EQ(saved.at("eight").asString()->size(), size_t{8} << 20);
    EXPECT_FALSE(saved.contains("nine"));
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"app.plist", "app.plist.lock"}));

    // Nothing is left pending: the next save is whole again.
    log.clear();
    defaults.setObject("2.0", "BrenvoSkipVersion");
    EXPECT_TRUE(defaults.synchronize());
    EXPECT_EQ(fileContents(file).at("BrenvoSkipVersion"), PlistValue("2.0"));
    EXPECT_TRUE(log.lines().empty());
}

// Whatever stands in the file's place, a FIFO and a link included, is read without waiting or
// following, and moved aside whole.
TEST(PlistUserDefaults, DamagedFilesAreMovedAsideNeverDestroyed) {
    using Type = std::filesystem::file_type;
    struct Case {
        const char* name;
        std::string bytes; // a file's bytes, a link's target
        Type type;
        const char* reason;
        bool denied = false; // every open of the file fails with EACCES
    };
    const std::string valid = dataFromPropertyList(
        PlistValue(PlistDictionary{{"BrenvoLastCheck", Date{1'800'000'000}}, {"k", "v"}}),
        PlistFormat::XML);
    const Case cases[] = {
        {"empty", "", Type::regular, "the file is empty"},
        {"truncated", valid.substr(0, valid.size() / 2), Type::regular, "not a property list"},
        {"not a plist", "BrenvoLastCheck = yesterday\n", Type::regular, "not a property list"},
        {"binary garbage", std::string("bplist00\x01\x02\x03", 11), Type::regular,
         "not a property list"},
        {"array root", dataFromPropertyList(PlistValue(PlistArray{"a"}), PlistFormat::XML),
         Type::regular, "does not hold a dictionary"},
        {"folder", "", Type::directory, "not a regular file"},
        {"unreadable", "secret", Type::regular, "Permission denied", true},
        {"fifo", "", Type::fifo, "not a regular file"},
        {"link to a valid file", "elsewhere.plist", Type::symlink, std::strerror(ELOOP)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const auto file = dir / "app.plist";
        if (c.type == Type::regular) {
            dir.writeFile("app.plist", c.bytes);
        } else if (c.type == Type::directory) {
            std::filesystem::create_directories(file / "inside");
        } else if (c.type == Type::fifo) {
            ASSERT_EQ(mkfifo(file.c_str(), 0600), 0);
        } else {
            dir.writeFile(c.bytes, valid);
            std::filesystem::create_symlink(c.bytes, file);
        }
        CapturingLog log;
        FailingFileOps ops;
        if (c.denied) {
            ops.deny("app.plist");
        }
        PlistUserDefaults defaults(file, log, ops);
        EXPECT_EQ(defaults.objectForKey("BrenvoLastCheck"), std::nullopt);
        EXPECT_EQ(log.lines(),
                  std::vector<std::string>{"Brenvo: The preferences file " + file.string() +
                                           " could not be read (" + c.reason +
                                           "); it will be moved aside at the next save."});
        // A second damaged copy already aside must not be overwritten.
        dir.writeFile("app.plist.corrupt", "older damage");
        defaults.setObject("1.0", "BrenvoSkipVersion");
        ASSERT_TRUE(defaults.synchronize());
        EXPECT_EQ(log.lines().back(), "Brenvo: The preferences file " + file.string() +
                                          " could not be read (" + c.reason +
                                          ") and was moved to " + file.string() + ".corrupt-2.");
        EXPECT_EQ(dir.readFile("app.plist.corrupt"), "older damage");
        // Moved whole: a link as a link, its target untouched.
        const auto aside = dir / "app.plist.corrupt-2";
        EXPECT_EQ(std::filesystem::symlink_status(aside).type(), c.type);
        if (c.type == Type::regular) {
            EXPECT_EQ(dir.readFile("app.plist.corrupt-2"), c.bytes);
        } else if (c.type == Type::symlink) {
            EXPECT_EQ(dir.readFile(c.bytes), valid);
        }
        EXPECT_EQ(fileContents(file), (PlistDictionary{{"BrenvoSkipVersion", "1.0"}}));
    }
}

// A folder that is not the user's alone is neither read nor written: the store says so once and
// keeps its values in memory, and a defaults file planted there stays unread and unchanged.
TEST(PlistUserDefaults, FoldersOthersControlAreNeverUsed) {
    struct Case {
        const char* name;
        std::function<void(const std::filesystem::path& folder)> make;
        const char* reason;
    };
    const Case cases[] = {
        {"another user's", [](const auto& f) { ASSERT_EQ(chown(f.c_str(), 65534, 65534), 0); },
         "it belongs to another user"},
        {"group-writable", [](const auto& f) { ASSERT_EQ(chmod(f.c_str(), 0770), 0); },
         "others may write to it"},
        {"writable by others", [](const auto& f) { ASSERT_EQ(chmod(f.c_str(), 0703), 0); },
         "others may write to it"},
        {"a link to the user's own",
         [](const auto& f) {
             std::filesystem::rename(f, f.string() + "-real");
             std::filesystem::create_directory_symlink(f.string() + "-real", f);
         },
         "it is a symbolic link"},
    };
    const std::string planted = dataFromPropertyList(
        PlistValue(PlistDictionary{{"BrenvoSkipVersion", "9.9"}}), PlistFormat::XML);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.reason == std::string_view("it belongs to another user") && geteuid() != 0)
            continue; // only root can give a folder away
        TempDir dir;
        const auto folder = dir / "app";
        dir.writeFile("app/app.plist", planted);
        ASSERT_EQ(chmod(folder.c_str(), 0700), 0);
        c.make(folder);
        const std::vector<std::string> before = dir.entries();

        CapturingLog log;
        PlistUserDefaults defaults(folder / "app.plist", log);
        EXPECT_EQ(defaults.objectForKey("BrenvoSkipVersion"), std::nullopt);
        defaults.setObject("1.0", "BrenvoSkipVersion");
        EXPECT_FALSE(defaults.synchronize());
        EXPECT_FALSE(defaults.synchronize());
        EXPECT_EQ(defaults.objectForKey("BrenvoSkipVersion"), PlistValue("1.0"));
        EXPECT_EQ(log.lines(),
                  std::vector<std::string>{"Brenvo: The preferences folder " + folder.string() +
                                           " is not used (" + c.reason +
                                           "); preferences are kept in memory for this run."});
        EXPECT_EQ(dir.entries(), before);
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder), {}), 1);
        EXPECT_EQ(dir.readFile("app/app.plist"), planted);
    }
}

// The lock file is never reached through a link: a save refuses rather than create or lock a
// file where the link points.
TEST(PlistUserDefaults, LinkedLockFileIsNotFollowed) {
    TempDir dir;
    const auto file = dir / "app.plist";
    writePlist(file, {{"kept", "old"}});
    std::filesystem::create_symlink(dir / "elsewhere", dir / "app.plist.lock");
    CapturingLog log;
    PlistUserDefaults defaults(file, log);
    defaults.setObject("new", "kept");
    EXPECT_FALSE(defaults.synchronize());
    EXPECT_EQ(log.lines(), std::vector<std::string>{savedMessage(file, "lock", ELOOP)});
    EXPECT_FALSE(std::filesystem::exists(dir / "elsewhere"));
    EXPECT_EQ(fileContents(file), (PlistDictionary{{"kept", "old"}}));
}

// Runs one save with each of its system calls failing in turn: a failed save leaves the old file
// byte for byte, logs, leaves no temporary file, and keeps the change for the next save.
TEST(PlistUserDefaults, EverySystemCallOfASaveMayFail) {
    int failures = 0;
    for (int n = 1;; ++n) {
        SCOPED_TRACE("failing call " + std::to_string(n));
        TempDir dir;
        const auto file = dir / "app.plist";
        writePlist(file, {{"kept", "old"}, {"shared", 1}});
        const std::string oldBytes = *dir.readFile("app.plist");
        const PlistDictionary expected{{"kept", "old"}, {"shared", 2}, {"added", true}};

        CapturingLog log;
        FailingFileOps ops;
        ops.failCall(n);
        PlistUserDefaults defaults(file, log, ops);
        defaults.setObject(2, "shared");
        defaults.setObject(true, "added");
        const bool saved = defaults.synchronize();
        if (ops.failed().empty()) {
            EXPECT_TRUE(saved);
            EXPECT_EQ(fileContents(file), expected);
            EXPECT_GT(failures, 5);
            break;
        }
        const std::vector<std::string> left = dir.entries();
        for (const std::string& name : left) {
            EXPECT_TRUE(name == "app.plist" || name == "app.plist.lock") << name;
        }
        if (saved) {
            // The failure hit a read that the save could do without (a refresh).
            EXPECT_EQ(fileContents(file), expected);
        } else {
            ++failures;
            ASSERT_FALSE(log.lines().empty());
            const bool afterRename =
                log.lines().back().starts_with("Brenvo: Saved the preferences file");
            if (afterRename) {
                EXPECT_EQ(fileContents(file), expected);
            } else {
                EXPECT_EQ(dir.readFile("app.plist"), oldBytes) << log.lines().back();
            }
            ops.disarm();
            EXPECT_TRUE(defaults.synchronize());
            EXPECT_EQ(fileContents(file), expected);
        }
        ASSERT_LT(n, 200);
    }
}

TEST(PlistUserDefaults, FailuresAreLoggedExactly) {
    struct Case {
        const char* call;
        int error;
        std::string step; // empty: the folder flush
    };
    const Case cases[] = {
        {"write", ENOSPC, "write"}, {"fsync", EIO, "fsync"}, {"renameat", EXDEV, "rename"},
        {"flock", ENOLCK, "lock"},  {"close", EIO, "close"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.call);
        TempDir dir;
        const auto file = dir / "app.plist";
        CapturingLog log;
        FailingFileOps ops;
        PlistUserDefaults defaults(file, log, ops);
        defaults.setObject("v", "k");
        ops.failFirst(c.call, c.error);
        EXPECT_FALSE(defaults.synchronize());
        EXPECT_EQ(log.lines(), std::vector<std::string>{savedMessage(file, c.step, c.error)});
        EXPECT_FALSE(std::filesystem::exists(file));
    }
}

TEST(PlistUserDefaults, ChangesByOthersAppearWithoutSynchronize) {
    TempDir dir;
    const auto file = dir / "app.plist";
    CapturingLog log;
    PlistUserDefaults reader(file, log);
    EXPECT_EQ(reader.objectForKey("k"), std::nullopt);
    writePlist(file, {{"k", "first"}});
    EXPECT_EQ(reader.objectForKey("k"), PlistValue("first"));
    reader.setObject("mine", "local");
    writePlist(file, {{"k", "second"}, {"local", "theirs"}});
    EXPECT_EQ(reader.objectForKey("k"), PlistValue("second"));
    // A key changed here and not yet saved keeps the local value.
    EXPECT_EQ(reader.objectForKey("local"), PlistValue("mine"));
    std::filesystem::remove(file);
    EXPECT_EQ(reader.objectForKey("k"), std::nullopt);
    EXPECT_EQ(reader.objectForKey("local"), PlistValue("mine"));
}

// A file named relative to the working folder stays that file after the folder changes, and
// its saves flush the right folder.
TEST(PlistUserDefaults, RelativePathIsFixedAtConstruction) {
    TempDir dir;
    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
    CapturingLog log;
    PlistUserDefaults defaults("prefs.plist", log);
    std::filesystem::current_path(previous);
    defaults.setObject("2.0", "BrenvoSkipVersion");
    EXPECT_TRUE(defaults.synchronize());
    EXPECT_TRUE(log.lines().empty()) << log.lines().front();
    EXPECT_TRUE(std::filesystem::exists(dir / "prefs.plist"));
}

// Two processes each save 300 updates into the same file: none is lost.
TEST(PlistUserDefaults, TwoProcessesLoseNoUpdates) {
    TempDir dir;
    const auto file = dir / "shared" / "app.plist";
    constexpr int kUpdates = 300;
    pid_t children[2];
    for (int child = 0; child < 2; ++child) {
        children[child] = fork();
        ASSERT_GE(children[child], 0);
        if (children[child] == 0) {
            CapturingLog log;
            PlistUserDefaults defaults(file, log);
            int failures = 0;
            for (int i = 0; i < kUpdates; ++i) {
                defaults.setObject(i, "p" + std::to_string(child) + "-" + std::to_string(i));
                defaults.setObject(i, "count" + std::to_string(child));
                failures += defaults.synchronize() ? 0 : 1;
            }
            _exit(failures == 0 && log.lines().empty() ? 0 : 1);
        }
    }
    for (pid_t child : children) {
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    const PlistDictionary values = fileContents(file);
    EXPECT_EQ(values.size(), 2u * kUpdates + 2);
    for (int child = 0; child < 2; ++child) {
        for (int i = 0; i < kUpdates; ++i) {
            const auto found = values.find("p" + std::to_string(child) + "-" + std::to_string(i));
            ASSERT_NE(found, values.end()) << child << " " << i;
            EXPECT_EQ(found->second, PlistValue(i));
        }
        EXPECT_EQ(values.at("count" + std::to_string(child)), PlistValue(kUpdates - 1));
    }
}

TEST(PlistUserDefaults, DefaultPathFollowsXdgAndTheBundleIdentifier) {
    struct FixedBundle final : Bundle {
        std::optional<PlistValue> identifier;
        std::optional<PlistValue> objectForInfoDictionaryKey(std::string_view key) const override {
            return key == "CFBundleIdentifier" ? identifier : std::nullopt;
        }
        std::string localizedStringForKey(std::string_view key, std::string_view,
                                          std::string_view) const override {
            return std::string(key);
        }
    };
    struct Case {
        const char* xdg; // nullptr: unset
        const char* home;
        std::optional<PlistValue> identifier;
        std::string expected;
    };
    const Case cases[] = {
        {"/xdg", "/home/u", PlistValue("org.example.App"),
         "/xdg/org.example.App/org.example.App.plist"},
        {nullptr, "/home/u", PlistValue("org.example.App"),
         "/home/u/.config/org.example.App/org.example.App.plist"},
        {"relative/ignored", "/home/u", PlistValue("a/../b"),
         "/home/u/.config/a_.._b/a_.._b.plist"},
        {"", "/home/u", PlistValue(".."), "/home/u/.config/brenvo-host/brenvo-host.plist"},
        {"/xdg", "/home/u", PlistValue(42), "/xdg/platform_tests/platform_tests.plist"},
        {"/xdg", "/home/u", std::nullopt, "/xdg/platform_tests/platform_tests.plist"},
    };
    const char* savedXdg = std::getenv("XDG_CONFIG_HOME");
    const char* savedHome = std::getenv("HOME");
    const std::string xdgBefore = savedXdg ? savedXdg : "";
    const std::string homeBefore = savedHome ? savedHome : "";
    for (const Case& c : cases) {
        if (c.xdg != nullptr) {
            setenv("XDG_CONFIG_HOME", c.xdg, 1);
        } else {
            unsetenv("XDG_CONFIG_HOME");
        }
        setenv("HOME", c.home, 1);
        FixedBundle bundle;
        bundle.identifier = c.identifier;
        EXPECT_EQ(PlistUserDefaults::defaultPath(bundle).string(), c.expected);
    }
    savedXdg ? setenv("XDG_CONFIG_HOME", xdgBefore.c_str(), 1) : unsetenv("XDG_CONFIG_HOME");
    savedHome ? setenv("HOME", homeBefore.c_str(), 1) : unsetenv("HOME");
}

} // namespace
