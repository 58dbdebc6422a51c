// XKJsonWriter: JsonValue to JSON text.
//
// stringWithObject accepts an object or an array (a complete JSON text); stringWithFragment
// accepts any value. Output is compact by default; setHumanReadable(true) writes one element
// per line, two spaces of indentation per level and " : " between key and value. Both return
// std::nullopt on failure and leave the reasons in errorTrace(), oldest (innermost) first.
//
//     brenvo::XKJsonWriter writer;
//     writer.setHumanReadable(true);
//     auto text = writer.stringWithObject(brenvo::JsonValue::array({1, true}));
//     // u"[\n  1,\n  true\n]"
//     writer.stringWithObject(brenvo::JsonValue(true));
//     // std::nullopt; errorTrace(): 4 "Not valid type for JSON"
//
// Rules of this writer:
// - The text is UTF-16 (std::u16string, like JsonValue strings). Strings are written with
//   their units unchanged except the quotation mark, the backslash and the units 0x00-0x1F,
//   which are escaped (\" \\ \b \t \n \f \r, otherwise \u00xx in lower-case hex). Non-ASCII
//   text and surrogates, paired or lone, pass through unchanged.
// - The utf8StringWith... forms and the appendValue overload into a std::string write UTF-8.
//   A lone surrogate has no UTF-8 form; there it is written as a \u escape in lower-case hex
//   ("\ud800"), which is valid JSON for the same string but which XKJsonParser does not accept
//   back (it fails with 6 "Missing low character in surrogate pair"): a string holding a lone
//   surrogate does not survive a round trip through this writer and parser. A surrogate pair
//   becomes the one four-byte character.
// - A number is written as Decimal::stringValue(): a number read from JSON text comes back
//   with the digits, point and exponent it was read with; an exponent is never expanded.
// - Object keys are UTF-16 strings by type, so the failure "JSON object key must be string"
//   cannot arise here. Objects keep their members sorted by key (UTF-16 unit order), so keys
//   come out in ascending order whether or not sortKeys is set.
// - A host object (JsonHostValue) is written as the value its proxyForJson() returns. One
//   that offers no proxy fails with 1 "JSON serialisation not supported for <typeName>"; an
//   absent value (std::nullopt, or a null pointer) counts as such a value, named "nil". A
//   value's chain of proxies (a proxy that is itself a host value, and so on) may be
//   kMaxProxyNesting long; a longer one fails with 1 "JSON serialisation not supported for
//   <typeName> (proxyForJson nested more than 64 deep)". A proxy that leads back to a host
//   value whose proxy is being written (a proxy that returns its own value, or an array
//   holding it) fails with 1 "JSON serialisation not supported for <typeName> (proxyForJson
//   leads back to it)". Proxies that make new values without end, each inside a container,
//   are bounded by maxDepth only.
// - When memory for the text runs out (pretty output of a deeply nested value asks for the
//   square of its depth), the conversion fails with 13 "Not enough memory for the JSON text".
// - Exceptions: a conversion passes on what the error-trace observer or a host value's
//   proxyForJson() throws, and std::bad_alloc when even its error record finds no memory. The
//   string of an append is then left as it was before the call, and the writer as good as new.
// - Nesting: arrays and objects deeper than a non-zero maxDepth fail with 7 "Nested too deep".
//   The writer keeps its open containers on a heap stack, never on the machine stack, so even
//   with maxDepth 0 no value can overflow the stack.
// - Every object enclosing a failed value adds 1 "Unsupported value for key <key> in object"
//   (the key as it is, unquoted), innermost object first; arrays add nothing.
#pragma once

#include "brenvo/Export.h"
#include "brenvo/JSON/JsonValue.h"
#include "brenvo/JSON/XKJsonBase.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace brenvo {

namespace detail {
template <class Char> class WriterEngine;
} // namespace detail

// The writer interface: stringWithObject and the two layout switches. Implemented by
// XKJsonWriter and by the XKJSON facade, so either can be used through it.
class BRENVO_EXPORT XKJsonWriting {
public:
    virtual ~XKJsonWriting();

    // The JSON text of an object or an array; any other value fails with
    // 4 "Not valid type for JSON". A null pointer is an absent value.
    virtual std::optional<std::u16string> stringWithObject(const JsonValue* value) = 0;
    std::optional<std::u16string> stringWithObject(const JsonValue& value) {
        return stringWithObject(&value);
    }
    std::optional<std::u16string> stringWithObject(std::nullopt_t) {
        return stringWithObject(static_cast<const JsonValue*>(nullptr));
    }
    // Ambiguous between JSON null and no value: write JsonValue() or std::nullopt.
    std::optional<std::u16string> stringWithObject(std::nullptr_t) = delete;

    virtual bool humanReadable() const = 0;
    virtual void setHumanReadable(bool humanReadable) = 0;
    virtual bool sortKeys() const = 0;
    virtual void setSortKeys(bool sortKeys) = 0;
};

class BRENVO_EXPORT XKJsonWriter : public XKJsonBase, public XKJsonWriting {
public:
    // How many proxies may stand in for one another for one value.
    static constexpr std::size_t kMaxProxyNesting = 64;

    // The units that cannot stand unchanged inside a JSON string: 0x00-0x1F, the quotation
    // mark and the backslash, 34 in all.
    static const std::u16string_view kEscapeChars;

    XKJsonWriter();
    ~XKJsonWriter() override;

    // Any value. A null pointer (or std::nullopt) fails with
    // 1 "JSON serialisation not supported for nil".
    std::optional<std::u16string> stringWithFragment(const JsonValue* value);
    std::optional<std::u16string> stringWithFragment(const JsonValue& value) {
        return stringWithFragment(&value);
    }
    std::optional<std::u16string> stringWithFragment(std::nullopt_t) {
        return stringWithFragment(static_cast<const JsonValue*>(nullptr));
    }
    std::optional<std::u16string> stringWithFragment(std::nullptr_t) = delete;

    // An object or an array, directly or through proxyForJson. Any failure leaves the single
    // record 4 "Not valid type for JSON" when the top value is not itself a container.
    using XKJsonWriting::stringWithObject;
    std::optional<std::u16string> stringWithObject(const JsonValue* value) override;

    // The same conversions with UTF-8 output (lone surrogates as \u escapes).
    std::optional<std::string> utf8StringWithFragment(const JsonValue* value);
    std::optional<std::string> utf8StringWithFragment(const JsonValue& value) {
        return utf8StringWithFragment(&value);
    }
    std::optional<std::string> utf8StringWithFragment(std::nullptr_t) = delete;
    std::optional<std::string> utf8StringWithObject(const JsonValue* value);
    std::optional<std::string> utf8StringWithObject(const JsonValue& value) {
        return utf8StringWithObject(&value);
    }
    std::optional<std::string> utf8StringWithObject(std::nullptr_t) = delete;

    bool humanReadable() const override { return humanReadable_; }
    void setHumanReadable(bool humanReadable) override { humanReadable_ = humanReadable; }
    bool sortKeys() const override { return sortKeys_; }
    void setSortKeys(bool sortKeys) override { sortKeys_ = sortKeys; }

    // Building blocks of a conversion, usable on their own: each appends the text of one value
    // to `into` at the writer's current depth and returns true, or returns false, records its
    // failure and leaves `into` and the depth as they were. They do not clear the trace.
    bool appendValue(const JsonValue& value, std::u16string& into);
    bool appendValue(const JsonValue& value, std::string& into);
    bool appendArray(const JsonValue::Array& array, std::u16string& into);
    bool appendDictionary(const JsonObject& object, std::u16string& into);
    // A quoted, escaped string; fails only when memory runs out.
    bool appendString(std::u16string_view string, std::u16string& into);
    bool appendString(std::u16string_view string, std::string& into);

    // A line feed and two spaces per open container at the current depth.
    std::u16string indent() const;

private:
    struct Scratch;
    template <class Char> friend class detail::WriterEngine;

    template <class Char> std::optional<std::basic_string<Char>> fragment(const JsonValue* value);
    template <class Char> std::optional<std::basic_string<Char>> object(const JsonValue* value);
    template <class Char>
    bool append(const JsonValue* value, const JsonValue::Array* array, const JsonObject* object,
                std::basic_string<Char>& into);

    bool sortKeys_ = false;
    bool humanReadable_ = false;
    std::unique_ptr<Scratch> scratch_;
};

} // namespace brenvo
