// The test fixture of every suite: it must give working services on real files.
#include "support/TestServices.h"

#include <gtest/gtest.h>

using namespace brenvo::platform;

namespace {

TEST(TestServices, InfoPlistAndDefaultsAreRealFiles) {
    brenvo::test::TestServices test;
    EXPECT_EQ(test.services.mainBundle.objectForInfoDictionaryKey("CFBundleIdentifier"),
              PlistValue("org.brenvo.test"));
    test.setInfo("BrenvoAppId", "123");
    EXPECT_EQ(test.mainBundle.objectForInfoDictionaryKey("BrenvoAppId"), PlistValue("123"));
    test.removeInfo("BrenvoAppId");
    EXPECT_EQ(test.mainBundle.objectForInfoDictionaryKey("BrenvoAppId"), std::nullopt);

    test.services.standardUserDefaults.setObject(test.clock.date(), "BrenvoLastCheck");
    ASSERT_TRUE(test.services.standardUserDefaults.synchronize());
    PlistUserDefaults other(test.defaultsPath(), test.log);
    EXPECT_EQ(other.objectForKey("BrenvoLastCheck"), PlistValue(test.clock.date()));
    EXPECT_EQ(&RunLoop::currentRunLoop(), &test.runLoop);
    EXPECT_TRUE(test.log.lines().empty());
}

} // namespace
