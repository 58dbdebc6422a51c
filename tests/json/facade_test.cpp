#include "brenvo/JSON/XKJSON.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace brenvo {
namespace {

using Records = std::vector<std::pair<unsigned, std::string>>;

Records recordsOf(const JsonErrorTrace& trace) {
    Records records;
    if (trace)
        for (const auto& record : *trace)
            records.emplace_back(record->code(), record->message());
    return records;
}

class Opaque : public JsonHostValue {
public:
    std::string typeName() const override { return "Opaque"; }
};

// One facade conversion, reduced to its outcome: the text written or parsed back, or nothing.
struct Outcome {
    std::optional<std::string> result;
    JsonErrorRef error;
};

std::string utf8(const std::u16string& text) {
    return toUtf8(text);
}

TEST(Facade, EveryOperationAndItsOutcome) {
    const JsonValue array = JsonValue::array({1});
    const JsonValue boolean(true);
    const JsonValue unwritable = JsonValue::array({JsonValue(std::make_shared<Opaque>())});
    using Operation = std::function<std::optional<std::string>(XKJSON&, JsonErrorRef*)>;
    auto parsed = [](std::optional<JsonValue> value) -> std::optional<std::string> {
        if (!value)
            return std::nullopt;
        XKJsonWriter writer;
        return toUtf8(*writer.stringWithFragment(*value));
    };
    auto written = [](std::optional<std::u16string> text) -> std::optional<std::string> {
        if (!text)
            return std::nullopt;
        return utf8(*text);
    };
    struct Case {
        const char* name;
        Operation run;
        std::optional<std::string> result; // absent: fails with `code` and `message`
        unsigned code = 0;
        const char* message = "";
    };
    const Case cases[] = {
        {"objectWithString:error: on an array",
         [&](XKJSON& j, JsonErrorRef* e) { return parsed(j.objectWithString("[1]", e)); }, "[1]"},
        {"objectWithString:error: on a scalar",
         [&](XKJSON& j, JsonErrorRef* e) { return parsed(j.objectWithString("1", e)); },
         std::nullopt, 4, "Valid fragment, but not JSON"},
        {"fragmentWithString:error: on a scalar",
         [&](XKJSON& j, JsonErrorRef* e) { return parsed(j.fragmentWithString("1", e)); }, "1"},
        {"objectWithString:allowScalar:error: true",
         [&](XKJSON& j, JsonErrorRef* e) { return parsed(j.objectWithString(u" 1 ", true, e)); },
         "1"},
        {"objectWithString:allowScalar:error: false",
         [&](XKJSON& j, JsonErrorRef* e) { return parsed(j.objectWithString("1", false, e)); },
         std::nullopt, 4, "Valid fragment, but not JSON"},
        {"objectWithString:error: without input",
         [&](XKJSON& j, JsonErrorRef* e) { return parsed(j.objectWithString(std::nullopt, e)); },
         std::nullopt, 12, "Input was 'nil'"},
        {"fragmentWithString:error: on a null pointer",
         [&](XKJSON& j, JsonErrorRef* e) {
             return parsed(j.fragmentWithString(static_cast<const char*>(nullptr), e));
         },
         std::nullopt, 12, "Input was 'nil'"},
        {"objectWithString:error: newest record last",
         [&](XKJSON& j, JsonErrorRef* e) { return parsed(j.objectWithString("[tru]", e)); },
         std::nullopt, 3, "Expected value while parsing array"},
        {"stringWithFragment:error: on true",
         [&](XKJSON& j, JsonErrorRef* e) { return written(j.stringWithFragment(boolean, e)); },
         "true"},
        {"stringWithObject:error: on true",
         [&](XKJSON& j, JsonErrorRef* e) { return written(j.stringWithObject(boolean, e)); },
         std::nullopt, 4, "Not valid type for JSON"},
        {"stringWithObject:allowScalar:error: true",
         [&](XKJSON& j, JsonErrorRef* e) { return written(j.stringWithObject(boolean, true, e)); },
         "true"},
        {"stringWithObject:allowScalar:error: false",
         [&](XKJSON& j, JsonErrorRef* e) { return written(j.stringWithObject(boolean, false, e)); },
         std::nullopt, 4, "Not valid type for JSON"},
        {"stringWithObject:error: on an array",
         [&](XKJSON& j, JsonErrorRef* e) { return written(j.stringWithObject(array, e)); }, "[1]"},
        {"stringWithObject:error: newest record last",
         [&](XKJSON& j, JsonErrorRef* e) { return written(j.stringWithObject(unwritable, e)); },
         std::nullopt, 1, "JSON serialisation not supported for Opaque"},
        {"stringWithFragment:error: without a value",
         [&](XKJSON& j, JsonErrorRef* e) { return written(j.stringWithFragment(std::nullopt, e)); },
         std::nullopt, 1, "JSON serialisation not supported for nil"},
        {"utf8StringWithObject:allowScalar:error:",
         [&](XKJSON& j, JsonErrorRef* e) { return j.utf8StringWithObject(boolean, false, e); },
         std::nullopt, 4, "Not valid type for JSON"},
    };
    const auto sentinel = std::make_shared<const JsonError>("sentinel", 99, "untouched", nullptr);
    for (const auto& c : cases) {
        for (bool withOut : {true, false}) {
            XKJSON json;
            JsonErrorRef error = sentinel;
            EXPECT_EQ(c.run(json, withOut ? &error : nullptr), c.result) << c.name;
            if (c.result) {
                EXPECT_EQ(error, sentinel) << c.name;
                EXPECT_FALSE(json.errorTrace()) << c.name;
                continue;
            }
            const auto trace = json.errorTrace();
            ASSERT_TRUE(trace && !trace->empty()) << c.name;
            EXPECT_EQ(trace->back()->code(), c.code) << c.name;
            EXPECT_EQ(trace->back()->message(), c.message) << c.name;
            EXPECT_EQ(error, withOut ? trace->back() : sentinel) << c.name;
        }
    }
}

TEST(Facade, TraceIsACopyKeptUntilTheNextFailure) {
    XKJSON json;
    int announcements = 0;
    json.setErrorTraceObserver([&](std::string_view, bool) { ++announcements; });
    JsonErrorRef error;
    EXPECT_FALSE(json.objectWithString("[1,]", &error));
    const Records first = {{9, "Trailing comma disallowed in array"}};
    EXPECT_EQ(recordsOf(json.errorTrace()), first);
    EXPECT_TRUE(json.objectWithString("{}", &error));
    EXPECT_EQ(recordsOf(json.errorTrace()), first);
    EXPECT_TRUE(json.stringWithObject(JsonValue::array(), &error));
    EXPECT_EQ(recordsOf(json.errorTrace()), first);
    EXPECT_FALSE(json.objectWithString("[", &error));
    EXPECT_EQ(recordsOf(json.errorTrace()), (Records{{11, "End of input while parsing array"}}));
    // The facade replaces its trace without announcing it.
    EXPECT_EQ(announcements, 0);

    // The record handed out outlives the facade, and its chain leads to the older records.
    {
        XKJSON other;
        EXPECT_FALSE(other.objectWithString("[\"\\uD800x\"]", &error));
    }
    ASSERT_TRUE(error);
    EXPECT_EQ(error->message(), "Expected value while parsing array");
    ASSERT_TRUE(error->underlying());
    EXPECT_EQ(error->underlying()->message(), "Broken unicode character");
}

TEST(Facade, SettingsLiveInTheComponents) {
    XKJSON json;
    EXPECT_EQ(json.maxDepth(), 512u);
    EXPECT_FALSE(json.humanReadable());
    EXPECT_FALSE(json.sortKeys());
    json.setMaxDepth(2);
    EXPECT_EQ(json.maxDepth(), 2u);
    JsonErrorRef error;
    EXPECT_TRUE(json.objectWithString("[[1]]", &error));
    EXPECT_FALSE(json.objectWithString("[[[1]]]", &error));
    EXPECT_EQ(error->code(), 3u);
    EXPECT_EQ(error->underlying()->underlying()->message(), "Nested too deep");
    const JsonValue deep = JsonValue::array({JsonValue::array({JsonValue::array()})});
    EXPECT_FALSE(json.stringWithObject(deep, &error));
    EXPECT_EQ(recordsOf(json.errorTrace()), (Records{{7, "Nested too deep"}}));

    json.setHumanReadable(true);
    json.setSortKeys(true);
    EXPECT_TRUE(json.humanReadable());
    EXPECT_TRUE(json.sortKeys());
    EXPECT_EQ(json.stringWithObject(JsonValue::object({{"b", 1}, {"a", 2}})),
              u"{\n  \"a\" : 2,\n  \"b\" : 1\n}");

    // Both interfaces reach the same components.
    XKJsonWriting& writing = json;
    XKJsonParsing& parsing = json;
    writing.setHumanReadable(false);
    EXPECT_EQ(writing.stringWithObject(JsonValue::array({1})), u"[1]");
    EXPECT_EQ(parsing.objectWithString(u"[2]"), JsonValue::array({2}));
    EXPECT_FALSE(parsing.objectWithString("2"));
    EXPECT_EQ(recordsOf(json.errorTrace()), (Records{{4, "Valid fragment, but not JSON"}}));
    EXPECT_EQ(XKJSON().maxDepth(), 512u);
}

} // namespace
} // namespace brenvo
