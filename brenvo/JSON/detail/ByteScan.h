// The byte scanners of the JSON parser: byte classes, and runs of string content and of
// whitespace found sixteen bytes at a time. Every input is followed by kPadding zero bytes, so
// a scanner may read a whole block, or a fixed-length literal, at any position up to the
// terminating zero.
#pragma once

#include "brenvo/utf/Simd.h"

#include <cstddef>
#include <cstdint>

namespace brenvo::detail {

// Zero bytes after every input.
constexpr std::size_t kPadding = 32;

// Which bytes are whitespace (the six of this parser) and which end a run of string content.
struct ByteTables {
    bool whitespace[256] = {};
    // Bytes that end a run of plain string content: quote, backslash, 0x00-0x1F.
    bool stringStop[256] = {};
    constexpr ByteTables() {
        for (unsigned char c : {0x20, 0x09, 0x0A, 0x0B, 0x0C, 0x0D})
            whitespace[c] = true;
        for (int c = 0; c < 0x20; ++c)
            stringStop[c] = true;
        stringStop[static_cast<unsigned char>('"')] = true;
        stringStop[static_cast<unsigned char>('\\')] = true;
    }
};
inline constexpr ByteTables kBytes;

#if defined(BRENVO_NEON)
// Four bits per byte of a comparison's result (all set where it held), byte i in bits 4i to
// 4i + 3: NEON's stand-in for a byte mask.
inline uint64_t nibbleMask(uint8x16_t result) {
    return vget_lane_u64(vreinterpret_u64_u8(vshrn_n_u16(vreinterpretq_u16_u8(result), 4)), 0);
}
#endif

// The value of a hex digit, or -1.
inline int hexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Finds the end of a run of plain string content starting at p: the first byte that is a
// quote, a backslash or below 0x20 (the terminating zero included). Clears `ascii` if the run
// holds a byte of 0x80 or above.
inline const char* findRunEnd(const char* p, bool& ascii) {
#if defined(BRENVO_SSE2)
    const __m128i quote = _mm_set1_epi8('"');
    const __m128i backslash = _mm_set1_epi8('\\');
    const __m128i control = _mm_set1_epi8(0x1F);
    unsigned high = 0;
    for (;;) {
        const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const __m128i isControl = _mm_cmpeq_epi8(_mm_max_epu8(block, control), control);
        const __m128i stop = _mm_or_si128(
            _mm_or_si128(_mm_cmpeq_epi8(block, quote), _mm_cmpeq_epi8(block, backslash)),
            isControl);
        const unsigned stopMask = static_cast<unsigned>(_mm_movemask_epi8(stop));
        const unsigned highMask = static_cast<unsigned>(_mm_movemask_epi8(block));
        if (stopMask != 0) {
            const int index = __builtin_ctz(stopMask);
            high |= highMask & ((1u << index) - 1);
            if (high)
                ascii = false;
            return p + index;
        }
        high |= highMask;
        p += 16;
    }
#elif defined(BRENVO_NEON)
    const uint8x16_t quote = vdupq_n_u8('"');
    const uint8x16_t backslash = vdupq_n_u8('\\');
    const uint8x16_t space = vdupq_n_u8(0x20);
    const uint8x16_t top = vdupq_n_u8(0x80);
    uint64_t high = 0;
    for (;;) {
        const uint8x16_t block = vld1q_u8(reinterpret_cast<const uint8_t*>(p));
        const uint8x16_t stop = vorrq_u8(
            vorrq_u8(vceqq_u8(block, quote), vceqq_u8(block, backslash)), vcltq_u8(block, space));
        const uint64_t stopMask = nibbleMask(stop);
        const uint64_t highMask = nibbleMask(vcgeq_u8(block, top));
        if (stopMask != 0) {
            const int bit = __builtin_ctzll(stopMask);
            high |= highMask & ((uint64_t(1) << bit) - 1);
            if (high)
                ascii = false;
            return p + bit / 4;
        }
        high |= highMask;
        p += 16;
    }
#else
    unsigned char high = 0;
    while (!kBytes.stringStop[static_cast<unsigned char>(*p)]) {
        high |= static_cast<unsigned char>(*p);
        ++p;
    }
    if (high & 0x80)
        ascii = false;
    return p;
#endif
}

// Finds the first byte at or after p that is not whitespace (the terminating zero stops it).
inline const char* skipWhitespaceRun(const char* p) {
#if defined(BRENVO_SSE2)
    const __m128i space = _mm_set1_epi8(' ');
    const __m128i tab = _mm_set1_epi8('\t');
    const __m128i four = _mm_set1_epi8(4);
    for (;; p += 16) {
        const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        // Bytes 0x09 to 0x0D (tab to carriage return) are those whose distance from a tab,
        // taken unsigned, is at most 4.
        const __m128i fromTab = _mm_sub_epi8(block, tab);
        const __m128i white = _mm_or_si128(_mm_cmpeq_epi8(block, space),
                                           _mm_cmpeq_epi8(_mm_min_epu8(fromTab, four), fromTab));
        const unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(white));
        if (mask != 0xFFFF)
            return p + __builtin_ctz(~mask);
    }
#elif defined(BRENVO_NEON)
    const uint8x16_t space = vdupq_n_u8(' ');
    const uint8x16_t tab = vdupq_n_u8('\t');
    const uint8x16_t four = vdupq_n_u8(4);
    for (;; p += 16) {
        const uint8x16_t block = vld1q_u8(reinterpret_cast<const uint8_t*>(p));
        // As above: tab to carriage return are at most 4 above a tab, taken unsigned.
        const uint8x16_t white =
            vorrq_u8(vceqq_u8(block, space), vcleq_u8(vsubq_u8(block, tab), four));
        const uint64_t other = nibbleMask(vmvnq_u8(white));
        if (other != 0)
            return p + __builtin_ctzll(other) / 4;
    }
#else
    while (kBytes.whitespace[static_cast<unsigned char>(*p)])
        ++p;
    return p;
#endif
}

// The first byte at or after p that is not whitespace. Mostly there is none or one; longer runs
// (indentation) go block by block.
inline const char* skipWhitespace(const char* p) {
    if (kBytes.whitespace[static_cast<unsigned char>(*p)]) {
        ++p;
        if (kBytes.whitespace[static_cast<unsigned char>(*p)])
            p = skipWhitespaceRun(p);
    }
    return p;
}

} // namespace brenvo::detail
