// The process-wide default services: one set, on the calling thread's run loop, with the real
// HTTP client.
#include "brenvo/BrenvoKeys.h"
#include "brenvo/platform/Services.h"
#include "support/LoopbackServer.h"

#include <gtest/gtest.h>

namespace {

using brenvo::platform::RunLoop;
using brenvo::platform::Services;

TEST(SharedServices, OneSetOnTheCallingThreadsLoop) {
    Services& services = Services::shared();
    EXPECT_EQ(&services, &Services::shared());
    EXPECT_EQ(&services.runLoop, &RunLoop::currentRunLoop());
    EXPECT_EQ(&services.defaultCenter, &brenvo::platform::NotificationCenter::defaultCenter());
    // Linux cannot tell the version the store addresses are chosen by.
    EXPECT_FALSE(services.systemVersion.systemVersion().has_value());
    EXPECT_TRUE(
        services.frameworkBundle.objectForInfoDictionaryKey(brenvo::kCFBundleShortVersionString));

    brenvo::test::LoopbackServer server;
    server.reply("/lookup", 200, R"({"resultCount":0,"results":[]})");
    auto response = services.http.sendSynchronousRequest({server.url("/lookup?id=1")});
    EXPECT_EQ(std::string(response.body.begin(), response.body.end()),
              R"({"resultCount":0,"results":[]})");
}

} // namespace
