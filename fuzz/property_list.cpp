// Fuzzes the property-list reader (XML and binary): any bytes give a value or a reason, never a
// crash; a value read can be described, read as integer and boolean, and written back in the
// binary form, which reads back as the same value.
#include "brenvo/platform/linux/PlistFile.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

using brenvo::platform::PlistValue;

// NaN reals, dates (kept to the microsecond) and texts beyond ASCII may change in a round trip;
// values holding them are not compared.
bool comparable(const PlistValue& value, size_t depth) {
    if (depth > brenvo::platform::kMaxPropertyListDepth) {
        return false;
    }
    if (const double* real = value.asReal()) {
        return !std::isnan(*real);
    }
    if (value.asDate() != nullptr) {
        return false; // the binary form keeps microseconds only
    }
    if (const std::string* text = value.asString()) {
        for (unsigned char c : *text) {
            if (c >= 0x80 || c == 0) {
                return false;
            }
        }
        return true;
    }
    if (const auto* items = value.asArray()) {
        for (const PlistValue& item : *items) {
            if (!comparable(item, depth + 1)) {
                return false;
            }
        }
    }
    if (const auto* members = value.asDictionary()) {
        for (const auto& [key, member] : *members) {
            if (!comparable(PlistValue(key), depth + 1) || !comparable(member, depth + 1)) {
                return false;
            }
        }
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    std::string error;
    const auto value = brenvo::platform::propertyListFromData(bytes, &error);
    if (!value) {
        if (error.empty()) {
            std::abort(); // a refusal always says why
        }
        return 0;
    }
    (void)value->description();
    (void)value->integerValue();
    (void)value->boolValue();
    const std::string binary =
        brenvo::platform::dataFromPropertyList(*value, brenvo::platform::PlistFormat::Binary);
    const auto again = brenvo::platform::propertyListFromData(binary, nullptr);
    if (!again) {
        std::abort(); // what we write must read back
    }
    if (comparable(*value, 0) && !(*again == *value)) {
        std::abort();
    }
    return 0;
}
