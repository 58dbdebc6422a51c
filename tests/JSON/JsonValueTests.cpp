#include "brenvo/JSON/JsonValue.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace brenvo {
namespace {

class Color : public JsonHostValue {
public:
    explicit Color(std::optional<JsonValue> proxy) : proxy_(std::move(proxy)) {}
    std::string typeName() const override { return "Color"; }
    std::optional<JsonValue> proxyForJson() const override { return proxy_; }

private:
    std::optional<JsonValue> proxy_;
};

TEST(JsonValue, KindsFromInitializers) {
    const JsonValue value =
        JsonValue::array({nullptr, true, 3, -2.5, "text", u"units", JsonValue::array({}),
                          JsonValue::object({}), std::make_shared<Color>(std::nullopt)});
    const std::vector<JsonValue::Kind> kinds = {
        JsonValue::Kind::Null,   JsonValue::Kind::Boolean, JsonValue::Kind::Number,
        JsonValue::Kind::Number, JsonValue::Kind::String,  JsonValue::Kind::String,
        JsonValue::Kind::Array,  JsonValue::Kind::Object,  JsonValue::Kind::Host};
    ASSERT_EQ(value.asArray()->size(), kinds.size());
    for (std::size_t i = 0; i < kinds.size(); ++i)
        EXPECT_EQ((*value.asArray())[i].kind(), kinds[i]) << i;

    EXPECT_EQ(JsonValue(-2.5).asNumber()->stringValue(), "-2.5");
    EXPECT_EQ(*JsonValue("caf\xc3\xa9").asString(), u"caf\u00e9");
    EXPECT_TRUE(JsonValue(std::nan("")).isHost());
    EXPECT_TRUE(JsonValue(std::shared_ptr<const JsonHostValue>()).isNull());
}

TEST(JsonValue, EqualityByContent) {
    struct Case {
        JsonValue a, b;
        bool equal;
    };
    auto host = std::make_shared<Color>(std::nullopt);
    const Case cases[] = {
        {true, 1, false}, // booleans are never numbers
        {false, 0, false},
        {nullptr, false, false},
        {1, *Decimal::fromString("1.00"), true},
        {"a", u"a", true},
        {"a", "b", false},
        {JsonValue::array({1, 2}), JsonValue::array({1, 2}), true},
        {JsonValue::array({1, 2}), JsonValue::array({2, 1}), false},
        {JsonValue::array({1}), JsonValue::array({1, 1}), false},
        {JsonValue::object({{"a", 1}, {"b", 2}}), JsonValue::object({{"b", 2}, {"a", 1}}), true},
        {JsonValue::object({{"a", 1}}), JsonValue::object({{"a", 2}}), false},
        {JsonValue::object({{"a", 1}}), JsonValue::object({{"b", 1}}), false},
        {host, host, true},
        {host, std::make_shared<Color>(std::nullopt), false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.a == c.b, c.equal);
        EXPECT_EQ(c.b == c.a, c.equal);
    }
}

TEST(JsonObject, SortedUniqueKeys) {
    JsonValue value = JsonValue::object(
        {{"b", 1}, {"a", 2}, {"b", 3}, {u"\uFFFF", 4}, {u"\U0001F600", 5}, {"", 6}});
    const JsonObject& object = *value.asObject();
    std::vector<std::u16string> keys;
    for (const auto& [key, member] : object)
        keys.push_back(key.str());
    // UTF-16 unit order: the surrogate pair (0xD83D...) sorts before U+FFFF.
    EXPECT_EQ(keys, (std::vector<std::u16string>{u"", u"a", u"b", u"\U0001F600", u"\uFFFF"}));
    EXPECT_EQ(*object.find(u"b"), JsonValue(3));
    EXPECT_EQ(object.find("missing"), nullptr);

    JsonObject& mutableObject = *value.asObject();
    mutableObject.set("c", "new");
    mutableObject.set(u"a", nullptr);
    EXPECT_TRUE(mutableObject.erase(u"b"));
    EXPECT_FALSE(mutableObject.erase(u"b"));
    EXPECT_EQ(value,
              JsonValue::object(
                  {{"", 6}, {"a", nullptr}, {"c", "new"}, {u"\U0001F600", 5}, {u"\uFFFF", 4}}));
}

TEST(JsonString, InlineAndHeapForms) {
    // Sizes around the inline limit of 7 units, and text with units beyond ASCII.
    const std::u16string texts[] = {u"",
                                    u"abcdefg",
                                    u"abcdefgh",
                                    std::u16string(1000, u'x'),
                                    u"\U0001F600\u00e9 z",
                                    std::u16string(7, u'\xFFFF')};
    for (const std::u16string& text : texts) {
        JsonString s(text);
        EXPECT_EQ(s.size(), text.size());
        EXPECT_EQ(s.str(), text);
        EXPECT_EQ(s, std::u16string_view(text));
        JsonString copy = s;
        JsonString moved = std::move(s);
        EXPECT_TRUE(s.empty()); // NOLINT(bugprone-use-after-move): the moved-from state
        EXPECT_EQ(copy, moved);
        EXPECT_EQ(moved.view(), text);
        copy = JsonString(u"other text, long enough for the heap");
        EXPECT_EQ(moved.view(), text); // copies share nothing
        moved = std::move(copy);
        EXPECT_EQ(moved, std::u16string_view(u"other text, long enough for the heap"));
    }
    // Unit order, with a prefix shorter than its extension on both sides of the limit.
    EXPECT_LT(JsonString(u"abcdefg"), JsonString(u"abcdefgh"));
    EXPECT_LT(JsonString(u"abcdefgh"), JsonString(u"abcdefgi"));
    EXPECT_LT(JsonString(u"\U0001F600"), JsonString(u"\uFFFF"));
    EXPECT_NE(JsonString(u"abcdefgh"), JsonString(u"abcdefg"));
}

TEST(JsonArray, GrowsCopiesAndKeepsElements) {
    JsonValue::Array array;
    for (int i = 0; i < 100'000; ++i)
        array.push_back(i % 3 == 0 ? JsonValue(i) : JsonValue(std::to_string(i) + " as text"));
    ASSERT_EQ(array.size(), 100'000u);
    EXPECT_EQ(array[99'998], JsonValue("99998 as text"));
    // An element of the array itself survives the growth its own copy causes.
    while (array.size() < array.capacity())
        array.push_back(nullptr);
    array.push_back(array[1]);
    EXPECT_EQ(array.back(), JsonValue("1 as text"));
    const JsonValue::Array copy = array;
    EXPECT_TRUE(copy == array);
    array.pop_back();
    EXPECT_FALSE(copy == array);
    array.clear();
    EXPECT_TRUE(array.empty());
    EXPECT_EQ(copy.front(), JsonValue(0));
    const JsonValue::Array fromVector(std::vector<JsonValue>{1, "two", JsonValue::array({3})});
    EXPECT_EQ(JsonValue(fromVector), JsonValue::array({1, "two", JsonValue::array({3})}));
}

TEST(JsonRef, AbsencePropagates) {
    const JsonValue reply = JsonValue::object(
        {{"results", JsonValue::array({JsonValue::object({{"version", "2.1"}, {"n", nullptr}})})},
         {"resultCount", 1}});
    JsonRef ref(reply);
    EXPECT_EQ(ref["results"][0]["version"].stringUtf8(), "2.1");
    EXPECT_TRUE(ref["results"][0]["n"].isNull());
    EXPECT_FALSE(ref["results"][0]["n"].isAbsent());

    const JsonRef misses[] = {ref["nope"]["x"][0], ref["results"][1]["version"],
                              ref["results"][-1],  ref["resultCount"][0],
                              ref["results"]["0"], JsonRef(std::optional<JsonValue>())[0]};
    for (const JsonRef& miss : misses) {
        EXPECT_TRUE(miss.isAbsent());
        EXPECT_FALSE(miss.isNull());
        EXPECT_EQ(miss.asString(), nullptr);
        EXPECT_FALSE(miss.stringUtf8());
    }
    EXPECT_EQ(ref["resultCount"].asString(), nullptr);
    EXPECT_EQ(ref["resultCount"].asNumber()->int64Value(), 1);
}

TEST(JsonValue, MillionDeepIsDestroyedCopiedAndCompared) {
    constexpr int kDepth = 1'000'000;
    auto build = [] {
        JsonValue value = JsonValue::object({{"leaf", 1}});
        for (int i = 0; i < kDepth; ++i) {
            JsonValue outer = (i % 2) ? JsonValue::array() : JsonValue::object();
            if (outer.isArray())
                outer.asArray()->push_back(std::move(value));
            else
                outer.asObject()->set(u"k", std::move(value));
            value = std::move(outer);
        }
        return value;
    };
    JsonValue a = build();
    JsonValue b = a;
    EXPECT_TRUE(a == b);
    JsonValue c = build();
    EXPECT_TRUE(a == c);
    // Change the innermost leaf of c only.
    JsonValue* leaf = &c;
    while (!leaf->asObject() || !leaf->asObject()->find(u"leaf"))
        leaf = leaf->isArray() ? &(*leaf->asArray())[0] : leaf->asObject()->find(u"k");
    leaf->asObject()->set(u"leaf", 2);
    EXPECT_FALSE(a == c);
    b = JsonValue();
    a = std::move(c);
}

TEST(JsonValue, AssigningAChildToItsParent) {
    JsonValue value = JsonValue::array({JsonValue::array({1, 2}), 3});
    value = JsonValue((*value.asArray())[0]);
    EXPECT_EQ(value, JsonValue::array({1, 2}));
    value = std::move((*value.asArray())[1]);
    EXPECT_EQ(value, JsonValue(2));
}

} // namespace
} // namespace brenvo
