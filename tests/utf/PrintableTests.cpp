#include "brenvo/utf/Printable.h"

#include <gtest/gtest.h>

namespace {

using brenvo::utf::LineBreaks;
using brenvo::utf::printable;

struct Case {
    const char* name;
    std::string_view in;
    std::string_view oneLine; // LineBreaks::Escape
    std::string_view kept;    // LineBreaks::Keep
};

// Everything a terminal or a log reader would act on shows as a visible escape.
const Case kCases[] = {
    {"plain", "Version 2.0 (build 7) \\ ok", "Version 2.0 (build 7) \\ ok",
     "Version 2.0 (build 7) \\ ok"},
    {"title sequence", "\x1B]0;pwned\x07", "\\x1B]0;pwned\\x07", "\\x1B]0;pwned\\x07"},
    {"clear screen", "a\x1B[2Jb", "a\\x1B[2Jb", "a\\x1B[2Jb"},
    {"breaks", "1\n2\t3\r4", "1\\n2\\t3\\r4", "1\n2\t3\\r4"},
    {"backspace and DEL", "ab\b\b\x7F", "ab\\x08\\x08\\x7F", "ab\\x08\\x08\\x7F"},
    {"NUL", std::string_view("a\0b", 3), "a\\x00b", "a\\x00b"},
    {"C1 CSI and NEL",
     "\xC2\x9B"
     "31m\xC2\x85",
     "\\u009B31m\\u0085", "\\u009B31m\\u0085"},
    {"bidi override and isolate",
     "abc\xE2\x80\xAE"
     "fdp.exe\xE2\x81\xA6",
     "abc\\u202Efdp.exe\\u2066", "abc\\u202Efdp.exe\\u2066"},
    {"line separator",
     "a\xE2\x80\xA8"
     "b",
     "a\\u2028b", "a\\u2028b"},
    {"text of other scripts", "B\xC3\xA4r \xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x98\x80",
     "B\xC3\xA4r \xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x98\x80",
     "B\xC3\xA4r \xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x98\x80"},
    {"8-bit CSI byte",
     "\x9B"
     "2J",
     "\xEF\xBF\xBD"
     "2J",
     "\xEF\xBF\xBD"
     "2J"},
    {"truncated sequence", "a\xE2\x82", "a\xEF\xBF\xBD", "a\xEF\xBF\xBD"},
};

TEST(Printable, EscapesWhatATerminalWouldActOn) {
    for (const Case& c : kCases) {
        EXPECT_EQ(printable(c.in), c.oneLine) << c.name;
        EXPECT_EQ(printable(c.in, LineBreaks::Keep), c.kept) << c.name;
        // Escaped text has nothing left to escape.
        EXPECT_EQ(printable(printable(c.in)), printable(c.in)) << c.name;
    }
}

} // namespace
