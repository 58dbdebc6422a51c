// Strict UTF-8 decoding: every malformed form is refused, every well-formed one decoded.
#include "brenvo/platform/Text.h"

#include <gtest/gtest.h>

using namespace brenvo::platform;

namespace {

TEST(Text, DecodesWellFormedUTF8) {
    struct Case {
        std::string bytes;
        std::u16string expected;
    };
    const Case cases[] = {
        {"", u""},
        {"plain", u"plain"},
        {std::string("nul\0inside", 10), std::u16string(u"nul\0inside", 10)},
        {"\xC2\x80", u"\u0080"},
        {"\xDF\xBF", u"\u07FF"},
        {"\xE0\xA0\x80", u"\u0800"},
        {"\xED\x9F\xBF", u"\uD7FF"},
        {"\xEE\x80\x80", u"\uE000"},
        {"\xEF\xBB\xBF"
         "bom",
         u"\uFEFFbom"},
        {"\xF0\x90\x80\x80", u"\U00010000"},
        {"\xF4\x8F\xBF\xBF", u"\U0010FFFF"},
        {"Gr\xC3\xBC\xC3\x9F"
         "e \xF0\x9F\x98\x80",
         u"Grüße 😀"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(decodeUTF8ToUTF16(c.bytes), c.expected);
        EXPECT_EQ(decodeUTF8(c.bytes), c.bytes);
        EXPECT_EQ(encodeUTF8(c.expected), c.bytes);
    }
}

TEST(Text, RefusesMalformedUTF8) {
    const std::string cases[] = {
        "\x80",             // lone continuation
        "\xC0\xAF",         // overlong '/'
        "\xC1\xBF",         // overlong
        "\xE0\x80\xAF",     // overlong three-byte
        "\xF0\x80\x80\xAF", // overlong four-byte
        "\xED\xA0\x80",     // high surrogate
        "\xED\xBF\xBF",     // low surrogate
        "\xF4\x90\x80\x80", // above U+10FFFF
        "\xF5\x80\x80\x80", // lead byte out of range
        "\xFF",
        "ok\xC3",       // truncated at the end
        "\xE2\x82 x",   // truncated in the middle
        "\xC3\xA9\xA9", // stray continuation after a character
    };
    for (const std::string& bytes : cases) {
        EXPECT_EQ(decodeUTF8ToUTF16(bytes), std::nullopt) << testing::PrintToString(bytes);
        EXPECT_EQ(decodeUTF8(bytes), std::nullopt);
        EXPECT_FALSE(isValidUTF8(bytes));
    }
    EXPECT_EQ(toUTF16("a\xFF"
                      "b"),
              u"a\uFFFDb");
    EXPECT_EQ(encodeUTF8(std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD");
}

} // namespace
