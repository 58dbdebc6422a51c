// Agents on more than one thread, in host programs run as separate processes (the default
// services read the Info.plist beside the executable): which thread touches the library first
// binds nothing, and agents on two threads share the default services safely, each hearing
// notifications on its own thread.
#include "brenvo/platform/PropertyList.h"
#include "brenvo/platform/linux/PlistFile.h"
#include "support/LoopbackServer.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;
using brenvo::platform::PlistDictionary;
using brenvo::platform::PlistValue;

// Copies the host program `name` into "<dir>/App" with `info` as its Info.plist beside it, runs
// it with `arguments` and its defaults under "<dir>/config", and gives its exit status (-1 and a
// failure when it died of a signal).
int runHost(const brenvo::test::TempDir& dir, const char* name, const PlistDictionary& info,
            const std::vector<const char*>& arguments) {
    const fs::path host = dir / "App" / name;
    if (!fs::exists(host)) {
        fs::create_directories(host.parent_path());
        fs::copy_file(fs::path(BRENVO_BIN_DIR) / name, host);
    }
    EXPECT_TRUE(
        brenvo::platform::writePropertyListFile(PlistValue(info), host.parent_path() / "Info.plist",
                                                brenvo::platform::PlistFormat::XML, nullptr));
    std::vector<char*> argv{const_cast<char*>(host.c_str())};
    for (const char* argument : arguments)
        argv.push_back(const_cast<char*>(argument));
    argv.push_back(nullptr);
    const pid_t child = ::fork();
    if (child == 0) {
        ::setenv("XDG_CONFIG_HOME", (dir / "config").c_str(), 1);
        ::execv(host.c_str(), argv.data());
        ::_exit(127);
    }
    int status = 0;
    EXPECT_EQ(::waitpid(child, &status, 0), child);
    if (!WIFEXITED(status)) {
        ADD_FAILURE() << name << " died of signal " << WTERMSIG(status);
        return -1;
    }
    return WEXITSTATUS(status);
}

TEST(AgentThreads, AWorkerThatTouchedTheLibraryFirstBindsNothing) {
    for (const char* worker : {"ended", "alive"}) {
        SCOPED_TRACE(worker);
        brenvo::test::bypassProxiesForLoopback();
        brenvo::test::LoopbackServer store;
        store.reply("/lookup", 200, R"({"results":[{"version":"1.0"}]})");
        brenvo::test::TempDir dir;
        const PlistDictionary info{{"CFBundleIdentifier", "org.brenvo.firsttouch"},
                                   {"CFBundleShortVersionString", "1.0"},
                                   {"BrenvoAppId", "7"},
                                   {"BrenvoDebugMessages", true},
                                   {"BrenvoCastUrl", store.url("/lookup?id=")}};
        EXPECT_EQ(runHost(dir, "first_touch_host", info, {worker}), 0)
            << "the first check never decided";
        EXPECT_EQ(store.requests(), std::vector<std::string>{"/lookup?id=7"});
    }
}

// Two threads make and destroy agents on the default services while each posts the window's
// close notification to the other's agents; a close posted on one thread re-arms an agent of
// another thread on that agent's own thread.
TEST(AgentThreads, AgentsOnTwoThreadsShareTheDefaultServices) {
    brenvo::test::TempDir dir;
    const PlistDictionary info{{"CFBundleIdentifier", "org.brenvo.threads"},
                               {"CFBundleShortVersionString", "1.0"},
                               {"BrenvoAppId", "7"},
                               {"BrenvoDebugMessages", true}};
    EXPECT_EQ(runHost(dir, "threaded_host", info, {"rearm"}), 0)
        << "3: never re-armed, 4: re-armed on the posting thread";
    for (int run = 0; run < 20 && !HasFailure(); ++run)
        EXPECT_EQ(runHost(dir, "threaded_host", info, {"churn", "30"}), 0) << "run " << run;
}

} // namespace
