// Round trip: any input that parses is written, parsed again and must give an equal value;
// writing that value again must give the same text. Both output forms are checked, in both
// layouts.
#include "brenvo/JSON/XKJsonParser.h"
#include "brenvo/JSON/XKJsonWriter.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

namespace {

void check(bool condition) {
    if (!condition)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    brenvo::XKJsonParser parser;
    parser.setMaxDepth(0);
    const auto value = parser.fragmentWithString(text);
    if (!value)
        return 0;
    brenvo::XKJsonWriter writer;
    writer.setMaxDepth(0);
    for (bool humanReadable : {false, true}) {
        writer.setHumanReadable(humanReadable);
        const auto utf16 = writer.stringWithFragment(*value);
        check(utf16.has_value());
        const auto utf8 = writer.utf8StringWithFragment(*value);
        check(utf8.has_value());

        const auto again16 = parser.fragmentWithString(*utf16);
        const auto again8 = parser.fragmentWithString(*utf8);
        // A lone surrogate in a string has no UTF-8 form, so the UTF-16 text cannot be parsed
        // back; the UTF-8 text (with \u escapes) always can.
        check(again8.has_value() && *again8 == *value);
        check(again16.has_value() == brenvo::toUtf8Strict(*utf16).has_value());
        if (again16)
            check(*again16 == *value);
        check(writer.stringWithFragment(*again8) == utf16);
        check(writer.utf8StringWithFragment(*again8) == utf8);
    }
    return 0;
}
