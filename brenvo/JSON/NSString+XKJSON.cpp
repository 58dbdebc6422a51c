#include "brenvo/JSON/NSString+XKJSON.h"

#include "brenvo/JSON/JsonLog.h"
#include "brenvo/JSON/XKJsonParser.h"

namespace brenvo {
namespace {

enum class Form { Fragment, Object };

template <class Text> std::optional<JsonValue> parseOnce(Form form, const Text& text) {
    XKJsonParser parser;
    if (form == Form::Fragment)
        return detail::logFailure("JSONFragmentValue", parser, parser.fragmentWithString(text));
    return detail::logFailure("JSONValue", parser, parser.objectWithString(text));
}

} // namespace

std::optional<JsonValue> JSONFragmentValue(std::optional<std::string_view> text) {
    return text ? parseOnce(Form::Fragment, text) : std::nullopt;
}

std::optional<JsonValue> JSONFragmentValue(std::optional<std::u16string_view> text) {
    return text ? parseOnce(Form::Fragment, text) : std::nullopt;
}

std::optional<JsonValue> JSONFragmentValue(const char* text) {
    return text ? JSONFragmentValue(std::optional<std::string_view>(text)) : std::nullopt;
}

std::optional<JsonValue> JSONFragmentValue(const char16_t* text) {
    return text ? JSONFragmentValue(std::optional<std::u16string_view>(text)) : std::nullopt;
}

std::optional<JsonValue> JSONValue(std::optional<std::string_view> text) {
    return text ? parseOnce(Form::Object, text) : std::nullopt;
}

std::optional<JsonValue> JSONValue(std::optional<std::u16string_view> text) {
    return text ? parseOnce(Form::Object, text) : std::nullopt;
}

std::optional<JsonValue> JSONValue(const char* text) {
    return text ? JSONValue(std::optional<std::string_view>(text)) : std::nullopt;
}

std::optional<JsonValue> JSONValue(const char16_t* text) {
    return text ? JSONValue(std::optional<std::u16string_view>(text)) : std::nullopt;
}

} // namespace brenvo
