// DecimalText: a number's text written straight into a caller's buffer, shared by
// Decimal::toChars and the JSON writer (which inlines it for every number it writes).
#pragma once

#include "brenvo/JSON/Decimal.h"

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace brenvo::detail {

namespace decimal_text {

// "00" "01" ... "99": two digits per lookup halve the divisions of a conversion.
inline constexpr char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233"
    "34353637383940414243444546474849505152535455565758596061626364656667"
    "6869707172737475767778798081828384858687888990919293949596979899";

inline constexpr uint64_t kPowersOfTen[20] = {1ull,
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
[[gnu::always_inline]] inline std::size_t digitCount(uint64_t value) {
    // bits * 1233 / 4096 is floor(log10(2^bits)), at most one below the digit count; one
    // comparison with the power of ten settles it.
    const unsigned bits = 64 - static_cast<unsigned>(__builtin_clzll(value | 1));
    const unsigned guess = (bits * 1233) >> 12;
    return guess + ((value | 1) >= kPowersOfTen[guess] ? 1 : 0);
}

[[gnu::always_inline]] inline void putPair(char* at, uint32_t pair) {
    std::memcpy(at, kDigitPairs + 2 * std::size_t{pair}, 2);
}

// Writes the lowest `count` digits of `value` so that they end just before `end`, zero-padded
// on the left.
inline void putDigits(char* end, uint64_t value, std::size_t count) {
    for (; count >= 2; count -= 2) {
        putPair(end - 2, static_cast<uint32_t>(value % 100));
        value /= 100;
        end -= 2;
    }
    if (count == 1)
        end[-1] = static_cast<char>('0' + value % 10);
}

// The eight decimal digits of `value` (below 10^8) as numbers 0-9 in the bytes of the result,
// the first digit in the least significant byte. Each step splits every lane into two of half
// the width (/ 10^4 and % 10^4, then / 100 and % 100, then / 10 and % 10); the quotients come
// from reciprocal multiplications that are exact for the lane ranges involved (checked for
// every value below 10^8), and no lane's product reaches into its neighbour.
[[gnu::always_inline]] inline uint64_t eightDigitLanes(uint32_t value) {
    uint64_t x = value;
    const uint64_t high4 = (x * 109951163) >> 40;
    x = high4 | ((x - high4 * 10000) << 32);
    const uint64_t high2 = ((x * 5243) >> 19) & 0x0000007F0000007Full;
    x = high2 | ((x - high2 * 100) << 16);
    const uint64_t high1 = ((x * 103) >> 10) & 0x000F000F000F000Full;
    return high1 | ((x - high1 * 10) << 8);
}

inline constexpr uint64_t kAsciiZeros = 0x3030303030303030ull;

// Stores the eight digits of `value` (below 10^8) as ASCII at `at`.
[[gnu::always_inline]] inline void putEightDigits(char* at, uint32_t value) {
    uint64_t x = eightDigitLanes(value) | kAsciiZeros;
    // The lanes hold the first digit in the least significant byte.
    if constexpr (std::endian::native == std::endian::big)
        x = __builtin_bswap64(x);
    std::memcpy(at, &x, 8);
}

// Stores the digits of `value` (below 10^8) without leading zeros ("0" for zero) at `at` and
// returns their end; stores eight bytes in all, the ones past the end being scratch.
// Little-endian only.
[[gnu::always_inline]] inline char* putDigitsUpTo8(char* at, uint32_t value) {
    uint64_t lanes = eightDigitLanes(value);
    // Leading zero digits are the low zero bytes; zero itself keeps its last digit.
    const unsigned zeros = lanes == 0 ? 7 : static_cast<unsigned>(__builtin_ctzll(lanes)) / 8;
    lanes = (lanes >> (8 * zeros)) | kAsciiZeros;
    std::memcpy(at, &lanes, 8);
    return at + 8 - zeros;
}

// Copies `count` (1 to 24) characters with a few fixed-size moves that may overlap.
[[gnu::always_inline]] inline void copyShort(char* to, const char* from, std::size_t count) {
    if (count >= 8) {
        std::memcpy(to, from, 8);
        if (count > 16)
            std::memcpy(to + 8, from + 8, 8);
        std::memcpy(to + count - 8, from + count - 8, 8);
    } else if (count >= 4) {
        std::memcpy(to, from, 4);
        std::memcpy(to + count - 4, from + count - 4, 4);
    } else {
        to[0] = from[0];
        to[count / 2] = from[count / 2];
        to[count - 1] = from[count - 1];
    }
}

// Room for every digit of an inline coefficient (at most 20) and the zeros before them.
inline constexpr std::size_t kPaddedDigits = 24;

} // namespace decimal_text

struct DecimalText {
    // The length of the number's text.
    static std::size_t length(const Decimal& d) noexcept {
        if (d.isLong())
            return d.text_->size();
        const std::size_t digits = decimal_text::digitCount(d.coefficient_);
        const std::size_t fraction = d.fractionDigits_;
        const std::size_t integer = digits > fraction ? digits - fraction : 1;
        std::size_t length = std::size_t(d.isNegative()) + integer + (fraction ? fraction + 1 : 0);
        if (d.flags_ & Decimal::kHasExponent)
            length += 1 +
                      std::size_t((d.flags_ & (Decimal::kPlusSign | Decimal::kMinusSign)) != 0) +
                      decimal_text::digitCount(exponentMagnitude(d));
        return length;
    }

    // At least length(), computed with less work: sign, 20 digits or the padded fraction,
    // point, and an exponent of at most "e+" and ten digits.
    static std::size_t maxLength(const Decimal& d) noexcept {
        return d.isLong() ? d.text_->size() : std::size_t(d.fractionDigits_) + 40;
    }

    // Writes the number's text (length() characters, nothing beyond) and returns its end.
    [[gnu::always_inline]] static char* write(char* p, const Decimal& d) noexcept {
        return write<false>(p, d);
    }

    // Bytes writeWithSlack() may store past the end of the text.
    static constexpr std::size_t kSlack = 16;

    // write() for a caller that reserved kSlack bytes past maxLength(): whole words are
    // stored, which may leave scratch bytes after the text.
    [[gnu::always_inline]] static char* writeWithSlack(char* p, const Decimal& d) noexcept {
        if constexpr (std::endian::native == std::endian::little) {
            // Integers below 10^16, the most common numbers, in one or two eight-byte words.
            constexpr uint16_t kNotInteger = Decimal::kLongForm | Decimal::kHasExponent;
            if (!(d.flags_ & kNotInteger) && d.fractionDigits_ == 0 &&
                d.coefficient_ < 10000000000000000ull) {
                if (d.flags_ & Decimal::kNegative)
                    *p++ = '-';
                const uint64_t value = d.coefficient_;
                if (value < 100000000)
                    return decimal_text::putDigitsUpTo8(p, static_cast<uint32_t>(value));
                const uint64_t upper = value / 100000000;
                p = decimal_text::putDigitsUpTo8(p, static_cast<uint32_t>(upper));
                decimal_text::putEightDigits(p, static_cast<uint32_t>(value - upper * 100000000));
                return p + 8;
            }
        }
        return write<true>(p, d);
    }

private:
    template <bool slack>
    [[gnu::always_inline]] static char* write(char* p, const Decimal& d) noexcept {
        if (d.isLong()) {
            // Digits into the output, which is not a C string.
            // NOLINTNEXTLINE(bugprone-not-null-terminated-result)
            std::memcpy(p, d.text_->data(), d.text_->size());
            return p + d.text_->size();
        }
        if (d.flags_ & Decimal::kNegative)
            *p++ = '-';
        // The digits are the coefficient zero-padded on the left to one more than the fraction
        // digits, so there is always an integer digit ("0.05" is 5 with two fraction digits).
        const uint64_t coefficient = d.coefficient_;
        const std::size_t fraction = d.fractionDigits_;
        if (fraction == 0 && coefficient < 100000000) {
            // Small integers, the most common numbers: one block of eight digits.
            char padded[8];
            decimal_text::putEightDigits(padded, static_cast<uint32_t>(coefficient));
            const std::size_t digits = decimal_text::digitCount(coefficient);
            decimal_text::copyShort(p, padded + 8 - digits, digits);
            p += digits;
        } else {
            const std::size_t digits = decimal_text::digitCount(coefficient);
            const std::size_t integer = digits > fraction ? digits - fraction : 1;
            const std::size_t width = integer + fraction;
            if (width <= decimal_text::kPaddedDigits) {
                // The coefficient as 24 zero-padded digits, of which only the last `width`
                // (the integer and fraction digits) are made, eight at a time.
                // Room past the digits for the fixed-size copies of the slack form.
                char padded[decimal_text::kPaddedDigits + 24];
                const uint64_t upper = coefficient / 100000000;
                decimal_text::putEightDigits(
                    padded + 16, static_cast<uint32_t>(coefficient - upper * 100000000));
                if (width > 16) {
                    // The coefficient has at most 19 digits, so `top` has at most three.
                    const uint64_t top = upper / 100000000;
                    decimal_text::putEightDigits(padded + 8,
                                                 static_cast<uint32_t>(upper - top * 100000000));
                    // NOLINTNEXTLINE(bugprone-not-null-terminated-result): digits, not a C string
                    std::memcpy(padded, "0000", 4);
                    decimal_text::putPair(padded + 4, static_cast<uint32_t>(top / 100));
                    decimal_text::putPair(padded + 6, static_cast<uint32_t>(top % 100));
                } else if (width > 8) {
                    // Fewer than 17 digits: upper is below 10^8.
                    decimal_text::putEightDigits(padded + 8, static_cast<uint32_t>(upper));
                }
                const char* const first = padded + decimal_text::kPaddedDigits - fraction - integer;
                if (slack && integer <= 8)
                    std::memcpy(p, first, 8);
                else
                    decimal_text::copyShort(p, first, integer);
                p += integer;
                if (fraction != 0) {
                    *p++ = '.';
                    if constexpr (slack) {
                        // Up to 24 digits: sixteen, then eight more when needed.
                        std::memcpy(p, first + integer, 16);
                        if (fraction > 16)
                            std::memcpy(p + 16, first + integer + 16, 8);
                    } else {
                        decimal_text::copyShort(p, first + integer, fraction);
                    }
                    p += fraction;
                }
            } else {
                // More fraction digits than a coefficient has: "0.", zeros, then the digits.
                p[0] = '0';
                p[1] = '.';
                std::memset(p + 2, '0', fraction - digits);
                p += 2 + fraction;
                decimal_text::putDigits(p, coefficient, digits);
            }
        }
        if (d.flags_ & Decimal::kHasExponent) [[unlikely]]
            p = writeExponent(p, d);
        return p;
    }

    static uint64_t exponentMagnitude(const Decimal& d) noexcept {
        return d.exponent_ < 0 ? uint64_t(-int64_t(d.exponent_)) : uint64_t(d.exponent_);
    }

    static char* writeExponent(char* p, const Decimal& d) noexcept {
        *p++ = (d.flags_ & Decimal::kUpperE) ? 'E' : 'e';
        if (d.flags_ & Decimal::kPlusSign)
            *p++ = '+';
        else if (d.flags_ & Decimal::kMinusSign)
            *p++ = '-';
        const uint64_t magnitude = exponentMagnitude(d);
        const std::size_t digits = decimal_text::digitCount(magnitude);
        decimal_text::putDigits(p + digits, magnitude, digits);
        return p + digits;
    }
};

} // namespace brenvo::detail
