#include "brenvo/JSON/XKJSON.h"

namespace brenvo {

XKJSON::XKJSON() {
    jsonWriter_ = std::make_unique<XKJsonWriter>();
    jsonParser_ = std::make_unique<XKJsonParser>();
    setMaxDepth(kDefaultMaxDepth);
}

XKJSON::~XKJSON() {
    jsonWriter_.reset();
    jsonParser_.reset();
}

void XKJSON::adoptFailure(const XKJsonBase& component, JsonErrorRef* error) {
    // A list of the facade's own: the component's later conversions do not touch it.
    replaceErrorTrace(component.errorTrace());
    if (error) {
        if (JsonErrorRef newest = lastError())
            *error = std::move(newest);
    }
}

std::optional<std::u16string> XKJSON::stringWithObject(const JsonValue* value, bool allowScalar,
                                                       JsonErrorRef* error) {
    XKJsonWriter& writer = *jsonWriter_;
    return outcome(writer,
                   allowScalar ? writer.stringWithFragment(value) : writer.stringWithObject(value),
                   error);
}

std::optional<std::string> XKJSON::utf8StringWithObject(const JsonValue* value, bool allowScalar,
                                                        JsonErrorRef* error) {
    XKJsonWriter& writer = *jsonWriter_;
    return outcome(writer,
                   allowScalar ? writer.utf8StringWithFragment(value)
                               : writer.utf8StringWithObject(value),
                   error);
}

std::optional<JsonValue> XKJSON::objectWithString(std::optional<std::string_view> text,
                                                  bool allowScalar, JsonErrorRef* error) {
    XKJsonParser& parser = *jsonParser_;
    return outcome(parser,
                   allowScalar ? parser.fragmentWithString(text) : parser.objectWithString(text),
                   error);
}

std::optional<JsonValue> XKJSON::objectWithString(std::optional<std::u16string_view> text,
                                                  bool allowScalar, JsonErrorRef* error) {
    XKJsonParser& parser = *jsonParser_;
    return outcome(parser,
                   allowScalar ? parser.fragmentWithString(text) : parser.objectWithString(text),
                   error);
}

std::optional<JsonValue> XKJSON::objectWithString(const char* text, bool allowScalar,
                                                  JsonErrorRef* error) {
    return text ? objectWithString(std::optional<std::string_view>(text), allowScalar, error)
                : objectWithString(std::nullopt, allowScalar, error);
}

std::optional<JsonValue> XKJSON::objectWithString(const char16_t* text, bool allowScalar,
                                                  JsonErrorRef* error) {
    return text ? objectWithString(std::optional<std::u16string_view>(text), allowScalar, error)
                : objectWithString(std::nullopt, allowScalar, error);
}

uint64_t XKJSON::maxDepth() const {
    return jsonParser_ ? jsonParser_->maxDepth() : XKJsonBase::maxDepth();
}

void XKJSON::setMaxDepth(uint64_t maxDepth) {
    // Before the components exist (during construction) there is nothing to set.
    if (jsonParser_)
        jsonParser_->setMaxDepth(maxDepth);
    if (jsonWriter_)
        jsonWriter_->setMaxDepth(maxDepth);
}

bool XKJSON::humanReadable() const {
    return jsonWriter_->humanReadable();
}

void XKJSON::setHumanReadable(bool humanReadable) {
    jsonWriter_->setHumanReadable(humanReadable);
}

bool XKJSON::sortKeys() const {
    return jsonWriter_->sortKeys();
}

void XKJSON::setSortKeys(bool sortKeys) {
    jsonWriter_->setSortKeys(sortKeys);
}

} // namespace brenvo
