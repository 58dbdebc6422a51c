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

// The host values of the writer examples: "<Name>" offers no proxy, "<Name@>" is its own proxy,
// "<Name+>" has a new value of its kind as proxy.
class ExampleHost : public JsonHostValue, public std::enable_shared_from_this<ExampleHost> {
public:
    ExampleHost(std::string name, char proxy) : name_(std::move(name)), proxy_(proxy) {}
    std::string typeName() const override { return name_; }
    std::optional<JsonValue> proxyForJson() const override {
        if (proxy_ == '@')
            return JsonValue(shared_from_this());
        if (proxy_ == '+')
            return JsonValue(std::make_shared<ExampleHost>(name_, proxy_));
        return std::nullopt;
    }

private:
    std::string name_;
    char proxy_;
};

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
    const std::optional<std::string> text = JsonRef(value).stringUtf8();
    if (!text || text->size() < 2 || text->front() != '<' || text->back() != '>')
        return value;
    std::string name = text->substr(1, text->size() - 2);
    char proxy = 0;
    if (name.back() == '@' || name.back() == '+') {
        proxy = name.back();
        name.pop_back();
    }
    return JsonValue(std::make_shared<ExampleHost>(name, proxy));
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
        // No example text can show these (no input and UTF-16 text are in the parser's tests,
        // a text larger than memory in the writer's).
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
