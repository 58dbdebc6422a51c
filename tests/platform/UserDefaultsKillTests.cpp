// The plist defaults store when the saving process dies: child processes save in a loop and are
// killed with SIGKILL at random moments. Whatever a child was told had been saved must still be
// in the file, the file must always parse, and a killed save's temporary file must not outlive
// the next save. The random seed is printed with any failure.
#include "brenvo/platform/linux/PlistFile.h"
#include "brenvo/platform/linux/PlistUserDefaults.h"
#include "support/CapturingLog.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <random>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace brenvo::platform;
using brenvo::test::CapturingLog;
using brenvo::test::TempDir;

namespace {

// A child process that saves for ever: value `first`, then `first + 1`, ... either always
// under `key` or each under a key of its own (`key` followed by the value), resting `rest`
// after each save. Each value is reported on a pipe once synchronize() has returned true for it.
class Saver {
public:
    Saver(const std::filesystem::path& file, const std::string& key, int64_t first,
          bool keyPerValue, std::chrono::microseconds rest = {}) {
        int ends[2];
        if (::pipe2(ends, O_CLOEXEC) != 0) {
            ADD_FAILURE() << "pipe2: " << std::strerror(errno);
            return;
        }
        pid_ = ::fork();
        if (pid_ == 0) {
            ::close(ends[0]);
            CapturingLog log;
            PlistUserDefaults defaults(file, log);
            for (int64_t value = first;; ++value) {
                defaults.setObject(value, keyPerValue ? key + std::to_string(value) : key);
                if (!defaults.synchronize() || !log.lines().empty()) {
                    _exit(1);
                }
                if (::write(ends[1], &value, sizeof value) != sizeof value) {
                    _exit(2);
                }
                std::this_thread::sleep_for(rest);
            }
        }
        ::close(ends[1]);
        report_ = ends[0];
        ::fcntl(report_, F_SETFL, O_NONBLOCK);
        if (pid_ < 0) {
            ADD_FAILURE() << "fork: " << std::strerror(errno);
        }
    }
    ~Saver() { kill(); }
    Saver(const Saver&) = delete;
    Saver& operator=(const Saver&) = delete;

    // Collects the values reported so far (the pipe must not fill up and stall the child).
    void drain() {
        int64_t value = 0;
        while (report_ >= 0 && ::read(report_, &value, sizeof value) == sizeof value) {
            saved_.push_back(value);
        }
    }

    // Waits until the child has reported `count` saves; false when it died or a minute passed
    // without.
    bool waitForSaves(size_t count) {
        drain();
        while (saved_.size() < count) {
            pollfd ready{report_, POLLIN, 0};
            if (::poll(&ready, 1, 60'000) <= 0) {
                return false;
            }
            drain();
            if ((ready.revents & POLLHUP) != 0 && saved_.size() < count) {
                return false;
            }
        }
        return true;
    }

    // Kills the child, checks that it died of the signal and not of a failed save, and gives
    // every value it reported.
    const std::vector<int64_t>& kill() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            int status = 0;
            EXPECT_EQ(::waitpid(pid_, &status, 0), pid_);
            EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL)
                << "the child stopped by itself, status " << status;
            pid_ = -1;
            drain();
            ::close(report_);
            report_ = -1;
        }
        return saved_;
    }

private:
    pid_t pid_ = -1;
    int report_ = -1;
    std::vector<int64_t> saved_;
};

// Everything in the folder besides the file and its lock file.
std::vector<std::string> leftovers(const TempDir& dir) {
    std::vector<std::string> names;
    for (const std::string& name : dir.entries()) {
        if (name != "app.plist" && name != "app.plist.lock") {
            names.push_back(name);
        }
    }
    return names;
}

// How long one save takes on this machine's disk (fsync dominates, from a fraction of a
// millisecond on tmpfs to tens on a slow disk).
std::chrono::microseconds timeOneSave(const std::filesystem::path& file) {
    CapturingLog log;
    PlistUserDefaults defaults(file, log);
    constexpr int kSaves = 5;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kSaves; ++i) {
        defaults.setObject(i, "warm-up");
        EXPECT_TRUE(defaults.synchronize());
    }
    defaults.removeObjectForKey("warm-up");
    EXPECT_TRUE(defaults.synchronize());
    return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() -
                                                                 start) /
           (kSaves + 1);
}

// Lets a fresh child finish up to `mostSaves` saves (a random number of them, none included),
// then kills it at a random moment of the next one or two; whatever the machine's speed, kills
// land before the first save, inside saves and between them.
const std::vector<int64_t>& killAtRandom(Saver& child, std::mt19937& random,
                                         std::chrono::microseconds save, int mostSaves) {
    const int saves = std::uniform_int_distribution<int>(0, mostSaves)(random);
    EXPECT_TRUE(child.waitForSaves(static_cast<size_t>(saves)));
    std::this_thread::sleep_for(std::chrono::microseconds(
        std::uniform_int_distribution<int64_t>(0, 2 * save.count())(random)));
    return child.kill();
}

unsigned freshSeed() {
    return std::random_device{}();
}

TEST(PlistUserDefaultsKill, KilledSavesLoseNothingReportedAndLeaveNoDebris) {
    const unsigned seed = freshSeed();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    TempDir dir;
    const auto file = dir / "app.plist";
    const auto save = timeOneSave(file);
    constexpr int kKills = 200;
    int64_t lastSaved = 0;
    int reports = 0;
    int killedMidSave = 0;
    for (int kill = 0; kill < kKills; ++kill) {
        // Each child counts on from a range of its own, so a stale value cannot pass for a new
        // one.
        Saver child(file, "counter", int64_t{kill} * 1'000'000 + 1, false);
        const std::vector<int64_t>& saved = killAtRandom(child, random, save, 2);
        reports += static_cast<int>(saved.size());
        if (!saved.empty()) {
            lastSaved = saved.back();
        }
        // At most the temporary file of the save that was cut short: the next save removes it.
        const std::vector<std::string> left = leftovers(dir);
        ASSERT_LE(left.size(), 1u) << "after kill " << kill << ": " << left.front();
        if (!left.empty()) {
            ASSERT_TRUE(left.front().starts_with(".app.plist.tmp-")) << left.front();
            ++killedMidSave;
        }
        std::string why;
        const auto root = readPropertyListFile(file, &why);
        ASSERT_TRUE(root && root->asDictionary()) << "after kill " << kill << ": " << why;
        const auto counter = root->asDictionary()->find("counter");
        const int64_t onDisk =
            counter != root->asDictionary()->end() ? *counter->second.asInteger() : 0;
        ASSERT_GE(onDisk, lastSaved) << "after kill " << kill;
    }
    // The kills must have interrupted saves, or this test proves nothing.
    std::printf("%d kills, %d of them in the middle of a save; %d saves reported, %lld us each\n",
                kKills, killedMidSave, reports, static_cast<long long>(save.count()));
    EXPECT_GE(killedMidSave, kKills / 10);

    CapturingLog log;
    PlistUserDefaults survivor(file, log);
    survivor.setObject(int64_t{0}, "final");
    EXPECT_TRUE(survivor.synchronize());
    EXPECT_EQ(leftovers(dir), std::vector<std::string>{});
    EXPECT_TRUE(log.lines().empty());
}

// One process keeps saving while another, sharing the file, is killed again and again: no key
// either of them was told had been saved goes missing.
TEST(PlistUserDefaultsKill, ASurvivorLosesNothingToAWriterKilledBesideIt) {
    const unsigned seed = freshSeed();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    TempDir dir;
    const auto file = dir / "app.plist";
    const auto save = timeOneSave(file);
    constexpr int kKills = 50;
    // A lock is not granted in turn: a writer saving without pause could keep the other out.
    Saver survivor(file, "s", 1, true, save);
    std::vector<int64_t> victimSaved;
    for (int kill = 0; kill < kKills; ++kill) {
        Saver victim(file, "v", int64_t{kill} * 1'000'000 + 1, true);
        const std::vector<int64_t>& saved = killAtRandom(victim, random, save, 2);
        victimSaved.insert(victimSaved.end(), saved.begin(), saved.end());
        survivor.drain();
    }
    const std::vector<int64_t> survivorSaved = survivor.kill();
    ASSERT_FALSE(survivorSaved.empty());
    std::printf("%zu saves by the survivor, %zu by the writers killed beside it\n",
                survivorSaved.size(), victimSaved.size());

    std::string why;
    const auto root = readPropertyListFile(file, &why);
    ASSERT_TRUE(root && root->asDictionary()) << why;
    const PlistDictionary& values = *root->asDictionary();
    const std::pair<const char*, const std::vector<int64_t>*> writers[] = {{"s", &survivorSaved},
                                                                           {"v", &victimSaved}};
    for (const auto& [prefix, saved] : writers) {
        for (const int64_t value : *saved) {
            const auto found = values.find(prefix + std::to_string(value));
            ASSERT_NE(found, values.end()) << prefix << value << " was reported saved";
            EXPECT_EQ(found->second, PlistValue(value));
        }
    }
    CapturingLog log;
    PlistUserDefaults last(file, log);
    last.setObject(int64_t{0}, "final");
    EXPECT_TRUE(last.synchronize());
    EXPECT_EQ(leftovers(dir), std::vector<std::string>{});
}

} // namespace
