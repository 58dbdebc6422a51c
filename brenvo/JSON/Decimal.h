// Decimal: an exact base-10 number made from the text of a JSON number.
//
// A Decimal remembers the number the way it was written: its sign, every digit (leading zeros
// of the fraction and trailing zeros included), where the decimal point stood, and the
// exponent with its sign. stringValue() gives that text back, so "-0", "0.0", "-12.50e-3",
// "1E+2" and "1.7976931348623157e308" survive a parse and a write unchanged (the exponent
// letter comes back as it was read). Numbers with up to 19 significant digits and a short
// fraction are held inline (a 64-bit coefficient and an exponent) without allocating; longer
// ones keep their text in one heap block. Nothing ever expands 10^exponent: the cost of every
// operation depends on the number of digits, never on the exponent's value.
//
//     auto d = brenvo::Decimal::fromString("-12.50e-3");   // std::optional<Decimal>
//     d->stringValue();                                   // "-12.50e-3"
//     d->doubleValue();                                   // -0.0125
//     brenvo::Decimal(42) == *brenvo::Decimal::fromString("4.20e1");   // true
#pragma once

#include "brenvo/Export.h"

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>

namespace brenvo {

namespace detail {
struct DecimalText; // writes a number's text, in DecimalText.h
} // namespace detail

class BRENVO_EXPORT Decimal {
public:
    // The largest exponent magnitude a number's text may carry ("1e999999999" is accepted,
    // "1e1000000000" is not). The exponent's own leading zeros do not count.
    static constexpr int32_t kMaxExponent = 999'999'999;

    // Zero, written "0".
    Decimal() noexcept : coefficient_(0), exponent_(0), fractionDigits_(0), flags_(0) {}

    // An integer, written in plain decimal digits.
    template <std::integral T>
    requires(!std::same_as<T, bool>) Decimal(T value)
    noexcept : Decimal() {
        if constexpr (std::is_signed_v<T>) {
            if (value < 0) {
                flags_ = kNegative;
                coefficient_ = uint64_t(0) - static_cast<uint64_t>(value);
                return;
            }
        }
        coefficient_ = static_cast<uint64_t>(value);
        if (coefficient_ > kMaxInlineCoefficient)
            *this = fromUnsignedText(coefficient_);
    }

    Decimal(const Decimal& other)
        : coefficient_(other.coefficient_), exponent_(other.exponent_),
          fractionDigits_(other.fractionDigits_), flags_(other.flags_) {
        if (other.isLong())
            copyText(other);
    }
    Decimal(Decimal&& other) noexcept
        : coefficient_(other.coefficient_), exponent_(other.exponent_),
          fractionDigits_(other.fractionDigits_), flags_(other.flags_) {
        if (other.isLong()) {
            other.flags_ = 0;
            other.coefficient_ = 0;
        }
    }
    Decimal& operator=(const Decimal& other);
    Decimal& operator=(Decimal&& other) noexcept {
        if (this != &other) {
            if (isLong())
                releaseText();
            coefficient_ = other.coefficient_;
            exponent_ = other.exponent_;
            fractionDigits_ = other.fractionDigits_;
            flags_ = other.flags_;
            if (other.isLong()) {
                other.flags_ = 0;
                other.coefficient_ = 0;
            }
        }
        return *this;
    }
    ~Decimal() {
        if (isLong())
            releaseText();
    }

    // Parses the text of one JSON number: an optional "-", an integer part without leading
    // zeros, an optional fraction, an optional exponent ("e" or "E", optional sign, digits).
    // Nothing else is accepted, no surrounding space either. Fails for malformed text and for
    // an exponent beyond kMaxExponent.
    static std::optional<Decimal> fromString(std::string_view text);

    // The shortest text that reads back as exactly `value`; absent for infinities and NaN.
    static std::optional<Decimal> fromDouble(double value);

    // The number as it was written (or, for numbers made from integers or doubles, as
    // generated). Always valid JSON number text.
    std::string stringValue() const;

    // Writes the text of stringValue() to `out` without allocating and returns its length, or
    // returns 0 and writes nothing when it needs more than `capacity` characters.
    std::size_t toChars(char* out, std::size_t capacity) const noexcept;

    // The nearest double (correctly rounded); beyond the double range, +/-infinity or +/-0.
    double doubleValue() const;

    // The value as a 64-bit integer when it is a whole number within range ("1.0e2" gives
    // 100), otherwise absent.
    std::optional<int64_t> int64Value() const;

    // True when the number is held inline, without memory of its own.
    bool isCompact() const noexcept { return !isLong(); }

    bool isNegative() const noexcept { return (flags_ & kNegative) != 0; }
    bool isZero() const noexcept;

    // Numeric equality: 1 == 1.0 == 1.00 == 1e0 == 0.1E1, and 0 == -0 == 0.0e7.
    friend BRENVO_EXPORT bool operator==(const Decimal& a, const Decimal& b);

    // The pieces of a number whose grammar has been checked already; used by the parser so
    // that it scans each digit once. `text` is the whole number text; `coefficient` is the
    // value of all digits when there are at most 19 significant ones (`inlineOk` true),
    // `fractionDigits` the digits after the point, `exponent` the written exponent.
    struct Parts {
        std::string_view text;
        uint64_t coefficient = 0;
        uint64_t fractionDigits = 0;
        int64_t exponent = 0;
        bool negative = false;
        bool hasExponent = false;
        bool upperE = false;
        char exponentSign = 0; // 0, '+' or '-'
        bool exponentLeadingZero = false;
        bool inlineOk = true;
    };
    static std::optional<Decimal> fromParts(const Parts& parts);
    // The same into `out`, which must be zero (as made by Decimal()); false when the exponent
    // is beyond kMaxExponent, leaving `out` zero. Inline so that the parser builds each number
    // in its place.
    static bool fromParts(const Parts& parts, Decimal& out) {
        if (parts.exponent > kMaxExponent || parts.exponent < -int64_t(kMaxExponent))
            return false;
        if (parts.inlineOk && parts.fractionDigits <= kMaxInlineFraction &&
            !parts.exponentLeadingZero) {
            out.coefficient_ = parts.coefficient;
            out.exponent_ = static_cast<int32_t>(parts.exponent);
            out.fractionDigits_ = static_cast<uint16_t>(parts.fractionDigits);
            uint16_t flags = parts.negative ? kNegative : 0;
            if (parts.hasExponent)
                flags |= kHasExponent;
            if (parts.upperE)
                flags |= kUpperE;
            if (parts.exponentSign == '+')
                flags |= kPlusSign;
            else if (parts.exponentSign == '-')
                flags |= kMinusSign;
            out.flags_ = flags;
        } else {
            out.setLongText(parts.text, parts.negative);
        }
        return true;
    }

private:
    friend struct detail::DecimalText;
    static constexpr uint64_t kMaxInlineCoefficient = 9'999'999'999'999'999'999ull;
    static constexpr uint16_t kMaxInlineFraction = 0xFFFF;

    enum : uint16_t {
        kNegative = 1,
        kHasExponent = 2,
        kUpperE = 4,
        kPlusSign = 8,   // exponent written with "+"
        kMinusSign = 16, // exponent written with "-"
        kLongForm = 32,  // text_ holds the number's text
    };

    static Decimal fromUnsignedText(uint64_t value);
    void releaseText() noexcept;
    void setLongText(std::string_view text, bool negative);
    void copyText(const Decimal& other);
    bool isLong() const noexcept { return (flags_ & kLongForm) != 0; }

    union {
        uint64_t coefficient_; // inline form: all digits as one integer
        std::string* text_;    // long form: the number's text, exactly as read
    };
    int32_t exponent_;        // inline form: the exponent as written (sign applied)
    uint16_t fractionDigits_; // inline form: digits after the decimal point
    uint16_t flags_;
};

} // namespace brenvo
