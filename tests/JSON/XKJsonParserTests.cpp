#include "brenvo/JSON/XKJsonParser.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace brenvo {
namespace {

using Trace = std::vector<std::pair<unsigned, std::string>>;

Trace traceOf(const XKJsonBase& base) {
    Trace out;
    if (auto trace = base.errorTrace())
        for (const auto& record : *trace)
            out.emplace_back(record->code(), record->message());
    return out;
}

enum class Mode { Fragment, Object };

struct FailCase {
    const char* name;
    std::string input;
    Trace trace;
    std::size_t at; // errorPosition()
    Mode mode = Mode::Fragment;
};

const Trace kArray = {{JsonErrorSyntax, "Expected value while parsing array"}};

Trace operator+(Trace a, const Trace& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

class ParserFailure : public testing::TestWithParam<FailCase> {};

TEST_P(ParserFailure, LeavesExactTrace) {
    const FailCase& c = GetParam();
    XKJsonParser parser;
    std::optional<JsonValue> value = c.mode == Mode::Fragment ? parser.fragmentWithString(c.input)
                                                              : parser.objectWithString(c.input);
    EXPECT_FALSE(value.has_value());
    EXPECT_EQ(traceOf(parser), c.trace);
    EXPECT_EQ(parser.errorPosition(), c.at);
}

const FailCase kFailures[] = {
    {"NotJson", "1", {{JsonErrorFragment, "Valid fragment, but not JSON"}}, 0, Mode::Object},
    {"NotJsonAfterSpaces",
     "\n  \"s\" ",
     {{JsonErrorFragment, "Valid fragment, but not JSON"}},
     3,
     Mode::Object},
    {"Empty", "", {{JsonErrorEndOfInput, "Unexpected end of string"}}, 0},
    {"OnlySpaces", "   ", {{JsonErrorEndOfInput, "Unexpected end of string"}}, 3},
    {"TrailingCommaArray",
     "[1,]",
     {{JsonErrorTrailingComma, "Trailing comma disallowed in array"}},
     3},
    {"TrailingCommaObject",
     R"({"a":1 , })",
     {{JsonErrorTrailingComma, "Trailing comma disallowed in object"}},
     9},
    {"MissingCommaNumbers",
     "[1 2]",
     {{JsonErrorSyntax, "Expected ',' or ']' after array element"}},
     3},
    {"MissingCommaLiterals",
     "[true false]",
     {{JsonErrorSyntax, "Expected ',' or ']' after array element"}},
     6},
    {"MissingCommaMembers",
     R"({"a":1 "b":2})",
     {{JsonErrorSyntax, "Expected ',' or '}' after object member"}},
     7},
    {"DoubleComma", "[1,,2]", Trace{{JsonErrorSyntax, "Unrecognised leading character"}} + kArray,
     3},
    {"LeadingComma", "[,1]", Trace{{JsonErrorSyntax, "Unrecognised leading character"}} + kArray,
     1},
    {"BracketAlone", "[", {{JsonErrorEndOfInput, "End of input while parsing array"}}, 1},
    {"BracketSpace", "[ ", Trace{{JsonErrorEndOfInput, "Unexpected end of string"}} + kArray, 2},
    {"OpenAfterComma", "[1,", {{JsonErrorEndOfInput, "End of input while parsing array"}}, 3},
    {"OpenAfterCommaSpace", "[1, ", {{JsonErrorEndOfInput, "End of input while parsing array"}}, 4},
    {"BraceAlone", "{", {{JsonErrorEndOfInput, "End of input while parsing object"}}, 1},
    {"BraceSpace", "{ ", {{JsonErrorSyntax, "Object key string expected"}}, 2},
    {"MissingColon", R"({"a" 1})", {{JsonErrorSyntax, "Expected ':' separating key and value"}}, 5},
    {"MissingValue",
     R"({"a":})",
     {{JsonErrorSyntax, "Unrecognised leading character"},
      {JsonErrorSyntax, "Object value expected for key: a"}},
     5},
    {"GarbageAfter", "[1] x", {{JsonErrorTrailingGarbage, "Garbage after JSON"}}, 4},
    {"LeadingZero", "01", {{JsonErrorNumber, "Leading 0 disallowed in number"}}, 1},
    {"MinusAlone", "-", {{JsonErrorNumber, "No digits after initial minus"}}, 1},
    {"PointAtEnd", "1.", {{JsonErrorNumber, "No digits after decimal point"}}, 2},
    {"ExponentAtEnd", "1e", {{JsonErrorNumber, "No digits after exponent"}}, 2},
    {"ExponentSignAtEnd", "1e+", {{JsonErrorNumber, "No digits after exponent"}}, 3},
    {"LeadingPlus", "+1", {{JsonErrorNumber, "Leading + disallowed in number"}}, 0},
    {"LeadingPoint", ".5", {{JsonErrorSyntax, "Unrecognised leading character"}}, 0},
    {"ExponentTooLarge",
     "1e1000000000",
     {{JsonErrorNumber, "Failed creating decimal instance"}},
     0},
    {"ExponentTooSmall", "[-1e-1000000000]",
     Trace{{JsonErrorNumber, "Failed creating decimal instance"}} + kArray, 1},
    {"Tru", "tru", {{JsonErrorSyntax, "Expected 'true'"}}, 0},
    {"Fals", "[fals]", Trace{{JsonErrorSyntax, "Expected 'false'"}} + kArray, 1},
    {"Nul", "nul", {{JsonErrorSyntax, "Expected 'null'"}}, 0},
    {"CapitalTrue", "True", {{JsonErrorSyntax, "Unrecognised leading character"}}, 0},
    {"Truex", "truex", {{JsonErrorTrailingGarbage, "Garbage after JSON"}}, 4},
    {"UnterminatedString",
     "\"abc",
     {{JsonErrorControlCharacter, "Unescaped control character '0x0'"}},
     4},
    {"EndAfterEscape",
     "\"abc\\n",
     {{JsonErrorEndOfInput, "Unexpected EOF while parsing string"}},
     6},
    {"EndAfterBackslash", "\"abc\\", {{JsonErrorEscape, "Illegal escape sequence '0x0'"}}, 4},
    {"EscapeX", R"("a\x")", {{JsonErrorEscape, "Illegal escape sequence '0x78'"}}, 2},
    {"EscapeHighByte", "\"\\\xc3\xa9\"", {{JsonErrorEscape, "Illegal escape sequence '0xc3'"}}, 1},
    {"RawTab", "\"a\tb\"", {{JsonErrorControlCharacter, "Unescaped control character '0x9'"}}, 2},
    {"RawUnitSeparatorInLongString",
     "\"abcdefghijklmnopqrstuvwxyz\x1f\"",
     {{JsonErrorControlCharacter, "Unescaped control character '0x1f'"}},
     27},
    {"HighThenQuote",
     R"("\uD800")",
     {{JsonErrorUnicode, "Missing low character in surrogate pair"},
      {JsonErrorUnicode, "Broken unicode character"}},
     7},
    {"HighThenNewline",
     R"("\uD800\n")",
     {{JsonErrorUnicode, "Missing low character in surrogate pair"},
      {JsonErrorUnicode, "Broken unicode character"}},
     7},
    {"LowAlone",
     R"("\uDC00")",
     {{JsonErrorUnicode, "Invalid high character in surrogate pair"},
      {JsonErrorUnicode, "Broken unicode character"}},
     1},
    {"HighThenNonSurrogate",
     R"("\uD800\u0041")",
     {{JsonErrorUnicode, "Invalid low surrogate char"},
      {JsonErrorUnicode, "Broken unicode character"}},
     7},
    {"BadHexDigit",
     R"("\u12G4")",
     {{JsonErrorUnicode, "Missing hex digit in quad"},
      {JsonErrorUnicode, "Missing hex quad"},
      {JsonErrorUnicode, "Broken unicode character"}},
     5},
    {"BadHexDigitInArray", R"(["\u12G4"])",
     Trace{{JsonErrorUnicode, "Missing hex digit in quad"},
           {JsonErrorUnicode, "Missing hex quad"},
           {JsonErrorUnicode, "Broken unicode character"}} +
         kArray,
     6},
    {"BadHexDigitInLowQuad",
     R"("\uD83D\uDE0Z")",
     {{JsonErrorUnicode, "Missing hex digit in quad"},
      {JsonErrorUnicode, "Missing low character in surrogate pair"},
      {JsonErrorUnicode, "Broken unicode character"}},
     12},
    {"NumberKey", "{1:2}", {{JsonErrorSyntax, "Object key string expected"}}, 1},
    {"BadEscapeInKey",
     R"({"\q":1})",
     {{JsonErrorEscape, "Illegal escape sequence '0x71'"},
      {JsonErrorSyntax, "Object key string expected"}},
     2},
    {"NoBreakSpace", "\xc2\xa0[1]", {{JsonErrorSyntax, "Unrecognised leading character"}}, 0},
    {"NestedFailure",
     R"([{"k":[1,{"z":x}]}])",
     {{JsonErrorSyntax, "Unrecognised leading character"},
      {JsonErrorSyntax, "Object value expected for key: z"},
      {JsonErrorSyntax, "Expected value while parsing array"},
      {JsonErrorSyntax, "Object value expected for key: k"},
      {JsonErrorSyntax, "Expected value while parsing array"}},
     14},
    {"NestedContainerFailsItself", R"([{"a":[1 2]}])",
     Trace{{JsonErrorSyntax, "Expected ',' or ']' after array element"},
           {JsonErrorSyntax, "Object value expected for key: a"}} +
         kArray,
     9},
    // String bytes that are not UTF-8.
    {"Utf8StrayContinuation",
     "\"\x80\"",
     {{JsonErrorUnicode, "Invalid UTF-8 sequence in string"}},
     1},
    {"Utf8ThreeByteOverlong",
     "\"\xe3\x81\x82\xe0\x80\x80\"",
     {{JsonErrorUnicode, "Invalid UTF-8 sequence in string"}},
     4},
    {"Utf8ThreeByteTruncated",
     "\"\xe3\x81\x82\xe3\x81\"",
     {{JsonErrorUnicode, "Invalid UTF-8 sequence in string"}},
     4},
    {"Utf8TruncatedBeforeQuote", "[\"abc\xe2\x82\"]",
     Trace{{JsonErrorUnicode, "Invalid UTF-8 sequence in string"}} + kArray, 5},
    {"Utf8InKey",
     "{\"abcdefghijklmnopq\xff\":1}",
     {{JsonErrorUnicode, "Invalid UTF-8 sequence in string"},
      {JsonErrorSyntax, "Object key string expected"}},
     19},
};

INSTANTIATE_TEST_SUITE_P(Inputs, ParserFailure, testing::ValuesIn(kFailures),
                         [](const auto& param) { return std::string(param.param.name); });

struct SuccessCase {
    const char* name;
    std::string input;
    JsonValue expected;
};

class ParserSuccess : public testing::TestWithParam<SuccessCase> {};

TEST_P(ParserSuccess, GivesValue) {
    XKJsonParser parser;
    std::optional<JsonValue> value = parser.fragmentWithString(GetParam().input);
    ASSERT_TRUE(value.has_value())
        << describeTrace(parser.errorTrace().value_or(std::vector<JsonErrorRef>{}));
    EXPECT_EQ(*value, GetParam().expected);
    EXPECT_FALSE(parser.errorTrace().has_value());
    EXPECT_FALSE(parser.errorPosition().has_value());
}

const SuccessCase kSuccesses[] = {
    {"One", "1", 1},
    {"SpacedArray", " [1, 2] ", JsonValue::array({1, 2})},
    {"EmptyArray", "[]", JsonValue::array()},
    {"EmptyObject", "{}", JsonValue::object()},
    {"Literals", "[true,false,null]", JsonValue::array({true, false, nullptr})},
    {"TrailingWhitespace", "[1] \t\n\r ", JsonValue::array({1})},
    {"VerticalTabFormFeed", "\v\f[\v1\f]\v\f", JsonValue::array({1})},
    {"NulEndsInput", std::string("[1]\0xyz", 7), JsonValue::array({1})},
    {"NulEndsInputBeforeBadBytes", std::string("[1]\0\xff", 5), JsonValue::array({1})},
    {"LowerHexEscape", R"("\u00e9")", u"\u00e9"},
    {"UpperHexEscape", R"("\u00E9")", u"\u00e9"},
    {"EscapedNul", R"("\u0000")", JsonValue(std::u16string(1, u'\0'))},
    {"EscapedSlash", R"("\/")", u"/"},
    {"AllEscapes", R"("\"\\\/\b\f\n\r\t")", u"\"\\/\b\f\n\r\t"},
    {"PairSmiley", R"("\uD83D\uDE00")", u"\U0001F600"},
    {"PairMax", R"("\uDBFF\uDFFF")", u"\U0010FFFF"},
    {"PairD800DFFF", R"("\uD800\uDFFF")", u"\U000103FF"},
    {"Utf8Text", "\"caf\xc3\xa9 \xf0\x9f\x98\x80 \xe2\x82\xac\"", u"caf\u00e9 \U0001F600 \u20ac"},
    {"LongMixedText", "\"abcdefghijklmnopqrstuvwxyz\xc3\xa9\\nABCDEFGHIJKLMNOPQRSTUVWXYZ0123\"",
     u"abcdefghijklmnopqrstuvwxyz\u00e9\nABCDEFGHIJKLMNOPQRSTUVWXYZ0123"},
    {"InlineAndHeapStrings", R"(["abcdefg","abcdefgh","","abcdefghijklmnopq"])",
     JsonValue::array({"abcdefg", "abcdefgh", "", "abcdefghijklmnopq"})},
    {"LongWhitespaceRuns",
     "[1,\n" + std::string(40, ' ') + "2,\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t3" +
         std::string(17, '\v') + "]",
     JsonValue::array({1, 2, 3})},
};

INSTANTIATE_TEST_SUITE_P(Inputs, ParserSuccess, testing::ValuesIn(kSuccesses),
                         [](const auto& param) { return std::string(param.param.name); });

TEST(Parser, NilInput) {
    XKJsonParser parser;
    EXPECT_FALSE(parser.fragmentWithString(std::nullopt));
    EXPECT_EQ(traceOf(parser), (Trace{{JsonErrorNilInput, "Input was 'nil'"}}));
    EXPECT_FALSE(parser.objectWithString(static_cast<const char*>(nullptr)));
    EXPECT_EQ(traceOf(parser), (Trace{{JsonErrorNilInput, "Input was 'nil'"}}));
    EXPECT_FALSE(parser.objectWithString(std::optional<std::u16string_view>()));
    EXPECT_EQ(traceOf(parser), (Trace{{JsonErrorNilInput, "Input was 'nil'"}}));
    EXPECT_FALSE(parser.errorPosition().has_value());
}

TEST(Parser, Utf16Input) {
    XKJsonParser parser;
    std::optional<JsonValue> value = parser.objectWithString(u"{\"caf\u00e9\": \"\U0001F600\"}");
    ASSERT_TRUE(value);
    EXPECT_EQ(*value, JsonValue::object({{u"caf\u00e9", u"\U0001F600"}}));

    const std::u16string withNul(u"[2]\0[", 5);
    EXPECT_EQ(parser.objectWithString(std::u16string_view(withNul)), JsonValue::array({2}));

    const std::u16string lone = u"[\"a\xD800\"]";
    EXPECT_FALSE(parser.objectWithString(std::u16string_view(lone)));
    EXPECT_EQ(traceOf(parser), (Trace{{JsonErrorUnicode, "Input is not valid UTF-16"}}));
    EXPECT_FALSE(parser.errorPosition().has_value());
    // Positions count the bytes of the text's UTF-8 form.
    EXPECT_FALSE(parser.objectWithString(u"[\"\u00e9\U0001F600\" x]"));
    EXPECT_EQ(parser.errorPosition(), 10u);
}

// An error-trace observer that throws once the parse has added `records` records leaves the
// parser as good as new: valid documents of every shape parse, and the failing one fails alike.
TEST(Parser, ThrowingObserverLeavesTheParserAsNew) {
    const std::string failing[] = {
        R"([{"b":[1,{"z":[true,"abcdefghijk",x]}],"a":{}}])",
        R"({"z":{"y":[1,2,{"x":"\q"}]},"a":[[]]})",
        R"([1,{"k":"v","k2":[{"m":)",
    };
    const std::string valid[] = {
        R"({"b":[1,2,{"d":null,"c":"x\u00e9 long enough"}],"a":true})",
        R"([[[]],{},[{"k":[1.5e3,-0,12345678901234567890123]}],"s"])",
        R"({"z":{"y":[1,2,{"x":"\n"}]},"a":[[]]})",
    };
    for (const std::string& bad : failing) {
        XKJsonParser fresh;
        ASSERT_FALSE(fresh.fragmentWithString(bad));
        const Trace expected = traceOf(fresh);
        for (std::size_t records = 1; records <= std::min<std::size_t>(expected.size(), 4);
             ++records) {
            SCOPED_TRACE(bad + " throwing after record " + std::to_string(records));
            XKJsonParser parser;
            bool armed = true;
            parser.setErrorTraceObserver([&](std::string_view, bool willChange) {
                const auto trace = parser.errorTrace(); // none when the observer hears a clear
                if (armed && !willChange && trace && trace->size() == records) {
                    armed = false;
                    throw std::runtime_error("observer");
                }
            });
            EXPECT_THROW((void)parser.fragmentWithString(bad), std::runtime_error);
            EXPECT_EQ(traceOf(parser), Trace(expected.begin(), expected.begin() + records));
            for (const std::string& text : valid) {
                std::optional<JsonValue> value = parser.fragmentWithString(text);
                EXPECT_EQ(value, fresh.fragmentWithString(text)) << text;
                EXPECT_FALSE(parser.errorTrace().has_value());
            }
            parser.setErrorTraceObserver(nullptr);
            EXPECT_FALSE(parser.fragmentWithString(bad));
            EXPECT_EQ(traceOf(parser), expected);
        }
    }
}

std::string nested(std::size_t depth, const char* inner = "") {
    return std::string(depth, '[') + inner + std::string(depth, ']');
}

TEST(Parser, DepthLimit) {
    XKJsonParser parser;
    EXPECT_EQ(parser.maxDepth(), 512u);
    EXPECT_TRUE(parser.objectWithString(nested(512)));

    EXPECT_FALSE(parser.objectWithString(nested(513)));
    Trace expected{{JsonErrorDepth, "Nested too deep"}};
    for (int i = 0; i < 512; ++i)
        expected.emplace_back(JsonErrorSyntax, "Expected value while parsing array");
    EXPECT_EQ(traceOf(parser), expected);

    parser.setMaxDepth(1);
    EXPECT_TRUE(parser.objectWithString("[1]"));
    EXPECT_FALSE(parser.objectWithString(R"([{"a":1}])"));
    EXPECT_EQ(traceOf(parser), (Trace{{JsonErrorDepth, "Nested too deep"}} + kArray));
    EXPECT_FALSE(parser.objectWithString(R"({"k":[]})"));
    EXPECT_EQ(traceOf(parser), (Trace{{JsonErrorDepth, "Nested too deep"},
                                      {JsonErrorSyntax, "Object value expected for key: k"}}));
}

TEST(Parser, DeepInputNeverOverflows) {
    const std::size_t hard = XKJsonParser::kNestingHardLimit;
    struct Case {
        uint64_t maxDepth;
        std::size_t deepest;
    };
    // maxDepth 0 stops at the hard limit; a limit of the caller's may lie beyond it.
    for (const Case c : {Case{0, hard}, Case{150'000, 150'000}}) {
        XKJsonParser parser;
        parser.setMaxDepth(c.maxDepth);
        std::optional<JsonValue> value = parser.objectWithString(nested(c.deepest, "7"));
        ASSERT_TRUE(value) << c.maxDepth;
        JsonRef innermost(*value);
        for (std::size_t i = 0; i < c.deepest; ++i)
            innermost = innermost[0];
        ASSERT_TRUE(innermost.asNumber());
        EXPECT_EQ(*innermost.asNumber(), Decimal(7));

        EXPECT_FALSE(parser.objectWithString(nested(c.deepest + 1)));
        const JsonErrorTrace trace = parser.errorTrace();
        ASSERT_TRUE(trace);
        ASSERT_EQ(trace->size(), c.deepest + 1);
        EXPECT_EQ(trace->front()->message(), "Nested too deep");
        EXPECT_EQ(trace->back()->message(), "Expected value while parsing array");
    }

    // Ten million unclosed brackets fail at the hard limit instead of exhausting memory.
    XKJsonParser parser;
    parser.setMaxDepth(0);
    // NOLINTNEXTLINE(bugprone-string-constructor): ten million brackets, as meant
    EXPECT_FALSE(parser.objectWithString(std::string(10'000'000, '[')));
    EXPECT_EQ(parser.errorTrace()->size(), hard + 1);
}

namespace fs = std::filesystem;

const fs::path kSuiteDir = fs::path(BRENVO_TEST_DATA_DIR) / "jsontestsuite" / "test_parsing";

// Form feed is whitespace here, and a NUL byte ends the input.
const std::set<std::string> kAcceptedOnPurpose = {"n_structure_whitespace_formfeed.json",
                                                  "n_multidigit_number_then_00.json"};

// The suite's file names, sorted.
std::vector<std::string> suiteFiles() {
    std::vector<std::string> files;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(kSuiteDir, error))
        if (entry.path().extension() == ".json")
            files.push_back(entry.path().filename().string());
    std::sort(files.begin(), files.end());
    return files;
}

// A test name for a file name: letters, digits and underscores stay, any other byte becomes
// its hex value ("n_number_-1.0." and "n_number_-1.0" stay apart).
std::string testNameFor(const std::string& fileName) {
    std::string name;
    for (unsigned char c : fileName.substr(0, fileName.size() - 5)) {
        char hex[4];
        std::snprintf(hex, sizeof hex, "%02X", c);
        name += std::isalnum(c) || c == '_' ? std::string(1, static_cast<char>(c)) : hex;
    }
    return name;
}

std::string readBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class Conformance : public testing::TestWithParam<std::string> {};

TEST_P(Conformance, File) {
    const std::string& name = GetParam();
    const std::string bytes = readBytes(kSuiteDir / name);
    XKJsonParser parser;
    const std::optional<JsonValue> value = parser.fragmentWithString(bytes);
    // Whatever the outcome, exactly one of value and trace is present.
    EXPECT_NE(value.has_value(), parser.errorTrace().has_value());
    if (name.starts_with("y_") || kAcceptedOnPurpose.count(name)) {
        EXPECT_TRUE(value.has_value())
            << describeTrace(parser.errorTrace().value_or(std::vector<JsonErrorRef>{}));
    } else if (name.starts_with("n_")) {
        EXPECT_FALSE(value.has_value());
    }
}

INSTANTIATE_TEST_SUITE_P(Suite, Conformance, testing::ValuesIn(suiteFiles()),
                         [](const auto& param) { return testNameFor(param.param); });

TEST(Conformance, EveryFileIsThere) {
    EXPECT_EQ(suiteFiles().size(), 318u);
}

} // namespace
} // namespace brenvo
