#include "brenvo/JSON/JsonLog.h"
#include "brenvo/JSON/NSString+XKJSON.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>
#include <unistd.h>

namespace brenvo {
namespace {

// Without a handler a line goes to standard error, stamped like the system log.
TEST(JsonLog, DefaultLineOnStandardError) {
    char path[] = "/tmp/brenvo-json-log-XXXXXX";
    const int file = mkstemp(path);
    ASSERT_GE(file, 0);
    std::fflush(stderr);
    const int saved = dup(STDERR_FILENO);
    dup2(file, STDERR_FILENO);
    setJsonLogHandler(nullptr);
    EXPECT_FALSE(JSONValue("x"));
    std::fflush(stderr);
    dup2(saved, STDERR_FILENO);
    close(saved);
    close(file);
    std::ifstream in(path);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::remove(path);
    const std::regex line(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} \S+\[\d+\] )"
                          R"(-JSONValue failed\. Error trace is: \(".*Code=3 .*"\)\n)");
    EXPECT_TRUE(std::regex_match(text, line)) << text;
}

} // namespace
} // namespace brenvo
