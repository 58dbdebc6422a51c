// Fuzz target for the strict JSON parser: any bytes, any nesting limit. The first byte picks
// the limit (0 = none of the caller's, so the parser's hard limit is what stops deep input)
// and the parse mode; the rest is the text. A successful parse is copied, compared, parsed again
// by the same parser (with the first document kept or gone) and destroyed, and the trace of a
// failure is walked through its underlying records.
#include "brenvo/JSON/XKJsonParser.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    const uint8_t control = data[0];
    const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);

    static const uint64_t kDepths[] = {0, 1, 2, 3, 8, 512, UINT64_MAX, 0};
    brenvo::XKJsonParser parser;
    parser.setMaxDepth(kDepths[control & 7]);

    // Read the bytes as UTF-16 units (little-endian pairs) to exercise the other overload.
    std::u16string units;
    if (control & 0x10) {
        units.resize(text.size() / 2);
        for (size_t i = 0; i < units.size(); ++i)
            units[i] =
                static_cast<char16_t>(uint8_t(text[2 * i]) | (uint8_t(text[2 * i + 1]) << 8));
    }
    const auto parse = [&]() -> std::optional<brenvo::JsonValue> {
        if (control & 0x10)
            return (control & 8) ? parser.objectWithString(std::u16string_view(units))
                                 : parser.fragmentWithString(std::u16string_view(units));
        return (control & 8) ? parser.objectWithString(text) : parser.fragmentWithString(text);
    };
    std::optional<brenvo::JsonValue> value = parse();

    const brenvo::JsonErrorTrace trace = parser.errorTrace();
    if (value.has_value() == trace.has_value())
        std::abort(); // exactly one of value and trace
    if (value) {
        const brenvo::JsonValue copy = *value;
        if (!(copy == *value))
            std::abort();
        if (control & 8 && !value->isContainer())
            std::abort();
        // The same parser again, the first document gone or still alive: what it remembers
        // from one document (storage, member orders) must not change the next.
        if (control & 0x20)
            value.reset();
        const std::optional<brenvo::JsonValue> again = parse();
        if (!again || !(*again == copy))
            std::abort();
        if (value && !(*value == copy))
            std::abort();
    } else {
        if (trace->empty())
            std::abort();
        // Every record but the first points at its predecessor.
        for (size_t i = 0; i < trace->size(); ++i) {
            const brenvo::JsonErrorRef& record = (*trace)[i];
            if (record->code() < 1 || record->code() > brenvo::JsonErrorTooLarge ||
                record->message().empty())
                std::abort();
            if (record->underlying() != (i == 0 ? nullptr : (*trace)[i - 1]))
                std::abort();
        }
    }
    return 0;
}
