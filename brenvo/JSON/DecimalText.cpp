// The text of a Decimal: stringValue() and toChars(), which writers call for every number.
#include "brenvo/JSON/Decimal.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <string>

namespace brenvo {

std::string Decimal::stringValue() const {
    if (isLong())
        return *text_;
    char digits[24];
    auto [end, ec] = std::to_chars(digits, digits + sizeof digits, coefficient_);
    (void)ec;
    const std::size_t count = static_cast<std::size_t>(end - digits);
    const std::size_t width = std::max<std::size_t>(count, std::size_t(fractionDigits_) + 1);
    std::string text;
    text.reserve(width + 16);
    if (flags_ & kNegative)
        text.push_back('-');
    const std::size_t integerDigits = width - fractionDigits_;
    std::size_t written = 0;
    auto put = [&](std::size_t position) {
        // Digit `position` of the zero-padded digit string.
        const std::size_t padding = width - count;
        text.push_back(position < padding ? '0' : digits[position - padding]);
    };
    for (; written < integerDigits; ++written)
        put(written);
    if (fractionDigits_ > 0) {
        text.push_back('.');
        for (; written < width; ++written)
            put(written);
    }
    if (flags_ & kHasExponent) {
        text.push_back((flags_ & kUpperE) ? 'E' : 'e');
        if (flags_ & kPlusSign)
            text.push_back('+');
        else if (flags_ & kMinusSign)
            text.push_back('-');
        const int64_t magnitude = exponent_ < 0 ? -int64_t(exponent_) : int64_t(exponent_);
        text += std::to_string(magnitude);
    }
    return text;
}

std::size_t Decimal::toChars(char* out, std::size_t capacity) const noexcept {
    if (isLong()) {
        if (text_->size() > capacity)
            return 0;
        std::memcpy(out, text_->data(), text_->size());
        return text_->size();
    }
    // Integers, the most common numbers, go straight to their digits.
    if (fractionDigits_ == 0 && !(flags_ & kHasExponent)) {
        if (capacity < 21)
            return 0;
        char* p = out;
        if (flags_ & kNegative)
            *p++ = '-';
        p = std::to_chars(p, out + capacity, coefficient_).ptr;
        return static_cast<std::size_t>(p - out);
    }
    char digits[24];
    auto [digitsEnd, ec] = std::to_chars(digits, digits + sizeof digits, coefficient_);
    (void)ec;
    const std::size_t count = static_cast<std::size_t>(digitsEnd - digits);
    const std::size_t width = std::max<std::size_t>(count, std::size_t(fractionDigits_) + 1);
    // Sign, digits, point, and an exponent of at most "e+" and ten digits.
    if (width + 14 > capacity)
        return 0;
    char* p = out;
    if (flags_ & kNegative)
        *p++ = '-';
    // The digits, zero-padded on the left to `width`, with the point before the fraction.
    const std::size_t padding = width - count;
    const std::size_t integerDigits = width - fractionDigits_;
    std::memset(p, '0', padding);
    std::memcpy(p + padding, digits, count);
    if (fractionDigits_ > 0) {
        std::memmove(p + integerDigits + 1, p + integerDigits, fractionDigits_);
        p[integerDigits] = '.';
        ++p;
    }
    p += width;
    if (flags_ & kHasExponent) {
        *p++ = (flags_ & kUpperE) ? 'E' : 'e';
        if (flags_ & kPlusSign)
            *p++ = '+';
        else if (flags_ & kMinusSign)
            *p++ = '-';
        const uint64_t magnitude =
            exponent_ < 0 ? uint64_t(-int64_t(exponent_)) : uint64_t(exponent_);
        p = std::to_chars(p, out + capacity, magnitude).ptr;
    }
    return static_cast<std::size_t>(p - out);
}

} // namespace brenvo
