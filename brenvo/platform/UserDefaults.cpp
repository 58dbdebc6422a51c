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

std::optional<PlistValue> LockedUserDefaults::objectForKey(std::string_view key) {
    std::lock_guard<std::mutex> hold(mutex_);
    return inner_.objectForKey(key);
}

void LockedUserDefaults::setObject(const PlistValue& value, std::string_view key) {
    std::lock_guard<std::mutex> hold(mutex_);
    inner_.setObject(value, key);
}

void LockedUserDefaults::removeObjectForKey(std::string_view key) {
    std::lock_guard<std::mutex> hold(mutex_);
    inner_.removeObjectForKey(key);
}

bool LockedUserDefaults::synchronize() {
    std::lock_guard<std::mutex> hold(mutex_);
    return inner_.synchronize();
}

} // namespace brenvo::platform
