// JsonValue: one JSON value, and JsonRef: a lookup view that carries absence through.
//
// A JsonValue is null, a boolean, a number (an exact Decimal), a string (UTF-16 units), an
// array, an object, or a host object (a JsonHostValue that only host code creates, so that a
// writer can meet values of types it does not know). Booleans are never numbers. Objects keep
// their members sorted by key (UTF-16 unit order) with unique keys; lookup is a binary search.
// Values are plain values: copies are deep, == compares contents. Destruction, copying and
// comparison never recurse once per nesting level, so arbitrarily deep values are safe.
//
// Representation (a parsed document is mostly these, so they are kept small):
// - A JsonValue is 24 bytes: a 16-byte payload, its kind and whether it owns memory. The
//   payload holds a Decimal inline (its long form points to its text), a JsonString, a
//   JsonArray, a JsonObject or a std::shared_ptr to a host object.
// - A JsonString is 16 bytes: up to 7 UTF-16 units inline, longer strings in one block of
//   exactly their size. It is immutable once made.
// - Blocks come from the general heap, except those of a parsed document, which come from the
//   parser's slab chunks (detail/Slab.h): a string, array or object kept from a parsed document
//   keeps its chunk (64 KiB, or an eighth of an input of megabytes) alive until it is destroyed
//   or, for a container, grows. A document nobody wrote into is released chunk by chunk.
// - A JsonArray (JsonValue::Array) is a pointer, a size and a capacity (16 bytes); a JsonObject
//   the same over JsonMember (a key and a value, 40 bytes), on one shared storage. Both hold at
//   most 2^32 - 1 entries; going beyond that terminates the process like running out of memory
//   would (the parser fails with a trace before it gets there).
//
//     using brenvo::JsonValue;
//     JsonValue reply = JsonValue::object({
//         {"resultCount", 1},
//         {"results", JsonValue::array({JsonValue::object({{"version", "2.1"}})})},
//     });
//     brenvo::JsonRef ref(reply);
//     if (const brenvo::JsonString* version = ref["results"][0]["version"].asString())
//         std::string utf8 = brenvo::toUtf8(*version);    // "2.1"
//     ref["results"][7]["missing"].isAbsent();              // true, no checks in between
#pragma once

#include "brenvo/Export.h"
#include "brenvo/JSON/Decimal.h"
#include "brenvo/utf/Convert.h"

#include <compare>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

namespace brenvo {

class JsonValue;
class JsonHostValue;
struct JsonMember;
struct JsonValueRelease;

namespace detail {
// Builds strings and containers from storage the parser filled; see detail/ValueBuilder.h.
struct ValueBuilder;
// Ends the process when a container or string would exceed its size limit.
[[noreturn]] BRENVO_EXPORT void containerLimitExceeded() noexcept;
} // namespace detail

// UTF-8 <-> UTF-16 (brenvo/utf/Convert.h). The lenient forms never fail: a lone surrogate
// (UTF-16) or a malformed sequence (UTF-8, each maximal ill-formed subpart) becomes U+FFFD.
// The strict forms give std::nullopt instead.
using utf::toUtf16;
using utf::toUtf16Strict;
using utf::toUtf8;
using utf::toUtf8Strict;

// An immutable string of UTF-16 units in 16 bytes: up to kInlineUnits units are stored in the
// object itself, longer strings in one block of exactly their size.
class BRENVO_EXPORT JsonString {
public:
    static constexpr std::size_t kInlineUnits = 7;

    JsonString() noexcept { std::memset(static_cast<void*>(this), 0, sizeof *this); }
    explicit JsonString(std::u16string_view text);
    explicit JsonString(const char16_t* text) : JsonString(std::u16string_view(text)) {}
    // UTF-8 text; malformed sequences become U+FFFD.
    static JsonString fromUtf8(std::string_view utf8);

    JsonString(const JsonString& other) : JsonString(other.view()) {}
    // Moving hands over the block; the source becomes empty.
    JsonString(JsonString&& other) noexcept {
        std::memcpy(static_cast<void*>(this), static_cast<const void*>(&other), sizeof *this);
        other.tag_ = 0;
    }
    JsonString& operator=(const JsonString& other) {
        if (this != &other)
            *this = JsonString(other);
        return *this;
    }
    JsonString& operator=(JsonString&& other) noexcept {
        if (this != &other) {
            release();
            std::memcpy(static_cast<void*>(this), static_cast<const void*>(&other), sizeof *this);
            other.tag_ = 0;
        }
        return *this;
    }
    ~JsonString() { release(); }

    const char16_t* data() const noexcept {
        if (tag_ <= kInlineUnits)
            return units_;
        const char16_t* heap;
        std::memcpy(&heap, units_, sizeof heap);
        return heap;
    }
    std::size_t size() const noexcept {
        if (tag_ <= kInlineUnits)
            return tag_;
        uint32_t low;
        std::memcpy(&low, units_ + kSizeAt, sizeof low);
        return static_cast<std::size_t>(low | (uint64_t(units_[kSizeAt + 2]) << 32));
    }
    bool empty() const noexcept { return tag_ == 0; }
    std::u16string_view view() const noexcept { return {data(), size()}; }
    operator std::u16string_view() const noexcept { return view(); }
    std::u16string str() const { return std::u16string(view()); }
    const char16_t* begin() const noexcept { return data(); }
    const char16_t* end() const noexcept { return data() + size(); }
    char16_t operator[](std::size_t i) const noexcept { return data()[i]; }

    friend bool operator==(const JsonString& a, const JsonString& b) noexcept {
        return a.view() == b.view();
    }
    friend bool operator==(const JsonString& a, std::u16string_view b) noexcept {
        return a.view() == b;
    }
    // Unit order. (compare(), since not every standard library has <=> for string views.)
    friend std::strong_ordering operator<=>(const JsonString& a, const JsonString& b) noexcept {
        return a.view().compare(b.view()) <=> 0;
    }
    friend std::strong_ordering operator<=>(const JsonString& a, std::u16string_view b) noexcept {
        return a.view().compare(b) <=> 0;
    }

private:
    friend struct detail::ValueBuilder;
    friend struct JsonValueRelease;
    // Heap form: the block's address in units_[0..3], the size's low 32 bits in units_[4..5]
    // and its high 16 bits in units_[6].
    static constexpr std::size_t kSizeAt = 4;
    static_assert(sizeof(char16_t*) <= kSizeAt * sizeof(char16_t));
    static constexpr uint16_t kHeap = 0xFFFF;

    // Makes this empty string a string of `n` units and returns where to write them.
    char16_t* prepare(std::size_t n);
    // Makes this empty string the owner of `block`, room for `n` (more than kInlineUnits)
    // units, and returns it.
    char16_t* adopt(void* block, std::size_t n) noexcept {
        auto* heap = static_cast<char16_t*>(block);
        std::memcpy(units_, &heap, sizeof heap);
        const auto low = static_cast<uint32_t>(n);
        std::memcpy(units_ + kSizeAt, &low, sizeof low);
        units_[kSizeAt + 2] = static_cast<char16_t>(n >> 32);
        tag_ = kHeap;
        return heap;
    }
    void release() noexcept {
        if (tag_ == kHeap)
            freeHeap();
    }
    void freeHeap() noexcept;

    alignas(8) char16_t units_[kInlineUnits];
    uint16_t tag_; // the inline size (0 to 7), or kHeap
};
static_assert(sizeof(JsonString) == 16);

namespace detail {

// The storage JsonArray and JsonObject share: one block of at most 2^32 - 1 entries (values or
// members), its size and its capacity. A copy copies each entry (and each entry its subtree,
// without recursion); a move hands the block over and leaves the source empty; destruction
// takes the entries apart without recursion.
template <class Entry> class BRENVO_EXPORT EntryStorage {
public:
    std::size_t size() const noexcept { return size_; }
    bool empty() const noexcept { return size_ == 0; }
    std::size_t capacity() const noexcept { return capacity_; }

    // Room for `capacity` entries. Going beyond 2^32 - 1 terminates the process like running
    // out of memory would.
    void reserve(std::size_t capacity);

protected:
    EntryStorage() noexcept = default;
    EntryStorage(const EntryStorage& other);
    EntryStorage(EntryStorage&& other) noexcept
        : data_(other.data_), size_(other.size_), capacity_(other.capacity_) {
        other.forget();
    }
    EntryStorage& operator=(const EntryStorage& other);
    EntryStorage& operator=(EntryStorage&& other) noexcept;
    ~EntryStorage() {
        if (data_)
            release();
    }

    // Destroys the entries and keeps the block.
    void destroyEntries() noexcept;
    // Room for at least one more entry.
    void grow();

    Entry* data_ = nullptr;
    uint32_t size_ = 0;
    uint32_t capacity_ = 0;

private:
    friend class brenvo::JsonValue;
    friend struct brenvo::JsonValueRelease;
    friend struct ValueBuilder;
    void release() noexcept;
    // Before the first access for writing: a parsed document's root is released value by
    // value from then on (see detail/Slab.h).
    void leaveDocument() noexcept;
    void forget() noexcept {
        data_ = nullptr;
        size_ = capacity_ = 0;
    }
};

} // namespace detail

// The elements of an array: a vector-like sequence of at most 2^32 - 1 values.
class BRENVO_EXPORT JsonArray : public detail::EntryStorage<JsonValue> {
public:
    using value_type = JsonValue;
    using iterator = JsonValue*;
    using const_iterator = const JsonValue*;
    using size_type = std::size_t;

    JsonArray() noexcept = default;
    JsonArray(std::initializer_list<JsonValue> elements);
    JsonArray(const std::vector<JsonValue>& elements);
    JsonArray(std::vector<JsonValue>&& elements);

    JsonValue* data() noexcept { return data_; }
    const JsonValue* data() const noexcept { return data_; }
    iterator begin() noexcept { return data_; }
    iterator end() noexcept;
    const_iterator begin() const noexcept { return data_; }
    const_iterator end() const noexcept;
    JsonValue& operator[](std::size_t i) noexcept;
    const JsonValue& operator[](std::size_t i) const noexcept;
    JsonValue& front() noexcept { return *data_; }
    const JsonValue& front() const noexcept { return *data_; }
    JsonValue& back() noexcept;
    const JsonValue& back() const noexcept;

    void clear() noexcept { destroyEntries(); }
    void push_back(const JsonValue& value);
    void push_back(JsonValue&& value);
    template <typename... Args> JsonValue& emplace_back(Args&&... args);
    void pop_back() noexcept;

    friend BRENVO_EXPORT bool operator==(const JsonArray& a, const JsonArray& b);
};

// The members of an object, sorted by key in UTF-16 unit order, keys unique; at most
// 2^32 - 1 of them.
class BRENVO_EXPORT JsonObject : public detail::EntryStorage<JsonMember> {
public:
    using const_iterator = const JsonMember*;

    JsonObject() noexcept = default;
    // Members in any order; of equal keys the last one is kept.
    JsonObject(std::initializer_list<JsonMember> members);
    static JsonObject fromMembers(std::vector<JsonMember> members);

    const_iterator begin() const noexcept { return data_; }
    const_iterator end() const noexcept;
    std::span<const JsonMember> members() const noexcept;

    // The value stored under `key`, or nullptr. The UTF-8 form converts the key first.
    const JsonValue* find(std::u16string_view key) const noexcept;
    JsonValue* find(std::u16string_view key) noexcept;
    const JsonValue* find(std::string_view utf8Key) const;
    bool contains(std::u16string_view key) const noexcept { return find(key) != nullptr; }

    // Stores `value` under `key`, replacing any value stored there.
    JsonValue& set(std::u16string_view key, JsonValue value);
    JsonValue& set(const std::u16string& key, JsonValue value);
    JsonValue& set(const char16_t* key, JsonValue value);
    JsonValue& set(std::string_view utf8Key, JsonValue value);
    // Removes the member; false when there was none.
    bool erase(std::u16string_view key);

    friend BRENVO_EXPORT bool operator==(const JsonObject& a, const JsonObject& b);

private:
    JsonMember* lowerBound(std::u16string_view key) const noexcept;
};

class BRENVO_EXPORT JsonValue {
public:
    enum class Kind : uint8_t { Null, Boolean, Number, String, Array, Object, Host };
    using Array = JsonArray;
    using Object = JsonObject;

    JsonValue() noexcept : kind_(Kind::Null) { clearBytes(); }
    JsonValue(std::nullptr_t) noexcept : kind_(Kind::Null) { clearBytes(); }
    JsonValue(bool value) noexcept : kind_(Kind::Boolean) {
        clearBytes();
        boolean_ = value;
    }
    JsonValue(Decimal value) noexcept : kind_(Kind::Number) {
        new (&number_) Decimal(std::move(value));
        heavy_ = !number_.isCompact();
    }
    template <std::integral T>
    requires(!std::same_as<T, bool>) JsonValue(T value)
    noexcept : JsonValue(Decimal(value)) {}
    // A finite double as its shortest round-trip text. NaN and infinities have no JSON form:
    // they give a host value named "non-finite double (nan)" (or "(inf)", "(-inf)") that
    // offers no proxy, so writing it fails with a clear message instead of losing the value.
    JsonValue(double value);
    JsonValue(JsonString value) noexcept : kind_(Kind::String), heavy_(true) {
        new (&string_) JsonString(std::move(value));
    }
    JsonValue(const std::u16string& value) : JsonValue(JsonString(value)) {}
    JsonValue(const char16_t* value) : JsonValue(JsonString(value)) {}
    // UTF-8 text; malformed sequences become U+FFFD.
    JsonValue(std::string_view utf8);
    JsonValue(const char* utf8) : JsonValue(std::string_view(utf8)) {}
    JsonValue(const std::string& utf8) : JsonValue(std::string_view(utf8)) {}
    explicit JsonValue(Array elements) noexcept : kind_(Kind::Array), heavy_(true) {
        new (&array_) Array(std::move(elements));
    }
    explicit JsonValue(JsonObject members) noexcept : kind_(Kind::Object), heavy_(true) {
        new (&object_) JsonObject(std::move(members));
    }
    // A host object; a null pointer gives null.
    JsonValue(std::shared_ptr<const JsonHostValue> host) noexcept;
    template <typename T>
    requires std::derived_from<T, JsonHostValue> JsonValue(std::shared_ptr<T> host)
    noexcept : JsonValue(std::shared_ptr<const JsonHostValue>(std::move(host))) {}
    // Pointers other than strings must not turn into booleans.
    JsonValue(const void*) = delete;

    static JsonValue array() { return JsonValue(Array{}); }
    static JsonValue array(std::initializer_list<JsonValue> elements);
    static JsonValue object() { return JsonValue(JsonObject{}); }
    static JsonValue object(std::initializer_list<JsonMember> members);

    JsonValue(const JsonValue& other);
    JsonValue(JsonValue&& other) noexcept { relocateFrom(other); }
    JsonValue& operator=(const JsonValue& other);
    JsonValue& operator=(JsonValue&& other) noexcept {
        if (!heavy_)
            relocateFrom(other);
        else
            moveAssign(other);
        return *this;
    }
    ~JsonValue() {
        if (heavy_)
            destroy();
    }

    Kind kind() const noexcept { return kind_; }
    bool isNull() const noexcept { return kind_ == Kind::Null; }
    bool isBoolean() const noexcept { return kind_ == Kind::Boolean; }
    bool isNumber() const noexcept { return kind_ == Kind::Number; }
    bool isString() const noexcept { return kind_ == Kind::String; }
    bool isArray() const noexcept { return kind_ == Kind::Array; }
    bool isObject() const noexcept { return kind_ == Kind::Object; }
    bool isHost() const noexcept { return kind_ == Kind::Host; }
    // An object or an array.
    bool isContainer() const noexcept { return kind_ == Kind::Array || kind_ == Kind::Object; }

    // Each accessor gives the content when the value is of that kind, otherwise
    // std::nullopt or nullptr.
    std::optional<bool> asBoolean() const noexcept {
        return isBoolean() ? std::optional<bool>(boolean_) : std::nullopt;
    }
    const Decimal* asNumber() const noexcept { return isNumber() ? &number_ : nullptr; }
    const JsonString* asString() const noexcept { return isString() ? &string_ : nullptr; }
    const Array* asArray() const noexcept { return isArray() ? &array_ : nullptr; }
    Array* asArray() noexcept {
        if (!isArray())
            return nullptr;
        array_.leaveDocument();
        return &array_;
    }
    const JsonObject* asObject() const noexcept { return isObject() ? &object_ : nullptr; }
    JsonObject* asObject() noexcept {
        if (!isObject())
            return nullptr;
        object_.leaveDocument();
        return &object_;
    }
    const std::shared_ptr<const JsonHostValue>* asHost() const noexcept {
        return isHost() ? &host_ : nullptr;
    }

    // Deep equality. Numbers compare by value (Decimal ==), strings by UTF-16 units, objects
    // by their sorted members; a host object equals only the same host instance.
    friend BRENVO_EXPORT bool operator==(const JsonValue& a, const JsonValue& b);

private:
    friend struct JsonValueRelease;
    friend struct detail::ValueBuilder;
    void destroy() noexcept;
    void moveAssign(JsonValue& other) noexcept;
    void clearBytes() noexcept { std::memset(static_cast<void*>(&number_), 0, sizeof(Decimal)); }
    // Takes over `other`'s content, this value holding nothing; `other` becomes null. Every
    // payload but a host pointer is relocatable (no payload points into itself), so its bytes
    // move as they are and the source is simply marked null, never destroyed.
    void relocateFrom(JsonValue& other) noexcept {
        kind_ = other.kind_;
        heavy_ = other.heavy_;
        if (kind_ == Kind::Host) {
            new (&host_) std::shared_ptr<const JsonHostValue>(std::move(other.host_));
            other.host_.~shared_ptr();
        } else {
            std::memcpy(static_cast<void*>(&number_), static_cast<const void*>(&other.number_),
                        sizeof(Decimal));
        }
        other.kind_ = Kind::Null;
        other.heavy_ = false;
    }
    void copyFrom(const JsonValue& other);

    union {
        bool boolean_;
        Decimal number_;
        JsonString string_;
        Array array_;
        JsonObject object_;
        std::shared_ptr<const JsonHostValue> host_;
    };
    Kind kind_;
    bool heavy_ = false; // owns memory: a string, container, host object or long number
};
static_assert(sizeof(JsonValue) == 24);

// One member of an object.
struct BRENVO_EXPORT JsonMember {
    JsonMember() = default;
    JsonMember(JsonString k, JsonValue v) noexcept : key(std::move(k)), value(std::move(v)) {}
    JsonMember(const std::u16string& k, JsonValue v) : key(k), value(std::move(v)) {}
    JsonMember(const char16_t* k, JsonValue v) : key(k), value(std::move(v)) {}
    JsonMember(std::string_view utf8Key, JsonValue v);
    JsonMember(const char* utf8Key, JsonValue v)
        : JsonMember(std::string_view(utf8Key), std::move(v)) {}

    JsonString key;
    JsonValue value;

    friend bool operator==(const JsonMember&, const JsonMember&) = default;
};
static_assert(sizeof(JsonMember) == 40);

// A value of a type the JSON layer does not know, created by host code. A writer asks it for
// a JSON stand-in (proxyForJson) and otherwise reports it by typeName().
class BRENVO_EXPORT JsonHostValue {
public:
    virtual ~JsonHostValue();
    // The name of the value's type, for messages ("NSDate", "Color").
    virtual std::string typeName() const = 0;
    // A JSON value to write in this value's place; std::nullopt offers none.
    virtual std::optional<JsonValue> proxyForJson() const;
};

// A lookup into a value tree that carries absence through: every lookup on an absent view,
// every missing member, out-of-range index or lookup on the wrong kind gives an absent view.
// The view borrows: it must not outlive the value it looks into.
class BRENVO_EXPORT JsonRef {
public:
    JsonRef() noexcept = default;
    JsonRef(const JsonValue& value) noexcept : value_(&value) {}
    JsonRef(const JsonValue* value) noexcept : value_(value) {}
    JsonRef(const std::optional<JsonValue>& value) noexcept : value_(value ? &*value : nullptr) {}

    JsonRef operator[](std::string_view utf8Key) const;
    JsonRef operator[](std::u16string_view key) const noexcept;
    JsonRef operator[](const char* utf8Key) const { return (*this)[std::string_view(utf8Key)]; }
    JsonRef operator[](const char16_t* key) const noexcept {
        return (*this)[std::u16string_view(key)];
    }
    JsonRef operator[](std::size_t index) const noexcept;
    JsonRef operator[](int index) const noexcept;

    // The value looked at, or nullptr when absent.
    const JsonValue* get() const noexcept { return value_; }
    bool isAbsent() const noexcept { return value_ == nullptr; }
    explicit operator bool() const noexcept { return value_ != nullptr; }

    bool isNull() const noexcept { return value_ && value_->isNull(); }
    std::optional<bool> asBoolean() const noexcept {
        return value_ ? value_->asBoolean() : std::nullopt;
    }
    const Decimal* asNumber() const noexcept { return value_ ? value_->asNumber() : nullptr; }
    const JsonString* asString() const noexcept { return value_ ? value_->asString() : nullptr; }
    const JsonValue::Array* asArray() const noexcept {
        return value_ ? value_->asArray() : nullptr;
    }
    const JsonObject* asObject() const noexcept { return value_ ? value_->asObject() : nullptr; }
    // The string in UTF-8 (lone surrogates as U+FFFD), or std::nullopt when not a string.
    std::optional<std::string> stringUtf8() const;

private:
    const JsonValue* value_ = nullptr;
};

inline JsonArray::iterator JsonArray::end() noexcept {
    return data_ + size_;
}
inline JsonArray::const_iterator JsonArray::end() const noexcept {
    return data_ + size_;
}
inline JsonValue& JsonArray::operator[](std::size_t i) noexcept {
    return data_[i];
}
inline const JsonValue& JsonArray::operator[](std::size_t i) const noexcept {
    return data_[i];
}
inline JsonValue& JsonArray::back() noexcept {
    return data_[size_ - 1];
}
inline const JsonValue& JsonArray::back() const noexcept {
    return data_[size_ - 1];
}
inline void JsonArray::push_back(const JsonValue& value) {
    emplace_back(value);
}
inline void JsonArray::push_back(JsonValue&& value) {
    emplace_back(std::move(value));
}
template <typename... Args> JsonValue& JsonArray::emplace_back(Args&&... args) {
    // Build first: an argument may be an element of this array, which growing would move.
    JsonValue value(std::forward<Args>(args)...);
    if (size_ == capacity_)
        grow();
    JsonValue* slot = new (data_ + size_) JsonValue(std::move(value));
    ++size_;
    return *slot;
}
inline void JsonArray::pop_back() noexcept {
    --size_;
    data_[size_].~JsonValue();
}

inline JsonObject::const_iterator JsonObject::end() const noexcept {
    return data_ + size_;
}
inline std::span<const JsonMember> JsonObject::members() const noexcept {
    return {data_, size_};
}

} // namespace brenvo
