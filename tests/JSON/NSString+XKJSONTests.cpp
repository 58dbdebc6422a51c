#include "brenvo/JSON/NSString+XKJSON.h"

#include "LogLines.h"

#include <functional>
#include <string>
#include <vector>

namespace brenvo {
namespace {

using NSStringXKJSON = LogLines;

TEST_F(NSStringXKJSON, OneLineForEachFailureAndNoneOtherwise) {
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
        // No argument at all: no result and no line.
        {"JSONValue(nullopt)", [] { return JSONValue(std::nullopt).has_value(); }, false, ""},
        {"JSONValue(null pointer)",
         [] { return JSONValue(static_cast<const char*>(nullptr)).has_value(); }, false, ""},
        {"JSONFragmentValue(nullopt UTF-16)",
         [] { return JSONFragmentValue(std::optional<std::u16string_view>()).has_value(); }, false,
         ""},
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

} // namespace
} // namespace brenvo
