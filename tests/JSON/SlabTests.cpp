// Parsed documents take their storage from the parser's chunks: values kept, moved, copied,
// grown or destroyed on other threads must stay intact whatever happens to the document.
#include "brenvo/JSON/JsonValue.h"
#include "brenvo/JSON/XKJsonParser.h"
#include "brenvo/JSON/detail/Slab.h"
#include "support/Sanitizers.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace brenvo {
namespace {

JsonValue parse(XKJsonParser& parser, const std::string& text) {
    std::optional<JsonValue> value = parser.fragmentWithString(text);
    EXPECT_TRUE(value.has_value()) << text;
    return value ? std::move(*value) : JsonValue();
}

JsonValue parseFresh(const std::string& text) {
    XKJsonParser parser;
    return parse(parser, text);
}

const std::string kDocument =
    R"({"name":"a string long enough for its own block","list":[1,"second element, long",)"
    R"([3,4,"nested and long enough"],{"key in an object":"value in an object"}],)"
    R"("object":{"inner key, long":[true,null,"x"],"b":"another long string value"}})";

JsonValue& at(JsonValue& document, const std::vector<std::string>& path) {
    JsonValue* v = &document;
    for (const std::string& step : path) {
        if (v->isArray())
            v = &(*v->asArray())[std::stoul(step)];
        else
            v = v->asObject()->find(std::u16string(step.begin(), step.end()));
    }
    return *v;
}

TEST(DocumentLifetime, ValuesOutliveTheirDocumentAndItsParser) {
    struct Case {
        std::vector<std::string> path;
        bool move;
    };
    const Case cases[] = {
        {{"name"}, false},        {{"name"}, true},       {{"list"}, false},
        {{"list", "2"}, true},    {{"list", "2"}, false}, {{"list", "3"}, true},
        {{"object"}, true},       {{"list", "1"}, true},  {{"object", "inner key, long"}, false},
        {{"object", "b"}, false},
    };
    for (const Case& c : cases) {
        JsonValue whole = parseFresh(kDocument);
        const JsonValue expected = at(whole, c.path);
        std::optional<JsonValue> kept;
        {
            auto parser = std::make_unique<XKJsonParser>();
            {
                JsonValue document = parse(*parser, kDocument);
                JsonValue& part = at(document, c.path);
                kept = c.move ? std::move(part) : JsonValue(part);
            }
            // Further documents from the same parser must not reuse the kept value's storage.
            const std::string other = R"([["a different document, with other strings"],)"
                                      R"({"of other lengths":"and other keys, written over"}])";
            for (int i = 0; i < 3; ++i)
                EXPECT_EQ(parse(*parser, other), parseFresh(other));
            EXPECT_EQ(*kept, expected);
        }
        EXPECT_EQ(*kept, expected) << c.path.back();
        // A copy of the kept value and the value itself go separately.
        JsonValue copy = *kept;
        kept.reset();
        EXPECT_EQ(copy, expected);
    }
}

TEST(DocumentLifetime, DestroyedOnOtherThreads) {
    XKJsonParser parser;
    std::string text = "[";
    for (int i = 0; i < 2000; ++i)
        text += (i ? "," : "") + std::string(R"({"k":"a string of some length )") +
                std::to_string(i) + R"(","v":[1,2,3]})";
    text += "]";
    const JsonValue expected = parseFresh(text);
    for (int round = 0; round < 20; ++round) {
        JsonValue document = parse(parser, text);
        JsonValue::Array& elements = *document.asArray();
        // Two threads each destroy half the elements while this one keeps parsing; the
        // document's shell goes last, on a third thread.
        std::vector<JsonValue> first(std::make_move_iterator(elements.begin()),
                                     std::make_move_iterator(elements.begin() + 1000));
        std::vector<JsonValue> second(std::make_move_iterator(elements.begin() + 1000),
                                      std::make_move_iterator(elements.end()));
        EXPECT_EQ(first.front(), expected.asArray()->front());
        std::thread a([v = std::move(first)]() mutable { v.clear(); });
        std::thread b([v = std::move(second)]() mutable { v.clear(); });
        EXPECT_EQ(parse(parser, text), expected);
        a.join();
        b.join();
        std::thread([d = std::move(document)]() mutable { d = JsonValue(); }).join();
    }
}

TEST(DocumentLifetime, ParsedContainersGrowAndShrink) {
    XKJsonParser parser;
    struct Case {
        const char* text;
        std::function<void(JsonValue&)> change;
        std::function<JsonValue()> expected;
    };
    const Case cases[] = {
        {R"([1,"a long string element"])",
         [](JsonValue& v) {
             for (int i = 0; i < 100; ++i)
                 v.asArray()->push_back(JsonValue("pushed element number " + std::to_string(i)));
         },
         [] {
             JsonValue v = JsonValue::array({1, "a long string element"});
             for (int i = 0; i < 100; ++i)
                 v.asArray()->push_back(JsonValue("pushed element number " + std::to_string(i)));
             return v;
         }},
        {R"([[1,2],[3,4,5]])",
         [](JsonValue& v) {
             (*v.asArray())[0].asArray()->push_back((*v.asArray())[1]);
             v.asArray()->pop_back();
         },
         [] {
             return JsonValue::array({JsonValue::array({1, 2, JsonValue::array({3, 4, 5})})});
         }},
        {R"({"m":"a long member value","z":{"y":"also long enough"}})",
         [](JsonValue& v) {
             for (int i = 0; i < 50; ++i)
                 v.asObject()->set("key number " + std::to_string(i), JsonValue(i));
             v.asObject()->set(std::string_view("z"), JsonValue("replaced by a long string"));
             v.asObject()->erase(u"m");
         },
         [] {
             JsonValue v = JsonValue::object({{"z", "replaced by a long string"}});
             for (int i = 0; i < 50; ++i)
                 v.asObject()->set("key number " + std::to_string(i), JsonValue(i));
             return v;
         }},
    };
    for (const Case& c : cases) {
        JsonValue value = parse(parser, c.text);
        c.change(value);
        // The next parse may reuse nothing the changed value still holds.
        EXPECT_EQ(parse(parser, c.text), parseFresh(c.text));
        EXPECT_EQ(value, c.expected()) << c.text;
    }
}

TEST(DocumentLifetime, LargeAndDeepDocuments) {
    XKJsonParser parser;
    parser.setMaxDepth(0);
    std::string wide = "[";
    for (int i = 0; i < 1'000'000; ++i)
        wide += i % 2 ? "\"element string " + std::to_string(i) + "\"," : std::to_string(i) + ",";
    wide.back() = ']';
    std::string deep;
    for (int i = 0; i < 100'000; ++i)
        deep += i % 2 ? R"({"key with a long name":)" : "[";
    deep += R"("the innermost value")";
    for (int i = 100'000; i-- > 0;)
        deep += i % 2 ? "}" : "]";
    for (const std::string* text : {&wide, &deep}) {
        JsonValue document = parse(parser, *text);
        JsonValue copy = document;
        EXPECT_EQ(copy, document);
        document = JsonValue();
        // The copy lives on the heap and must not depend on the destroyed document's chunks.
        EXPECT_EQ(copy, parse(parser, *text));
    }
    JsonValue document = parse(parser, wide);
    const JsonValue::Array& elements = *document.asArray();
    ASSERT_EQ(elements.size(), 1'000'000u);
    EXPECT_EQ(elements[999'999], JsonValue("element string 999999"));
    EXPECT_EQ(elements[123'456], JsonValue(123'456));
}

// The chunks that hold the long strings of a document (keys included).
void chunksOf(const JsonValue& value, std::set<const detail::SlabChunk*>& chunks) {
    auto add = [&chunks](const JsonString& s) {
        if (s.size() > JsonString::kInlineUnits)
            chunks.insert(
                (static_cast<const detail::BlockHeader*>(static_cast<const void*>(s.data())) - 1)
                    ->chunk);
    };
    if (const JsonString* s = value.asString())
        add(*s);
    else if (const JsonValue::Array* elements = value.asArray())
        for (const JsonValue& element : *elements)
            chunksOf(element, chunks);
    else if (const JsonObject* members = value.asObject())
        for (const JsonMember& member : *members) {
            add(member.key);
            chunksOf(member.value, chunks);
        }
}

std::set<const detail::SlabChunk*> chunksOf(const JsonValue& document) {
    std::set<const detail::SlabChunk*> chunks;
    chunksOf(document, chunks);
    return chunks;
}

// A gone document gives each of its chunks back exactly the blocks it took, however it went:
// only then does the next parse fill them again. Released whole (nobody wrote into it), value
// by value, or whole from inside a container being taken apart.
TEST(DocumentLifetime, TheNextDocumentFillsTheChunksOfAGoneOne) {
    auto longString = [](int i) {
        return R"("a string long enough for a block, number )" + std::to_string(i) + "\"";
    };
    std::string strings = "[";
    std::string members = "{";
    std::string mixed = "[";
    for (int i = 0; i < 4000; ++i) {
        strings += (i ? "," : "") + longString(i);
        members += (i ? "," : "") + longString(i % 4 == 3 ? i - 1 : i) + ":" + longString(i);
        mixed += (i ? ",[" : "[") + longString(i) + ",12345678901234567890123," +
                 (i % 100 == 0 ? "[" + std::string(4000, '1') + "]" : "{}") + "]";
    }
    strings += "]";
    members += "}";
    mixed += "]";
    // Many chunks; duplicate keys dropped while reading; numbers kept as text and arrays too
    // large for a chunk, from the heap.
    const std::string* texts[] = {&strings, &members, &mixed};
    enum class Gone { Untouched, WrittenInto, InsideAnother, OtherThread, Kept };
    for (const std::string* text : texts) {
        for (const Gone gone : {Gone::Untouched, Gone::WrittenInto, Gone::InsideAnother,
                                Gone::OtherThread, Gone::Kept}) {
            SCOPED_TRACE(text->substr(0, 60) + " gone " + std::to_string(static_cast<int>(gone)));
            XKJsonParser parser;
            std::optional<JsonValue> first = parse(parser, *text);
            const std::set<const detail::SlabChunk*> before = chunksOf(*first);
            ASSERT_GT(before.size(), 2u);
            switch (gone) {
            case Gone::Untouched:
                first.reset();
                break;
            case Gone::WrittenInto:
                if (JsonValue::Array* elements = first->asArray())
                    elements->push_back(JsonValue("one more"));
                else
                    first->asObject()->set("one more", JsonValue());
                first.reset();
                break;
            case Gone::InsideAnother: {
                JsonValue holder = JsonValue::array({JsonValue("a"), JsonValue::array()});
                holder.asArray()->push_back(std::move(*first));
                first.reset();
                break;
            }
            case Gone::OtherThread:
                std::thread([document = std::move(*first)] {}).join();
                first.reset();
                break;
            case Gone::Kept:
                break;
            }
            // The parser still holds every chunk (far below what it keeps), so each can be read.
            if (gone != Gone::Kept) {
                for (const detail::SlabChunk* chunk : before)
                    EXPECT_EQ(chunk->live.load(), detail::kArenaHold);
            }
            const JsonValue second = parse(parser, *text);
            std::size_t shared = 0;
            for (const detail::SlabChunk* chunk : chunksOf(second))
                shared += before.count(chunk);
            // A live document's chunks are never filled again, except the one its parse left
            // unfinished, whose free tail the next document continues.
            if (gone == Gone::Kept)
                EXPECT_LE(shared, 1u);
            else
                EXPECT_EQ(shared, chunksOf(second).size());
            EXPECT_EQ(second, parseFresh(*text));
        }
    }
}

#if defined(BRENVO_TEST_ASAN)
// Freed blocks and the free tail of a chunk stay poisoned, so misuse is still reported.
TEST(DocumentLifetimeDeathTest, MisuseOfParsedStorageIsReported) {
    const std::function<void()> misuses[] = {
        [] {
            XKJsonParser parser;
            JsonValue document = parse(parser, R"(["a long string to free","kept alive"])");
            const char16_t* freed = (*document.asArray())[0].asString()->data();
            (*document.asArray())[0] = JsonValue();
            volatile char16_t unit = freed[0];
            (void)unit;
        },
        [] {
            // Released chunk by chunk while the parser still holds the chunks.
            XKJsonParser parser;
            std::string text = "[";
            for (int i = 0; i < 2000; ++i)
                text += (i ? "," : "") + std::string(R"("a string long enough for a block")");
            std::optional<JsonValue> document = parse(parser, text + "]");
            const char16_t* freed = (*std::as_const(*document).asArray())[1000].asString()->data();
            document.reset();
            volatile char16_t unit = freed[0];
            (void)unit;
        },
        [] {
            XKJsonParser parser;
            JsonValue document = parse(parser, R"(["nine unit"])");
            const JsonString& s = *(*document.asArray())[0].asString();
            volatile char16_t unit = s.data()[s.size()];
            (void)unit;
        },
    };
    for (const auto& misuse : misuses)
        EXPECT_DEATH(misuse(), "AddressSanitizer");
}
#endif

} // namespace
} // namespace brenvo
