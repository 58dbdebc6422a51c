#include "brenvo/JSON/JsonLog.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>
#include <string_view>
#include <unistd.h>
#include <utility>

namespace brenvo {
namespace {

// What the default handler writes to standard error for `text`.
std::string defaultLine(std::string_view text) {
    char path[] = "/tmp/brenvo-json-log-XXXXXX";
    const int file = mkstemp(path);
    EXPECT_GE(file, 0);
    std::fflush(stderr);
    const int saved = dup(STDERR_FILENO);
    dup2(file, STDERR_FILENO);
    setJsonLogHandler(nullptr);
    jsonLog(text);
    std::fflush(stderr);
    dup2(saved, STDERR_FILENO);
    close(saved);
    close(file);
    std::ifstream in(path);
    std::string line((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::remove(path);
    return line;
}

// Without a handler a line goes to standard error, stamped like the system log, and is one
// line of printable text whatever the input put into it.
TEST(JsonLog, DefaultLineOnStandardError) {
    const std::regex stamp(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} \S+\[\d+\] (.*)\n)");
    static constexpr char kHostile[] = "key: a\0b\nc\x1b[2J";
    const std::pair<std::string_view, std::string_view> cases[] = {
        {"-JSONValue failed. Error trace is: ()", "-JSONValue failed. Error trace is: ()"},
        {std::string_view(kHostile, sizeof kHostile - 1), "key: a\\x00b\\nc\\x1B[2J"},
    };
    for (const auto& [text, shown] : cases) {
        std::smatch match;
        const std::string line = defaultLine(text);
        ASSERT_TRUE(std::regex_match(line, match, stamp)) << line;
        EXPECT_EQ(match[1].str(), shown);
    }
}

} // namespace
} // namespace brenvo
