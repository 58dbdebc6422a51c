// The writer's kernels: JSON string escapes and the UTF-16 and UTF-8 forms of string content,
// eight units at a time where they stand for themselves, and the indentation of human-readable
// text. Each writes into room its caller has reserved.
#pragma once

#include "brenvo/utf/Simd.h"
#include "brenvo/utf/Utf8.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

// The writer's helpers are inlined into its loop, so that the cursor and the innermost frame
// stay in registers: none of them may pass their address to a call that is not inlined.
#define BRENVO_WRITER_INLINE [[gnu::always_inline]] inline

namespace brenvo::detail {

// For each ASCII unit, 0 when it stands for itself inside a JSON string, otherwise the letter
// after the backslash of its escape ('u' for the \u00xx form).
constexpr std::array<char, 128> makeEscapeLetters() {
    std::array<char, 128> letters{};
    for (unsigned unit = 0; unit < 0x20; ++unit)
        letters[unit] = 'u';
    letters[0x08] = 'b';
    letters[0x09] = 't';
    letters[0x0A] = 'n';
    letters[0x0C] = 'f';
    letters[0x0D] = 'r';
    letters['"'] = '"';
    letters['\\'] = '\\';
    return letters;
}

inline constexpr std::array<char, 128> kEscapeLetters = makeEscapeLetters();

inline constexpr const char* kHex = "0123456789abcdef";

// Block stores write up to eight units past the text they keep: reserved on top of a string's
// worst case.
inline constexpr std::size_t kSlack = 16;
// Room reserved after anything written, for the punctuation that may follow it.
inline constexpr std::size_t kTrail = 8;
// Strings are written in chunks, each reserving its worst case of six characters per unit.
inline constexpr std::size_t kChunkUnits = 4096;

// Writes the escape of `unit` (a unit that needs one; `letter` from kEscapeLetters, or 'u').
template <class Char> Char* putEscape(Char* o, char16_t unit, char letter) {
    o[0] = '\\';
    o[1] = static_cast<Char>(letter);
    if (letter != 'u')
        return o + 2;
    o[2] = static_cast<Char>(kHex[(unit >> 12) & 0xF]);
    o[3] = static_cast<Char>(kHex[(unit >> 8) & 0xF]);
    o[4] = static_cast<Char>(kHex[(unit >> 4) & 0xF]);
    o[5] = static_cast<Char>(kHex[unit & 0xF]);
    return o + 6;
}

#if defined(BRENVO_SSE2)
// A mask with two bits set for each of the eight units that needs an escape; with `ascii`
// also for each unit beyond ASCII.
template <bool ascii> inline unsigned specialUnits(__m128i units) {
    const __m128i quoteOrBackslash = _mm_or_si128(_mm_cmpeq_epi16(units, _mm_set1_epi16(0x22)),
                                                  _mm_cmpeq_epi16(units, _mm_set1_epi16(0x5C)));
    if constexpr (ascii) {
        // Adding 0x7FE0 maps 0x20-0x7F, and only those, onto the signed values below -32672
        // (the others land on -32672 and above, or wrap to non-negative values).
        const __m128i shifted = _mm_add_epi16(units, _mm_set1_epi16(0x7FE0));
        const __m128i printable = _mm_cmplt_epi16(shifted, _mm_set1_epi16(-32672));
        const __m128i plain = _mm_andnot_si128(quoteOrBackslash, printable);
        return ~static_cast<unsigned>(_mm_movemask_epi8(plain)) & 0xFFFF;
    } else {
        // units <= 0x1F exactly when the saturating difference is zero.
        const __m128i control =
            _mm_cmpeq_epi16(_mm_subs_epu16(units, _mm_set1_epi16(0x1F)), _mm_setzero_si128());
        return static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(control, quoteOrBackslash)));
    }
}

// The eight units at p narrowed to bytes (UTF-8) or as they are (UTF-16), stored at o. Only
// plain ASCII units are ever kept from the narrowed form, for which narrowing is exact.
inline void storeBlock(char* o, __m128i units) {
    _mm_storel_epi64(reinterpret_cast<__m128i*>(o), _mm_packus_epi16(units, units));
}
inline void storeBlock(char16_t* o, __m128i units) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(o), units);
}

// Copies units that stand for themselves from p on, eight at a time, and stops before the first
// one that does not (UTF-8: anything beyond ASCII as well) or before the last few units of
// [p, stop). Only blocks wholly before `stop` are read.
template <class Char>
BRENVO_WRITER_INLINE void copyPlainBlocks(Char*& o, const char16_t*& p, const char16_t* stop) {
    constexpr bool utf8 = std::is_same_v<Char, char>;
    if (stop - p < 8)
        return;
    for (;;) {
        const __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const unsigned mask = specialUnits<utf8>(units);
        // All eight are stored; only those before the first special unit are kept.
        storeBlock(o, units);
        if (mask != 0) {
            const unsigned plain = static_cast<unsigned>(__builtin_ctz(mask)) >> 1;
            o += plain;
            p += plain;
            return;
        }
        o += 8;
        p += 8;
        const std::size_t rest = static_cast<std::size_t>(stop - p);
        if (rest >= 8)
            continue;
        if (rest == 0)
            return;
        // The last 1-7 units: the block ending at `stop` overlaps units just written, which
        // were plain and became one character each, so storing it `8 - rest` characters back
        // rewrites those characters unchanged.
        const __m128i last = _mm_loadu_si128(reinterpret_cast<const __m128i*>(stop - 8));
        if (specialUnits<utf8>(last) == 0) {
            storeBlock(o - (8 - rest), last);
            o += rest;
            p = stop;
        }
        return;
    }
}
#endif

// UTF-16 form: units pass unchanged except those that need an escape. Writes [p, stop).
inline char16_t* encodeUnits(char16_t* o, const char16_t*& p, const char16_t* stop) {
    for (;;) {
#if defined(BRENVO_SSE2)
        copyPlainBlocks(o, p, stop);
#endif
        // The unit the block scan stopped at, and the short tail, one at a time.
        if (p == stop)
            return o;
        const char16_t unit = *p++;
        if (unit < 0x80 && kEscapeLetters[unit] != 0)
            o = putEscape(o, unit, kEscapeLetters[unit]);
        else
            *o++ = unit;
    }
}

// UTF-8 form: a surrogate pair becomes one four-byte sequence, a lone surrogate a \u escape.
// Writes [p, stop); a high surrogate just before `stop` may take its low half from [stop, end).
inline char* encodeUnits(char* o, const char16_t*& p, const char16_t* stop, const char16_t* end) {
    for (;;) {
#if defined(BRENVO_SSE2)
        copyPlainBlocks(o, p, stop);
#endif
        // Units other than plain ASCII, and the short tail, one at a time; a run of them (text
        // in other scripts) stays here instead of returning to the block scan for each.
        for (;;) {
            // A surrogate pair split by `stop` leaves p one past it.
            if (p >= stop)
                return o;
            const char16_t unit = *p;
            if (unit < 0x80) {
                const char letter = kEscapeLetters[unit];
                if (letter != 0) {
                    o = putEscape(o, unit, letter);
                } else {
#if defined(BRENVO_SSE2)
                    // Back to the block copy; without it, this loop is the copy.
                    if (stop - p >= 8)
                        break;
#endif
                    *o++ = static_cast<char>(unit);
                }
                ++p;
                continue;
            }
            bool lone;
            const char32_t character = utf::decodeUtf16(p, end, lone);
            o = lone ? putEscape(o, unit, 'u') : utf::appendUtf8(o, character);
        }
    }
}

// "\n" and 2 * depth spaces; the room was reserved. The spaces are copied from a run of them
// in fixed-size blocks, the last one running past the indentation into reserved room.
template <class Char> Char* putIndent(Char* o, uint64_t depth) {
    static constexpr std::size_t kBlock = 32 / sizeof(Char);
    static const auto kSpaces = [] {
        std::array<Char, kBlock> spaces{};
        spaces.fill(Char(' '));
        return spaces;
    }();
    *o++ = '\n';
    const std::size_t count = 2 * static_cast<std::size_t>(depth);
    for (std::size_t done = 0; done < count; done += kBlock)
        std::memcpy(o + done, kSpaces.data(), sizeof kSpaces);
    return o + count;
}

// Room for putIndent: the line feed, the spaces and the block overrun.
inline std::size_t indentRoom(uint64_t depth) {
    return 1 + 2 * static_cast<std::size_t>(depth) + 32;
}

template <class Char> Char* putAscii(Char* o, const char* text, std::size_t count) {
    if constexpr (std::is_same_v<Char, char>) {
        std::memcpy(o, text, count);
    } else {
        for (std::size_t i = 0; i < count; ++i)
            o[i] = static_cast<Char>(text[i]);
    }
    return o + count;
}

} // namespace brenvo::detail
