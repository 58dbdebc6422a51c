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
    // Positions are sorted rather than members (O(n log n), equal keys included); of equal
    // keys the member given last sorts last and is kept.
    order.resize(n);
    for (std::size_t i = 0; i < n; ++i)
        order[i] = keyOf(members[i]);
    std::sort(order.begin(), order.end(), keyBefore);
    // Kept entries move to the front in order; each replaced one is swapped behind them.
    std::size_t kept = 0;
    for (std::size_t k = 0; k < n; ++k)
        if (k + 1 == n || !sameKey(order[k], order[k + 1]))
            std::swap(order[kept++], order[k]);
    return kept;
}

} // namespace brenvo::detail
