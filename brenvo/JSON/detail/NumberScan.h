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
    uint64_t coefficient = 0;
    int significant = 0;
    auto digit = [&](char c) {
        const unsigned d = static_cast<unsigned>(c - '0');
        if (coefficient != 0 || d != 0) {
            if (++significant > 19)
                parts.inlineOk = false;
            else
                coefficient = coefficient * 10 + d;
        }
    };
    if (*p == '0') {
        ++p;
        if (isDigit(*p))
            return "Leading 0 disallowed in number";
    } else if (isDigit(*p)) {
        do
            digit(*p++);
        while (isDigit(*p));
    } else {
        return "No digits after initial minus";
    }
    if (*p == '.') {
        ++p;
        if (!isDigit(*p))
            return "No digits after decimal point";
        const char* fractionStart = p;
        do
            digit(*p++);
        while (isDigit(*p));
        parts.fractionDigits = static_cast<uint64_t>(p - fractionStart);
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
    parts.coefficient = coefficient;
    parts.text = std::string_view(start, static_cast<std::size_t>(p - start));
    return nullptr;
}

} // namespace brenvo::detail
