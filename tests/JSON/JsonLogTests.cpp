// The lines the JSON library logs: one for each failed conversion of the convenience functions
// (NSObject+XKJSON, NSString+XKJSON) and none otherwise, through the installed handler or as the
// default line on standard error.
#include "brenvo/JSON/JsonLog.h"
#include "brenvo/JSON/NSObject+XKJSON.h"
#include "brenvo/JSON/NSString+XKJSON.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <regex>
#include <string>
#include <string_view>
#include <unistd.h>
#include <utility>
#include <vector>

namespace brenvo {
namespace {

class Opaque : public JsonHostValue {
public:
    std::string typeName() const override { return "Opaque"; }
};

// Captures the lines written while a test runs.
class JsonLogLines : public ::testing::Test {
protected:
    void SetUp() override {
        setJsonLogHandler([this](std::string_view text) { lines.emplace_back(text); });
    }
    void TearDown() override { setJsonLogHandler(nullptr); }

    std::vector<std::string> lines;
};

std::string record(JsonErrorCode code, const char* message) {
    return std::string("\"Error Domain=org.brenvo.JSON.ErrorDomain Code=") + std::to_string(code) +
           " \\\"" + message + "\\\"\"";
}

TEST_F(JsonLogLines, OneForEachFailedConversion) {
    const JsonValue array = JsonValue::array({1, "x"});
    const JsonValue opaque = JsonValue(std::make_shared<Opaque>());
    struct Case {
        const char* name;
        std::function<bool()> run; // true when the call returned a result
        bool succeeds;
        std::string line = {}; // empty: no line
    };
    const Case cases[] = {
        {"JSONValue on an array", [] { return JSONValue("[1]") == JsonValue::array({1}); }, true},
        {"JSONValue on a scalar", [] { return JSONValue("1").has_value(); }, false,
         "-JSONValue failed. Error trace is: (" +
             record(JsonErrorFragment, "Valid fragment, but not JSON") + ")"},
        {"JSONValue on UTF-16", [] { return JSONValue(u"[").has_value(); }, false,
         "-JSONValue failed. Error trace is: (" +
             record(JsonErrorEndOfInput, "End of input while parsing array") + ")"},
        {"JSONFragmentValue on a scalar", [] { return JSONFragmentValue(" 2 ") == JsonValue(2); },
         true},
        {"JSONFragmentValue on a broken escape",
         [] { return JSONFragmentValue("\"\\u12G4\"").has_value(); }, false,
         "-JSONFragmentValue failed. Error trace is: (" +
             record(JsonErrorUnicode, "Missing hex digit in quad") + ", " +
             record(JsonErrorUnicode, "Missing hex quad") + ", " +
             record(JsonErrorUnicode, "Broken unicode character") + ")"},
        {"JSONRepresentation on an array",
         [&] { return JSONRepresentation(array) == u"[1,\"x\"]"; }, true},
        {"JSONRepresentation on a scalar",
         [] { return JSONRepresentation(JsonValue(true)).has_value(); }, false,
         "-JSONRepresentation failed. Error trace is: (" +
             record(JsonErrorFragment, "Not valid type for JSON") + ")"},
        {"JSONFragment on a scalar", [] { return JSONFragment(JsonValue(true)) == u"true"; }, true},
        {"JSONFragment on a host value", [&] { return JSONFragment(opaque).has_value(); }, false,
         "-JSONFragment failed. Error trace is: (" +
             record(JsonErrorUnsupportedType, "JSON serialisation not supported for Opaque") + ")"},
        // No argument at all: no result and no line.
        {"JSONValue(nullopt)", [] { return JSONValue(std::nullopt).has_value(); }, false, ""},
        {"JSONValue(null pointer)",
         [] { return JSONValue(static_cast<const char*>(nullptr)).has_value(); }, false, ""},
        {"JSONFragmentValue(nullopt UTF-16)",
         [] { return JSONFragmentValue(std::optional<std::u16string_view>()).has_value(); }, false,
         ""},
        {"JSONRepresentation(null pointer)",
         [] { return JSONRepresentation(static_cast<const JsonValue*>(nullptr)).has_value(); },
         false, ""},
        {"JSONFragment(nullopt)", [] { return JSONFragment(std::nullopt).has_value(); }, false, ""},
    };
    for (const auto& c : cases) {
        lines.clear();
        EXPECT_EQ(c.run(), c.succeeds) << c.name;
        if (c.line.empty())
            EXPECT_TRUE(lines.empty()) << c.name;
        else
            EXPECT_EQ(lines, std::vector<std::string>{c.line}) << c.name;
    }
}

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
