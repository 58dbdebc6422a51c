// XKJSON: one object that parses and writes JSON, with shared settings.
//
// The facade owns one XKJsonParser and one XKJsonWriter and hands every conversion to the one
// that does the work. Its settings live only in them: maxDepth is read from the parser and set
// on both; humanReadable and sortKeys belong to the writer. When a conversion fails the facade
// takes over a copy of the failing component's trace (later conversions do not change that
// copy) and, if an error out-parameter is given, stores the newest record in it. On success
// neither the facade's trace nor the out-parameter is touched, so after a failure followed by
// a success errorTrace() still shows the failure.
//
//     brenvo::XKJSON json;
//     brenvo::JsonErrorRef error;
//     if (auto reply = json.objectWithString(text, &error))
//         use(*reply);
//     else
//         std::printf("%s\n", error->message().c_str());   // the outermost report
//     json.setHumanReadable(true);
//     auto pretty = json.stringWithObject(*reply, &error);
//
// The error out-parameter is always the last argument and may be null. A literal nullptr for
// a text or a value is refused at compile time (write std::nullopt), and so is a pointer where
// allowScalar expects a bool.
//
// A conversion throws only what its parser or writer throws (std::bad_alloc when memory runs
// out, what a host value's proxyForJson() throws); the facade's trace is then left as it was.
#pragma once

#include "brenvo/Export.h"
#include "brenvo/JSON/XKJsonBase.h"
#include "brenvo/JSON/XKJsonParser.h"
#include "brenvo/JSON/XKJsonWriter.h"

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

namespace brenvo {

class BRENVO_EXPORT XKJSON : public XKJsonBase, public XKJsonParsing, public XKJsonWriting {
public:
    // Creates the writer, then the parser, then sets maxDepth 512 on both.
    XKJSON();
    // Destroys the writer, then the parser.
    ~XKJSON() override;

    // --- Writing ---------------------------------------------------------------------------

    // The writer's stringWithFragment when allowScalar is true, its stringWithObject when
    // false. A null value pointer is an absent value.
    std::optional<std::u16string> stringWithObject(const JsonValue* value, bool allowScalar,
                                                   JsonErrorRef* error);
    std::optional<std::u16string> stringWithObject(const JsonValue& value, bool allowScalar,
                                                   JsonErrorRef* error) {
        return stringWithObject(&value, allowScalar, error);
    }
    // Same as above with allowScalar false.
    std::optional<std::u16string> stringWithObject(const JsonValue* value, JsonErrorRef* error) {
        return stringWithObject(value, false, error);
    }
    std::optional<std::u16string> stringWithObject(const JsonValue& value, JsonErrorRef* error) {
        return stringWithObject(&value, false, error);
    }
    // Same as above with no out-parameter.
    using XKJsonWriting::stringWithObject;
    std::optional<std::u16string> stringWithObject(const JsonValue* value) override {
        return stringWithObject(value, false, nullptr);
    }
    // Same as stringWithObject with allowScalar true.
    std::optional<std::u16string> stringWithFragment(const JsonValue* value, JsonErrorRef* error) {
        return stringWithObject(value, true, error);
    }
    std::optional<std::u16string> stringWithFragment(const JsonValue& value, JsonErrorRef* error) {
        return stringWithObject(&value, true, error);
    }
    // The same conversion with UTF-8 output (lone surrogates as \u escapes).
    std::optional<std::string> utf8StringWithObject(const JsonValue* value, bool allowScalar,
                                                    JsonErrorRef* error);
    std::optional<std::string> utf8StringWithObject(const JsonValue& value, bool allowScalar,
                                                    JsonErrorRef* error) {
        return utf8StringWithObject(&value, allowScalar, error);
    }

    // No value at all: fails like a value that cannot be written.
    std::optional<std::u16string> stringWithObject(std::nullopt_t, bool allowScalar,
                                                   JsonErrorRef* error) {
        return stringWithObject(static_cast<const JsonValue*>(nullptr), allowScalar, error);
    }
    std::optional<std::u16string> stringWithObject(std::nullopt_t, JsonErrorRef* error) {
        return stringWithObject(static_cast<const JsonValue*>(nullptr), false, error);
    }
    std::optional<std::u16string> stringWithFragment(std::nullopt_t, JsonErrorRef* error) {
        return stringWithObject(static_cast<const JsonValue*>(nullptr), true, error);
    }

    template <class Value, class Pointer>
    std::optional<std::u16string> stringWithObject(Value&&, Pointer*, JsonErrorRef*) = delete;
    std::optional<std::u16string> stringWithObject(std::nullptr_t, bool, JsonErrorRef*) = delete;
    std::optional<std::u16string> stringWithObject(std::nullptr_t, JsonErrorRef*) = delete;
    std::optional<std::u16string> stringWithFragment(std::nullptr_t, JsonErrorRef*) = delete;

    // --- Reading ---------------------------------------------------------------------------

    // The parser's fragmentWithString when allowScalar is true, its objectWithString when
    // false. Text is UTF-8 or UTF-16; std::nullopt or a null pointer is no input.
    std::optional<JsonValue> objectWithString(std::optional<std::string_view> text,
                                              bool allowScalar, JsonErrorRef* error);
    std::optional<JsonValue> objectWithString(std::optional<std::u16string_view> text,
                                              bool allowScalar, JsonErrorRef* error);
    std::optional<JsonValue> objectWithString(std::nullopt_t, bool allowScalar,
                                              JsonErrorRef* error) {
        return objectWithString(std::optional<std::string_view>(), allowScalar, error);
    }
    std::optional<JsonValue> objectWithString(const char* text, bool allowScalar,
                                              JsonErrorRef* error);
    std::optional<JsonValue> objectWithString(const char16_t* text, bool allowScalar,
                                              JsonErrorRef* error);

    // Same as above with allowScalar false.
    template <class Text>
    std::optional<JsonValue> objectWithString(Text&& text, JsonErrorRef* error) requires(
        !std::is_same_v<std::remove_cvref_t<Text>, std::nullptr_t>) {
        return objectWithString(std::forward<Text>(text), false, error);
    }
    // Same as above with no out-parameter.
    using XKJsonParsing::objectWithString;
    std::optional<JsonValue> objectWithString(std::optional<std::string_view> text) override {
        return objectWithString(text, false, nullptr);
    }
    std::optional<JsonValue> objectWithString(std::optional<std::u16string_view> text) override {
        return objectWithString(text, false, nullptr);
    }
    // Same as objectWithString with allowScalar true.
    template <class Text>
    std::optional<JsonValue> fragmentWithString(Text&& text, JsonErrorRef* error) requires(
        !std::is_same_v<std::remove_cvref_t<Text>, std::nullptr_t>) {
        return objectWithString(std::forward<Text>(text), true, error);
    }

    template <class Text, class Pointer>
    std::optional<JsonValue> objectWithString(Text&&, Pointer*, JsonErrorRef*) = delete;
    std::optional<JsonValue> objectWithString(std::nullptr_t, bool, JsonErrorRef*) = delete;

    // --- Settings, kept in the components ---------------------------------------------------

    // The parser's limit.
    uint64_t maxDepth() const override;
    // Sets the limit on the parser, then on the writer.
    void setMaxDepth(uint64_t maxDepth) override;
    bool humanReadable() const override;
    void setHumanReadable(bool humanReadable) override;
    bool sortKeys() const override;
    void setSortKeys(bool sortKeys) override;

private:
    // Takes over the component's trace after a failure and fills the out-parameter.
    void adoptFailure(const XKJsonBase& component, JsonErrorRef* error);
    // `result` as it is; an empty one takes over the failing component's trace first.
    template <class Result>
    Result outcome(const XKJsonBase& component, Result result, JsonErrorRef* error) {
        if (!result)
            adoptFailure(component, error);
        return result;
    }

    std::unique_ptr<XKJsonParser> jsonParser_;
    std::unique_ptr<XKJsonWriter> jsonWriter_;
};

} // namespace brenvo
