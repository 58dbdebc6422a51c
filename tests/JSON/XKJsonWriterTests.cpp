#include "brenvo/JSON/XKJsonWriter.h"

#include "brenvo/JSON/XKJsonParser.h"
#include "support/Sanitizers.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <functional>
#include <limits>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#if !defined(_WIN32)
#include <sys/resource.h>
#include <unistd.h>
#endif

namespace brenvo {
namespace {

using Records = std::vector<std::pair<unsigned, std::string>>;

Records recordsOf(const XKJsonBase& component) {
    Records records;
    if (auto trace = component.errorTrace())
        for (const auto& record : *trace)
            records.emplace_back(record->code(), record->message());
    return records;
}

// A value of a type the writer does not know; with a stand-in when `proxy` is set.
class Host : public JsonHostValue {
public:
    explicit Host(std::string name, std::optional<JsonValue> proxy = std::nullopt)
        : name_(std::move(name)), proxy_(std::move(proxy)) {}
    std::string typeName() const override { return name_; }
    std::optional<JsonValue> proxyForJson() const override { return proxy_; }

private:
    std::string name_;
    std::optional<JsonValue> proxy_;
};

JsonValue host(std::string name, std::optional<JsonValue> proxy = std::nullopt) {
    return JsonValue(std::make_shared<Host>(std::move(name), std::move(proxy)));
}

// A host value whose stand-in is produced by a function, for chains and cycles.
class FunctionHost : public JsonHostValue {
public:
    std::function<std::optional<JsonValue>()> make;
    std::string typeName() const override { return "Loop"; }
    std::optional<JsonValue> proxyForJson() const override { return make(); }
};

JsonValue nested(int levels, JsonValue inner) {
    for (int i = 0; i < levels; ++i) {
        JsonValue::Array holder;
        holder.push_back(std::move(inner));
        inner = JsonValue(std::move(holder));
    }
    return inner;
}

TEST(Writer, LayoutOfBothModes) {
    const JsonValue example = JsonValue::array({1, JsonValue::object({{"a", true}})});
    struct Case {
        const char* name;
        JsonValue value;
        bool humanReadable;
        std::u16string text;
    };
    const Case cases[] = {
        {"worked example, compact", example, false, u"[1,{\"a\":true}]"},
        {"worked example, human", example, true, u"[\n  1,\n  {\n    \"a\" : true\n  }\n]"},
        {"empty array", JsonValue::array(), false, u"[]"},
        {"empty array, human", JsonValue::array(), true, u"[]"},
        {"empty object", JsonValue::object(), false, u"{}"},
        {"empty object, human", JsonValue::object(), true, u"{}"},
        {"empties nested, human", JsonValue::array({JsonValue::array(), JsonValue::object()}), true,
         u"[\n  [],\n  {}\n]"},
        {"scalar, human", JsonValue(true), true, u"true"},
        {"string, human", JsonValue("x"), true, u"\"x\""},
        {"two members, human", JsonValue::object({{"b", 2}, {"a", 1}}), true,
         u"{\n  \"a\" : 1,\n  \"b\" : 2\n}"},
        {"literals", JsonValue::array({true, false, nullptr, 0, 1}), false,
         u"[true,false,null,0,1]"},
    };
    for (const auto& c : cases) {
        XKJsonWriter writer;
        writer.setSortKeys(true);
        writer.setHumanReadable(c.humanReadable);
        EXPECT_EQ(writer.stringWithFragment(c.value), c.text) << c.name;
        EXPECT_FALSE(writer.errorTrace()) << c.name;
    }
    XKJsonWriter writer;
    writer.setSortKeys(true);
    EXPECT_EQ(writer.stringWithObject(example)->size(), 14u);
    writer.setHumanReadable(true);
    EXPECT_EQ(writer.stringWithObject(example)->size(), 31u);
}

// The escapes of one string in both output forms.
TEST(Writer, StringEscapes) {
    struct Case {
        std::u16string in;
        std::u16string utf16;
        std::string utf8;
    };
    const Case cases[] = {
        {u"\"\\\t\n\u000b\u001f", u"\"\\\"\\\\\\t\\n\\u000b\\u001f\"",
         "\"\\\"\\\\\\t\\n\\u000b\\u001f\""},
        {u"/\u00e9\u007f", u"\"/\u00e9\u007f\"", "\"/\xc3\xa9\x7f\""},
        // Long strings are written in pieces of 4096 units; a pair across the first boundary.
        {std::u16string(4095, u'a') + u"\U0001F600z",
         u"\"" + std::u16string(4095, u'a') + u"\U0001F600z\"",
         "\"" + std::string(4095, 'a') + "\xf0\x9f\x98\x80z\""},
    };
    for (const auto& c : cases) {
        XKJsonWriter writer;
        EXPECT_EQ(writer.stringWithFragment(JsonValue(c.in)), c.utf16);
        EXPECT_EQ(writer.utf8StringWithFragment(JsonValue(c.in)), c.utf8);
        EXPECT_EQ(writer.stringWithObject(JsonValue::object({{c.in, 1}})), u"{" + c.utf16 + u":1}");
    }
}

// The reference rules, one unit at a time, against the block scanner on random strings. With
// `utf8` set, lone surrogates become \u escapes, as they must in UTF-8 output.
std::u16string escapeByUnit(const std::u16string& in, bool utf8) {
    static const char16_t* hex = u"0123456789abcdef";
    auto isHigh = [](char16_t u) { return u >= 0xD800 && u <= 0xDBFF; };
    auto isLow = [](char16_t u) { return u >= 0xDC00 && u <= 0xDFFF; };
    std::u16string out = u"\"";
    for (std::size_t i = 0; i < in.size(); ++i) {
        const char16_t unit = in[i];
        const bool paired = (isHigh(unit) && i + 1 < in.size() && isLow(in[i + 1])) ||
                            (isLow(unit) && i > 0 && isHigh(in[i - 1]));
        switch (unit) {
        case u'"':
            out += u"\\\"";
            break;
        case u'\\':
            out += u"\\\\";
            break;
        case 0x08:
            out += u"\\b";
            break;
        case 0x09:
            out += u"\\t";
            break;
        case 0x0A:
            out += u"\\n";
            break;
        case 0x0C:
            out += u"\\f";
            break;
        case 0x0D:
            out += u"\\r";
            break;
        default:
            if (unit < 0x20 || (utf8 && (isHigh(unit) || isLow(unit)) && !paired)) {
                out += u"\\u";
                for (int shift = 12; shift >= 0; shift -= 4)
                    out += hex[(unit >> shift) & 0xF];
            } else {
                out += unit;
            }
        }
    }
    return out + u"\"";
}

TEST(Writer, BlockScanAgreesWithUnitRules) {
    const char16_t pool[] = {u'a',  u'"',  u'\\',  0x00,   0x1F,   0x20,   0x7F,   0x80,   0xE9,
                             0x7FF, 0x800, 0xD800, 0xDBFF, 0xDC00, 0xDFFF, 0xFFFF, 0x8000, 0x5C5C};
    std::mt19937 random(7);
    XKJsonWriter writer;
    for (int round = 0; round < 3000; ++round) {
        std::u16string in(random() % 40, u'x');
        for (auto& unit : in)
            unit = random() % 3 == 0 ? pool[random() % std::size(pool)]
                                     : char16_t(u'a' + random() % 26);
        ASSERT_EQ(writer.stringWithFragment(JsonValue(in)), escapeByUnit(in, false));
        const auto expected = toUtf8Strict(escapeByUnit(in, true));
        ASSERT_TRUE(expected);
        ASSERT_EQ(writer.utf8StringWithFragment(JsonValue(in)), *expected);
    }
}

TEST(Writer, NonFiniteDoublesCannotBeWritten) {
    struct Case {
        double value;
        const char* message;
    };
    const Case cases[] = {
        {std::numeric_limits<double>::quiet_NaN(),
         "JSON serialisation not supported for non-finite double (nan)"},
        {std::numeric_limits<double>::infinity(),
         "JSON serialisation not supported for non-finite double (inf)"},
        {-std::numeric_limits<double>::infinity(),
         "JSON serialisation not supported for non-finite double (-inf)"},
    };
    for (const auto& c : cases) {
        XKJsonWriter writer;
        EXPECT_FALSE(writer.stringWithObject(JsonValue::array({c.value})));
        EXPECT_EQ(recordsOf(writer), (Records{{1, c.message}}));
    }
}

TEST(Writer, FailuresAndTheirRecords) {
    struct Case {
        const char* name;
        JsonValue value;
        uint64_t maxDepth;
        Records records;
    };
    const Case cases[] = {
        {"three records",
         JsonValue::object({{"a", JsonValue::array({JsonValue::object({{"b", host("T")}})})}}),
         512,
         {{JsonErrorUnsupportedType, "JSON serialisation not supported for T"},
          {JsonErrorUnsupportedType, "Unsupported value for key b in object"},
          {JsonErrorUnsupportedType, "Unsupported value for key a in object"}}},
        {"key written raw in the message",
         JsonValue::object({{"q\"k\\", host("T")}}),
         512,
         {{JsonErrorUnsupportedType, "JSON serialisation not supported for T"},
          {JsonErrorUnsupportedType, "Unsupported value for key q\"k\\ in object"}}},
        {"arrays add nothing",
         JsonValue::array({1, JsonValue::array({host("Date")})}),
         512,
         {{JsonErrorUnsupportedType, "JSON serialisation not supported for Date"}}},
        {"proxy that cannot be written",
         JsonValue::array({host("Outer", host("Inner"))}),
         512,
         {{JsonErrorUnsupportedType, "JSON serialisation not supported for Inner"}}},
        {"third level with maxDepth 2", nested(3, 1), 2, {{JsonErrorDepth, "Nested too deep"}}},
        {"object beyond the limit",
         JsonValue::object({{"a", JsonValue::object({{"b", JsonValue::object()}})}}),
         2,
         {{JsonErrorDepth, "Nested too deep"},
          {JsonErrorUnsupportedType, "Unsupported value for key b in object"},
          {JsonErrorUnsupportedType, "Unsupported value for key a in object"}}},
        {"inner container with maxDepth 1",
         JsonValue::array({JsonValue::array()}),
         1,
         {{JsonErrorDepth, "Nested too deep"}}},
    };
    for (const auto& c : cases) {
        XKJsonWriter writer;
        writer.setMaxDepth(c.maxDepth);
        EXPECT_FALSE(writer.stringWithObject(c.value)) << c.name;
        EXPECT_EQ(recordsOf(writer), c.records) << c.name;
        // Each record leads to the one before it, and all carry the JSON domain.
        const auto trace = *writer.errorTrace();
        for (std::size_t i = 0; i < trace.size(); ++i) {
            EXPECT_EQ(trace[i]->domain(), XKJSONErrorDomain) << c.name;
            EXPECT_EQ(trace[i]->underlying(), i == 0 ? nullptr : trace[i - 1]) << c.name;
        }
    }
}

TEST(Writer, DepthLimits) {
    XKJsonWriter writer;
    writer.setMaxDepth(2);
    EXPECT_EQ(writer.stringWithObject(nested(2, 1)), u"[[1]]");
    writer.setMaxDepth(0);
    writer.setHumanReadable(true);
    EXPECT_EQ(writer.stringWithObject(nested(3, 1)), u"[\n  [\n    [\n      1\n    ]\n  ]\n]");
    // No limit and no recursion: a very deep value is written without exhausting the stack.
    writer.setHumanReadable(false);
    const int levels = 200000;
    auto text = writer.stringWithObject(nested(levels, 1));
    ASSERT_TRUE(text);
    EXPECT_EQ(text->size(), 2u * levels + 1);
    EXPECT_EQ(text->substr(levels - 1, 3), u"[1]");
}

TEST(Writer, ProxiesStandInForHostValues) {
    const JsonValue object = JsonValue::object({{"k", JsonValue::array({1, "two"})}});
    const JsonValue proxied = host("Record", object);
    XKJsonWriter writer;
    EXPECT_EQ(writer.stringWithObject(proxied), u"{\"k\":[1,\"two\"]}");
    EXPECT_EQ(writer.stringWithObject(JsonValue::array({proxied, host("Flag", true)})),
              u"[{\"k\":[1,\"two\"]},true]");
    EXPECT_EQ(writer.stringWithFragment(host("A", host("B", 5))), u"5");

    // At the top of stringWithObject a proxy must lead to a container; any failure on the way
    // leaves the single record 4.
    const JsonValue failing[] = {host("Flag", true), host("Bare"), host("Outer", host("Inner")),
                                 host("Bad", JsonValue::array({host("Inner")}))};
    for (const auto& value : failing) {
        EXPECT_FALSE(writer.stringWithObject(value));
        EXPECT_EQ(recordsOf(writer), (Records{{JsonErrorFragment, "Not valid type for JSON"}}));
    }
    EXPECT_FALSE(writer.stringWithFragment(std::nullopt));
    EXPECT_EQ(recordsOf(writer),
              (Records{{JsonErrorUnsupportedType, "JSON serialisation not supported for nil"}}));
    EXPECT_FALSE(writer.stringWithObject(std::nullopt));
    EXPECT_EQ(recordsOf(writer), (Records{{JsonErrorFragment, "Not valid type for JSON"}}));
}

TEST(Writer, ProxyChainsAndCycles) {
    const std::string cycleMessage =
        "JSON serialisation not supported for Loop (proxyForJson leads back to it)";
    // A proxy that returns itself, and a proxy that returns an array holding itself.
    auto self = std::make_shared<FunctionHost>();
    self->make = [weak = std::weak_ptr<FunctionHost>(self)] { return JsonValue(weak.lock()); };
    auto cycle = std::make_shared<FunctionHost>();
    cycle->make = [weak = std::weak_ptr<FunctionHost>(cycle)] {
        return JsonValue::array({JsonValue(weak.lock())});
    };
    XKJsonWriter writer;
    writer.setMaxDepth(0);
    EXPECT_FALSE(writer.stringWithFragment(JsonValue(self)));
    EXPECT_EQ(recordsOf(writer), (Records{{JsonErrorUnsupportedType, cycleMessage}}));
    EXPECT_FALSE(writer.stringWithFragment(JsonValue::object({{"x", JsonValue(cycle)}})));
    EXPECT_EQ(recordsOf(writer),
              (Records{{JsonErrorUnsupportedType, cycleMessage},
                       {JsonErrorUnsupportedType, "Unsupported value for key x in object"}}));
    EXPECT_FALSE(writer.stringWithObject(JsonValue(self)));
    EXPECT_EQ(recordsOf(writer), (Records{{JsonErrorFragment, "Not valid type for JSON"}}));

    // A chain of proxies just within the bound is written; one more fails.
    JsonValue chain = 1;
    for (std::size_t i = 0; i < XKJsonWriter::kMaxProxyNesting; ++i)
        chain = host("Step", chain);
    EXPECT_EQ(writer.stringWithFragment(chain), u"1");
    EXPECT_FALSE(writer.stringWithFragment(host("Step", chain)));
    EXPECT_EQ(recordsOf(writer),
              (Records{{JsonErrorUnsupportedType,
                        "JSON serialisation not supported for Step (proxyForJson nested more "
                        "than 64 deep)"}}));

    // A list of host values, each written as [i, next]: every chain is one proxy long, however
    // many proxies are in use along the path.
    JsonValue list = nullptr;
    std::u16string expected = u"null";
    for (int i = 200; i-- > 0;) {
        list = host("Node", JsonValue::array({i, list}));
        expected = u"[" + toUtf16(std::to_string(i)) + u"," + expected + u"]";
    }
    EXPECT_EQ(writer.stringWithObject(list), expected);
}

TEST(Writer, TraceBelongsToTheLastConversion) {
    XKJsonWriter writer;
    EXPECT_FALSE(writer.stringWithObject(JsonValue::array({host("T")})));
    EXPECT_TRUE(writer.errorTrace());
    EXPECT_EQ(writer.stringWithObject(JsonValue::array()), u"[]");
    EXPECT_FALSE(writer.errorTrace());
}

// A failure leaves the caller's buffer and the writer's depth as they were, and so does an
// error-trace observer that throws at the failure's record.
TEST(Writer, AppendLeavesTheBufferWholeOnFailure) {
    for (const bool throwing : {false, true}) {
        SCOPED_TRACE(throwing ? "throwing observer" : "failure");
        XKJsonWriter writer;
        writer.setErrorTraceObserver([&](std::string_view, bool willChange) {
            if (throwing && !willChange && writer.errorTrace() && writer.errorTrace()->size() == 1)
                throw std::runtime_error("observer");
        });
        const auto fails = [&](const JsonValue& value, std::u16string& into) {
            writer.clearErrorTrace();
            if (!throwing)
                return !writer.appendValue(value, into);
            EXPECT_THROW((void)writer.appendValue(value, into), std::runtime_error);
            return true;
        };
        std::u16string into = u"prefix:";
        EXPECT_TRUE(writer.appendValue(JsonValue::array({1}), into));
        EXPECT_EQ(into, u"prefix:[1]");
        EXPECT_TRUE(fails(JsonValue::array({1, JsonValue::array({1, host("T")})}), into));
        EXPECT_EQ(into, u"prefix:[1]");
        // So is the depth: the next value is laid out from the same level.
        writer.setHumanReadable(true);
        EXPECT_TRUE(fails(JsonValue::array({JsonValue::array({host("T")})}), into));
        std::u16string next;
        EXPECT_TRUE(writer.appendValue(JsonValue::array({1}), next));
        EXPECT_EQ(next, u"[\n  1\n]");
        EXPECT_EQ(writer.stringWithObject(JsonValue::array({host("P", JsonValue::array({2}))})),
                  u"[\n  [\n    2\n  ]\n]");
        std::string utf8 = "x";
        EXPECT_TRUE(writer.appendString(u"\u00e9\"", utf8));
        EXPECT_EQ(utf8, "x\"\xc3\xa9\\\"\"");
    }
}

// Text longer than the room a writer keeps goes on in pieces joined at the end; a piece may end
// anywhere, a closing bracket's step back over the last comma included. The same value appended
// to a string, which never takes that path, must give the same text.
TEST(Writer, TextBeyondTheKeptRoomMatchesAppendedText) {
    // Strings of every kind; and numbers in nested arrays, where in human-readable form a
    // closing bracket asks for the most room, so the text most likely changes piece there.
    JsonValue::Array strings;
    JsonValue::Array numbers;
    for (int i = 0; i < 40'000; ++i) {
        std::u16string text(static_cast<std::size_t>(200 + i % 97), u'a');
        text += u"\u00e9\"\n\u65e5";
        strings.push_back(JsonValue::object(
            {{u"k" + std::u16string(static_cast<std::size_t>(i % 5), u'\u00e9'),
              JsonValue::array({JsonValue(text), i, JsonValue::array({true, nullptr}),
                                JsonValue::object({})})}}));
    }
    for (int i = 0; i < 150'000; ++i)
        numbers.push_back(JsonValue::array({JsonValue::array({i, 2}), JsonValue::array({3})}));
    struct Case {
        JsonValue value;
        bool pretty;
    };
    Case cases[] = {{JsonValue(strings), false},
                    {JsonValue(std::move(strings)), true},
                    {JsonValue(std::move(numbers)), true}};
    XKJsonWriter writer;
    for (Case& c : cases) {
        SCOPED_TRACE(c.pretty ? "human-readable" : "compact");
        writer.setHumanReadable(c.pretty);
        // The same code writes both encodings; UTF-16 passes the kept room's 16 MiB sooner.
        std::u16string appended;
        ASSERT_TRUE(writer.appendValue(c.value, appended));
        ASSERT_GT(appended.size(), std::size_t{8} << 20);
        EXPECT_TRUE(writer.stringWithFragment(c.value) == appended);
        // A failure after the pieces began leaves nothing behind for the next conversion.
        c.value.asArray()->push_back(host("T"));
        EXPECT_FALSE(writer.stringWithFragment(c.value));
        EXPECT_EQ(writer.utf8StringWithFragment(JsonValue::array({1})),
                  c.pretty ? "[\n  1\n]" : "[1]");
    }
}

// The \u escape of a lone surrogate in UTF-8 output is valid JSON, but this parser refuses
// unpaired surrogates: such a string does not come back.
TEST(Writer, LoneSurrogateInUtf8DoesNotParseBack) {
    XKJsonWriter writer;
    const auto text = writer.utf8StringWithObject(JsonValue::array({std::u16string(1, u'\xD800')}));
    EXPECT_EQ(text, "[\"\\ud800\"]");
    XKJsonParser parser;
    EXPECT_FALSE(parser.objectWithString(*text));
    EXPECT_EQ(parser.errorTrace()->front()->message(), "Missing low character in surrogate pair");
}

#if !defined(_WIN32) // the address space is limited with setrlimit
// Writes human-readable text of a value nested 100,000 deep, some 20 GB, with the address space
// limited: both ways of writing must fail with a record.
bool failsWithoutMemory() {
    long pages = 0;
    std::ifstream("/proc/self/statm") >> pages;
    const rlimit limit{static_cast<rlim_t>(pages * sysconf(_SC_PAGESIZE)) + (64 << 20),
                       RLIM_INFINITY};
    setrlimit(RLIMIT_AS, &limit);
    XKJsonWriter writer;
    writer.setMaxDepth(0);
    writer.setHumanReadable(true);
    const JsonValue deep = nested(100'000, 1);
    const Records noMemory = {{JsonErrorTooLarge, "Not enough memory for the JSON text"}};
    if (writer.stringWithObject(deep) || recordsOf(writer) != noMemory)
        return false;
    writer.clearErrorTrace();
    std::string into = "kept";
    return !writer.appendValue(deep, into) && into == "kept" && recordsOf(writer) == noMemory;
}

// Whether a lower address-space limit takes effect: an emulator (qemu-user) accepts one without
// applying it, since it would bind the emulator's own memory.
bool addressSpaceLimitApplies() {
    rlimit before{};
    getrlimit(RLIMIT_AS, &before);
    rlimit lower = before;
    lower.rlim_cur = before.rlim_cur == RLIM_INFINITY ? rlim_t{1} << 46 : before.rlim_cur - 1;
    setrlimit(RLIMIT_AS, &lower);
    rlimit after{};
    getrlimit(RLIMIT_AS, &after);
    setrlimit(RLIMIT_AS, &before);
    return after.rlim_cur == lower.rlim_cur;
}

// Running out of memory fails the conversion; the process goes on.
TEST(WriterDeathTest, RunningOutOfMemoryFailsTheConversion) {
#if defined(BRENVO_TEST_ASAN)
    GTEST_SKIP() << "AddressSanitizer reserves address space beyond any limit";
#endif
    if (!addressSpaceLimitApplies())
        GTEST_SKIP() << "an address-space limit does not take effect here";
    EXPECT_EXIT(std::exit(failsWithoutMemory() ? 0 : 1), testing::ExitedWithCode(0), "");
}
#endif

} // namespace
} // namespace brenvo
