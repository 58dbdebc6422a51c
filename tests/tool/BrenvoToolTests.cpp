// The brenvo tool as a user runs it: separate processes, a real store, real preference files.
#include "brenvo/platform/PropertyList.h"
#include "brenvo/platform/linux/PlistFile.h"
#include "support/LoopbackServer.h"
#include "support/ScopedEnvironment.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using brenvo::platform::PlistDictionary;
using brenvo::platform::PlistValue;
using namespace std::chrono_literals;

const std::string kTool = std::string(BRENVO_BIN_DIR) + "/brenvo";
const std::string kXkjson = std::string(BRENVO_BIN_DIR) + "/xkjson";

// A child process with its standard output and error captured. The tool's requests to the
// loopback store must not go to a proxy named in the environment.
class Process {
public:
    explicit Process(std::vector<std::string> args, const std::string& program = kTool) {
        brenvo::test::bypassProxiesForLoopback();
        int outPipe[2], errPipe[2];
        if (::pipe2(outPipe, O_CLOEXEC) != 0 || ::pipe2(errPipe, O_CLOEXEC) != 0)
            return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
        posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
        args.insert(args.begin(), program);
        std::vector<char*> argv;
        argv.reserve(args.size() + 1);
        for (auto& arg : args)
            argv.push_back(arg.data());
        argv.push_back(nullptr);
        if (posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(outPipe[1]);
        ::close(errPipe[1]);
        outFd_ = outPipe[0];
        errFd_ = errPipe[0];
    }

    ~Process() {
        if (pid_ > 0 && status_ < 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        ::close(outFd_);
        ::close(errFd_);
    }

    // Reads output until `done` holds or both streams end or the deadline passes.
    template <class Done> bool readUntil(Done done, std::chrono::seconds limit = 60s) {
        auto deadline = std::chrono::steady_clock::now() + limit;
        while (!done()) {
            pollfd fds[2] = {{outFd_, POLLIN, 0}, {errFd_, POLLIN, 0}};
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left <= 0ms || (outFd_ < 0 && errFd_ < 0))
                return done();
            if (::poll(fds, 2, static_cast<int>(left.count())) < 0 && errno != EINTR)
                return false;
            drain(fds[0], outFd_, out);
            drain(fds[1], errFd_, err);
        }
        return true;
    }

    // Waits for the end of the process; its exit status, or -1 when it did not end in time.
    int finish(std::chrono::seconds limit = 60s) {
        readUntil([this] { return outFd_ < 0 && errFd_ < 0; }, limit);
        int status = 0;
        if (::waitpid(pid_, &status, outFd_ < 0 && errFd_ < 0 ? 0 : WNOHANG) != pid_)
            return -1;
        status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        return status_;
    }

    void signal(int number) { ::kill(pid_, number); }

    std::string out, err;

private:
    static void drain(const pollfd& entry, int& fd, std::string& into) {
        if (fd < 0 || !(entry.revents & (POLLIN | POLLHUP | POLLERR)))
            return;
        char buffer[4096];
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0) {
            into.append(buffer, static_cast<size_t>(n));
        } else if (n == 0 || errno != EINTR) {
            ::close(fd);
            fd = -1;
        }
    }

    pid_t pid_ = -1;
    int outFd_ = -1, errFd_ = -1;
    int status_ = -1;
};

struct Result {
    int status;
    std::string out, err;
};

Result runTool(std::vector<std::string> args, const std::string& program = kTool) {
    Process process(std::move(args), program);
    int status = process.finish();
    return {status, process.out, process.err};
}

// `brenvo serve-store` in the background, stopped with SIGTERM at the end of the test.
class Store {
public:
    explicit Store(std::vector<std::string> args)
        : process_([&] {
              args.insert(args.begin(), "serve-store");
              return args;
          }()) {
        process_.readUntil([this] { return process_.out.find('\n') != std::string::npos; });
        castUrl = process_.out.substr(0, process_.out.find('\n'));
    }
    int stop() {
        process_.signal(SIGTERM);
        return process_.finish();
    }
    std::string requests() { return process_.err; }

    std::string castUrl;

private:
    Process process_;
};

class ToolTest : public testing::Test {
protected:
    std::string writeInfoPlist(PlistDictionary info) {
        std::string path = (dir_ / "Info.plist").string();
        std::string error;
        EXPECT_TRUE(brenvo::platform::writePropertyListFile(
            PlistValue(std::move(info)), path, brenvo::platform::PlistFormat::XML, &error))
            << error;
        return path;
    }

    PlistDictionary readDefaults() {
        auto values = brenvo::platform::readPropertyListFile(defaults(), nullptr);
        if (!values || !values->asDictionary())
            return {};
        return *values->asDictionary();
    }

    std::string defaults() const { return (dir_ / "prefs.plist").string(); }

    brenvo::test::TempDir dir_;
};

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

TEST_F(ToolTest, SkipIsRememberedByTheNextCheck) {
    Store store({"--version", "2.0", "--notes", "Faster.\nSmaller."});
    ASSERT_EQ(store.castUrl.rfind("http://127.0.0.1:", 0), 0u) << store.castUrl;
    std::string plist = writeInfoPlist({{"CFBundleName", PlistValue("Tool Test")},
                                        {"CFBundleShortVersionString", PlistValue("1.0")},
                                        {"BrenvoAppId", PlistValue(777)},
                                        {"BrenvoCastUrl", PlistValue(store.castUrl)}});

    const std::vector<std::string> check = {"check",      "--info-plist", plist,
                                            "--defaults", defaults(),     "--answer",
                                            "skip",       "--window",     "terminal"};
    Result first = runTool(check);
    ASSERT_EQ(first.status, 0) << first.err;
    EXPECT_TRUE(contains(first.out, "Tool Test 2.0 is now available - you have 1.0.")) << first.out;
    EXPECT_TRUE(contains(first.out, "  | Faster.\n  | Smaller.\n")) << first.out;
    EXPECT_FALSE(contains(first.out, "open: "));
    PlistDictionary stored = readDefaults();
    EXPECT_EQ(stored["BrenvoSkipVersion"], PlistValue("2.0"));
    ASSERT_TRUE(stored.count("BrenvoLastCheck"));
    EXPECT_NE(stored["BrenvoLastCheck"].asDate(), nullptr);

    // The next check comes well within the interval: the tool checks at once all the same.
    Result second = runTool(check);
    ASSERT_EQ(second.status, 0) << second.err;
    EXPECT_TRUE(contains(second.err, "Brenvo: New Version 2.0 found!\n")) << second.err;
    EXPECT_TRUE(
        contains(second.err, "Brenvo: Version 2.0 already skipped by user. No notification.\n"))
        << second.err;
    EXPECT_FALSE(contains(second.out, "Skip This Version")) << second.out;
    EXPECT_TRUE(second.out.ends_with("outcome: skipped 2.0\n")) << second.out;
    EXPECT_EQ(readDefaults()["BrenvoSkipVersion"], PlistValue("2.0"));

    // A user who asks sees the skipped version again.
    std::vector<std::string> asked = check;
    asked.push_back("--user");
    Result third = runTool(asked);
    ASSERT_EQ(third.status, 0) << third.err;
    EXPECT_TRUE(contains(third.out, "Skip This Version")) << third.out;
    EXPECT_TRUE(third.out.ends_with("outcome: update-available 2.0\n")) << third.out;

    EXPECT_EQ(store.stop(), 128 + SIGTERM);
    const std::string requests = store.requests();
    const std::string line = "store: GET /lookup?id=777 -> 200\n";
    EXPECT_NE(requests.find(line), requests.rfind(line)) << requests;
}

// The answers reach the system; the record's minimumOsVersion (10.13) holds the version back on
// an older system; where the system cannot be read the application's own page opens. The last
// line names the outcome.
TEST_F(ToolTest, AnswersOpenAndCloseAndNamesTheOutcome) {
    Store store({"--version", "5.1"});
    std::string plist = writeInfoPlist({{"CFBundleShortVersionString", PlistValue("5.0")},
                                        {"BrenvoAppId", PlistValue("id9")},
                                        {"BrenvoCastUrl", PlistValue(store.castUrl)}});
    struct Row {
        const char* answer;
        const char* osVersion; // empty: not given
        const char* opened;    // the start of the printed URL; empty: nothing opened
        const char* outcome;
    };
    for (Row row :
         {Row{"open", "10.15.7", "macappstore://", "update-available 5.1"},
          Row{"open", "10.5.8", "", "held-back minimum-os-version 5.1"},
          Row{"open", "", "https://apps.apple.com/app/idid9?mt=12", "update-available 5.1"},
          Row{"close", "10.15.7", "", "update-available 5.1"}}) {
        std::vector<std::string> args = {"check",    "--info-plist", plist,     "--answer",
                                         row.answer, "--window",     "terminal"};
        if (*row.osVersion) {
            args.push_back("--os-version");
            args.push_back(row.osVersion);
        }
        Result result = runTool(args);
        ASSERT_EQ(result.status, 0) << result.err;
        EXPECT_EQ(contains(result.out, "\nopen: " + std::string(row.opened)), *row.opened != 0)
            << result.out;
        EXPECT_EQ(contains(result.out, "\nopen: "), *row.opened != 0) << result.out;
        EXPECT_TRUE(("\n" + result.out).ends_with("\noutcome: " + std::string(row.outcome) + "\n"))
            << result.out;
        EXPECT_TRUE(contains(result.err, "Brenvo: Class dealloced.")) << result.err;
    }
    EXPECT_EQ(store.stop(), 128 + SIGTERM);
}

// A store that limits requests: the last line names the wait it asked for, whatever the body.
TEST_F(ToolTest, CheckNamesTheStoresRateLimit) {
    using Server = brenvo::test::LoopbackServer;
    Server server;
    server.handle("/lookup", [](const Server::Request&) {
        return Server::Reply{429,
                             R"({"results":[{"version":"9.0"}]})",
                             "application/json",
                             {{"Retry-After", "120"}}};
    });
    std::string plist = writeInfoPlist({{"CFBundleShortVersionString", PlistValue("1.0")},
                                        {"BrenvoAppId", PlistValue("1")},
                                        {"BrenvoCastUrl", PlistValue(server.url("/lookup?id="))}});
    Result result = runTool({"check", "--info-plist", plist, "--defaults", defaults(), "--window",
                             "terminal", "--answer", "close"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_TRUE(("\n" + result.out).ends_with("\noutcome: rate-limited 120\n")) << result.out;
}

// The switches of the environment: nothing reaches the store, and the last line says why.
TEST_F(ToolTest, CheckNamesWhatKeepsItFromTheStore) {
    using Server = brenvo::test::LoopbackServer;
    Server server;
    server.handle("/lookup", [](const Server::Request&) {
        return Server::Reply{200, R"({"results":[{"version":"1.0"}]})"};
    });
    std::string plist = writeInfoPlist({{"CFBundleShortVersionString", PlistValue("1.0")},
                                        {"BrenvoAppId", PlistValue("1")},
                                        {"BrenvoCastUrl", PlistValue(server.url("/lookup?id="))}});
    const struct {
        std::map<std::string, std::string> environment;
        bool user;
        const char* outcome;
        size_t requests;
    } rows[] = {
        {{{"BRENVO_DISABLE", "1"}}, false, "disabled environment", 0},
        {{{"BRENVO_DISABLE", "1"}}, true, "disabled environment", 0},
        {{{"SNAP", "/snap/app/1"}, {"SNAP_NAME", "app"}}, false, "managed snap", 0},
        {{{"SNAP", "/snap/app/1"}, {"SNAP_NAME", "app"}}, true, "up-to-date 1.0", 1},
    };
    for (const auto& row : rows) {
        brenvo::test::ScopedEnvironment scoped(brenvo::test::switchVariables(), row.environment);
        std::vector<std::string> args = {"check", "--info-plist", plist, "--defaults", defaults()};
        if (row.user)
            args.emplace_back("--user");
        const size_t before = server.requests().size();
        Result result = runTool(args);
        EXPECT_EQ(result.status, 0) << result.err;
        EXPECT_TRUE(("\n" + result.out).ends_with("\noutcome: " + std::string(row.outcome) + "\n"))
            << result.out;
        EXPECT_EQ(server.requests().size() - before, row.requests);
    }
}

TEST_F(ToolTest, CheckWithoutAppIdStopsAfterTheMessage) {
    std::string plist = writeInfoPlist({{"CFBundleShortVersionString", PlistValue("1.0")},
                                        {"BrenvoDebugMessages", PlistValue(false)}});
    Result result = runTool({"check", "--info-plist", plist, "--defaults", defaults()});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "outcome: not-configured\n");
    EXPECT_TRUE(contains(result.err,
                         "Brenvo: No update check possible. Please set BrenvoAppId in Main Bundle "
                         "Info.plist.\n"))
        << result.err;
    EXPECT_FALSE(contains(result.err, "Starting HTTP Request")) << result.err;
    // Debug messages are on whatever the Info.plist says.
    EXPECT_TRUE(contains(result.err, "Debugging Messages are activated.")) << result.err;
}

TEST_F(ToolTest, RunEndsOnSignalsAfterTheAgentHasShutDown) {
    Store store({"--version", "0.9"});
    std::string plist = writeInfoPlist({{"CFBundleShortVersionString", PlistValue("1.0")},
                                        {"BrenvoAppId", PlistValue("1")},
                                        {"BrenvoCastUrl", PlistValue(store.castUrl)}});
    for (int signal : {SIGINT, SIGTERM}) {
        // Fresh preferences, so that each run checks at once.
        const std::string prefs = (dir_ / ("prefs-" + std::to_string(signal) + ".plist")).string();
        Process run(
            {"run", "--info-plist", plist, "--defaults", prefs, "--debug", "--window", "terminal"});
        ASSERT_TRUE(run.readUntil([&] { return contains(run.err, "No new Version available"); }))
            << run.err;
        run.signal(signal);
        // As a shell reports a process that the signal ended: 130 for SIGINT, 143 for SIGTERM.
        EXPECT_EQ(run.finish(), 128 + signal) << run.err;
        EXPECT_TRUE(contains(run.err, "Brenvo: No new Version available. App Version: 1.0, MAS "
                                      "Version: 0.9\n"))
            << run.err;
        EXPECT_TRUE(contains(run.err, "Brenvo: Class dealloced.\n")) << run.err;
    }
    EXPECT_EQ(store.stop(), 128 + SIGTERM);
}

// A lookup file the tool makes, served as it is, gives the check the outcome its fields call
// for; standard output gets the same text as -o FILE.
TEST_F(ToolTest, MadeLookupFileGivesTheOutcome) {
    dir_.writeFile("notes.txt", "Faster.\nSmaller.");
    const std::string file = (dir_ / "lookup.json").string();
    const std::string notes = (dir_ / "notes.txt").string();
    const std::vector<std::string> make = {"make-lookup",
                                           "--version",
                                           "2.0",
                                           "--notes",
                                           notes,
                                           "--page",
                                           "https://example.org/app/",
                                           "--release-date",
                                           "2026-12-01T09:00:00+01:00"};
    struct Row {
        std::vector<std::string> extra; // more options for make-lookup
        const char* appVersion;
        const char* outcome;
    };
    for (const Row& row :
         {Row{{}, "1.0", "update-available 2.0"}, Row{{}, "2.0", "up-to-date 2.0"},
          Row{{"--minimum-os", "11.0"}, "1.0", "held-back minimum-os-version 2.0"}}) {
        std::vector<std::string> args = make;
        args.insert(args.end(), row.extra.begin(), row.extra.end());
        Result printed = runTool(args);
        args.insert(args.end(), {"-o", file});
        Result written = runTool(args);
        ASSERT_EQ(written.status, 0) << written.err;
        EXPECT_EQ(written.out, "");
        EXPECT_TRUE(contains(written.err, "note: the page is opened only when")) << written.err;
        EXPECT_EQ(printed.out, dir_.readFile("lookup.json"));

        Store store({"--reply", file});
        std::string plist =
            writeInfoPlist({{"CFBundleShortVersionString", PlistValue(row.appVersion)},
                            {"BrenvoAppId", PlistValue(5)},
                            {"BrenvoCastUrl", PlistValue(store.castUrl)}});
        Result result = runTool({"check", "--info-plist", plist, "--os-version", "10.15.7",
                                 "--answer", "close", "--window", "terminal"});
        ASSERT_EQ(result.status, 0) << result.err;
        EXPECT_TRUE(("\n" + result.out).ends_with("\noutcome: " + std::string(row.outcome) + "\n"))
            << result.out;
        EXPECT_EQ(contains(result.out, "  | Faster.\n  | Smaller.\n"),
                  std::string(row.outcome).starts_with("update-available"))
            << result.out;
        EXPECT_EQ(store.stop(), 128 + SIGTERM);
    }
}

// What the agent would not read, or a bad option, is refused and leaves -o FILE as it was.
TEST_F(ToolTest, MakeLookupRefusals) {
    dir_.writeFile("lookup.json", "old");
    dir_.writeFile("latin1.txt", "caf\xe9");
    const std::string file = (dir_ / "lookup.json").string();
    struct Row {
        std::vector<std::string> args;
        int status;
        const char* message;
    };
    for (const Row& row :
         {Row{{"--version", std::string(257, '9')}, 1, "\"version\" is longer than 256 bytes"},
          Row{{"--version", ""}, 1, "an empty version is never newer"},
          Row{{"--version", "1", "--release-date", "2026-13-01"}, 2, "ISO 8601"},
          Row{{"--version", "1", "--page", "http://example.org/"}, 2, "not an https URL"},
          Row{{"--version", "1", "--notes", (dir_ / "latin1.txt").string()}, 1, "not UTF-8"},
          Row{{"--notes", "x"}, 2, "--version V is required"}}) {
        std::vector<std::string> args = {"make-lookup", "-o", file};
        args.insert(args.end(), row.args.begin(), row.args.end());
        Result result = runTool(args);
        EXPECT_EQ(result.status, row.status) << row.message;
        EXPECT_TRUE(contains(result.err, row.message)) << result.err;
        EXPECT_EQ(dir_.readFile("lookup.json"), "old");
    }
}

TEST(Tool, ServeStoreRefusesATakenPort) {
    Store first({"--version", "1.0"});
    const std::string prefix = "http://127.0.0.1:";
    ASSERT_EQ(first.castUrl.rfind(prefix, 0), 0u) << first.castUrl;
    const std::string port =
        first.castUrl.substr(prefix.size(), first.castUrl.find('/', prefix.size()) - prefix.size());
    Result second = runTool({"serve-store", "--version", "2.0", "--port", port});
    EXPECT_EQ(second.status, 1) << second.out;
    EXPECT_EQ(second.err, "brenvo serve-store: cannot listen on 127.0.0.1 port " + port +
                              ": the port is already in use\n");
    EXPECT_EQ(first.stop(), 128 + SIGTERM);
}

TEST(Tool, VersionOfBothTools) {
    for (const std::string& tool : {kTool, kXkjson}) {
        Result result = runTool({"--version"}, tool);
        EXPECT_EQ(result.status, 0) << tool;
        EXPECT_EQ(result.out,
                  fs::path(tool).filename().string() + " " BRENVO_EXPECTED_VERSION "\n");
    }
}

TEST_F(ToolTest, DemoFinishesByItself) {
    Result result = runTool({"demo", "--answer", "skip", "--window", "terminal"});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_TRUE(contains(result.out, "A new Version of Sample Notes is available!")) << result.out;
    EXPECT_TRUE(contains(result.out, "  BrenvoSkipVersion = 2.1.0\n")) << result.out;
    EXPECT_TRUE(contains(result.err, "store: GET /lookup?id=1234567890 -> 200")) << result.err;
}

TEST(Tool, CompareRows) {
    struct Row {
        const char* first;
        const char* second;
        const char* printed;
    };
    for (Row row : {Row{"1.10", "1.9", "1\n"}, Row{"1.9", "2.0", "-1\n"}, Row{"1.0", "1", "0\n"},
                    Row{"2.0.0", "2.0", "0\n"}, Row{"1.01", "1.1", "0\n"}}) {
        Result result = runTool({"compare", row.first, row.second});
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.out, row.printed) << row.first << " vs " << row.second;
    }
}

TEST(Tool, UsageErrorsExitWithTwo) {
    const std::vector<std::vector<std::string>> rows = {
        {},
        {"frobnicate"},
        {"compare", "1.0"},
        {"check"},
        {"check", "--info-plist"},
        {"check", "--info-plist", "x", "--answer", "maybe"},
        {"check", "--info-plist", "x", "--os-version", "ten"},
        {"check", "--info-plist", "x", "--window", "curses"},
        {"check", "--info-plist", "x", "--verbose"},
        {"serve-store"},
        {"serve-store", "--version", "1", "--port", "70000"},
        {"demo", "--answer", "later"},
    };
    for (const auto& row : rows) {
        Result result = runTool(row);
        EXPECT_EQ(result.status, 2) << testing::PrintToString(row);
        EXPECT_NE(result.err, "") << testing::PrintToString(row);
    }
}

TEST(Tool, EveryCommandHasHelp) {
    for (std::string command : {"demo", "check", "run", "serve-store", "make-lookup", "compare"}) {
        Result result = runTool({command, "--help"});
        EXPECT_EQ(result.status, 0) << command;
        EXPECT_EQ(result.out.rfind("usage: brenvo " + command, 0), 0u) << result.out;
    }
}

TEST_F(ToolTest, UnreadableInfoPlistFails) {
    dir_.writeFile("Info.plist", "not a property list");
    const fs::path bogus = dir_ / "Info.plist";
    for (const std::string& path : {bogus.string(), (dir_ / "missing.plist").string()}) {
        Result result = runTool({"check", "--info-plist", path});
        EXPECT_EQ(result.status, 1) << path;
        EXPECT_TRUE(contains(result.err, "brenvo check: ")) << result.err;
    }
}

} // namespace
