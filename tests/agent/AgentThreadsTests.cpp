// Which thread touches the library first binds nothing: a host program whose first call is a
// failing JSON conversion on a worker thread still checks from its main loop, whether the worker
// has ended or lives on.
#include "brenvo/platform/PropertyList.h"
#include "brenvo/platform/system/PlistFile.h"
#include "support/LoopbackServer.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using brenvo::platform::PlistDictionary;
using brenvo::platform::PlistValue;

TEST(AgentThreads, AWorkerThatTouchedTheLibraryFirstBindsNothing) {
    for (const char* worker : {"ended", "alive"}) {
        SCOPED_TRACE(worker);
        brenvo::test::bypassProxiesForLoopback();
        brenvo::test::LoopbackServer store;
        store.reply("/lookup", 200, R"({"results":[{"version":"1.0"}]})");
        brenvo::test::TempDir dir;
        // The host's folder: its executable with the Info.plist beside it.
        const fs::path host = dir / "App" / "first_touch_host";
        fs::create_directories(host.parent_path());
        fs::copy_file(fs::path(BRENVO_BIN_DIR) / "first_touch_host", host);
        const PlistDictionary info{{"CFBundleIdentifier", "org.brenvo.firsttouch"},
                                   {"CFBundleShortVersionString", "1.0"},
                                   {"BrenvoAppId", "7"},
                                   {"BrenvoDebugMessages", true},
                                   {"BrenvoCastUrl", store.url("/lookup?id=")}};
        ASSERT_TRUE(brenvo::platform::writePropertyListFile(
            PlistValue(info), host.parent_path() / "Info.plist", brenvo::platform::PlistFormat::XML,
            nullptr));

        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ::setenv("XDG_CONFIG_HOME", (dir / "config").c_str(), 1);
            ::execl(host.c_str(), host.c_str(), worker, static_cast<char*>(nullptr));
            ::_exit(127);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status)) << "the host died of signal " << WTERMSIG(status);
        EXPECT_EQ(WEXITSTATUS(status), 0) << "the first check never decided";
        EXPECT_EQ(store.requests(), std::vector<std::string>{"/lookup?id=7"});
    }
}

} // namespace
