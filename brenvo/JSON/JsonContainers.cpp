// JsonArray and JsonObject, on their shared storage.
#include "brenvo/JSON/JsonValue.h"

#include "brenvo/JSON/detail/Members.h"
#include "brenvo/JSON/detail/Release.h"
#include "brenvo/JSON/detail/Slab.h"

#include <algorithm>
#include <new>
#include <utility>

namespace brenvo {

// ---------------------------------------------------------------------------------------------
// Storage

namespace detail {

template <class Entry> EntryStorage<Entry>::EntryStorage(const EntryStorage& other) {
    reserve(other.size_);
    // Each entry copies its own subtree without recursion.
    for (; size_ < other.size_; ++size_)
        new (data_ + size_) Entry(other.data_[size_]);
}

template <class Entry>
EntryStorage<Entry>& EntryStorage<Entry>::operator=(const EntryStorage& other) {
    if (this != &other)
        *this = EntryStorage(other);
    return *this;
}

template <class Entry>
EntryStorage<Entry>& EntryStorage<Entry>::operator=(EntryStorage&& other) noexcept {
    if (this != &other) {
        // `other` may live inside this container: detach it before letting go of this one.
        EntryStorage taken(std::move(other));
        if (data_)
            release();
        data_ = taken.data_;
        size_ = taken.size_;
        capacity_ = taken.capacity_;
        taken.forget();
    }
    return *this;
}

template <class Entry> void EntryStorage<Entry>::release() noexcept {
    if (DocumentBlocks* document = documentOf(data_)) {
        releaseDocument(document);
        forget();
        return;
    }
    destroyEntries();
    freeBlock(data_);
    forget();
}

template <class Entry> void EntryStorage<Entry>::destroyEntries() noexcept {
    JsonValueRelease release;
    release.entries(data_, size_, JsonValueRelease::kRecursionBudget);
    release.drain();
    size_ = 0;
}

template <class Entry> void EntryStorage<Entry>::leaveDocument() noexcept {
    if (data_)
        detail::leaveDocument(data_);
}

template <class Entry> void EntryStorage<Entry>::reserve(std::size_t capacity) {
    if (capacity <= capacity_)
        return;
    if (capacity > UINT32_MAX)
        containerLimitExceeded();
    auto* data = static_cast<Entry*>(allocateBlock(capacity * sizeof(Entry)));
    for (uint32_t i = 0; i < size_; ++i) {
        new (data + i) Entry(std::move(data_[i]));
        data_[i].~Entry();
    }
    // A parsed container's block may lie in a slab; the grown one is always a heap block.
    if (data_)
        freeBlock(data_);
    data_ = data;
    capacity_ = static_cast<uint32_t>(capacity);
}

template <class Entry> void EntryStorage<Entry>::grow() {
    if (capacity_ == UINT32_MAX)
        containerLimitExceeded();
    reserve(std::clamp<std::size_t>(std::size_t(capacity_) * 2, 4, UINT32_MAX));
}

template class EntryStorage<JsonValue>;
template class EntryStorage<JsonMember>;

} // namespace detail

// ---------------------------------------------------------------------------------------------
// Arrays

JsonArray::JsonArray(std::initializer_list<JsonValue> elements) {
    reserve(elements.size());
    for (const JsonValue& element : elements)
        new (data_ + size_++) JsonValue(element);
}

JsonArray::JsonArray(const std::vector<JsonValue>& elements) {
    reserve(elements.size());
    for (const JsonValue& element : elements)
        new (data_ + size_++) JsonValue(element);
}

JsonArray::JsonArray(std::vector<JsonValue>&& elements) {
    reserve(elements.size());
    for (JsonValue& element : elements)
        new (data_ + size_++) JsonValue(std::move(element));
}

bool operator==(const JsonArray& a, const JsonArray& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end());
}

// ---------------------------------------------------------------------------------------------
// Objects

JsonObject::JsonObject(std::initializer_list<JsonMember> members)
    : JsonObject(fromMembers(std::vector<JsonMember>(members))) {}

JsonObject JsonObject::fromMembers(std::vector<JsonMember> members) {
    JsonObject object;
    if (detail::keysAscending(members.data(), members.size())) {
        object.reserve(members.size());
        for (JsonMember& member : members)
            new (object.data_ + object.size_++) JsonMember(std::move(member));
        return object;
    }
    std::vector<detail::MemberKey> order;
    const std::size_t kept = detail::orderMembers(members.data(), members.size(), order);
    object.reserve(kept);
    for (std::size_t k = 0; k < kept; ++k)
        new (object.data_ + object.size_++)
            JsonMember(std::move(*const_cast<JsonMember*>(order[k].member)));
    return object;
}

JsonMember* JsonObject::lowerBound(std::u16string_view key) const noexcept {
    return std::lower_bound(data_, data_ + size_, key,
                            [](const JsonMember& m, std::u16string_view k) { return m.key < k; });
}

const JsonValue* JsonObject::find(std::u16string_view key) const noexcept {
    const JsonMember* m = lowerBound(key);
    return m != end() && m->key == key ? &m->value : nullptr;
}

JsonValue* JsonObject::find(std::u16string_view key) noexcept {
    JsonMember* m = lowerBound(key);
    return m != data_ + size_ && m->key == key ? &m->value : nullptr;
}

const JsonValue* JsonObject::find(std::string_view utf8Key) const {
    return find(std::u16string_view(toUtf16(utf8Key)));
}

JsonValue& JsonObject::set(std::u16string_view key, JsonValue value) {
    JsonMember* at = lowerBound(key);
    if (at != data_ + size_ && at->key == key) {
        at->value = std::move(value);
        return at->value;
    }
    // Made before anything moves: `key` may be the key of a member of this object.
    JsonMember member(JsonString(key), std::move(value));
    const std::size_t index = static_cast<std::size_t>(at - data_);
    if (size_ == capacity_)
        grow();
    JsonMember* end = data_ + size_;
    if (index == size_) {
        new (end) JsonMember(std::move(member));
    } else {
        new (end) JsonMember(std::move(end[-1]));
        std::move_backward(data_ + index, end - 1, end);
        data_[index] = std::move(member);
    }
    ++size_;
    return data_[index].value;
}

JsonValue& JsonObject::set(const std::u16string& key, JsonValue value) {
    return set(std::u16string_view(key), std::move(value));
}

JsonValue& JsonObject::set(const char16_t* key, JsonValue value) {
    return set(std::u16string_view(key), std::move(value));
}

JsonValue& JsonObject::set(std::string_view utf8Key, JsonValue value) {
    return set(std::u16string_view(toUtf16(utf8Key)), std::move(value));
}

bool JsonObject::erase(std::u16string_view key) {
    JsonMember* at = lowerBound(key);
    JsonMember* end = data_ + size_;
    if (at == end || at->key != key)
        return false;
    std::move(at + 1, end, at);
    end[-1].~JsonMember();
    --size_;
    return true;
}

bool operator==(const JsonObject& a, const JsonObject& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](const JsonMember& x, const JsonMember& y) {
                          return x.key == y.key && x.value == y.value;
                      });
}

JsonMember::JsonMember(std::string_view utf8Key, JsonValue v)
    : key(JsonString::fromUtf8(utf8Key)), value(std::move(v)) {}

} // namespace brenvo
