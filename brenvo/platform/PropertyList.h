// Property-list values: what the host's Info.plist and the user's defaults hold.
//
//   PlistValue interval = bundle.objectForInfoDictionaryKey("BrenvoInterval").value_or(86400);
//   if (auto seconds = interval.integerValue()) ...
#pragma once

#include "brenvo/Export.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace brenvo::platform {

// A point in time, as seconds since 1970-01-01 00:00:00 UTC (fractions allowed).
struct Date {
    double secondsSince1970 = 0;

    // Seconds from `other` to this date: positive when this date is later.
    double timeIntervalSinceDate(const Date& other) const {
        return secondsSince1970 - other.secondsSince1970;
    }
    friend bool operator==(const Date&, const Date&) = default;
};

class PlistValue;
using PlistArray = std::vector<PlistValue>;
using PlistDictionary = std::map<std::string, PlistValue, std::less<>>;
using PlistData = std::vector<uint8_t>;

// One property-list value: string, integer, real, boolean, date, data, array or dictionary.
class BRENVO_EXPORT PlistValue {
public:
    enum class Kind { String, Integer, Real, Boolean, Date, Data, Array, Dictionary };

    PlistValue() : value_(std::string()) {}
    PlistValue(std::string text) : value_(std::move(text)) {}
    PlistValue(std::string_view text) : value_(std::string(text)) {}
    PlistValue(const char* text) : value_(std::string(text)) {}
    // A null or non-text pointer would silently become a crash or a boolean.
    PlistValue(std::nullptr_t) = delete;
    template <typename T> PlistValue(const T*) = delete;
    PlistValue(int number) : value_(int64_t{number}) {}
    PlistValue(int64_t number) : value_(number) {}
    PlistValue(double number) : value_(number) {}
    PlistValue(bool flag) : value_(flag) {}
    PlistValue(Date date) : value_(date) {}
    PlistValue(PlistData bytes) : value_(std::move(bytes)) {}
    PlistValue(PlistArray items) : value_(std::move(items)) {}
    PlistValue(PlistDictionary members) : value_(std::move(members)) {}

    Kind kind() const { return static_cast<Kind>(value_.index()); }

    // Typed access: the value when it is of that kind, else nullptr.
    const std::string* asString() const { return std::get_if<std::string>(&value_); }
    const int64_t* asInteger() const { return std::get_if<int64_t>(&value_); }
    const double* asReal() const { return std::get_if<double>(&value_); }
    const bool* asBoolean() const { return std::get_if<bool>(&value_); }
    const Date* asDate() const { return std::get_if<Date>(&value_); }
    const PlistData* asData() const { return std::get_if<PlistData>(&value_); }
    const PlistArray* asArray() const { return std::get_if<PlistArray>(&value_); }
    const PlistDictionary* asDictionary() const { return std::get_if<PlistDictionary>(&value_); }

    // Integer reading: an integer as it is; a real truncated toward zero and clamped to the
    // 64-bit range; a boolean as 0 or 1; a text by its leading decimal integer after optional
    // white space and sign (clamped; 0 when there are no digits). Dates, data, arrays and
    // dictionaries have no integer reading: nullopt.
    std::optional<int64_t> integerValue() const;

    // Boolean reading: a boolean as it is; a number is true when not zero; a text is true when,
    // after optional white space, it starts with Y, y, T or t, or holds a non-zero integer.
    // Every other kind reads as false.
    bool boolValue() const;

    // The text form used where a value is written into a message: a string as it is, numbers in
    // decimal, booleans as 1 or 0, dates as "2026-12-08 01:10:09 +0000", containers in the
    // old-style property-list form.
    std::string description() const;

    friend bool operator==(const PlistValue&, const PlistValue&) = default;

private:
    std::variant<std::string, int64_t, double, bool, Date, PlistData, PlistArray, PlistDictionary>
        value_;
};

// The date an ISO 8601 text names: "2026-10-02T23:28:05Z", with an optional fraction of a second
// and "Z" or an offset such as "+02:00" (no suffix: UTC); nullopt for anything else.
BRENVO_EXPORT std::optional<Date> dateFromISO8601(std::string_view text);
// The date an HTTP date names: "Sun, 06 Nov 1994 08:49:37 GMT", or one of the two obsolete forms
// "Sunday, 06-Nov-94 08:49:37 GMT" (years 70 to 99 are 19xx, the others 20xx) and
// "Sun Nov  6 08:49:37 1994"; nullopt for anything else. The weekday is not checked.
BRENVO_EXPORT std::optional<Date> dateFromHttpDate(std::string_view text);
// Whole seconds of `date` as "2026-10-02T23:28:05Z", clamped to the years 1 to 9999.
BRENVO_EXPORT std::string iso8601FromDate(Date date);

// A text as a property-list file can hold it: well-formed UTF-8 without NUL characters. Malformed
// bytes (one per maximal ill-formed subpart) and NUL characters become U+FFFD. Whatever is
// compared with a stored text should be compared in this form.
BRENVO_EXPORT std::string storableText(std::string_view text);

} // namespace brenvo::platform
