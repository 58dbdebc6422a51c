// UTF-8 decoding with full validation and UTF-16 encoding: the bottom of the build, used by the
// JSON library and the platform services alike. Header only; depends on nothing.
#pragma once

#include <cstddef>
#include <cstdint>

namespace brenvo::utf {

// Decodes one UTF-8 sequence at p (p < end, *p >= 0x80). On success returns its length (2 to
// 4) and stores the code point. On failure returns minus the length of the maximal ill-formed
// subpart (at least 1), which a lenient decoder replaces by one U+FFFD. Overlong forms,
// surrogates and code points above U+10FFFF are ill-formed.
inline int decodeUtf8Sequence(const unsigned char* p, const unsigned char* end, char32_t& cp) {
    const unsigned char b0 = p[0];
    int length;
    unsigned char lo = 0x80, hi = 0xBF; // allowed range of the second byte
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        length = 2;
        cp = b0 & 0x1F;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        length = 3;
        cp = b0 & 0x0F;
        if (b0 == 0xE0)
            lo = 0xA0;
        else if (b0 == 0xED)
            hi = 0x9F;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        length = 4;
        cp = b0 & 0x07;
        if (b0 == 0xF0)
            lo = 0x90;
        else if (b0 == 0xF4)
            hi = 0x8F;
    } else {
        return -1;
    }
    for (int i = 1; i < length; ++i) {
        if (p + i >= end)
            return -i;
        const unsigned char b = p[i];
        if (i == 1 ? (b < lo || b > hi) : (b < 0x80 || b > 0xBF))
            return -i;
        cp = (cp << 6) | (b & 0x3F);
    }
    return length;
}

// Appends the UTF-16 form of a code point (at most U+10FFFF, not a surrogate) at out, and
// returns the position after it.
inline char16_t* appendUtf16(char16_t* out, char32_t cp) {
    if (cp < 0x10000) {
        *out++ = static_cast<char16_t>(cp);
    } else {
        cp -= 0x10000;
        *out++ = static_cast<char16_t>(0xD800 + (cp >> 10));
        *out++ = static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    }
    return out;
}

} // namespace brenvo::utf
