// The table of messages documents an example input for each: every example fails with its
// message, so the documentation cannot drift from what the parser and the writer do.
#include "brenvo/JSON/JsonMessages.h"
#include "brenvo/JSON/XKJsonParser.h"
#include "brenvo/JSON/XKJsonWriter.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace brenvo {
namespace {

// A value of a type named in a writer example ("<Name>"), which offers no proxy.
class ExampleHost : public JsonHostValue {
public:
    explicit ExampleHost(std::string name) : name_(std::move(name)) {}
    std::string typeName() const override { return name_; }

private:
    std::string name_;
};

// The value of a writer example: every string "<Name>" in it becomes a value of type Name.
JsonValue withHosts(const JsonValue& value) {
    if (const JsonValue::Array* array = value.asArray()) {
        JsonValue::Array out;
        for (const JsonValue& element : *array)
            out.push_back(withHosts(element));
        return JsonValue(std::move(out));
    }
    if (const JsonObject* object = value.asObject()) {
        JsonObject out;
        for (const JsonMember& member : *object)
            out.set(member.key, withHosts(member.value));
        return JsonValue(std::move(out));
    }
    const std::string text = JsonRef(value).stringUtf8().value_or("");
    if (text.size() < 2 || text.front() != '<' || text.back() != '>')
        return value;
    return JsonValue(std::make_shared<ExampleHost>(text.substr(1, text.size() - 2)));
}

// Whether the trace holds the message, its placeholder standing for any text.
bool traceHas(const XKJsonBase& component, const JsonMessageEntry& entry) {
    const std::size_t at = entry.text.find('%');
    const std::string_view head = entry.text.substr(0, at);
    const std::string_view tail = at == std::string_view::npos ? "" : entry.text.substr(at + 2);
    for (const JsonErrorRef& record : component.errorTrace().value_or(std::vector<JsonErrorRef>{}))
        if (record->code() == entry.code && record->message().starts_with(head) &&
            record->message().ends_with(tail) &&
            (at == std::string_view::npos ? record->message() == head
                                          : record->message().size() > head.size() + tail.size()))
            return true;
    return false;
}

TEST(JsonMessages, EveryExampleFailsWithItsMessage) {
    for (const JsonMessageEntry& entry : kJsonMessages) {
        // No example text can show these (the parser's and the writer's tests do).
        if (!entry.example)
            continue;
        if (entry.source != JsonMessageSource::Writer) {
            XKJsonParser parser;
            parser.setMaxDepth(1);
            EXPECT_FALSE(parser.objectWithString(entry.example)) << entry.text;
            EXPECT_TRUE(traceHas(parser, entry)) << entry.text;
        }
        if (entry.source != JsonMessageSource::Parser) {
            XKJsonParser parser;
            parser.setMaxDepth(0);
            const std::optional<JsonValue> value = parser.fragmentWithString(entry.example);
            ASSERT_TRUE(value) << entry.text;
            XKJsonWriter writer;
            writer.setMaxDepth(1);
            EXPECT_FALSE(writer.stringWithObject(withHosts(*value))) << entry.text;
            EXPECT_TRUE(traceHas(writer, entry)) << entry.text;
        }
    }
}

} // namespace
} // namespace brenvo
