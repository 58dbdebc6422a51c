#include "brenvo/utf/Convert.h"

#include <gtest/gtest.h>

#include <iterator>
#include <random>
#include <string>

namespace {

using namespace brenvo::utf;

TEST(Convert, WellFormedTextRoundTrips) {
    struct Case {
        std::string utf8;
        std::u16string utf16;
    };
    const Case cases[] = {
        {"", u""},
        {std::string("nul\0inside", 10), std::u16string(u"nul\0inside", 10)},
        {"\xC2\x80\xDF\xBF", u"\u0080\u07FF"},
        {"\xE0\xA0\x80\xED\x9F\xBF\xEE\x80\x80", u"\u0800\uD7FF\uE000"},
        {"\xEF\xBB\xBF"
         "bom",
         u"\uFEFFbom"},
        {"\xF0\x90\x80\x80\xF4\x8F\xBF\xBF", u"\U00010000\U0010FFFF"},
        {"Gr\xC3\xBC\xC3\x9F"
         "e \xE6\x97\xA5 \xF0\x9F\x98\x80",
         u"Grüße 日 😀"},
    };
    for (const Case& c : cases) {
        EXPECT_TRUE(isValidUtf8(c.utf8));
        EXPECT_EQ(toUtf16(c.utf8), c.utf16);
        EXPECT_EQ(toUtf16Strict(c.utf8), c.utf16);
        EXPECT_EQ(toUtf8(c.utf16), c.utf8);
        EXPECT_EQ(toUtf8Strict(c.utf16), c.utf8);
    }
}

// One U+FFFD per maximal ill-formed subpart; a strict conversion stops on the first one.
TEST(Convert, MalformedUtf8) {
    struct Case {
        const char* name;
        std::string bytes;
        std::u16string lenient;
        std::size_t stopsAt;
    };
    const Case cases[] = {
        {"stray continuation", "a\x80z", u"a\uFFFDz", 1},
        {"truncated in the middle", "\xE2\x82z", u"\uFFFDz", 0},
        {"truncated at the end", "ok\xF0\x9F\x98", u"ok\uFFFD", 2},
        {"overlong", "\xC0\xAF\xE0\x80\xAF", u"\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD", 0},
        {"encoded surrogate", "\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD", 0},
        {"above U+10FFFF", "\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD", 0},
        {"bad lead bytes", "\xF5\xFF", u"\uFFFD\uFFFD", 0},
        {"three-byte then bad", "\xE6\x97\xA5\xE6\x97", u"\u65E5\uFFFD", 3},
        // The Unicode standard's own example of maximal subparts.
        {"mixed",
         "a\xF1\x80\x80\xE1\x80\xC2"
         "b\x80"
         "c\x80\xBF"
         "d",
         u"a\uFFFD\uFFFD\uFFFDb\uFFFDc\uFFFD\uFFFDd", 1},
    };
    for (const Case& c : cases) {
        EXPECT_FALSE(isValidUtf8(c.bytes)) << c.name;
        EXPECT_EQ(toUtf16(c.bytes), c.lenient) << c.name;
        EXPECT_EQ(toUtf16Strict(c.bytes), std::nullopt) << c.name;
        const auto* p = reinterpret_cast<const unsigned char*>(c.bytes.data());
        std::u16string out(c.bytes.size(), u'\0');
        convertUtf8<Invalid::Stop>(p, p + c.bytes.size(), out.data());
        EXPECT_EQ(p - reinterpret_cast<const unsigned char*>(c.bytes.data()),
                  static_cast<std::ptrdiff_t>(c.stopsAt))
            << c.name;
    }
}

TEST(Convert, LoneSurrogates) {
    struct Case {
        std::u16string text;
        std::string lenient;
    };
    const Case cases[] = {
        {std::u16string(1, u'\xD800'), "\xEF\xBF\xBD"},
        {std::u16string{u'\xDC00', u'a'}, "\xEF\xBF\xBD"
                                          "a"},
        {std::u16string{u'a', u'\xD83D'}, "a\xEF\xBF\xBD"},
        {std::u16string{u'\xDE00', u'\xD83D'}, "\xEF\xBF\xBD\xEF\xBF\xBD"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(toUtf8(c.text), c.lenient);
        EXPECT_EQ(toUtf8Strict(c.text), std::nullopt);
    }
}

// The block-wise ASCII widening against the plain rule, across block sizes.
TEST(Convert, WidenAscii) {
    std::mt19937 random(3);
    for (std::size_t n = 0; n < 70; ++n) {
        std::string ascii(n, ' ');
        for (char& c : ascii)
            c = static_cast<char>(random() % 0x80);
        std::u16string out(n, u'\xFFFF');
        widenAscii(ascii.data(), n, out.data());
        EXPECT_EQ(out, toUtf16(ascii)) << n;
    }
}

// ASCII stretches of every length between other characters, well-formed or not, so that each
// kind of sequence falls at every place of a sixteen-byte block.
TEST(Convert, AsciiStretchesBetweenOtherCharacters) {
    struct Piece {
        std::string bytes;
        std::u16string units;
        bool wellFormed;
    };
    const Piece others[] = {
        {"\xC3\xA9", u"\u00E9", true},
        {"\xE6\x97\xA5", u"\u65E5", true},
        {"\xF0\x9F\x98\x80", u"\U0001F600", true},
        {"\x80", u"\uFFFD", false},
        {"\xE2\x82", u"\uFFFD", false}, // always followed by ASCII below
    };
    std::mt19937 random(27);
    for (int round = 0; round < 2000; ++round) {
        std::string bytes;
        std::u16string units;
        std::size_t firstBad = std::string::npos;
        for (int piece = 0; piece < 6; ++piece) {
            const std::size_t run = random() % 40;
            for (std::size_t i = 0; i < run; ++i) {
                const char c = static_cast<char>(0x20 + random() % 0x5F);
                bytes += c;
                units += static_cast<char16_t>(c);
            }
            const Piece& other = others[random() % std::size(others)];
            if (!other.wellFormed && firstBad == std::string::npos)
                firstBad = bytes.size();
            bytes += other.bytes;
            units += other.units;
            bytes += 'x';
            units += u'x';
        }
        ASSERT_EQ(toUtf16(bytes), units) << round;
        const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
        const auto* const begin = p;
        std::u16string out(bytes.size(), u'\0');
        const char16_t* end = convertUtf8<Invalid::Stop>(p, p + bytes.size(), out.data());
        if (firstBad == std::string::npos) {
            EXPECT_EQ(std::u16string_view(out.data(), std::size_t(end - out.data())), units);
        } else {
            EXPECT_EQ(static_cast<std::size_t>(p - begin), firstBad) << round;
        }
    }
}

} // namespace
