// JsonValue: one JSON value, and JsonRef: a lookup view that carries absence through.
//
// A JsonValue is null, a boolean, a number (an exact Decimal), a string (UTF-16 units), an
// array, an object, or a host object (a JsonHostValue that only host code creates, so that a
// writer can meet values of types it does not know). Booleans are never numbers. Objects keep
// their members sorted by key (UTF-16 unit order) with unique keys; lookup is a binary search.
// Values are plain values: copies are deep, == compares contents. Destruction, copying and
// comparison never recurse once per nesting level, so arbitrarily deep values are safe.
//
//     using brenvo::JsonValue;
//     JsonValue reply = JsonValue::object({
//         {"resultCount", 1},
//         {"results", JsonValue::array({JsonValue::object({{"version", "2.1"}})})},
//     });
//     brenvo::JsonRef ref(reply);
//     if (const std::u16string* version = ref["results"][0]["version"].asString())
//         std::string utf8 = brenvo::toUtf8(*version);    // "2.1"
//     ref["results"][7]["missing"].isAbsent();              // true, no checks in between
#pragma once

#include "brenvo/Export.h"
#include "brenvo/JSON/Decimal.h"

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <optional>
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
class JsonObject;

namespace detail {
// Makes an object of members already sorted with unique keys, without checking them.
JsonObject adoptSortedMembers(std::vector<JsonMember>&& members) noexcept;
} // namespace detail

// UTF-8 <-> UTF-16. The lenient forms never fail: a lone surrogate (UTF-16) or a malformed
// sequence (UTF-8, each maximal bad subpart) becomes U+FFFD. The strict forms give
// std::nullopt instead.
BRENVO_EXPORT std::string toUtf8(std::u16string_view text);
BRENVO_EXPORT std::u16string toUtf16(std::string_view utf8);
BRENVO_EXPORT std::optional<std::string> toUtf8Strict(std::u16string_view text);
BRENVO_EXPORT std::optional<std::u16string> toUtf16Strict(std::string_view utf8);

// The members of an object, sorted by key in UTF-16 unit order, keys unique.
class BRENVO_EXPORT JsonObject {
public:
    using const_iterator = const JsonMember*;

    JsonObject() = default;
    // Members in any order; of equal keys the last one is kept.
    JsonObject(std::initializer_list<JsonMember> members);
    static JsonObject fromMembers(std::vector<JsonMember> members);

    std::size_t size() const noexcept;
    bool empty() const noexcept;
    const_iterator begin() const noexcept;
    const_iterator end() const noexcept;
    const std::vector<JsonMember>& members() const noexcept { return members_; }

    // The value stored under `key`, or nullptr. The UTF-8 form converts the key first.
    const JsonValue* find(std::u16string_view key) const noexcept;
    JsonValue* find(std::u16string_view key) noexcept;
    const JsonValue* find(std::string_view utf8Key) const;
    bool contains(std::u16string_view key) const noexcept { return find(key) != nullptr; }

    // Stores `value` under `key`, replacing any value stored there.
    JsonValue& set(std::u16string key, JsonValue value);
    JsonValue& set(std::string_view utf8Key, JsonValue value);
    // Removes the member; false when there was none.
    bool erase(std::u16string_view key);

private:
    friend class JsonValue;
    friend struct JsonValueRelease;
    friend JsonObject detail::adoptSortedMembers(std::vector<JsonMember>&& members) noexcept;
    std::vector<JsonMember> members_;
};

class BRENVO_EXPORT JsonValue {
public:
    enum class Kind : uint8_t { Null, Boolean, Number, String, Array, Object, Host };
    using Array = std::vector<JsonValue>;
    using Object = JsonObject;

    JsonValue() noexcept : kind_(Kind::Null) { clearBytes(); }
    JsonValue(std::nullptr_t) noexcept : kind_(Kind::Null) { clearBytes(); }
    JsonValue(bool value) noexcept : kind_(Kind::Boolean) {
        clearBytes();
        boolean_ = value;
    }
    JsonValue(Decimal value) noexcept;
    template <std::integral T>
    requires(!std::same_as<T, bool>) JsonValue(T value)
    noexcept : JsonValue(Decimal(value)) {}
    // A finite double as its shortest round-trip text. NaN and infinities have no JSON form:
    // they give a host value named "non-finite double (nan)" (or "(inf)", "(-inf)") that
    // offers no proxy, so writing it fails with a clear message instead of losing the value.
    JsonValue(double value);
    JsonValue(std::u16string value) noexcept;
    JsonValue(const char16_t* value) : JsonValue(std::u16string(value)) {}
    // UTF-8 text; malformed sequences become U+FFFD.
    JsonValue(std::string_view utf8);
    JsonValue(const char* utf8) : JsonValue(std::string_view(utf8)) {}
    JsonValue(const std::string& utf8) : JsonValue(std::string_view(utf8)) {}
    explicit JsonValue(Array elements) noexcept;
    explicit JsonValue(JsonObject members) noexcept;
    // A host object; a null pointer gives null.
    JsonValue(std::shared_ptr<const JsonHostValue> host) noexcept;
    template <typename T>
    requires std::derived_from<T, JsonHostValue> JsonValue(std::shared_ptr<T> host)
    noexcept : JsonValue(std::shared_ptr<const JsonHostValue>(std::move(host))) {}
    // Pointers other than strings must not turn into booleans.
    JsonValue(const void*) = delete;

    static JsonValue array() { return JsonValue(Array{}); }
    static JsonValue array(std::initializer_list<JsonValue> elements);
    static JsonValue object();
    static JsonValue object(std::initializer_list<JsonMember> members);

    JsonValue(const JsonValue& other);
    JsonValue(JsonValue&& other) noexcept : kind_(Kind::Null) {
        if (other.isCompactScalar())
            moveCompactFrom(other);
        else
            moveFrom(other);
    }
    JsonValue& operator=(const JsonValue& other);
    JsonValue& operator=(JsonValue&& other) noexcept {
        if (!isCompactScalar()) {
            moveAssign(other);
        } else if (other.isCompactScalar()) {
            moveCompactFrom(other);
        } else {
            kind_ = Kind::Null;
            moveFrom(other);
        }
        return *this;
    }
    ~JsonValue() {
        if (!isCompactScalar())
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
    std::optional<bool> asBoolean() const noexcept;
    const Decimal* asNumber() const noexcept { return isNumber() ? &number_ : nullptr; }
    const std::u16string* asString() const noexcept { return isString() ? &string_ : nullptr; }
    std::u16string* asString() noexcept { return isString() ? &string_ : nullptr; }
    const Array* asArray() const noexcept { return isArray() ? &array_ : nullptr; }
    Array* asArray() noexcept { return isArray() ? &array_ : nullptr; }
    const JsonObject* asObject() const noexcept { return isObject() ? &object_ : nullptr; }
    JsonObject* asObject() noexcept { return isObject() ? &object_ : nullptr; }
    const std::shared_ptr<const JsonHostValue>* asHost() const noexcept {
        return isHost() ? &host_ : nullptr;
    }

    // Deep equality. Numbers compare by value (Decimal ==), strings by UTF-16 units, objects
    // by their sorted members; a host object equals only the same host instance.
    friend BRENVO_EXPORT bool operator==(const JsonValue& a, const JsonValue& b);

private:
    friend struct JsonValueRelease;
    void destroy() noexcept;
    void moveFrom(JsonValue& other) noexcept;
    void moveAssign(JsonValue& other) noexcept;
    // Null, a boolean or an inline number: nothing to release, copied bit for bit.
    bool isCompactScalar() const noexcept { return !heavy_; }
    // Requires that both this value and `other` are compact scalars; leaves `other` as is.
    // Compact values keep every byte of their storage defined, so they copy as plain bytes.
    void clearBytes() noexcept { std::memset(static_cast<void*>(&number_), 0, sizeof(Decimal)); }
    void moveCompactFrom(JsonValue& other) noexcept {
        // A compact value is plain bytes (a boolean, or a number without memory of its own).
        std::memcpy(static_cast<void*>(&number_), static_cast<const void*>(&other.number_),
                    sizeof(Decimal));
        kind_ = other.kind_;
    }
    void copyFrom(const JsonValue& other);

    Kind kind_;
    bool heavy_ = false; // owns memory: a string, container, host object or long number
    union {
        bool boolean_;
        Decimal number_;
        std::u16string string_;
        Array array_;
        JsonObject object_;
        std::shared_ptr<const JsonHostValue> host_;
    };
};

// One member of an object.
struct BRENVO_EXPORT JsonMember {
    JsonMember() = default;
    JsonMember(std::u16string k, JsonValue v) : key(std::move(k)), value(std::move(v)) {}
    JsonMember(const char16_t* k, JsonValue v) : key(k), value(std::move(v)) {}
    JsonMember(std::string_view utf8Key, JsonValue v);
    JsonMember(const char* utf8Key, JsonValue v)
        : JsonMember(std::string_view(utf8Key), std::move(v)) {}

    std::u16string key;
    JsonValue value;

    friend bool operator==(const JsonMember&, const JsonMember&) = default;
};

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
    const std::u16string* asString() const noexcept {
        return value_ ? value_->asString() : nullptr;
    }
    const JsonValue::Array* asArray() const noexcept {
        return value_ ? value_->asArray() : nullptr;
    }
    const JsonObject* asObject() const noexcept { return value_ ? value_->asObject() : nullptr; }
    // The string in UTF-8 (lone surrogates as U+FFFD), or std::nullopt when not a string.
    std::optional<std::string> stringUtf8() const;

private:
    const JsonValue* value_ = nullptr;
};

inline std::size_t JsonObject::size() const noexcept {
    return members_.size();
}
inline bool JsonObject::empty() const noexcept {
    return members_.empty();
}
inline JsonValue JsonValue::object() {
    return JsonValue(JsonObject{});
}
inline JsonObject::const_iterator JsonObject::begin() const noexcept {
    return members_.data();
}
inline JsonObject::const_iterator JsonObject::end() const noexcept {
    return members_.data() + members_.size();
}

} // namespace brenvo
