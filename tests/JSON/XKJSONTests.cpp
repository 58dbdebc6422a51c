#include "brenvo/JSON/XKJSON.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
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
        return toUtf8(*text);
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
         std::nullopt, JsonErrorFragment, "Valid fragment, but not JSON"},
        {"fragmentWithString:error: on a scalar",
         [&](XKJSON& j, JsonErrorRef* e) { return parsed(j.fragmentWithString("1", e)); }, "1"},
        {"objectWithString:allowScalar:error: true",
         [&](XKJSON& j, JsonErrorRef* e) { return parsed(j.objectWithString(u" 1 ", true, e)); },
         "1"},
        {"objectWithString:allowScalar:error: false",
         [&](XKJSON& j, JsonErrorRef* e) { return parsed(j.objectWithString("1", false, e)); },
         std::nullopt, JsonErrorFragment, "Valid fragment, but not JSON"},
        {"objectWithString:error: without input",
         [&](XKJSON& j, JsonErrorRef* e) { return parsed(j.objectWithString(std::nullopt, e)); },
         std::nullopt, JsonErrorNilInput, "Input was 'nil'"},
        {"fragmentWithString:error: on a null pointer",
         [&](XKJSON& j, JsonErrorRef* e) {
             return parsed(j.fragmentWithString(static_cast<const char*>(nullptr), e));
         },
         std::nullopt, JsonErrorNilInput, "Input was 'nil'"},
        {"objectWithString:error: newest record last",
         [&](XKJSON& j, JsonErrorRef* e) { return parsed(j.objectWithString("[tru]", e)); },
         std::nullopt, JsonErrorSyntax, "Expected value while parsing array"},
        {"stringWithFragment:error: on true",
         [&](XKJSON& j, JsonErrorRef* e) { return written(j.stringWithFragment(boolean, e)); },
         "true"},
        {"stringWithObject:error: on true",
         [&](XKJSON& j, JsonErrorRef* e) { return written(j.stringWithObject(boolean, e)); },
         std::nullopt, JsonErrorFragment, "Not valid type for JSON"},
        {"stringWithObject:allowScalar:error: true",
         [&](XKJSON& j, JsonErrorRef* e) { return written(j.stringWithObject(boolean, true, e)); },
         "true"},
        {"stringWithObject:allowScalar:error: false",
         [&](XKJSON& j, JsonErrorRef* e) { return written(j.stringWithObject(boolean, false, e)); },
         std::nullopt, JsonErrorFragment, "Not valid type for JSON"},
        {"stringWithObject:error: on an array",
         [&](XKJSON& j, JsonErrorRef* e) { return written(j.stringWithObject(array, e)); }, "[1]"},
        {"stringWithObject:error: newest record last",
         [&](XKJSON& j, JsonErrorRef* e) { return written(j.stringWithObject(unwritable, e)); },
         std::nullopt, JsonErrorUnsupportedType, "JSON serialisation not supported for Opaque"},
        {"stringWithFragment:error: without a value",
         [&](XKJSON& j, JsonErrorRef* e) { return written(j.stringWithFragment(std::nullopt, e)); },
         std::nullopt, JsonErrorUnsupportedType, "JSON serialisation not supported for nil"},
        {"utf8StringWithObject:allowScalar:error:",
         [&](XKJSON& j, JsonErrorRef* e) { return j.utf8StringWithObject(boolean, false, e); },
         std::nullopt, JsonErrorFragment, "Not valid type for JSON"},
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
    const Records first = {{JsonErrorTrailingComma, "Trailing comma disallowed in array"}};
    EXPECT_EQ(recordsOf(json.errorTrace()), first);
    EXPECT_TRUE(json.objectWithString("{}", &error));
    EXPECT_EQ(recordsOf(json.errorTrace()), first);
    EXPECT_TRUE(json.stringWithObject(JsonValue::array(), &error));
    EXPECT_EQ(recordsOf(json.errorTrace()), first);
    EXPECT_FALSE(json.objectWithString("[", &error));
    EXPECT_EQ(recordsOf(json.errorTrace()),
              (Records{{JsonErrorEndOfInput, "End of input while parsing array"}}));
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
    EXPECT_EQ(error->code(), JsonErrorSyntax);
    EXPECT_EQ(error->underlying()->underlying()->message(), "Nested too deep");
    const JsonValue deep = JsonValue::array({JsonValue::array({JsonValue::array()})});
    EXPECT_FALSE(json.stringWithObject(deep, &error));
    EXPECT_EQ(recordsOf(json.errorTrace()), (Records{{JsonErrorDepth, "Nested too deep"}}));

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
    EXPECT_EQ(recordsOf(json.errorTrace()),
              (Records{{JsonErrorFragment, "Valid fragment, but not JSON"}}));
    EXPECT_EQ(XKJSON().maxDepth(), 512u);
}

namespace fs = std::filesystem;

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Parse, then write: the text comes back byte for byte for the round-trip files, and every
// number of the benchmark corpora keeps its exact text.
TEST(RoundTrip, EveryFileComesBackByteForByte) {
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(fs::path(BRENVO_TEST_DATA_DIR) / "roundtrip"))
        if (entry.path().extension() == ".json")
            files.push_back(entry.path());
    ASSERT_EQ(files.size(), 27u);
    for (const auto& file : files) {
        const std::string text = readFile(file);
        XKJSON json;
        JsonErrorRef error;
        const auto value = json.objectWithString(text, &error);
        ASSERT_TRUE(value) << file << ": " << (error ? error->message() : "");
        EXPECT_EQ(json.utf8StringWithObject(*value, false, &error), text) << file;
        EXPECT_EQ(json.stringWithObject(*value, &error), toUtf16(text)) << file;
    }
}

// A number keeps the text it was read with, through the parser's digit scanning (runs around 8
// and 19 significant digits) and through both forms of the writer.
TEST(RoundTrip, NumbersKeepTheirText) {
    for (const char* text : {"-0",
                             "0e5",
                             "1E+2",
                             "-12.50e-3",
                             "0.0",
                             "-0.0",
                             "5e-324",
                             "1.7976931348623157e308",
                             "123456789012345678901234567890.5e-7",
                             "1e05",
                             "0.00000000000000000001",
                             "12345678",
                             "123456789",
                             "0.12345678",
                             "0.123456789",
                             "-65.613616999999977",
                             "9999999999999999999",
                             "99999999.99999999999",
                             "12345678901234567890",
                             "0.000000001234567890123456789",
                             "10000000.000000001",
                             "1e999999999",
                             "-9223372036854775808",
                             "18446744073709551615"}) {
        XKJSON json;
        JsonErrorRef error;
        const std::optional<JsonValue> value = json.fragmentWithString(text, &error);
        ASSERT_TRUE(value && value->isNumber()) << text;
        EXPECT_EQ(*value->asNumber(), *Decimal::fromString(text)) << text;
        EXPECT_EQ(json.utf8StringWithObject(*value, true, &error), text);
        EXPECT_EQ(json.stringWithFragment(*value, &error), toUtf16(text));
    }
}

// The benchmark corpora, written compact with sorted keys and human-readable, parse back to the
// same values, and writing again gives the same text.
TEST(RoundTrip, Corpora) {
    const fs::path corpus = fs::path(BRENVO_TEST_DATA_DIR) / ".." / ".." / "bench" / "data";
    for (const char* name : {"canada.json", "citm_catalog.json", "twitter.json"}) {
        XKJSON json;
        JsonErrorRef error;
        const auto value = json.objectWithString(readFile(corpus / name), &error);
        ASSERT_TRUE(value) << name;
        json.setSortKeys(true);
        for (bool humanReadable : {false, true}) {
            json.setHumanReadable(humanReadable);
            const auto text = json.utf8StringWithObject(*value, false, &error);
            ASSERT_TRUE(text) << name;
            const auto again = json.objectWithString(*text, &error);
            EXPECT_EQ(again, value) << name;
            EXPECT_EQ(json.utf8StringWithObject(*again, false, &error), text) << name;
        }
    }
}

} // namespace
} // namespace brenvo
