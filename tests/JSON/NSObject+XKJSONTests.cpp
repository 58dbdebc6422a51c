#include "brenvo/JSON/NSObject+XKJSON.h"

#include "LogLines.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace brenvo {
namespace {

class Opaque : public JsonHostValue {
public:
    std::string typeName() const override { return "Opaque"; }
};

using NSObjectXKJSON = LogLines;

TEST_F(NSObjectXKJSON, OneLineForEachFailureAndNoneOtherwise) {
    const JsonValue array = JsonValue::array({1, "x"});
    const JsonValue opaque = JsonValue(std::make_shared<Opaque>());
    struct Case {
        const char* name;
        std::function<bool()> run; // true when the call returned a result
        bool succeeds;
        std::string line = {}; // empty: no line
    };
    const Case cases[] = {
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

} // namespace
} // namespace brenvo
