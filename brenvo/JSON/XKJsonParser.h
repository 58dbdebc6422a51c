// XKJsonParser: the strict JSON parser, text to JsonValue.
//
// fragmentWithString parses one JSON value of any kind; objectWithString accepts only an
// object or an array. Both return std::nullopt on failure and leave the reasons in
// errorTrace(), oldest (innermost) first:
//
//     brenvo::XKJsonParser parser;
//     std::optional<brenvo::JsonValue> value = parser.objectWithString(R"({"a": [1, 2.50]})");
//     parser.objectWithString("[1 2]");
//     // errorTrace(): 3 "Expected ',' or ']' after array element"; errorPosition(): 3
//
// The grammar is JSON's, with these rules of this parser's own:
// - Whitespace is the six bytes space, tab, line feed, vertical tab, form feed and carriage
//   return.
// - The input is UTF-8; a NUL byte (or U+0000 in a UTF-16 text) ends it, and nothing after
//   it is read.
// - Numbers become exact Decimals made from their text; an exponent beyond
//   Decimal::kMaxExponent fails with 2 "Failed creating decimal instance".
// - A later object member replaces an earlier one with an equal key.
//
// Failures this parser defines beyond the common ones (every message is in JsonMessages.h):
// - An array element followed by something other than ",", "]" or the end of the input:
//   3 "Expected ',' or ']' after array element"; an object member likewise:
//   3 "Expected ',' or '}' after object member".
// - String content that is not well-formed UTF-8 (overlong forms, surrogates, code points
//   above U+10FFFF, stray or missing continuation bytes): 6 "Invalid UTF-8 sequence in
//   string", followed by the records of the enclosing containers as for any string failure.
// - A UTF-16 text holding an unpaired surrogate (it has no UTF-8 form) is not scanned at all:
//   6 "Input is not valid UTF-16".
// - A byte of 0x80 or above after a backslash is shown as that byte's value:
//   8 "Illegal escape sequence '0xc3'".
// - Nesting: maxDepth 0 means the hard limit kNestingHardLimit; beyond it the parse fails with
//   7 "Nested too deep" just as beyond a maxDepth of the caller's, which may be set higher. The
//   parser keeps its open containers on a heap stack, never on the machine stack, so no input
//   can overflow the stack; the limit bounds the memory of the error trace (one record per
//   open container).
// - A container of more than 2^32 - 1 entries fails with 13 "Array has more than 4294967295
//   elements" (or "Object has more than 4294967295 members").
// - Exceptions: a parse throws std::bad_alloc when memory runs out, and passes on whatever the
//   error-trace observer throws; nothing else. Either way the parse gives no value, and the
//   parser, its stacks and its kept storage are left as good as new: the next parse on it runs
//   as on a new parser.
#pragma once

#include "brenvo/Export.h"
#include "brenvo/JSON/JsonValue.h"
#include "brenvo/JSON/XKJsonBase.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>

namespace brenvo {

// The parser interface: one operation, objectWithString, which accepts an object or an array.
// Implemented by XKJsonParser and by the XKJSON facade.
class BRENVO_EXPORT XKJsonParsing {
public:
    virtual ~XKJsonParsing();

    // UTF-8 text, or std::nullopt for no input (12 "Input was 'nil'").
    virtual std::optional<JsonValue> objectWithString(std::optional<std::string_view> text) = 0;
    // UTF-16 text, or std::nullopt for no input.
    virtual std::optional<JsonValue> objectWithString(std::optional<std::u16string_view> text) = 0;

    // No input.
    std::optional<JsonValue> objectWithString(std::nullopt_t) {
        return objectWithString(std::optional<std::string_view>());
    }
    // A zero-terminated UTF-8 text; a null pointer is no input.
    std::optional<JsonValue> objectWithString(const char* text);
    // A zero-terminated UTF-16 text; a null pointer is no input.
    std::optional<JsonValue> objectWithString(const char16_t* text);
    // A literal nullptr is ambiguous between the forms above: write std::nullopt.
    std::optional<JsonValue> objectWithString(std::nullptr_t) = delete;
};

// A parser is meant to be kept and reused: between parses it keeps what made the last one fast,
// and gives it all back when it is destroyed:
// - its input buffer, for inputs up to 1 MiB, and its stacks;
// - the storage of its last document, up to 8 MiB, which the next document fills again once
//   the last one is gone (storage a live document uses is never touched);
// - the member order of up to 64 object shapes (keys in their given order), so that objects
//   repeating a shape are not sorted again.
class BRENVO_EXPORT XKJsonParser : public XKJsonBase, public XKJsonParsing {
public:
    // The nesting limit that applies with maxDepth 0.
    static constexpr uint64_t kNestingHardLimit = 100'000;

    XKJsonParser();
    ~XKJsonParser() override;

    // One JSON value of any kind, with optional whitespace around it.
    std::optional<JsonValue> fragmentWithString(std::optional<std::string_view> text);
    std::optional<JsonValue> fragmentWithString(std::optional<std::u16string_view> text);
    std::optional<JsonValue> fragmentWithString(std::nullopt_t) {
        return fragmentWithString(std::optional<std::string_view>());
    }
    std::optional<JsonValue> fragmentWithString(const char* text);
    std::optional<JsonValue> fragmentWithString(const char16_t* text);
    std::optional<JsonValue> fragmentWithString(std::nullptr_t) = delete;

    // An object or an array; any other value fails with 4 "Valid fragment, but not JSON".
    using XKJsonParsing::objectWithString;
    std::optional<JsonValue> objectWithString(std::optional<std::string_view> text) override;
    std::optional<JsonValue> objectWithString(std::optional<std::u16string_view> text) override;

    // Where the last parse failed: the byte offset, in the UTF-8 form of its input, at which it
    // found its first error (the innermost cause, first in the trace). That is the byte it could
    // not take, the start of a bad escape sequence, literal or number, or the end of the input;
    // for 4 "Valid fragment, but not JSON", the start of the value. std::nullopt after a success
    // and when no text was scanned (no input, a UTF-16 text without a UTF-8 form).
    std::optional<std::size_t> errorPosition() const { return errorPosition_; }

private:
    struct Scratch;

    std::optional<JsonValue> parseBytes(const char* begin, std::size_t size);
    std::optional<JsonValue> keepContainer(std::optional<JsonValue> value);

    // Reusable stacks, input buffer, storage and member orders, kept between parses.
    std::unique_ptr<Scratch> scratch_;
    std::optional<std::size_t> errorPosition_;
    std::size_t valueStart_ = 0; // where the last parsed value starts
};

} // namespace brenvo
