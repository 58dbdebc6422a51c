#include "brenvo/platform/UserDefaults.h"

namespace brenvo::platform {

std::optional<std::string> UserDefaults::stringForKey(std::string_view key) {
    const auto value = objectForKey(key);
    if (!value) {
        return std::nullopt;
    }
    switch (value->kind()) {
    case PlistValue::Kind::String:
    case PlistValue::Kind::Integer:
    case PlistValue::Kind::Real:
        return value->description();
    default:
        return std::nullopt;
    }
}

} // namespace brenvo::platform
