// The text of a Decimal: stringValue() and toChars(), which writers call for every number.
#include "brenvo/JSON/Decimal.h"

#include <cstring>
#include <string>

namespace brenvo {

namespace {

// "00" "01" ... "99": two digits per lookup halve the divisions of a conversion.
constexpr char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233"
    "34353637383940414243444546474849505152535455565758596061626364656667"
    "6869707172737475767778798081828384858687888990919293949596979899";

constexpr uint64_t kPowersOfTen[20] = {1ull,
                                       10ull,
                                       100ull,
                                       1000ull,
                                       10000ull,
                                       100000ull,
                                       1000000ull,
                                       10000000ull,
                                       100000000ull,
                                       1000000000ull,
                                       10000000000ull,
                                       100000000000ull,
                                       1000000000000ull,
                                       10000000000000ull,
                                       100000000000000ull,
                                       1000000000000000ull,
                                       10000000000000000ull,
                                       100000000000000000ull,
                                       1000000000000000000ull,
                                       10000000000000000000ull};

// The number of decimal digits of `value` (1 for 0).
inline std::size_t digitCount(uint64_t value) {
    // bits * 1233 / 4096 is floor(log10(2^bits)), at most one below the digit count; one
    // comparison with the power of ten settles it.
    const unsigned bits = 64 - static_cast<unsigned>(__builtin_clzll(value | 1));
    const unsigned guess = (bits * 1233) >> 12;
    return guess + ((value | 1) >= kPowersOfTen[guess] ? 1 : 0);
}

inline void putPair(char* at, uint32_t pair) {
    std::memcpy(at, kDigitPairs + 2 * pair, 2);
}

// Writes the lowest `count` digits of `value` so that they end just before `end`, zero-padded
// on the left, and returns the digits above them (value / 10^count).
inline uint64_t putDigits(char* end, uint64_t value, std::size_t count) {
    // Eight digits at a time: one 64-bit division, then independent 32-bit pairs.
    while (count >= 8) {
        const uint64_t high = value / 100000000;
        const uint32_t low = static_cast<uint32_t>(value - high * 100000000);
        const uint32_t top = low / 10000, bottom = low % 10000;
        putPair(end - 8, top / 100);
        putPair(end - 6, top % 100);
        putPair(end - 4, bottom / 100);
        putPair(end - 2, bottom % 100);
        end -= 8;
        count -= 8;
        value = high;
    }
    for (; count >= 2; count -= 2) {
        putPair(end - 2, static_cast<uint32_t>(value % 100));
        value /= 100;
        end -= 2;
    }
    if (count == 1) {
        end[-1] = static_cast<char>('0' + value % 10);
        value /= 10;
    }
    return value;
}

} // namespace

std::string Decimal::stringValue() const {
    if (isLong())
        return *text_;
    // Sign, up to twenty digits or the zero-padded fraction, point and exponent.
    std::string text(std::size_t(fractionDigits_) + 40, '\0');
    text.resize(toChars(text.data(), text.size()));
    return text;
}

std::size_t Decimal::toChars(char* out, std::size_t capacity) const noexcept {
    if (isLong()) {
        if (text_->size() > capacity)
            return 0;
        std::memcpy(out, text_->data(), text_->size());
        return text_->size();
    }
    // The digits are the coefficient zero-padded on the left to one more than the fraction
    // digits, so there is always an integer digit ("0.05" is 5 with two fraction digits).
    const uint64_t coefficient = coefficient_;
    const std::size_t digits = digitCount(coefficient);
    const std::size_t fraction = fractionDigits_;
    const std::size_t integer = digits > fraction ? digits - fraction : 1;
    const bool negative = (flags_ & kNegative) != 0;
    const bool hasExponent = (flags_ & kHasExponent) != 0;
    const bool exponentSign = (flags_ & (kPlusSign | kMinusSign)) != 0;
    const uint64_t magnitude = exponent_ < 0 ? uint64_t(-int64_t(exponent_)) : uint64_t(exponent_);
    const std::size_t exponentDigits = hasExponent ? digitCount(magnitude) : 0;
    const std::size_t length = std::size_t(negative) + integer + (fraction ? fraction + 1 : 0) +
                               (hasExponent ? 1 + std::size_t(exponentSign) + exponentDigits : 0);
    if (length > capacity)
        return 0;

    char* p = out;
    if (negative)
        *p++ = '-';
    if (fraction == 0) {
        putDigits(p + integer, coefficient, integer);
        p += integer;
    } else if (fraction < 20) {
        // The fraction takes the low digits; what remains of the coefficient is the integer.
        char* point = p + integer;
        const uint64_t rest = putDigits(point + 1 + fraction, coefficient, fraction);
        *point = '.';
        putDigits(point, rest, integer);
        p = point + 1 + fraction;
    } else {
        // More fraction digits than a 64-bit coefficient has: "0.", zeros, then the digits.
        p[0] = '0';
        p[1] = '.';
        std::memset(p + 2, '0', fraction - digits);
        p += 2 + fraction;
        putDigits(p, coefficient, digits);
    }
    if (hasExponent) {
        *p++ = (flags_ & kUpperE) ? 'E' : 'e';
        if (flags_ & kPlusSign)
            *p++ = '+';
        else if (flags_ & kMinusSign)
            *p++ = '-';
        putDigits(p + exponentDigits, magnitude, exponentDigits);
        p += exponentDigits;
    }
    return static_cast<std::size_t>(p - out);
}

} // namespace brenvo
