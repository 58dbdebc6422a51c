// Every message of the JSON error records, in one table: its code, its text and an input that
// fails with it. The parser and the writer take their messages from here and nowhere else.
//
//     code                         message                                   example input
//     2  JsonErrorNumber           Leading 0 disallowed in number            01
//     3  JsonErrorSyntax           Expected ',' or ']' after array element   [1 2]
//     5  JsonErrorControlCharacter Unescaped control character '0x9'         ["a<tab>b"]
//
// A message with a placeholder is completed when it is recorded: %s by a text (a key, a type
// name), 0x%x by a byte in lower-case hex without leading zeros ("0x0", "0x1f").
//
// The examples are checked by the tests. A parser example, given to objectWithString with
// maxDepth 1, leaves its message in the trace; a writer example is parsed the same way and then
// written with stringWithObject and maxDepth 1, where a string "<Name>" stands for a value of a
// type named Name that offers no proxyForJson.
#pragma once

#include "brenvo/JSON/JsonError.h"

#include <cstddef>
#include <iterator>
#include <string>
#include <string_view>

namespace brenvo {

enum class JsonMessage : unsigned char {
    // Parser: numbers
    LeadingPlus,
    LeadingZero,
    NoDigitsAfterMinus,
    NoDigitsAfterPoint,
    NoDigitsAfterExponent,
    DecimalFailed,
    // Parser: structure
    UnrecognisedCharacter,
    ExpectedTrue,
    ExpectedFalse,
    ExpectedNull,
    ArrayValueExpected,
    KeyExpected,
    ColonExpected,
    MemberValueExpected,
    ArraySeparatorExpected,
    MemberSeparatorExpected,
    TrailingCommaInArray,
    TrailingCommaInObject,
    GarbageAfterJson,
    NotJson,
    // Parser: strings
    ControlCharacter,
    IllegalEscape,
    BrokenUnicode,
    MissingHexQuad,
    MissingHexDigit,
    MissingLowSurrogate,
    InvalidLowSurrogate,
    InvalidHighSurrogate,
    InvalidUtf8,
    // Parser: the input
    UnexpectedEnd,
    EndInArray,
    EndInObject,
    EndInString,
    NilInput,
    InvalidUtf16,
    TooManyElements,
    TooManyMembers,
    // Parser and writer
    NestedTooDeep,
    // Writer
    NotSupported,
    ProxyChainTooLong,
    ProxyCycle,
    UnsupportedValueForKey,
    NotValidType,
    NoMemoryForText,
};

// Who records a message.
enum class JsonMessageSource : unsigned char { Parser, Writer, Both };

struct JsonMessageEntry {
    JsonMessage message;
    JsonErrorCode code;
    JsonMessageSource source;
    std::string_view text;
    // An input that fails with the message (see above), or null where no text can show it (no
    // input, UTF-16 text, proxies, a container of 2^32 entries, a text larger than memory).
    const char* example;
};

// The table, in the order of JsonMessage.
inline constexpr JsonMessageEntry kJsonMessages[] = {
    // clang-format off
    {JsonMessage::LeadingPlus, JsonErrorNumber, JsonMessageSource::Parser, "Leading + disallowed in number", "+1"},
    {JsonMessage::LeadingZero, JsonErrorNumber, JsonMessageSource::Parser, "Leading 0 disallowed in number", "[01]"},
    {JsonMessage::NoDigitsAfterMinus, JsonErrorNumber, JsonMessageSource::Parser, "No digits after initial minus", "[-a]"},
    {JsonMessage::NoDigitsAfterPoint, JsonErrorNumber, JsonMessageSource::Parser, "No digits after decimal point", "[1.]"},
    {JsonMessage::NoDigitsAfterExponent, JsonErrorNumber, JsonMessageSource::Parser, "No digits after exponent", "[1e+]"},
    {JsonMessage::DecimalFailed, JsonErrorNumber, JsonMessageSource::Parser, "Failed creating decimal instance", "[1e1000000000]"},
    {JsonMessage::UnrecognisedCharacter, JsonErrorSyntax, JsonMessageSource::Parser, "Unrecognised leading character", "[.5]"},
    {JsonMessage::ExpectedTrue, JsonErrorSyntax, JsonMessageSource::Parser, "Expected 'true'", "[tru]"},
    {JsonMessage::ExpectedFalse, JsonErrorSyntax, JsonMessageSource::Parser, "Expected 'false'", "[fals]"},
    {JsonMessage::ExpectedNull, JsonErrorSyntax, JsonMessageSource::Parser, "Expected 'null'", "[nul]"},
    {JsonMessage::ArrayValueExpected, JsonErrorSyntax, JsonMessageSource::Parser, "Expected value while parsing array", "[1,,2]"},
    {JsonMessage::KeyExpected, JsonErrorSyntax, JsonMessageSource::Parser, "Object key string expected", "{1:2}"},
    {JsonMessage::ColonExpected, JsonErrorSyntax, JsonMessageSource::Parser, "Expected ':' separating key and value", R"({"a" 1})"},
    {JsonMessage::MemberValueExpected, JsonErrorSyntax, JsonMessageSource::Parser, "Object value expected for key: %s", R"({"a":})"},
    {JsonMessage::ArraySeparatorExpected, JsonErrorSyntax, JsonMessageSource::Parser, "Expected ',' or ']' after array element", "[1 2]"},
    {JsonMessage::MemberSeparatorExpected, JsonErrorSyntax, JsonMessageSource::Parser, "Expected ',' or '}' after object member", R"({"a":1 "b":2})"},
    {JsonMessage::TrailingCommaInArray, JsonErrorTrailingComma, JsonMessageSource::Parser, "Trailing comma disallowed in array", "[1,]"},
    {JsonMessage::TrailingCommaInObject, JsonErrorTrailingComma, JsonMessageSource::Parser, "Trailing comma disallowed in object", R"({"a":1,})"},
    {JsonMessage::GarbageAfterJson, JsonErrorTrailingGarbage, JsonMessageSource::Parser, "Garbage after JSON", "[1] x"},
    {JsonMessage::NotJson, JsonErrorFragment, JsonMessageSource::Parser, "Valid fragment, but not JSON", "1"},
    {JsonMessage::ControlCharacter, JsonErrorControlCharacter, JsonMessageSource::Parser, "Unescaped control character '0x%x'", "[\"a\tb\"]"},
    {JsonMessage::IllegalEscape, JsonErrorEscape, JsonMessageSource::Parser, "Illegal escape sequence '0x%x'", R"(["a\x"])"},
    {JsonMessage::BrokenUnicode, JsonErrorUnicode, JsonMessageSource::Parser, "Broken unicode character", R"(["\uDC00"])"},
    {JsonMessage::MissingHexQuad, JsonErrorUnicode, JsonMessageSource::Parser, "Missing hex quad", R"(["\u12G4"])"},
    {JsonMessage::MissingHexDigit, JsonErrorUnicode, JsonMessageSource::Parser, "Missing hex digit in quad", R"(["\u12G4"])"},
    {JsonMessage::MissingLowSurrogate, JsonErrorUnicode, JsonMessageSource::Parser, "Missing low character in surrogate pair", R"(["\uD800"])"},
    {JsonMessage::InvalidLowSurrogate, JsonErrorUnicode, JsonMessageSource::Parser, "Invalid low surrogate char", R"(["\uD800\u0041"])"},
    {JsonMessage::InvalidHighSurrogate, JsonErrorUnicode, JsonMessageSource::Parser, "Invalid high character in surrogate pair", R"(["\uDFFF"])"},
    {JsonMessage::InvalidUtf8, JsonErrorUnicode, JsonMessageSource::Parser, "Invalid UTF-8 sequence in string", "[\"\xC0\xAF\"]"},
    {JsonMessage::UnexpectedEnd, JsonErrorEndOfInput, JsonMessageSource::Parser, "Unexpected end of string", " "},
    {JsonMessage::EndInArray, JsonErrorEndOfInput, JsonMessageSource::Parser, "End of input while parsing array", "[1,"},
    {JsonMessage::EndInObject, JsonErrorEndOfInput, JsonMessageSource::Parser, "End of input while parsing object", "{"},
    {JsonMessage::EndInString, JsonErrorEndOfInput, JsonMessageSource::Parser, "Unexpected EOF while parsing string", R"(["a\n)"},
    {JsonMessage::NilInput, JsonErrorNilInput, JsonMessageSource::Parser, "Input was 'nil'", nullptr},
    {JsonMessage::InvalidUtf16, JsonErrorUnicode, JsonMessageSource::Parser, "Input is not valid UTF-16", nullptr},
    {JsonMessage::TooManyElements, JsonErrorTooLarge, JsonMessageSource::Parser, "Array has more than 4294967295 elements", nullptr},
    {JsonMessage::TooManyMembers, JsonErrorTooLarge, JsonMessageSource::Parser, "Object has more than 4294967295 members", nullptr},
    {JsonMessage::NestedTooDeep, JsonErrorDepth, JsonMessageSource::Both, "Nested too deep", "[[]]"},
    {JsonMessage::NotSupported, JsonErrorUnsupportedType, JsonMessageSource::Writer, "JSON serialisation not supported for %s", R"(["<Date>"])"},
    {JsonMessage::ProxyChainTooLong, JsonErrorUnsupportedType, JsonMessageSource::Writer, "JSON serialisation not supported for %s (proxyForJson nested more than 64 deep)", nullptr},
    {JsonMessage::ProxyCycle, JsonErrorUnsupportedType, JsonMessageSource::Writer, "JSON serialisation not supported for %s (proxyForJson leads back to it)", nullptr},
    {JsonMessage::UnsupportedValueForKey, JsonErrorUnsupportedType, JsonMessageSource::Writer, "Unsupported value for key %s in object", R"({"k":"<Date>"})"},
    {JsonMessage::NotValidType, JsonErrorFragment, JsonMessageSource::Writer, "Not valid type for JSON", "true"},
    {JsonMessage::NoMemoryForText, JsonErrorTooLarge, JsonMessageSource::Writer, "Not enough memory for the JSON text", nullptr},
    // clang-format on
};

namespace detail {
constexpr bool inMessageOrder() {
    for (std::size_t i = 0; i < std::size(kJsonMessages); ++i)
        if (static_cast<std::size_t>(kJsonMessages[i].message) != i)
            return false;
    return true;
}
static_assert(inMessageOrder(), "kJsonMessages follows the order of JsonMessage");
} // namespace detail

inline constexpr const JsonMessageEntry& jsonMessageEntry(JsonMessage message) {
    return kJsonMessages[static_cast<std::size_t>(message)];
}

// The text of a message, its placeholder (if any) completed by `argument`.
inline std::string jsonMessageText(JsonMessage message, std::string_view argument = {}) {
    const std::string_view text = jsonMessageEntry(message).text;
    const std::size_t at = text.find('%');
    if (at == std::string_view::npos)
        return std::string(text);
    std::string out(text.substr(0, at));
    out += argument;
    out += text.substr(at + 2);
    return out;
}

// The text of a message whose placeholder is a byte (0x%x).
inline std::string jsonMessageText(JsonMessage message, unsigned char byte) {
    static constexpr char kHex[] = "0123456789abcdef";
    char digits[2];
    const std::size_t n = byte >= 0x10 ? 2 : 1;
    digits[0] = kHex[byte >= 0x10 ? byte >> 4 : byte & 0xF];
    digits[1] = kHex[byte & 0xF];
    return jsonMessageText(message, std::string_view(digits, n));
}

} // namespace brenvo
