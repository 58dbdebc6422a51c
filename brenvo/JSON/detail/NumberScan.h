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
    // The coefficient is built while the digits are read: all digits as one integer, exact
    // while at most 19 of them are significant (leading zeros add nothing to it).
    uint64_t coefficient = 0;
    std::size_t significant = 0;
    if (*p == '0') {
        ++p;
        if (isDigit(*p))
            return "Leading 0 disallowed in number";
    } else if (isDigit(*p)) {
        const char* first = p;
        do
            coefficient = coefficient * 10 + static_cast<unsigned>(*p++ - '0');
        while (isDigit(*p));
        significant = static_cast<std::size_t>(p - first);
    } else {
        return "No digits after initial minus";
    }
    if (*p == '.') {
        ++p;
        if (!isDigit(*p))
            return "No digits after decimal point";
        const char* fraction = p;
        if (coefficient == 0)
            while (*p == '0')
                ++p;
        const char* first = p;
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
    // Beyond 19 significant digits the coefficient has wrapped; the number keeps its text.
    parts.inlineOk = significant <= 19;
    parts.coefficient = coefficient;
    return nullptr;
}

} // namespace brenvo::detail
