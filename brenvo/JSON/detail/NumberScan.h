// The grammar of JSON numbers, shared by Decimal::fromString and the parser.
#pragma once

#include "brenvo/JSON/Decimal.h"

namespace brenvo::detail {

inline bool isDigit(char c) {
    return static_cast<unsigned char>(c - '0') < 10;
}

// Scans one number at p, which must be zero-terminated (or followed by a byte that is not part
// of a number). On success moves p past the number, fills `parts` (text included) and returns
// nullptr; on failure returns the message of the JSON number error and leaves p at the
// offending byte. The exponent saturates just above Decimal::kMaxExponent, so
// Decimal::fromParts rejects it.
inline const char* scanNumber(const char*& p, Decimal::Parts& parts) {
    const char* start = p;
    if (*p == '-') {
        parts.negative = true;
        ++p;
    }
    const char* integer = p;
    if (*p == '0') {
        ++p;
        if (isDigit(*p))
            return "Leading 0 disallowed in number";
    } else if (isDigit(*p)) {
        do
            ++p;
        while (isDigit(*p));
    } else {
        return "No digits after initial minus";
    }
    const char* integerEnd = p;
    const char* fraction = p;
    if (*p == '.') {
        ++p;
        if (!isDigit(*p))
            return "No digits after decimal point";
        fraction = p;
        do
            ++p;
        while (isDigit(*p));
    }
    const char* fractionEnd = p;
    parts.fractionDigits = static_cast<uint64_t>(fractionEnd - fraction);
    if (*p == 'e' || *p == 'E') {
        parts.hasExponent = true;
        parts.upperE = *p == 'E';
        ++p;
        if (*p == '+' || *p == '-')
            parts.exponentSign = *p++;
        if (!isDigit(*p))
            return "No digits after exponent";
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

    // The coefficient: all digits as one integer, when at most 19 of them are significant.
    const std::size_t integerCount = static_cast<std::size_t>(integerEnd - integer);
    const std::size_t totalCount = integerCount + parts.fractionDigits;
    if (totalCount > 19) {
        std::size_t leadingZeros = 0;
        for (const char* q = integer; q < integerEnd && *q == '0'; ++q)
            ++leadingZeros;
        if (leadingZeros == integerCount)
            for (const char* q = fraction; q < fractionEnd && *q == '0'; ++q)
                ++leadingZeros;
        if (totalCount - leadingZeros > 19) {
            parts.inlineOk = false;
            return nullptr;
        }
    }
    uint64_t coefficient = 0;
    for (const char* q = integer; q < integerEnd; ++q)
        coefficient = coefficient * 10 + static_cast<unsigned>(*q - '0');
    for (const char* q = fraction; q < fractionEnd; ++q)
        coefficient = coefficient * 10 + static_cast<unsigned>(*q - '0');
    parts.coefficient = coefficient;
    return nullptr;
}

} // namespace brenvo::detail
