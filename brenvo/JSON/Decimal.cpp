#include "brenvo/JSON/Decimal.h"

#include "brenvo/JSON/detail/NumberScan.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <utility>

// libc++ (before 20) has no from_chars for double.
#if defined(_LIBCPP_VERSION) && !defined(__cpp_lib_to_chars)
#define BRENVO_STRTOD_L
#include <locale.h>
#include <stdlib.h>
#endif

namespace brenvo {

namespace {

// A value as digits * 10^exponent, the digits without leading or trailing zeros (none for
// zero).
struct Normal {
    bool negative = false;
    std::string digits;
    int64_t exponent = 0;
};

Normal normalFromText(std::string_view text) {
    Normal n;
    std::size_t i = 0;
    if (i < text.size() && text[i] == '-') {
        n.negative = true;
        ++i;
    }
    int64_t fractionDigits = 0;
    bool inFraction = false;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '.') {
            inFraction = true;
        } else if (detail::isDigit(c)) {
            if (!(n.digits.empty() && c == '0'))
                n.digits.push_back(c);
            if (inFraction)
                ++fractionDigits;
        } else {
            break;
        }
    }
    int64_t exponent = 0;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        bool negativeExponent = false;
        if (i < text.size() && (text[i] == '+' || text[i] == '-'))
            negativeExponent = text[i++] == '-';
        for (; i < text.size(); ++i)
            if (exponent <= Decimal::kMaxExponent)
                exponent = exponent * 10 + (text[i] - '0');
        if (negativeExponent)
            exponent = -exponent;
    }
    n.exponent = exponent - fractionDigits;
    std::size_t end = n.digits.size();
    while (end > 0 && n.digits[end - 1] == '0')
        --end;
    n.exponent += static_cast<int64_t>(n.digits.size() - end);
    n.digits.resize(end);
    return n;
}

// The inline form's value as a stripped coefficient and an exponent.
void strip(uint64_t& coefficient, int64_t& exponent) {
    if (coefficient == 0) {
        exponent = 0;
        return;
    }
    while (coefficient % 10 == 0) {
        coefficient /= 10;
        ++exponent;
    }
}

constexpr double kPowersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                   1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                   1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

} // namespace

void Decimal::copyText(const Decimal& other) {
    text_ = new std::string(*other.text_);
}

Decimal& Decimal::operator=(const Decimal& other) {
    if (this != &other) {
        Decimal copy(other);
        *this = std::move(copy);
    }
    return *this;
}

void Decimal::releaseText() noexcept {
    delete text_;
}

void Decimal::setLongText(std::string_view text, bool negative) {
    text_ = new std::string(text);
    flags_ = kLongForm | (negative ? kNegative : 0);
}

std::optional<Decimal> Decimal::fromParts(const Parts& parts) {
    Decimal d;
    if (!fromParts(parts, d))
        return std::nullopt;
    return d;
}

std::optional<Decimal> Decimal::fromString(std::string_view text) {
    const std::string terminated(text);
    const char* p = terminated.c_str();
    Parts parts;
    if (detail::scanNumber(p, parts))
        return std::nullopt;
    if (p != terminated.c_str() + terminated.size())
        return std::nullopt;
    return fromParts(parts);
}

std::optional<Decimal> Decimal::fromDouble(double value) {
    if (!std::isfinite(value))
        return std::nullopt;
    char buffer[64];
    auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
    if (ec != std::errc())
        return std::nullopt;
    return fromString(std::string_view(buffer, static_cast<std::size_t>(end - buffer)));
}

Decimal Decimal::fromUnsignedText(uint64_t value) {
    char buffer[32];
    auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
    (void)ec;
    return *fromString(std::string_view(buffer, static_cast<std::size_t>(end - buffer)));
}

bool Decimal::isZero() const noexcept {
    if (!isLong())
        return coefficient_ == 0;
    for (char c : *text_) {
        if (c == 'e' || c == 'E')
            break;
        if (c >= '1' && c <= '9')
            return false;
    }
    return true;
}

double Decimal::doubleValue() const {
    if (!isLong()) {
        const int64_t exponent = int64_t(exponent_) - fractionDigits_;
        if (coefficient_ <= (uint64_t(1) << 53) && exponent >= -22 && exponent <= 22) {
            // Both operands are exact doubles, so one rounding gives the nearest value.
            double value = static_cast<double>(coefficient_);
            value = exponent < 0 ? value / kPowersOfTen[-exponent] : value * kPowersOfTen[exponent];
            return (flags_ & kNegative) ? -value : value;
        }
    }
    const std::string text = stringValue();
#if !defined(BRENVO_STRTOD_L)
    double value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    (void)end;
    if (ec == std::errc::result_out_of_range) {
        const Normal n = normalFromText(text);
        const bool huge = !n.digits.empty() && int64_t(n.digits.size()) + n.exponent > 0;
        value = huge ? std::numeric_limits<double>::infinity() : 0.0;
        if (n.negative)
            value = -value;
    }
    return value;
#else
    // strtod in the C locale rounds the same way and, out of range, gives infinity or zero of
    // the number's sign.
    static const locale_t c = newlocale(LC_ALL_MASK, "C", locale_t{});
    return strtod_l(text.c_str(), nullptr, c);
#endif
}

std::optional<int64_t> Decimal::int64Value() const {
    uint64_t coefficient = 0;
    int64_t exponent = 0;
    if (!isLong()) {
        coefficient = coefficient_;
        exponent = int64_t(exponent_) - fractionDigits_;
        strip(coefficient, exponent);
    } else {
        const Normal n = normalFromText(*text_);
        if (n.digits.size() > 19)
            return std::nullopt;
        for (char c : n.digits)
            coefficient = coefficient * 10 + uint64_t(c - '0');
        exponent = n.digits.empty() ? 0 : n.exponent;
    }
    if (exponent < 0)
        return std::nullopt;
    for (; exponent > 0; --exponent) {
        if (coefficient > std::numeric_limits<uint64_t>::max() / 10)
            return std::nullopt;
        coefficient *= 10;
    }
    const uint64_t limit = uint64_t(std::numeric_limits<int64_t>::max()) + (isNegative() ? 1 : 0);
    if (coefficient > limit)
        return std::nullopt;
    if (isNegative())
        return static_cast<int64_t>(uint64_t(0) - coefficient);
    return static_cast<int64_t>(coefficient);
}

bool operator==(const Decimal& a, const Decimal& b) {
    if (!a.isLong() && !b.isLong()) {
        uint64_t ca = a.coefficient_, cb = b.coefficient_;
        int64_t ea = int64_t(a.exponent_) - a.fractionDigits_;
        int64_t eb = int64_t(b.exponent_) - b.fractionDigits_;
        strip(ca, ea);
        strip(cb, eb);
        if (ca == 0 && cb == 0)
            return true;
        return ca == cb && ea == eb && a.isNegative() == b.isNegative();
    }
    const Normal na = normalFromText(a.stringValue());
    const Normal nb = normalFromText(b.stringValue());
    if (na.digits.empty() && nb.digits.empty())
        return true;
    return na.negative == nb.negative && na.digits == nb.digits && na.exponent == nb.exponent;
}

} // namespace brenvo
