// The order of object members, one rule for JsonObject and the parser: keys ascending in UTF-16
// unit order and, of equal keys, only the member given last kept.
#pragma once

#include "brenvo/JSON/JsonValue.h"

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace brenvo::detail {

// Compares two runs of UTF-16 units in unit order (negative, 0, positive), four units at a
// time: the lowest differing bit of two little-endian words lies in the first unit that differs.
inline int compareUnits(const char16_t* a, std::size_t an, const char16_t* b, std::size_t bn) {
    const std::size_t n = an < bn ? an : bn;
    std::size_t i = 0;
    if constexpr (std::endian::native == std::endian::little) {
        for (; i + 4 <= n; i += 4) {
            uint64_t x, y;
            std::memcpy(&x, a + i, sizeof x);
            std::memcpy(&y, b + i, sizeof y);
            if (x != y) {
                const std::size_t j = i + static_cast<std::size_t>(std::countr_zero(x ^ y)) / 16;
                return a[j] < b[j] ? -1 : 1;
            }
        }
    }
    for (; i < n; ++i)
        if (a[i] != b[i])
            return a[i] < b[i] ? -1 : 1;
    return an < bn ? -1 : an > bn ? 1 : 0;
}

// A member to sort: its key's first eight units packed into two numbers, the key's size and
// the member itself (whose place among the members breaks ties).
struct MemberKey {
    uint64_t head; // units 0-3
    uint64_t tail; // units 4-7
    const JsonMember* member;
    std::size_t size;
};

// True when the keys of the `n` members are strictly ascending: in order, none equal.
bool keysAscending(const JsonMember* members, std::size_t n);

// Puts the `n` members in key order (`order` receives one entry per member) and returns how many
// are kept: order[0, kept) are the members to keep, by ascending key, and order[kept, n) those
// replaced by a later member with an equal key.
std::size_t orderMembers(const JsonMember* members, std::size_t n, std::vector<MemberKey>& order);

// orderMembers with a memory of the key sequences it ordered last: a document repeats the shape
// of its objects (each record of a list has the same keys in the same order), and checking the
// keys against a sequence seen before costs less than sorting them again. What the order depends
// on, the keys in their given order, is compared whole, so a remembered order is only ever
// applied to the very sequence it was found for.
class MemberOrders {
public:
    // As orderMembers.
    std::size_t order(const JsonMember* members, std::size_t n, std::vector<MemberKey>& order);

private:
    // Objects with more members or longer keys than this are sorted every time.
    static constexpr std::size_t kMaxMembers = 64;
    static constexpr std::size_t kMaxUnits = 1024;
    // Shapes are remembered in sets of two, the one used last first.
    static constexpr std::size_t kSets = 32;

    struct Shape {
        std::vector<uint32_t> sizes;     // the key sizes, in the given order
        std::u16string units;            // the keys' units, one after another
        std::vector<uint32_t> positions; // the members' positions, as orderMembers put them
        std::size_t kept = 0;
    };

    static std::size_t setOf(const JsonMember* members, std::size_t n) noexcept;
    static bool matches(const Shape& shape, const JsonMember* members, std::size_t n) noexcept;
    static std::size_t apply(const Shape& shape, const JsonMember* members,
                             std::vector<MemberKey>& order);

    Shape shapes_[kSets][2];
};

} // namespace brenvo::detail
