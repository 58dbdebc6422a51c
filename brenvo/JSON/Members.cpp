#include "brenvo/JSON/detail/Members.h"

#include <algorithm>
#include <utility>

namespace brenvo::detail {
namespace {

MemberKey keyOf(const JsonMember& member) {
    const std::u16string_view key = member.key;
    uint64_t words[2] = {0, 0};
    for (std::size_t i = 0; i < 8; ++i)
        words[i / 4] = (words[i / 4] << 16) | (i < key.size() ? key[i] : 0);
    return MemberKey{words[0], words[1], &member, key.size()};
}

// Units past the end count as 0. Keys whose prefixes differ are ordered by them, as unit order
// would: at the first differing position either both keys have units, or the key that ended is
// a prefix of the other (its padding 0 is below any unit there), hence smaller. Equal prefixes
// and equal sizes of at most eight units mean equal keys, so the units themselves (out of cache
// for large objects) are read only for longer keys or keys that differ in length after a run of
// zero units.
bool keyBefore(const MemberKey& a, const MemberKey& b) {
    if (a.head != b.head)
        return a.head < b.head;
    if (a.tail != b.tail)
        return a.tail < b.tail;
    if (a.size != b.size || a.size > 8) {
        const int c = compareUnits(a.member->key.data(), a.size, b.member->key.data(), b.size);
        if (c != 0)
            return c < 0;
    }
    return a.member < b.member;
}

bool sameKey(const MemberKey& a, const MemberKey& b) {
    return a.head == b.head && a.tail == b.tail && a.size == b.size &&
           (a.size <= 8 || std::memcmp(a.member->key.data() + 8, b.member->key.data() + 8,
                                       (a.size - 8) * sizeof(char16_t)) == 0);
}

// Objects from this many members on are put in order by their keys' first eight units with a
// radix sort, in time linear in the members, rather than by comparisons.
constexpr std::size_t kRadixMembers = 512;

// The byte of the packed first eight units that pass `digit` sorts by: 0-7 from the tail's
// lowest byte up, 8-15 the head's.
inline unsigned byteOf(const MemberKey& key, unsigned digit) noexcept {
    const uint64_t word = digit < 8 ? key.tail : key.head;
    return static_cast<unsigned>(word >> (8 * (digit % 8))) & 0xFF;
}

// Sorts order[0, n) (order holds 2n entries; the upper half is scratch) as keyBefore would. Each
// byte of the eight packed units that differs between the keys takes one stable counting pass,
// lowest byte first; the passes keep members of equal packed units in their given order, which
// is keyBefore's order for keys of equal size up to eight units. Runs of equal packed units
// where keys are longer or of other sizes are then sorted with keyBefore itself.
void radixSort(std::vector<MemberKey>& order, std::size_t n) {
    std::vector<std::size_t> counts(16 * 256, 0);
    for (std::size_t i = 0; i < n; ++i)
        for (unsigned digit = 0; digit < 16; ++digit)
            ++counts[digit * 256 + byteOf(order[i], digit)];
    MemberKey* from = order.data();
    MemberKey* to = order.data() + n;
    for (unsigned digit = 0; digit < 16; ++digit) {
        std::size_t* count = counts.data() + digit * 256;
        if (count[byteOf(from[0], digit)] == n)
            continue; // the same byte in every key
        std::size_t next = 0;
        for (unsigned b = 0; b < 256; ++b)
            next += std::exchange(count[b], next);
        for (std::size_t i = 0; i < n; ++i)
            to[count[byteOf(from[i], digit)]++] = from[i];
        std::swap(from, to);
    }
    if (from != order.data())
        std::copy(from, from + n, order.data());
    for (std::size_t i = 0; i < n;) {
        std::size_t end = i + 1;
        bool compare = order[i].size > 8;
        while (end < n && order[end].head == order[i].head && order[end].tail == order[i].tail) {
            compare = compare || order[end].size != order[i].size || order[end].size > 8;
            ++end;
        }
        if (compare)
            std::sort(order.begin() + static_cast<std::ptrdiff_t>(i),
                      order.begin() + static_cast<std::ptrdiff_t>(end), keyBefore);
        i = end;
    }
}

} // namespace

bool keysAscending(const JsonMember* members, std::size_t n) {
    for (std::size_t i = 1; i < n; ++i) {
        const std::u16string_view a = members[i - 1].key, b = members[i].key;
        if (compareUnits(a.data(), a.size(), b.data(), b.size()) >= 0)
            return false;
    }
    return true;
}

std::size_t orderMembers(const JsonMember* members, std::size_t n, std::vector<MemberKey>& order) {
    // Positions are sorted rather than members (O(n log n), or linear for large objects, equal
    // keys included); of equal keys the member given last sorts last and is kept.
    order.resize(n < kRadixMembers ? n : 2 * n);
    for (std::size_t i = 0; i < n; ++i)
        order[i] = keyOf(members[i]);
    if (n < kRadixMembers) {
        std::sort(order.begin(), order.end(), keyBefore);
    } else {
        radixSort(order, n);
        order.resize(n);
    }
    // Kept entries move to the front in order; each replaced one is swapped behind them.
    std::size_t kept = 0;
    for (std::size_t k = 0; k < n; ++k)
        if (k + 1 == n || !sameKey(order[k], order[k + 1]))
            std::swap(order[kept++], order[k]);
    return kept;
}

std::size_t MemberOrders::setOf(const JsonMember* members, std::size_t n) noexcept {
    // The count, and the size and first unit of the first, second and last keys.
    uint64_t h = n;
    const auto mix = [&h](std::u16string_view key) {
        h = (h * 0x100000001B3) ^ key.size();
        h = (h * 0x100000001B3) ^ (key.empty() ? 0u : unsigned{key[0]});
    };
    mix(members[0].key);
    mix(n > 1 ? members[1].key.view() : std::u16string_view());
    mix(members[n - 1].key);
    return static_cast<std::size_t>((h * 0x9E3779B97F4A7C15) >> 32) % kSets;
}

bool MemberOrders::matches(const Shape& shape, const JsonMember* members, std::size_t n) noexcept {
    if (shape.sizes.size() != n)
        return false;
    const char16_t* units = shape.units.data();
    for (std::size_t i = 0; i < n; ++i) {
        const std::u16string_view key = members[i].key;
        if (key.size() != shape.sizes[i] ||
            compareUnits(key.data(), key.size(), units, key.size()) != 0)
            return false;
        units += key.size();
    }
    return true;
}

std::size_t MemberOrders::apply(const Shape& shape, const JsonMember* members,
                                std::vector<MemberKey>& order) {
    const std::size_t n = shape.positions.size();
    order.resize(n);
    for (std::size_t k = 0; k < n; ++k)
        order[k].member = members + shape.positions[k];
    return shape.kept;
}

std::size_t MemberOrders::order(const JsonMember* members, std::size_t n,
                                std::vector<MemberKey>& order) {
    if (n == 0 || n > kMaxMembers)
        return orderMembers(members, n, order);
    Shape* set = shapes_[setOf(members, n)];
    if (matches(set[0], members, n))
        return apply(set[0], members, order);
    if (matches(set[1], members, n)) {
        std::swap(set[0], set[1]);
        return apply(set[0], members, order);
    }
    const std::size_t kept = orderMembers(members, n, order);
    std::size_t units = 0;
    for (std::size_t i = 0; i < n; ++i)
        units += members[i].key.size();
    if (units > kMaxUnits)
        return kept;
    // The shape used less recently gives way; its storage is filled with the new one. Its room is
    // taken first and its sizes emptied, so running out of memory leaves a shape that matches
    // nothing, never a half-made one.
    std::swap(set[0], set[1]);
    Shape& shape = set[0];
    shape.sizes.clear();
    shape.units.clear();
    shape.sizes.reserve(n);
    shape.units.reserve(units);
    shape.positions.resize(n);
    for (std::size_t i = 0; i < n; ++i) {
        const std::u16string_view key = members[i].key;
        shape.sizes.push_back(static_cast<uint32_t>(key.size()));
        shape.units.append(key);
        shape.positions[i] = static_cast<uint32_t>(order[i].member - members);
    }
    shape.kept = kept;
    return kept;
}

} // namespace brenvo::detail
