#include "brenvo/JSON/NSObject+XKJSON.h"

#include "brenvo/JSON/JsonLog.h"
#include "brenvo/JSON/XKJsonWriter.h"

namespace brenvo {

std::optional<std::u16string> JSONFragment(const JsonValue* value) {
    if (!value)
        return std::nullopt;
    XKJsonWriter writer;
    return detail::logFailure("JSONFragment", writer, writer.stringWithFragment(value));
}

std::optional<std::u16string> JSONRepresentation(const JsonValue* value) {
    if (!value)
        return std::nullopt;
    XKJsonWriter writer;
    return detail::logFailure("JSONRepresentation", writer, writer.stringWithObject(value));
}

} // namespace brenvo
