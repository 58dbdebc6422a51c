// Parsed objects against objects built from the same members by host code: same keys kept
// (the last of equal keys), same order, for keys that differ early, late, only in length or
// only after zero units.
#include "brenvo/JSON/JsonValue.h"
#include "brenvo/JSON/XKJsonParser.h"

#include <gtest/gtest.h>

#include <cstdio>
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

TEST(MemberOrder, ParsedObjectsMatchObjectsBuiltFromTheirMembers) {
    // Few distinct units, so that keys share long prefixes and often repeat.
    const std::u16string alphabet = {u'\0', u'a', u'b', u'\uFFFF'};
    std::mt19937 random(7);
    XKJsonParser parser;
    for (const int count : {2, 17, 300, 5000}) {
        for (int round = 0; round < 4; ++round) {
            std::vector<JsonMember> members;
            std::string text = "{";
            for (int i = 0; i < count; ++i) {
                std::u16string key;
                const std::size_t length = random() % 13;
                for (std::size_t j = 0; j < length; ++j)
                    key += alphabet[random() % alphabet.size()];
                text += (i ? "," : "") + jsonKey(key) + ":" + std::to_string(i);
                members.emplace_back(JsonString(key), JsonValue(i));
            }
            text += "}";
            const JsonValue expected(JsonObject::fromMembers(std::move(members)));
            const std::optional<JsonValue> parsed = parser.fragmentWithString(text);
            ASSERT_TRUE(parsed.has_value());
            EXPECT_EQ(*parsed, expected) << count << " members, round " << round;
        }
    }
}

} // namespace
} // namespace brenvo
