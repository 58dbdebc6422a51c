// The parser when memory runs out: each allocation of a parse is made to fail in turn (this
// executable replaces operator new, which is why it is a program of its own). The failure comes
// out as std::bad_alloc, nothing leaks, and the same parser then parses as a new one would.
#include "brenvo/JSON/XKJsonParser.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <new>
#include <string>

namespace {

// Counts down the allocations of the code under test; the one that takes it to zero fails.
long allocationsLeft = 0;
bool allocationFailed = false;

} // namespace

void* operator new(std::size_t size) {
    if (allocationsLeft > 0 && --allocationsLeft == 0) {
        allocationFailed = true;
        throw std::bad_alloc();
    }
    if (void* memory = std::malloc(size != 0 ? size : 1))
        return memory;
    throw std::bad_alloc();
}

// GCC sees the free() of these replacements as freeing memory from the operator new they replace.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

void operator delete(void* memory) noexcept {
    std::free(memory);
}

void operator delete(void* memory, std::size_t) noexcept {
    std::free(memory);
}

namespace brenvo {
namespace {

// Grows every stack past its first capacity: more than 256 values and members, objects whose
// keys come unsorted (the member orders), objects closing into a full value stack, long and
// escaped strings, a long number and deep nesting.
std::string largeDocument() {
    std::string text = "[";
    for (int i = 0; i < 300; ++i)
        text += R"({"b":"a string long enough for a block","a":)" + std::to_string(i) + "},";
    text += "{";
    for (int i = 299; i >= 0; --i)
        text += "\"key" + std::to_string(i) + "\":[\"\\u00e9" + std::to_string(i) + "\"],";
    text += R"("n":123456789012345678901234567890.5e-3},)";
    text += std::string(40, '[') + R"({"z":1,"y":"\n"})" + std::string(40, ']');
    return text + "]";
}

TEST(ParserMemory, EveryAllocationMayFailAndTheParserStaysAsNew) {
    const std::string large = largeDocument();
    for (const std::string& text : {large, large.substr(0, large.size() / 2) + "x"}) {
        XKJsonParser reference;
        const std::optional<JsonValue> expected = reference.fragmentWithString(text);
        for (long n = 1;; ++n) {
            SCOPED_TRACE("failing allocation " + std::to_string(n));
            XKJsonParser parser; // new, so that its first parse also allocates its stacks
            allocationFailed = false;
            allocationsLeft = n;
            bool threw = false;
            try {
                (void)parser.fragmentWithString(text);
            } catch (const std::bad_alloc&) {
                threw = true;
            }
            allocationsLeft = 0;
            ASSERT_EQ(threw, allocationFailed);
            if (!threw) {
                EXPECT_GT(n, 10);
                break;
            }
            EXPECT_EQ(parser.fragmentWithString(text), expected);
            EXPECT_EQ(parser.errorPosition(), reference.errorPosition());
        }
    }
}

} // namespace
} // namespace brenvo
