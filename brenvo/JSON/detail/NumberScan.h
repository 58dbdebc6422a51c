// The grammar of JSON numbers, shared by Decimal::fromString and the parser.
#pragma once

#include "brenvo/JSON/Decimal.h"
#include "brenvo/JSON/JsonMessages.h"

#include <bit>
#include <cstdint>
#include <cstring>

namespace brenvo::detail {

inline bool isDigit(char c) {
    return static_cast<unsigned char>(c - '0') < 10;
}

// Reads the run of digits at p into `coefficient` (coefficient * 10^count + value) and returns
// the end of the run. At least eight bytes must be readable from any position up to the end of
// the run. Eight bytes are read as one little-endian word and converted in one step: the
// digit test marks each lane that is not a digit, and the conversion combines neighbouring
// lanes (8 digits -> 4 pairs -> 2 quads -> 1 value). A run shorter than eight is shifted to
// the top of the word, so the lanes below it read as leading zeros; subtracting '0' from all
// lanes cannot disturb the digit lanes, since a borrow only moves to higher lanes.
inline const char* scanDigitsPadded(const char* p, uint64_t& coefficient) {
    if constexpr (std::endian::native != std::endian::little) {
        while (isDigit(*p))
            coefficient = coefficient * 10 + static_cast<unsigned>(*p++ - '0');
        return p;
    } else {
        static constexpr uint64_t kPowers[] = {1,      10,      100,      1000,     10000,
                                               100000, 1000000, 10000000, 100000000};
        for (;;) {
            uint64_t v;
            std::memcpy(&v, p, sizeof v);
            // A lane is a digit when its high nibble is 3 and adding 6 keeps it 3.
            const uint64_t notDigit = ((v & 0xF0F0F0F0F0F0F0F0) |
                                       (((v + 0x0606060606060606) & 0xF0F0F0F0F0F0F0F0) >> 4)) ^
                                      0x3333333333333333;
            const unsigned count =
                notDigit ? static_cast<unsigned>(std::countr_zero(notDigit)) / 8 : 8;
            if (count == 0)
                return p;
            v -= 0x3030303030303030;
            if (count < 8)
                v <<= 8 * (8 - count);
            v = (v * 10) + (v >> 8);
            v = (((v & 0x000000FF000000FF) * (100 + (1000000ULL << 32))) +
                 (((v >> 16) & 0x000000FF000000FF) * (1 + (10000ULL << 32)))) >>
                32;
            // Wrapping beyond 19 digits is harmless: such a coefficient is not used.
            coefficient = coefficient * kPowers[count] + v;
            p += count;
            if (count < 8)
                return p;
        }
    }
}

// Scans one number at p, which must be zero-terminated (or followed by a byte that is not part
// of a number). On success moves p past the number, fills `parts` (text included) and returns
// std::nullopt; on failure returns the JSON number error and leaves p at the
// offending byte. The exponent saturates just above Decimal::kMaxExponent, so
// Decimal::fromParts rejects it. With `padded`, at least eight bytes must be readable from any
// position up to the end of the number, so that digits are read eight at a time.
template <bool padded = false>
inline std::optional<JsonMessage> scanNumber(const char*& p, Decimal::Parts& parts) {
    const char* start = p;
    if (*p == '-') {
        parts.negative = true;
        ++p;
    }
    // The coefficient is built while the digits are read: all digits as one integer, exact
    // while at most 19 of them are significant (leading zeros add nothing to it).
    uint64_t coefficient = 0;
    std::size_t significant = 0;
    if (*p == '0') {
        ++p;
        if (isDigit(*p))
            return JsonMessage::LeadingZero;
    } else if (isDigit(*p)) {
        const char* first = p;
        // Integer parts are mostly short: one digit at a time.
        while (isDigit(*p))
            coefficient = coefficient * 10 + static_cast<unsigned>(*p++ - '0');
        significant = static_cast<std::size_t>(p - first);
    } else {
        return JsonMessage::NoDigitsAfterMinus;
    }
    if (*p == '.') {
        ++p;
        if (!isDigit(*p))
            return JsonMessage::NoDigitsAfterPoint;
        const char* fraction = p;
        if (coefficient == 0)
            while (*p == '0')
                ++p;
        const char* first = p;
        if constexpr (padded)
            p = scanDigitsPadded(p, coefficient);
        while (isDigit(*p))
            coefficient = coefficient * 10 + static_cast<unsigned>(*p++ - '0');
        significant += static_cast<std::size_t>(p - first);
        parts.fractionDigits = static_cast<uint64_t>(p - fraction);
    }
    if (*p == 'e' || *p == 'E') {
        parts.hasExponent = true;
        parts.upperE = *p == 'E';
        ++p;
        if (*p == '+' || *p == '-')
            parts.exponentSign = *p++;
        if (!isDigit(*p))
            return JsonMessage::NoDigitsAfterExponent;
        parts.exponentLeadingZero = *p == '0' && isDigit(p[1]);
        int64_t exponent = 0;
        do {
            if (exponent <= Decimal::kMaxExponent)
                exponent = exponent * 10 + (*p - '0');
            ++p;
        } while (isDigit(*p));
        parts.exponent = parts.exponentSign == '-' ? -exponent : exponent;
    }
    parts.text = std::string_view(start, static_cast<std::size_t>(p - start));
    // Beyond 19 significant digits the coefficient has wrapped; the number keeps its text.
    parts.inlineOk = significant <= 19;
    parts.coefficient = coefficient;
    return std::nullopt;
}

} // namespace brenvo::detail
