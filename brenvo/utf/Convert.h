// Whole texts between UTF-8 and UTF-16, strict or lenient, and the run conversions the JSON
// parser is built on.
//
//     std::u16string units = brenvo::utf::toUtf16("caf\xc3\xa9");     // u"café"
//     brenvo::utf::toUtf16Strict("\xe2\x82");                          // std::nullopt
//     brenvo::utf::toUtf16("\xe2\x82");                                // u"\uFFFD": one per
//     subpart
//
// The lenient forms never fail: each maximal ill-formed subpart of UTF-8 and each lone surrogate
// of UTF-16 becomes one U+FFFD (see Utf8.h). The strict forms give std::nullopt instead.
#pragma once

#include "brenvo/utf/Simd.h"
#include "brenvo/utf/Utf8.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace brenvo::utf {

// What a conversion does at text that is not well-formed.
enum class Invalid {
    Replace, // writes one U+FFFD and goes on
    Stop,    // stops there
};

#if defined(BRENVO_SSE2) || defined(BRENVO_NEON)
// Widens the 16 bytes at p into 16 units at `out` and returns how many of them, from the first,
// are ASCII (at least one: *p is).
inline int asciiPrefix16(const unsigned char* p, char16_t* out) {
#if defined(BRENVO_SSE2)
    const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i zero = _mm_setzero_si128();
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_unpacklo_epi8(block, zero));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 8), _mm_unpackhi_epi8(block, zero));
    const unsigned high = static_cast<unsigned>(_mm_movemask_epi8(block));
    return high == 0 ? 16 : __builtin_ctz(high);
#elif defined(BRENVO_NEON)
    const uint8x16_t block = vld1q_u8(p);
    vst1q_u16(reinterpret_cast<uint16_t*>(out), vmovl_u8(vget_low_u8(block)));
    vst1q_u16(reinterpret_cast<uint16_t*>(out + 8), vmovl_high_u8(block));
    if (vmaxvq_u8(block) < 0x80)
        return 16;
    int n = 1;
    while (p[n] < 0x80)
        ++n;
    return n;
#endif
}
#endif

// Converts the UTF-8 bytes [p, end) into UTF-16 at `out`, which has room for end - p units (a
// conversion never writes more units than it reads bytes). Returns the end of what it wrote
// and leaves p at `end`, or, with Invalid::Stop, at the first ill-formed sequence.
template <Invalid invalid = Invalid::Replace>
inline char16_t* convertUtf8(const unsigned char*& p, const unsigned char* end, char16_t* out) {
    while (p < end) {
        if (*p < 0x80) {
#if defined(BRENVO_SSE2) || defined(BRENVO_NEON)
            // ASCII between other characters goes sixteen bytes at a time where it can: the
            // bytes before the first non-ASCII one of the block are widened and kept (all 16
            // units are written; there is room, since 16 bytes remain).
            if (end - p >= 16) {
                const int ascii = asciiPrefix16(p, out);
                p += ascii;
                out += ascii;
                continue;
            }
#endif
            *out++ = *p++;
            continue;
        }
        // Three-byte sequences (most of CJK text) checked and decoded inline: the second
        // byte's range excludes overlong forms (after E0) and surrogates (after ED).
        if ((*p & 0xF0) == 0xE0 && end - p >= 3) {
            const unsigned b0 = p[0], b1 = p[1], b2 = p[2];
            const unsigned lo = b0 == 0xE0 ? 0xA0 : 0x80, hi = b0 == 0xED ? 0x9F : 0xBF;
            if (b1 >= lo && b1 <= hi && (b2 & 0xC0) == 0x80) {
                *out++ =
                    static_cast<char16_t>(((b0 & 0x0F) << 12) | ((b1 & 0x3F) << 6) | (b2 & 0x3F));
                p += 3;
                continue;
            }
        }
        char32_t cp = 0;
        const int length = decodeUtf8Sequence(p, end, cp);
        if (length > 0) {
            out = appendUtf16(out, cp);
            p += length;
        } else if constexpr (invalid == Invalid::Stop) {
            return out;
        } else {
            *out++ = static_cast<char16_t>(kReplacement);
            p += -length;
        }
    }
    return out;
}

// Converts the UTF-16 units [p, end) into UTF-8 at `out`, which has room for 3 * (end - p)
// bytes. Returns the end of what it wrote and leaves p at `end`, or, with Invalid::Stop, at the
// first lone surrogate.
template <Invalid invalid = Invalid::Replace>
inline char* convertUtf16(const char16_t*& p, const char16_t* end, char* out) {
    while (p < end) {
        if (*p < 0x80) {
            *out++ = static_cast<char>(*p++);
            continue;
        }
        const char16_t* at = p;
        bool lone;
        const char32_t cp = decodeUtf16(p, end, lone);
        if (!lone) {
            out = appendUtf8(out, cp);
        } else if constexpr (invalid == Invalid::Stop) {
            p = at;
            return out;
        } else {
            out = appendUtf8(out, kReplacement);
        }
    }
    return out;
}

// Writes the n ASCII bytes at `from` as UTF-16 units at `out`.
inline void widenAscii(const char* from, std::size_t n, char16_t* out) {
    std::size_t i = 0;
#if defined(BRENVO_SSE2)
    const __m128i zero = _mm_setzero_si128();
    for (; i + 16 <= n; i += 16) {
        const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + i));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_unpacklo_epi8(block, zero));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i + 8), _mm_unpackhi_epi8(block, zero));
    }
#endif
    for (; i < n; ++i)
        out[i] = static_cast<unsigned char>(from[i]);
}

namespace detail {

// A whole text converted, or std::nullopt when `invalid` is Invalid::Stop and the text is not
// well-formed.
template <class Out, Invalid invalid, class In>
std::optional<std::basic_string<Out>> convertText(std::basic_string_view<In> text) {
    std::basic_string<Out> out(text.size() * (sizeof(In) == 1 ? 1 : 3), Out());
    const In* p = text.data();
    const In* const end = p + text.size();
    Out* written;
    if constexpr (sizeof(In) == 1) {
        const auto* bytes = reinterpret_cast<const unsigned char*>(p);
        written =
            convertUtf8<invalid>(bytes, reinterpret_cast<const unsigned char*>(end), out.data());
        p = reinterpret_cast<const In*>(bytes);
    } else {
        written = convertUtf16<invalid>(p, end, out.data());
    }
    if (p != end)
        return std::nullopt;
    out.resize(static_cast<std::size_t>(written - out.data()));
    return out;
}

} // namespace detail

// UTF-8 text as UTF-16, each maximal ill-formed subpart as one U+FFFD.
inline std::u16string toUtf16(std::string_view utf8) {
    return *detail::convertText<char16_t, Invalid::Replace>(utf8);
}

// UTF-8 text as UTF-16, or std::nullopt when it is not well-formed.
inline std::optional<std::u16string> toUtf16Strict(std::string_view utf8) {
    return detail::convertText<char16_t, Invalid::Stop>(utf8);
}

// UTF-16 text as UTF-8, each lone surrogate as U+FFFD.
inline std::string toUtf8(std::u16string_view text) {
    return *detail::convertText<char, Invalid::Replace>(text);
}

// UTF-16 text as UTF-8, or std::nullopt when it holds a lone surrogate.
inline std::optional<std::string> toUtf8Strict(std::u16string_view text) {
    return detail::convertText<char, Invalid::Stop>(text);
}

} // namespace brenvo::utf
