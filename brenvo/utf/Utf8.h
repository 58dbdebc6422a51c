// One character at a time: UTF-8 and UTF-16 sequences decoded with full validation, and code
// points encoded. The bottom of the build, used by the JSON library and the platform services
// alike; header only, depends on nothing.
//
//     char32_t cp;
//     int n = brenvo::utf::decodeUtf8Sequence(p, end, cp);   // *p >= 0x80
//     if (n > 0) out = brenvo::utf::appendUtf16(out, cp);    // else -n bytes are ill-formed
//
// One rule for text that is not well-formed: a lenient conversion replaces each maximal
// ill-formed subpart of UTF-8 (the longest prefix of a sequence that could still have become
// well-formed, or else one byte) and each lone surrogate of UTF-16 by one U+FFFD, as the
// Unicode standard recommends; a strict one refuses the text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace brenvo::utf {

inline constexpr char32_t kReplacement = 0xFFFD;

// Decodes one UTF-8 sequence at p (p < end, *p >= 0x80). On success returns its length (2 to
// 4) and stores the code point. On failure returns minus the length of the maximal ill-formed
// subpart (at least 1). Overlong forms, surrogates and code points above U+10FFFF are
// ill-formed.
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

inline constexpr bool isSurrogate(char32_t unit) {
    return unit >= 0xD800 && unit <= 0xDFFF;
}

// Decodes the UTF-16 character at p (p < end) and moves p past it: a pair gives its
// supplementary code point, any other unit itself. Sets `lone` for a surrogate without its
// other half (the unit is then given as it is).
inline char32_t decodeUtf16(const char16_t*& p, const char16_t* end, bool& lone) {
    const char32_t unit = *p++;
    lone = false;
    if (!isSurrogate(unit))
        return unit;
    if (unit <= 0xDBFF && p != end && *p >= 0xDC00 && *p <= 0xDFFF)
        return 0x10000 + ((unit - 0xD800) << 10) + (char32_t(*p++) - 0xDC00);
    lone = true;
    return unit;
}

// Writes the UTF-16 form of a code point (at most U+10FFFF, not a surrogate) at out, and
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

// Writes the UTF-8 form of a code point (at most U+10FFFF) at out, 1 to 4 bytes, and returns
// the position after it.
inline char* appendUtf8(char* out, char32_t cp) {
    if (cp < 0x80) {
        *out++ = static_cast<char>(cp);
    } else if (cp < 0x800) {
        *out++ = static_cast<char>(0xC0 | (cp >> 6));
        *out++ = static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        *out++ = static_cast<char>(0xE0 | (cp >> 12));
        *out++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        *out++ = static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        *out++ = static_cast<char>(0xF0 | (cp >> 18));
        *out++ = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        *out++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        *out++ = static_cast<char>(0x80 | (cp & 0x3F));
    }
    return out;
}

inline void appendUtf8(std::string& out, char32_t cp) {
    char bytes[4];
    out.append(bytes, static_cast<std::size_t>(appendUtf8(bytes, cp) - bytes));
}

// True when `bytes` is well-formed UTF-8 (NUL bytes included).
inline bool isValidUtf8(std::string_view bytes) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const auto* const end = p + bytes.size();
    while (p < end) {
        if (*p < 0x80) {
            ++p;
            continue;
        }
        char32_t cp;
        const int length = decodeUtf8Sequence(p, end, cp);
        if (length < 0)
            return false;
        p += length;
    }
    return true;
}

} // namespace brenvo::utf
