// The order of object members, for objects parsed and objects built by host code alike: keys
// in UTF-16 unit order, and of equal keys the last one given, against a plain ordered map.
#include "brenvo/JSON/JsonValue.h"
#include "brenvo/JSON/XKJsonParser.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace brenvo {
namespace {

std::string jsonKey(const std::u16string& key) {
    std::string out = "\"";
    for (char16_t unit : key) {
        char escaped[8];
        std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(unit));
        out += escaped;
    }
    return out + "\"";
}

std::vector<std::pair<std::u16string, int>> membersOf(const JsonValue& value) {
    std::vector<std::pair<std::u16string, int>> out;
    for (const JsonMember& member : *value.asObject())
        out.emplace_back(member.key.str(),
                         static_cast<int>(*member.value.asNumber()->int64Value()));
    return out;
}

TEST(Members, KeyOrderAndTheLastOfEqualKeys) {
    // Few distinct units, so that keys share long prefixes (beyond eight units too), differ
    // only in length or after zero units, and often repeat.
    const std::u16string alphabet = {u'\0', u'a', u'b', u'\uFFFF'};
    std::mt19937 random(7);
    XKJsonParser parser;
    for (const int count : {2, 17, 300, 5000}) {
        for (int round = 0; round < 4; ++round) {
            std::map<std::u16string, int> expected;
            std::vector<JsonMember> members;
            std::string text = "{";
            for (int i = 0; i < count; ++i) {
                std::u16string key = round == 3 ? u"prefix12" : u"";
                const std::size_t length = random() % 13;
                for (std::size_t j = 0; j < length; ++j)
                    key += alphabet[random() % alphabet.size()];
                expected[key] = i;
                text += (i ? "," : "") + jsonKey(key) + ":" + std::to_string(i);
                members.emplace_back(JsonString(key), JsonValue(i));
            }
            text += "}";
            const std::vector<std::pair<std::u16string, int>> ordered(expected.begin(),
                                                                      expected.end());
            const std::optional<JsonValue> parsed = parser.fragmentWithString(text);
            ASSERT_TRUE(parsed.has_value());
            EXPECT_EQ(membersOf(*parsed), ordered) << count << " members, round " << round;
            const JsonValue built(JsonObject::fromMembers(std::move(members)));
            EXPECT_EQ(membersOf(built), ordered) << count << " members, round " << round;
        }
    }
}

TEST(Members, ObjectsOfOneShapeAndItsNearVariants) {
    // Same member count, same first and last key: only the keys between tell them apart.
    const std::vector<std::vector<std::string>> shapes = {
        {"first", "a", "b", "c", "d", "last"},  {"first", "a", "x", "c", "d", "last"},
        {"first", "c", "b", "c", "d", "last"},  {"first", "d", "c", "b", "a", "last"},
        {"first", "a", "bb", "c", "d", "last"},
    };
    std::mt19937 random(11);
    std::string text = "[";
    std::vector<std::vector<std::pair<std::u16string, int>>> expected;
    int value = 0;
    for (int i = 0; i < 400; ++i) {
        const std::vector<std::string>& keys = shapes[random() % shapes.size()];
        std::map<std::u16string, int> members;
        text += i ? ",{" : "{";
        for (std::size_t k = 0; k < keys.size(); ++k) {
            members[std::u16string(keys[k].begin(), keys[k].end())] = value;
            text += (k ? ",\"" : "\"") + keys[k] + "\":" + std::to_string(value++);
        }
        text += "}";
        expected.emplace_back(members.begin(), members.end());
    }
    text += "]";
    XKJsonParser parser;
    for (int round = 0; round < 2; ++round) {
        const std::optional<JsonValue> parsed = parser.fragmentWithString(text);
        ASSERT_TRUE(parsed.has_value());
        const JsonValue::Array& objects = *parsed->asArray();
        ASSERT_EQ(objects.size(), expected.size());
        for (std::size_t i = 0; i < objects.size(); ++i)
            ASSERT_EQ(membersOf(objects[i]), expected[i]) << "object " << i << ", round " << round;
    }
}

} // namespace
} // namespace brenvo
