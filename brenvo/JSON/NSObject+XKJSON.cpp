#include "brenvo/JSON/NSObject+XKJSON.h"

#include "brenvo/JSON/JsonLog.h"
#include "brenvo/JSON/XKJsonWriter.h"

namespace brenvo {

std::optional<std::u16string> JSONFragment(const JsonValue* value) {
    if (!value)
        return std::nullopt;
    XKJsonWriter writer;
    auto text = writer.stringWithFragment(value);
    if (!text)
        detail::logConversionFailure("JSONFragment", writer.errorTrace());
    return text;
}

std::optional<std::u16string> JSONRepresentation(const JsonValue* value) {
    if (!value)
        return std::nullopt;
    XKJsonWriter writer;
    auto text = writer.stringWithObject(value);
    if (!text)
        detail::logConversionFailure("JSONRepresentation", writer.errorTrace());
    return text;
}

} // namespace brenvo
