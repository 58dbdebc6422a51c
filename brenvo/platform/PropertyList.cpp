#include "brenvo/platform/PropertyList.h"

#include "brenvo/utf/Utf8.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <limits>

namespace brenvo::platform {

namespace {

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// The leading decimal integer of `text` after white space and an optional sign, clamped to the
// 64-bit range; 0 when there are no digits.
int64_t leadingInteger(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && isSpace(text[i])) {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    // Accumulate as a negative number so that INT64_MIN is reachable without overflow.
    int64_t value = 0;
    bool saturated = false;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        const int digit = text[i] - '0';
        if (saturated) {
            continue;
        }
        if (value < (std::numeric_limits<int64_t>::min() + digit) / 10) {
            saturated = true;
            value = std::numeric_limits<int64_t>::min();
            continue;
        }
        value = value * 10 - digit;
    }
    if (negative) {
        return value;
    }
    if (value == std::numeric_limits<int64_t>::min()) {
        return std::numeric_limits<int64_t>::max();
    }
    return -value;
}

int64_t clampReal(double number) {
    if (std::isnan(number)) {
        return 0;
    }
    // 2^63 is exactly representable; anything at or beyond it saturates.
    constexpr double kLimit = 9223372036854775808.0;
    if (number >= kLimit) {
        return std::numeric_limits<int64_t>::max();
    }
    if (number <= -kLimit) {
        return std::numeric_limits<int64_t>::min();
    }
    return static_cast<int64_t>(std::trunc(number));
}

bool textIsTrue(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && isSpace(text[i])) {
        ++i;
    }
    if (i == text.size()) {
        return false;
    }
    const char first = text[i];
    if (first == 'Y' || first == 'y' || first == 'T' || first == 't') {
        return true;
    }
    if (first == '+' || first == '-') {
        ++i;
    }
    while (i < text.size() && text[i] == '0') {
        ++i;
    }
    return i < text.size() && text[i] >= '1' && text[i] <= '9';
}

std::string realText(double number) {
    if (std::isnan(number)) {
        return "nan";
    }
    if (std::isinf(number)) {
        return number < 0 ? "-inf" : "inf";
    }
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, number);
    return std::string(buffer, result.ptr);
}

std::string dateText(const Date& date) {
    const double floored = std::floor(date.secondsSince1970);
    if (!(floored > -6.7e10 && floored < 2.5e11)) {
        return realText(date.secondsSince1970);
    }
    const auto seconds = static_cast<time_t>(floored);
    struct tm parts {};
    if (gmtime_r(&seconds, &parts) == nullptr) {
        return realText(date.secondsSince1970);
    }
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d %02d:%02d:%02d +0000",
                  parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday, parts.tm_hour,
                  parts.tm_min, parts.tm_sec);
    return buffer;
}

// Strings inside containers are quoted unless they are a plain word.
void appendQuoted(std::string& out, std::string_view text) {
    bool plain = !text.empty();
    for (char c : text) {
        const bool word = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                          (c >= '0' && c <= '9') || c == '_' || c == '.' || c == '$' || c == '/' ||
                          c == ':' || c == '-';
        plain = plain && word;
    }
    if (plain) {
        out += text;
        return;
    }
    out += '"';
    for (char c : text) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            out += c;
        }
    }
    out += '"';
}

void appendIndent(std::string& out, size_t level) {
    out.append(level * 4, ' ');
}

// Containers nest; the description of a deeper value than this is cut short rather than risking
// the stack.
constexpr size_t kMaxDescriptionDepth = 512;

void describe(std::string& out, const PlistValue& value, size_t level, bool nested) {
    if (level > kMaxDescriptionDepth) {
        out += "...";
        return;
    }
    switch (value.kind()) {
    case PlistValue::Kind::String:
        if (nested) {
            appendQuoted(out, *value.asString());
        } else {
            out += *value.asString();
        }
        return;
    case PlistValue::Kind::Integer:
        out += std::to_string(*value.asInteger());
        return;
    case PlistValue::Kind::Real:
        out += realText(*value.asReal());
        return;
    case PlistValue::Kind::Boolean:
        out += *value.asBoolean() ? "1" : "0";
        return;
    case PlistValue::Kind::Date:
        out += dateText(*value.asDate());
        return;
    case PlistValue::Kind::Data: {
        static constexpr char kHex[] = "0123456789abcdef";
        out += '<';
        const PlistData& bytes = *value.asData();
        for (size_t i = 0; i < bytes.size(); ++i) {
            if (i > 0 && i % 4 == 0) {
                out += ' ';
            }
            out += kHex[bytes[i] >> 4];
            out += kHex[bytes[i] & 0xF];
        }
        out += '>';
        return;
    }
    case PlistValue::Kind::Array: {
        const PlistArray& items = *value.asArray();
        out += "(";
        for (size_t i = 0; i < items.size(); ++i) {
            out += i == 0 ? "\n" : ",\n";
            appendIndent(out, level + 1);
            describe(out, items[i], level + 1, true);
        }
        if (!items.empty()) {
            out += '\n';
            appendIndent(out, level);
        }
        out += ")";
        return;
    }
    case PlistValue::Kind::Dictionary: {
        const PlistDictionary& members = *value.asDictionary();
        out += "{";
        for (const auto& [key, member] : members) {
            out += '\n';
            appendIndent(out, level + 1);
            appendQuoted(out, key);
            out += " = ";
            describe(out, member, level + 1, true);
            out += ';';
        }
        if (!members.empty()) {
            out += '\n';
            appendIndent(out, level);
        }
        out += "}";
        return;
    }
    }
}

} // namespace

std::optional<int64_t> PlistValue::integerValue() const {
    switch (kind()) {
    case Kind::Integer:
        return *asInteger();
    case Kind::Real:
        return clampReal(*asReal());
    case Kind::Boolean:
        return *asBoolean() ? 1 : 0;
    case Kind::String:
        return leadingInteger(*asString());
    default:
        return std::nullopt;
    }
}

bool PlistValue::boolValue() const {
    switch (kind()) {
    case Kind::Boolean:
        return *asBoolean();
    case Kind::Integer:
        return *asInteger() != 0;
    case Kind::Real:
        return *asReal() != 0.0;
    case Kind::String:
        return textIsTrue(*asString());
    default:
        return false;
    }
}

std::string PlistValue::description() const {
    std::string out;
    describe(out, *this, 0, false);
    return out;
}

namespace {

// Days from 1970-01-01 to the given civil date (proleptic Gregorian).
int64_t daysFromCivil(int64_t year, unsigned month, unsigned day) {
    year -= month <= 2 ? 1 : 0;
    const int64_t era = (year >= 0 ? year : year - 399) / 400;
    const auto yearOfEra = static_cast<unsigned>(year - era * 400);
    const unsigned dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + static_cast<int64_t>(dayOfEra) - 719468;
}

unsigned daysInMonth(int64_t year, unsigned month) {
    static constexpr unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : kDays[month - 1];
}

} // namespace

std::optional<Date> dateFromISO8601(std::string_view text) {
    size_t at = 0;
    // `width` digits at the cursor, or nullopt.
    auto digits = [&](size_t width) -> std::optional<unsigned> {
        if (text.size() - at < width)
            return std::nullopt;
        unsigned value = 0;
        for (size_t i = 0; i < width; ++i) {
            const char c = text[at + i];
            if (c < '0' || c > '9')
                return std::nullopt;
            value = value * 10 + static_cast<unsigned>(c - '0');
        }
        at += width;
        return value;
    };
    auto literal = [&](char c) {
        if (at < text.size() && text[at] == c) {
            ++at;
            return true;
        }
        return false;
    };
    const auto year = digits(4);
    if (!year || !literal('-'))
        return std::nullopt;
    const auto month = digits(2);
    if (!month || !literal('-'))
        return std::nullopt;
    const auto day = digits(2);
    if (!day || !(literal('T') || literal('t')))
        return std::nullopt;
    const auto hour = digits(2);
    if (!hour || !literal(':'))
        return std::nullopt;
    const auto minute = digits(2);
    if (!minute || !literal(':'))
        return std::nullopt;
    const auto second = digits(2);
    if (!second || *month < 1 || *month > 12 || *day < 1 || *day > daysInMonth(*year, *month) ||
        *hour > 23 || *minute > 59 || *second > 60)
        return std::nullopt;
    double fraction = 0;
    if (literal('.') || literal(',')) {
        double scale = 0.1;
        const size_t first = at;
        while (at < text.size() && text[at] >= '0' && text[at] <= '9') {
            fraction += (text[at++] - '0') * scale;
            scale /= 10;
        }
        if (at == first)
            return std::nullopt;
    }
    int64_t offset = 0;
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
        const int64_t sign = text[at++] == '-' ? -1 : 1;
        const auto hours = digits(2);
        if (!hours || !literal(':'))
            return std::nullopt;
        const auto minutes = digits(2);
        if (!minutes || *hours > 23 || *minutes > 59)
            return std::nullopt;
        offset = sign * (*hours * 3600 + *minutes * 60);
    } else {
        literal('Z') || literal('z');
    }
    if (at != text.size())
        return std::nullopt;
    const int64_t seconds = daysFromCivil(*year, *month, *day) * 86400 + int64_t{*hour} * 3600 +
                            int64_t{*minute} * 60 + *second;
    return Date{static_cast<double>(seconds - offset) + fraction};
}

std::optional<Date> dateFromHttpDate(std::string_view text) {
    static constexpr std::array<std::string_view, 7> kDays = {"Mon", "Tue", "Wed", "Thu",
                                                              "Fri", "Sat", "Sun"};
    static constexpr std::array<std::string_view, 7> kLongDays = {
        "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday", "Sunday"};
    static constexpr std::array<std::string_view, 12> kMonths = {
        "Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    size_t at = 0;
    // One of `words` at the cursor: its index, or nullopt.
    auto word = [&](const auto& words) -> std::optional<unsigned> {
        for (unsigned i = 0; i < words.size(); ++i) {
            if (text.substr(at).starts_with(words[i])) {
                at += words[i].size();
                return i;
            }
        }
        return std::nullopt;
    };
    // `width` digits at the cursor (a leading space stands for a zero when `padded`).
    auto digits = [&](size_t width, bool padded = false) -> std::optional<unsigned> {
        if (text.size() - at < width)
            return std::nullopt;
        unsigned value = 0;
        for (size_t i = 0; i < width; ++i) {
            const char c = text[at + i];
            if (padded && i + 1 < width && c == ' ' && value == 0)
                continue;
            if (c < '0' || c > '9')
                return std::nullopt;
            value = value * 10 + static_cast<unsigned>(c - '0');
        }
        at += width;
        return value;
    };
    auto literal = [&](std::string_view expected) {
        if (!text.substr(at).starts_with(expected))
            return false;
        at += expected.size();
        return true;
    };
    std::optional<unsigned> year, month, day, hour, minute, second;
    auto time = [&] {
        return (hour = digits(2)) && literal(":") && (minute = digits(2)) && literal(":") &&
               (second = digits(2));
    };
    bool read = false;
    if (word(kLongDays)) { // Sunday, 06-Nov-94 08:49:37 GMT
        read = literal(", ") && (day = digits(2)) && literal("-") && (month = word(kMonths)) &&
               literal("-") && (year = digits(2)) && literal(" ") && time() && literal(" GMT");
        if (read)
            *year += *year >= 70 ? 1900 : 2000;
    } else if (word(kDays)) {
        if (literal(", ")) // Sun, 06 Nov 1994 08:49:37 GMT
            read = (day = digits(2)) && literal(" ") && (month = word(kMonths)) && literal(" ") &&
                   (year = digits(4)) && literal(" ") && time() && literal(" GMT");
        else // Sun Nov  6 08:49:37 1994
            read = literal(" ") && (month = word(kMonths)) && literal(" ") &&
                   (day = digits(2, true)) && literal(" ") && time() && literal(" ") &&
                   (year = digits(4));
    }
    if (!read || at != text.size())
        return std::nullopt;
    *month += 1;
    if (*day < 1 || *day > daysInMonth(*year, *month) || *hour > 23 || *minute > 59 || *second > 60)
        return std::nullopt;
    const int64_t seconds = daysFromCivil(*year, *month, *day) * 86400 + int64_t{*hour} * 3600 +
                            int64_t{*minute} * 60 + *second;
    return Date{static_cast<double>(seconds)};
}

std::string iso8601FromDate(Date date) {
    constexpr double kFirst = -62135596800.0; // 0001-01-01T00:00:00Z
    constexpr double kLast = 253402300799.0;  // 9999-12-31T23:59:59Z
    const double whole = std::floor(date.secondsSince1970);
    const auto seconds =
        static_cast<int64_t>(std::isnan(whole) ? 0 : std::clamp(whole, kFirst, kLast));
    int64_t days = seconds / 86400;
    int64_t rest = seconds % 86400;
    if (rest < 0) {
        rest += 86400;
        days -= 1;
    }
    days += 719468;
    const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const auto dayOfEra = static_cast<unsigned>(days - era * 146097);
    const unsigned yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const unsigned shiftedMonth = (5 * dayOfYear + 2) / 153;
    const unsigned day = dayOfYear - (153 * shiftedMonth + 2) / 5 + 1;
    const unsigned month = shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9;
    const int64_t year = static_cast<int64_t>(yearOfEra) + era * 400 + (month <= 2 ? 1 : 0);
    char text[96];
    std::snprintf(text, sizeof text, "%04lld-%02u-%02uT%02lld:%02lld:%02lldZ",
                  static_cast<long long>(year), month, day, static_cast<long long>(rest / 3600),
                  static_cast<long long>(rest / 60 % 60), static_cast<long long>(rest % 60));
    return text;
}

std::string storableText(std::string_view text) {
    static constexpr std::string_view kReplacement = "\xEF\xBF\xBD";
    std::string out;
    out.reserve(text.size());
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const auto* const end = p + text.size();
    while (p < end) {
        if (*p == 0) {
            out += kReplacement;
            ++p;
        } else if (*p < 0x80) {
            out += static_cast<char>(*p++);
        } else {
            char32_t cp = 0;
            const int length = utf::decodeUtf8Sequence(p, end, cp);
            if (length < 0) {
                out += kReplacement;
                p += -length;
            } else {
                out.append(reinterpret_cast<const char*>(p), static_cast<size_t>(length));
                p += length;
            }
        }
    }
    return out;
}

} // namespace brenvo::platform
