// The parser's stacks: the containers open at the current point of a parse, and the values and
// members read for them so far. Nesting costs heap here, never machine stack. Kept between
// parses, so that a parser allocates them once.
#pragma once

#include "brenvo/JSON/JsonValue.h"
#include "brenvo/JSON/detail/Members.h"
#include "brenvo/JSON/detail/Slab.h"
#include "brenvo/JSON/detail/ValueBuilder.h"

#include <cstddef>
#include <cstring>
#include <new>
#include <string>
#include <utility>
#include <vector>

namespace brenvo::detail {

// An open array or object.
struct Frame {
    bool object;
    bool needComma;      // an element or member was read and no comma followed yet
    std::size_t start;   // first slot of this container on the value or member stack
    std::size_t pending; // objects: the member whose value is being read
};

// A stack of values or members being built. Entries move by copying their bytes: the parser
// makes no host values, and no other payload (decimal, string, array, object) points into
// itself, so a byte copy is a complete move and the source needs no destruction.
template <typename T> class ByteMovedStack {
public:
    ByteMovedStack() = default;
    ByteMovedStack(const ByteMovedStack&) = delete;
    ByteMovedStack& operator=(const ByteMovedStack&) = delete;
    ~ByteMovedStack() {
        clear();
        ::operator delete(data_);
    }

    std::size_t size() const noexcept { return size_; }
    T& operator[](std::size_t i) noexcept { return data_[i]; }
    T& back() noexcept { return data_[size_ - 1]; }
    T* top(std::size_t n) noexcept { return data_ + size_ - n; }

    template <typename... Args> T& emplace(Args&&... args) {
        if (size_ == capacity_)
            grow();
        return *new (data_ + size_++) T(std::forward<Args>(args)...);
    }
    // Makes room for one more entry, so that the next emplace cannot fail.
    void reserveOne() {
        if (size_ == capacity_)
            grow();
    }
    // Forgets the top `n` entries, which the caller has moved away or destroyed.
    void drop(std::size_t n) noexcept { size_ -= n; }
    void clear() noexcept {
        for (std::size_t i = 0; i < size_; ++i)
            data_[i].~T();
        size_ = 0;
    }

private:
    void grow() {
        const std::size_t capacity = capacity_ ? capacity_ * 2 : 256;
        T* data = static_cast<T*>(::operator new(capacity * sizeof(T)));
        if (size_ != 0)
            std::memcpy(static_cast<void*>(data), static_cast<const void*>(data_),
                        size_ * sizeof(T));
        ::operator delete(data_);
        data_ = data;
        capacity_ = capacity;
    }

    T* data_ = nullptr;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
};

struct ParseStacks {
    ByteMovedStack<JsonValue> values;
    ByteMovedStack<JsonMember> members;
    std::vector<Frame> frames;
    std::vector<MemberKey> order;
    MemberOrders orders;
    std::u16string text; // strings with escapes or non-ASCII content, decoded
    // Where the document's strings and containers get their blocks.
    SlabArena arena;

    // Whether the innermost container has more entries than a JsonArray or JsonObject holds.
    bool tooManyEntries() const noexcept {
        const Frame& frame = frames.back();
        return (frame.object ? members.size() : values.size()) - frame.start > UINT32_MAX;
    }

    // The elements read since the innermost array opened become its storage, one exactly-sized
    // block, and leave the stack; returns how many there are.
    std::size_t takeElements(JsonValue*& data) {
        const std::size_t n = values.size() - frames.back().start;
        data = nullptr;
        if (n == 0)
            return 0;
        data = ValueBuilder::allocate<JsonValue>(arena, n);
        void* to = data;
        const void* from = values.top(n);
        // Fixed sizes for the short arrays that dominate (pairs of coordinates and the like)
        // are copied inline rather than through a library call.
        switch (n) {
        case 1:
            std::memcpy(to, from, sizeof(JsonValue));
            break;
        case 2:
            std::memcpy(to, from, 2 * sizeof(JsonValue));
            break;
        case 3:
            std::memcpy(to, from, 3 * sizeof(JsonValue));
            break;
        default:
            std::memcpy(to, from, n * sizeof(JsonValue));
        }
        values.drop(n);
        return n;
    }

    // The members read since the innermost object opened, in key order and of equal keys only
    // the one read last, become its storage, one exactly-sized block, and leave the stack;
    // returns how many are kept.
    std::size_t takeMembers(JsonMember*& data) {
        const std::size_t n = members.size() - frames.back().start;
        JsonMember* first = members.top(n);
        data = nullptr;
        std::size_t kept = n;
        if (keysAscending(first, n)) {
            if (n != 0) {
                data = ValueBuilder::allocate<JsonMember>(arena, n);
                std::memcpy(static_cast<void*>(data), static_cast<const void*>(first),
                            n * sizeof(JsonMember));
            }
        } else {
            kept = orders.order(first, n, order);
            if (kept != n)
                arena.releaseByValues(); // the members dropped below are gone before it ends
            data = ValueBuilder::allocate<JsonMember>(arena, kept);
            for (std::size_t k = 0; k < kept; ++k)
                std::memcpy(static_cast<void*>(data + k), static_cast<const void*>(order[k].member),
                            sizeof(JsonMember));
            for (std::size_t k = kept; k < n; ++k)
                const_cast<JsonMember*>(order[k].member)->~JsonMember();
        }
        members.drop(n);
        return kept;
    }

    // Drops whatever a failed parse left; the capacity stays for the next one.
    void clear() noexcept {
        values.clear();
        members.clear();
        frames.clear();
    }
};

} // namespace brenvo::detail
