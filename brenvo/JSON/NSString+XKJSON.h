// JSONFragmentValue and JSONValue: one-call conversions of JSON text to a value.
//
// Note the case: the function JSONValue parses text, the type JsonValue is what it returns.
//
// Each call uses a new XKJsonParser with default settings (maxDepth 512). When the parse fails
// it writes one line through jsonLog (JsonLog.h), such as
//   -JSONValue failed. Error trace is: ("Error Domain=... Code=11 \"Unexpected end of string\"")
// and returns std::nullopt; a success writes nothing. Applied to no text at all (std::nullopt
// or a null pointer) they return std::nullopt and write nothing.
//
//     std::optional<brenvo::JsonValue> value = brenvo::JSONValue(R"({"a": [1, 2]})");
//     brenvo::JSONFragmentValue("42");    // the number 42
//     brenvo::JSONValue("42");            // std::nullopt, and one log line
#pragma once

#include "brenvo/Export.h"
#include "brenvo/JSON/JsonValue.h"

#include <optional>
#include <string_view>

namespace brenvo {

// Any JSON value; text is UTF-8 or UTF-16.
BRENVO_EXPORT std::optional<JsonValue> JSONFragmentValue(std::optional<std::string_view> text);
BRENVO_EXPORT std::optional<JsonValue> JSONFragmentValue(std::optional<std::u16string_view> text);
BRENVO_EXPORT std::optional<JsonValue> JSONFragmentValue(const char* text);
BRENVO_EXPORT std::optional<JsonValue> JSONFragmentValue(const char16_t* text);
inline std::optional<JsonValue> JSONFragmentValue(std::nullopt_t) {
    return std::nullopt;
}
// A literal nullptr is ambiguous between the forms above: write std::nullopt.
std::optional<JsonValue> JSONFragmentValue(std::nullptr_t) = delete;

// An object or an array; other values fail with 4 "Valid fragment, but not JSON".
BRENVO_EXPORT std::optional<JsonValue> JSONValue(std::optional<std::string_view> text);
BRENVO_EXPORT std::optional<JsonValue> JSONValue(std::optional<std::u16string_view> text);
BRENVO_EXPORT std::optional<JsonValue> JSONValue(const char* text);
BRENVO_EXPORT std::optional<JsonValue> JSONValue(const char16_t* text);
inline std::optional<JsonValue> JSONValue(std::nullopt_t) {
    return std::nullopt;
}
std::optional<JsonValue> JSONValue(std::nullptr_t) = delete;

} // namespace brenvo
