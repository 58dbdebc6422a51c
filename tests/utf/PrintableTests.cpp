#include "brenvo/utf/Printable.h"

#include <gtest/gtest.h>

namespace {

using brenvo::utf::LineBreaks;
using brenvo::utf::logField;
using brenvo::utf::printable;
using brenvo::utf::shortened;

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
    // Every format character (Cf) shows, the first and last of a range and their neighbours
    // that are no format characters pass.
    {"zero-width characters and marks", "a\u200Bb\u200Dc\u200Fd\u2010",
     "a\\u200Bb\\u200Dc\\u200Fd\u2010", "a\\u200Bb\\u200Dc\\u200Fd\u2010"},
    {"Arabic letter mark and number signs", "\u061B\u061C\u0600\u0605\u0606",
     "\u061B\\u061C\\u0600\\u0605\u0606", "\u061B\\u061C\\u0600\\u0605\u0606"},
    {"word joiner, invisible operators, deprecated formats", "\u2060\u2064\u2065\u206A\u206F\u2070",
     "\\u2060\\u2064\u2065\\u206A\\u206F\u2070", "\\u2060\\u2064\u2065\\u206A\\u206F\u2070"},
    {"soft hyphen", "\u00AC\u00AD\u00AE", "\u00AC\\u00AD\u00AE", "\u00AC\\u00AD\u00AE"},
    {"byte order mark and annotations", "\uFEFFx\uFFF9y\uFFFBz\uFFFC",
     "\\uFEFFx\\uFFF9y\\uFFFBz\uFFFC", "\\uFEFFx\\uFFF9y\\uFFFBz\uFFFC"},
    {"tag characters", "\U000E0000\U000E0001\U000E0020\U000E007F\U000E0080",
     "\U000E0000\\U000E0001\\U000E0020\\U000E007F\U000E0080",
     "\U000E0000\\U000E0001\\U000E0020\\U000E007F\U000E0080"},
    {"format characters of other planes", "\U0001343F\U00013440\U0001D173\U000110BD",
     "\\U0001343F\U00013440\\U0001D173\\U000110BD", "\\U0001343F\U00013440\\U0001D173\\U000110BD"},
};

TEST(Printable, EscapesWhatATerminalWouldActOn) {
    for (const Case& c : kCases) {
        EXPECT_EQ(printable(c.in), c.oneLine) << c.name;
        EXPECT_EQ(printable(c.in, LineBreaks::Keep), c.kept) << c.name;
        // Escaped text has nothing left to escape.
        EXPECT_EQ(printable(printable(c.in)), printable(c.in)) << c.name;
    }
}

// A cut keeps whole characters and says that it cut.
TEST(Printable, ShortenedCutsAtACharacterBoundary) {
    const struct {
        std::string_view in;
        size_t limit;
        std::string_view out;
    } cases[] = {
        {"abcdef", 6, "abcdef"},
        {"abcdef", 5, "abcde\u2026"},
        {"ab\u00E9", 3, "ab\u2026"},    // not half of the é
        {"a\U0001F600b", 4, "a\u2026"}, // nor three quarters of the emoji
        {"a\U0001F600b", 5, "a\U0001F600\u2026"},
        {"\x80\x80\x80\x80\x80\x80", 4, "\x80\x80\x80\x80\u2026"}, // malformed: cut where it stands
        {"", 0, ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(shortened(c.in, c.limit), c.out) << c.in << " at " << c.limit;
    EXPECT_EQ(logField(std::string(1024, 'x')), std::string(1024, 'x'));
    EXPECT_EQ(logField(std::string(4'000'000, '&')), std::string(1024, '&') + "\u2026");
}

} // namespace
