// JSONFragment and JSONRepresentation: one-call conversions of a value to JSON text.
//
// Each call uses a new XKJsonWriter with default settings (compact, maxDepth 512). When the
// conversion fails it writes one line through jsonLog (JsonLog.h), such as
//   -JSONRepresentation failed. Error trace is: ("Error Domain=... Code=4 \"Not valid type...")
// and returns std::nullopt; a success writes nothing. Applied to no value at all (std::nullopt
// or a null pointer) they return std::nullopt and write nothing.
//
//     auto text = brenvo::JSONRepresentation(brenvo::JsonValue::array({1, 2}));   // u"[1,2]"
//     brenvo::JSONFragment(brenvo::JsonValue(true));                              // u"true"
#pragma once

#include "brenvo/Export.h"
#include "brenvo/JSON/JsonValue.h"

#include <optional>
#include <string>

namespace brenvo {

// The JSON text of any value.
BRENVO_EXPORT std::optional<std::u16string> JSONFragment(const JsonValue* value);
inline std::optional<std::u16string> JSONFragment(const JsonValue& value) {
    return JSONFragment(&value);
}
inline std::optional<std::u16string> JSONFragment(std::nullopt_t) {
    return std::nullopt;
}
// Ambiguous between JSON null and no value: write JsonValue() or std::nullopt.
std::optional<std::u16string> JSONFragment(std::nullptr_t) = delete;

// The JSON text of an object or an array; other values fail with
// 4 "Not valid type for JSON".
BRENVO_EXPORT std::optional<std::u16string> JSONRepresentation(const JsonValue* value);
inline std::optional<std::u16string> JSONRepresentation(const JsonValue& value) {
    return JSONRepresentation(&value);
}
inline std::optional<std::u16string> JSONRepresentation(std::nullopt_t) {
    return std::nullopt;
}
std::optional<std::u16string> JSONRepresentation(std::nullptr_t) = delete;

} // namespace brenvo
