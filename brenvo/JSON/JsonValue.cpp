#include "brenvo/JSON/JsonValue.h"

#include "brenvo/JSON/detail/Members.h"
#include "brenvo/JSON/detail/Slab.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <exception>
#include <new>
#include <utility>

namespace brenvo {

// ---------------------------------------------------------------------------------------------
// Strings

void detail::containerLimitExceeded() noexcept {
    // Like running out of memory: there is no way to go on and nothing may throw.
    std::terminate();
}

JsonString::JsonString(std::u16string_view text) : JsonString() {
    char16_t* units = prepare(text.size());
    if (!text.empty())
        std::memcpy(units, text.data(), text.size() * sizeof(char16_t));
}

JsonString JsonString::fromUtf8(std::string_view utf8) {
    return JsonString(std::u16string_view(toUtf16(utf8)));
}

char16_t* JsonString::prepare(std::size_t n) {
    if (n <= kInlineUnits) {
        tag_ = static_cast<uint16_t>(n);
        return units_;
    }
    if (n >> 48)
        detail::containerLimitExceeded();
    return adopt(detail::allocateBlock(n * sizeof(char16_t)), n);
}

void JsonString::freeHeap() noexcept {
    detail::freeBlock(const_cast<char16_t*>(data()));
}

// ---------------------------------------------------------------------------------------------
// Releasing trees

namespace {

// Values nested deeper than this below the value being released are taken apart with an
// explicit work list instead of recursion.
constexpr int kRecursionBudget = 64;

template <typename T> T* allocateSlots(std::size_t n) {
    if (n > UINT32_MAX)
        detail::containerLimitExceeded();
    return static_cast<T*>(detail::allocateBlock(n * sizeof(T)));
}

} // namespace

// Releases everything a run of values owns. Recursion is bounded by kRecursionBudget; a
// container found below that depth is moved to a work list and taken apart from there.
struct JsonValueRelease {
    std::vector<JsonValue> deferred;
    detail::BlockBatch blocks;

    // Releases the string's block and leaves `s` as raw storage.
    void string(JsonString& s) noexcept {
        if (s.tag_ == JsonString::kHeap)
            blocks.free(const_cast<char16_t*>(s.data()));
    }

    void values(JsonValue* first, std::size_t n, int budget) noexcept {
        for (JsonValue* v = first; v != first + n; ++v)
            if (v->heavy_)
                value(*v, budget);
    }
    void members(JsonMember* first, std::size_t n, int budget) noexcept {
        for (JsonMember* m = first; m != first + n; ++m) {
            string(m->key);
            if (m->value.heavy_)
                value(m->value, budget);
        }
    }
    // Releases what `v` owns and leaves `v` as raw storage, unless it is moved to the work list.
    void value(JsonValue& v, int budget) noexcept {
        switch (v.kind_) {
        case JsonValue::Kind::Null:
        case JsonValue::Kind::Boolean:
            break;
        case JsonValue::Kind::Number:
            v.number_.~Decimal();
            break;
        case JsonValue::Kind::String:
            string(v.string_);
            break;
        case JsonValue::Kind::Host:
            v.host_.~shared_ptr();
            break;
        case JsonValue::Kind::Array:
            if (v.array_.data_) {
                if (budget == 0) {
                    deferred.push_back(std::move(v));
                    return;
                }
                values(v.array_.data_, v.array_.size_, budget - 1);
                blocks.free(v.array_.data_);
            }
            break;
        case JsonValue::Kind::Object:
            if (v.object_.data_) {
                if (budget == 0) {
                    deferred.push_back(std::move(v));
                    return;
                }
                members(v.object_.data_, v.object_.size_, budget - 1);
                blocks.free(v.object_.data_);
            }
            break;
        }
    }
    void drain() noexcept {
        while (!deferred.empty()) {
            JsonValue item = std::move(deferred.back());
            deferred.pop_back();
            value(item, kRecursionBudget);
            // Its content is released; its destructor must not release it again.
            item.kind_ = JsonValue::Kind::Null;
            item.heavy_ = false;
        }
    }

    static bool hasChildren(const JsonValue& v) noexcept {
        return (v.kind_ == JsonValue::Kind::Array && v.array_.size_ != 0) ||
               (v.kind_ == JsonValue::Kind::Object && v.object_.size_ != 0);
    }
};

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

JsonArray::JsonArray(const JsonArray& other) {
    reserve(other.size_);
    // Each element copies its own subtree without recursion.
    for (const JsonValue& element : other)
        new (data_ + size_++) JsonValue(element);
}

JsonArray& JsonArray::operator=(const JsonArray& other) {
    if (this != &other)
        *this = JsonArray(other);
    return *this;
}

JsonArray& JsonArray::operator=(JsonArray&& other) noexcept {
    if (this != &other) {
        // `other` may live inside this array: detach it before letting go of this one.
        JsonValue* data = other.data_;
        const uint32_t size = other.size_, capacity = other.capacity_;
        other.data_ = nullptr;
        other.size_ = other.capacity_ = 0;
        if (data_)
            release();
        data_ = data;
        size_ = size;
        capacity_ = capacity;
    }
    return *this;
}

void JsonArray::release() noexcept {
    clear();
    detail::freeBlock(data_);
    data_ = nullptr;
    capacity_ = 0;
}

void JsonArray::clear() noexcept {
    JsonValueRelease release;
    release.values(data_, size_, kRecursionBudget);
    release.drain();
    size_ = 0;
}

void JsonArray::reserve(std::size_t capacity) {
    if (capacity <= capacity_)
        return;
    JsonValue* data = allocateSlots<JsonValue>(capacity);
    for (uint32_t i = 0; i < size_; ++i) {
        new (data + i) JsonValue(std::move(data_[i]));
        data_[i].~JsonValue();
    }
    // A parsed array's block may lie in a slab; the grown one is always a heap block.
    if (data_)
        detail::freeBlock(data_);
    data_ = data;
    capacity_ = static_cast<uint32_t>(capacity);
}

void JsonArray::grow() {
    if (capacity_ == UINT32_MAX)
        detail::containerLimitExceeded();
    const std::size_t doubled = std::size_t(capacity_) * 2;
    reserve(std::clamp<std::size_t>(doubled, 4, UINT32_MAX));
}

bool operator==(const JsonArray& a, const JsonArray& b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (!(a[i] == b[i]))
            return false;
    return true;
}

// ---------------------------------------------------------------------------------------------
// Objects

namespace detail {

JsonMember* sortMembers(JsonMember* first, JsonMember* last) {
    const std::size_t n = static_cast<std::size_t>(last - first);
    if (n < 2)
        return last;
    bool strictlySorted = true;
    for (std::size_t i = 1; i < n; ++i) {
        if (!(first[i - 1].key < first[i].key)) {
            strictlySorted = false;
            break;
        }
    }
    if (strictlySorted)
        return last;
    auto byKey = [](const JsonMember& a, const JsonMember& b) { return a.key < b.key; };
    if (n <= 16) {
        // Insertion sort: stable and allocation-free for the common small object.
        for (std::size_t i = 1; i < n; ++i) {
            if (!byKey(first[i], first[i - 1]))
                continue;
            JsonMember moving = std::move(first[i]);
            std::size_t j = i;
            while (j > 0 && byKey(moving, first[j - 1])) {
                first[j] = std::move(first[j - 1]);
                --j;
            }
            first[j] = std::move(moving);
        }
    } else {
        std::stable_sort(first, last, byKey);
    }
    // Of equal keys keep the last, which stable sorting left last in its run.
    JsonMember* out = first;
    for (JsonMember* it = first; it != last; ++it) {
        if (it + 1 != last && it[0].key == it[1].key)
            continue;
        if (out != it)
            *out = std::move(*it);
        ++out;
    }
    return out;
}

} // namespace detail

JsonObject::JsonObject(std::initializer_list<JsonMember> members)
    : JsonObject(fromMembers(std::vector<JsonMember>(members))) {}

JsonObject JsonObject::fromMembers(std::vector<JsonMember> members) {
    JsonMember* end = detail::sortMembers(members.data(), members.data() + members.size());
    const std::size_t n = static_cast<std::size_t>(end - members.data());
    JsonObject object;
    if (n == 0)
        return object;
    object.data_ = allocateSlots<JsonMember>(n);
    for (std::size_t i = 0; i < n; ++i)
        new (object.data_ + i) JsonMember(std::move(members[i]));
    object.size_ = object.capacity_ = static_cast<uint32_t>(n);
    return object;
}

JsonObject::JsonObject(const JsonObject& other) {
    if (other.size_ == 0)
        return;
    data_ = allocateSlots<JsonMember>(other.size_);
    capacity_ = other.size_;
    // Each value copies its own subtree without recursion.
    for (const JsonMember& member : other)
        new (data_ + size_++) JsonMember(member);
}

JsonObject& JsonObject::operator=(const JsonObject& other) {
    if (this != &other)
        *this = JsonObject(other);
    return *this;
}

JsonObject& JsonObject::operator=(JsonObject&& other) noexcept {
    if (this != &other) {
        // `other` may live inside this object: detach it before letting go of this one.
        JsonMember* data = other.data_;
        const uint32_t size = other.size_, capacity = other.capacity_;
        other.data_ = nullptr;
        other.size_ = other.capacity_ = 0;
        if (data_)
            release();
        data_ = data;
        size_ = size;
        capacity_ = capacity;
    }
    return *this;
}

void JsonObject::release() noexcept {
    JsonValueRelease release;
    release.members(data_, size_, kRecursionBudget);
    release.drain();
    detail::freeBlock(data_);
    data_ = nullptr;
    size_ = capacity_ = 0;
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
    std::size_t index = static_cast<std::size_t>(at - data_);
    if (size_ == capacity_) {
        if (capacity_ == UINT32_MAX)
            detail::containerLimitExceeded();
        const std::size_t capacity =
            std::clamp<std::size_t>(std::size_t(capacity_) * 2, 4, UINT32_MAX);
        JsonMember* data = allocateSlots<JsonMember>(capacity);
        for (uint32_t i = 0; i < size_; ++i) {
            new (data + i) JsonMember(std::move(data_[i]));
            data_[i].~JsonMember();
        }
        if (data_)
            detail::freeBlock(data_);
        data_ = data;
        capacity_ = static_cast<uint32_t>(capacity);
    }
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
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (a.data_[i].key != b.data_[i].key || !(a.data_[i].value == b.data_[i].value))
            return false;
    return true;
}

JsonMember::JsonMember(std::string_view utf8Key, JsonValue v)
    : key(JsonString::fromUtf8(utf8Key)), value(std::move(v)) {}

// ---------------------------------------------------------------------------------------------
// Values

namespace {

// What a NaN or an infinity becomes: a value that names itself and cannot be written.
class NonFiniteDouble final : public JsonHostValue {
public:
    explicit NonFiniteDouble(double value) : value_(value) {}
    std::string typeName() const override {
        return std::isnan(value_) ? "non-finite double (nan)"
               : value_ > 0       ? "non-finite double (inf)"
                                  : "non-finite double (-inf)";
    }

private:
    double value_;
};

} // namespace

JsonValue::JsonValue(double value) : kind_(Kind::Null) {
    clearBytes();
    if (std::optional<Decimal> d = Decimal::fromDouble(value)) {
        new (&number_) Decimal(std::move(*d));
        kind_ = Kind::Number;
        heavy_ = !number_.isCompact();
    } else {
        new (&host_) std::shared_ptr<const JsonHostValue>(std::make_shared<NonFiniteDouble>(value));
        kind_ = Kind::Host;
        heavy_ = true;
    }
}

JsonValue::JsonValue(std::string_view utf8) : JsonValue(JsonString::fromUtf8(utf8)) {}

JsonValue::JsonValue(std::shared_ptr<const JsonHostValue> host) noexcept : kind_(Kind::Null) {
    clearBytes();
    if (host) {
        new (&host_) std::shared_ptr<const JsonHostValue>(std::move(host));
        kind_ = Kind::Host;
        heavy_ = true;
    }
}

JsonValue JsonValue::array(std::initializer_list<JsonValue> elements) {
    return JsonValue(Array(elements));
}

JsonValue JsonValue::object(std::initializer_list<JsonMember> members) {
    return JsonValue(JsonObject(members));
}

JsonValue::JsonValue(const JsonValue& other) : kind_(Kind::Null) {
    clearBytes();
    copyFrom(other);
}

JsonValue& JsonValue::operator=(const JsonValue& other) {
    if (this != &other) {
        JsonValue copy(other);
        if (heavy_)
            destroy();
        relocateFrom(copy);
    }
    return *this;
}

void JsonValue::moveAssign(JsonValue& other) noexcept {
    if (this != &other) {
        // `other` may live inside this value: detach it before letting go of this one.
        JsonValue taken(std::move(other));
        destroy();
        relocateFrom(taken);
    }
}

void JsonValue::destroy() noexcept {
    switch (kind_) {
    case Kind::Null:
    case Kind::Boolean:
        break;
    case Kind::Number:
        number_.~Decimal();
        break;
    case Kind::String:
        string_.~JsonString();
        break;
    case Kind::Array:
        array_.~JsonArray();
        break;
    case Kind::Object:
        object_.~JsonObject();
        break;
    case Kind::Host:
        host_.~shared_ptr();
        break;
    }
    kind_ = Kind::Null;
    heavy_ = false;
}

void JsonValue::copyFrom(const JsonValue& other) {
    // Copies `source` into the null value `target`; containers get their elements (or keys)
    // with null values, filled in later from the work list.
    auto shallow = [](const JsonValue& source, JsonValue& target) {
        switch (source.kind_) {
        case Kind::Null:
        case Kind::Boolean:
            std::memcpy(static_cast<void*>(&target.number_),
                        static_cast<const void*>(&source.number_), sizeof(Decimal));
            break;
        case Kind::Number:
            new (&target.number_) Decimal(source.number_);
            break;
        case Kind::String:
            new (&target.string_) JsonString(source.string_);
            break;
        case Kind::Array: {
            new (&target.array_) Array();
            Array& to = target.array_;
            const uint32_t n = source.array_.size_;
            if (n != 0) {
                to.data_ = allocateSlots<JsonValue>(n);
                to.capacity_ = n;
                for (; to.size_ < n; ++to.size_)
                    new (to.data_ + to.size_) JsonValue();
            }
            break;
        }
        case Kind::Object: {
            new (&target.object_) JsonObject();
            JsonObject& to = target.object_;
            const uint32_t n = source.object_.size_;
            if (n != 0) {
                to.data_ = allocateSlots<JsonMember>(n);
                to.capacity_ = n;
                for (; to.size_ < n; ++to.size_)
                    new (to.data_ + to.size_)
                        JsonMember(source.object_.data_[to.size_].key, JsonValue());
            }
            break;
        }
        case Kind::Host:
            new (&target.host_) std::shared_ptr<const JsonHostValue>(source.host_);
            break;
        }
        target.kind_ = source.kind_;
        target.heavy_ = source.heavy_;
    };
    shallow(other, *this);
    if (!JsonValueRelease::hasChildren(other))
        return;
    std::vector<std::pair<const JsonValue*, JsonValue*>> work;
    work.emplace_back(&other, this);
    while (!work.empty()) {
        auto [source, target] = work.back();
        work.pop_back();
        auto copyChild = [&](const JsonValue& s, JsonValue& t) {
            shallow(s, t);
            if (JsonValueRelease::hasChildren(s))
                work.emplace_back(&s, &t);
        };
        if (source->kind_ == Kind::Array) {
            for (std::size_t i = 0; i < source->array_.size(); ++i)
                copyChild(source->array_[i], target->array_[i]);
        } else {
            const JsonMember* from = source->object_.data_;
            JsonMember* to = target->object_.data_;
            for (std::size_t i = 0; i < source->object_.size(); ++i)
                copyChild(from[i].value, to[i].value);
        }
    }
}

bool operator==(const JsonValue& a, const JsonValue& b) {
    using Kind = JsonValue::Kind;
    std::vector<std::pair<const JsonValue*, const JsonValue*>> work;
    const JsonValue* x = &a;
    const JsonValue* y = &b;
    for (;;) {
        if (x->kind_ != y->kind_)
            return false;
        switch (x->kind_) {
        case Kind::Null:
            break;
        case Kind::Boolean:
            if (x->boolean_ != y->boolean_)
                return false;
            break;
        case Kind::Number:
            if (!(x->number_ == y->number_))
                return false;
            break;
        case Kind::String:
            if (x->string_ != y->string_)
                return false;
            break;
        case Kind::Array:
            if (x->array_.size() != y->array_.size())
                return false;
            for (std::size_t i = x->array_.size(); i-- > 0;)
                work.emplace_back(&x->array_[i], &y->array_[i]);
            break;
        case Kind::Object: {
            const auto mx = x->object_.members();
            const auto my = y->object_.members();
            if (mx.size() != my.size())
                return false;
            for (std::size_t i = mx.size(); i-- > 0;) {
                if (mx[i].key != my[i].key)
                    return false;
                work.emplace_back(&mx[i].value, &my[i].value);
            }
            break;
        }
        case Kind::Host:
            if (x->host_ != y->host_)
                return false;
            break;
        }
        if (work.empty())
            return true;
        std::tie(x, y) = work.back();
        work.pop_back();
    }
}

JsonHostValue::~JsonHostValue() = default;

std::optional<JsonValue> JsonHostValue::proxyForJson() const {
    return std::nullopt;
}

// ---------------------------------------------------------------------------------------------
// Lookup view

JsonRef JsonRef::operator[](std::string_view utf8Key) const {
    if (!value_ || !value_->isObject())
        return JsonRef();
    return JsonRef(value_->asObject()->find(utf8Key));
}

JsonRef JsonRef::operator[](std::u16string_view key) const noexcept {
    if (!value_ || !value_->isObject())
        return JsonRef();
    return JsonRef(value_->asObject()->find(key));
}

JsonRef JsonRef::operator[](std::size_t index) const noexcept {
    const JsonValue::Array* array = value_ ? value_->asArray() : nullptr;
    if (!array || index >= array->size())
        return JsonRef();
    return JsonRef(&(*array)[index]);
}

JsonRef JsonRef::operator[](int index) const noexcept {
    if (index < 0)
        return JsonRef();
    return (*this)[static_cast<std::size_t>(index)];
}

std::optional<std::string> JsonRef::stringUtf8() const {
    const JsonString* s = asString();
    if (!s)
        return std::nullopt;
    return toUtf8(*s);
}

} // namespace brenvo
