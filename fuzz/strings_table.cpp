// Fuzzes the .strings reader: any bytes give entries or an error, never a crash, and every
// entry it gives is valid UTF-8.
#include "brenvo/JSON/JsonValue.h"
#include "brenvo/platform/linux/StringsTable.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string error;
    auto entries = brenvo::platform::parseStringsFile(std::span<const uint8_t>(data, size), &error);
    if (!entries) {
        if (error.empty())
            std::abort(); // a refusal always says why
        return 0;
    }
    for (const auto& [key, value] : *entries) {
        if (!brenvo::toUtf16Strict(key) || !brenvo::toUtf16Strict(value))
            std::abort();
    }
    return 0;
}
