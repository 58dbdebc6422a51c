#include "brenvo/JSON/JsonValue.h"

#include "brenvo/JSON/detail/Members.h"
#include "brenvo/JSON/detail/Utf8.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

namespace brenvo {

// ---------------------------------------------------------------------------------------------
// Text conversions

namespace {

// Appends the UTF-16 form of `utf8`; returns false at the first ill-formed sequence when
// `strict`, otherwise replaces each maximal ill-formed subpart by U+FFFD.
bool appendUtf8AsUtf16(std::string_view utf8, std::u16string& out, bool strict) {
    const auto* p = reinterpret_cast<const unsigned char*>(utf8.data());
    const auto* end = p + utf8.size();
    const std::size_t start = out.size();
    out.resize(start + utf8.size());
    char16_t* w = out.data() + start;
    while (p < end) {
        if (*p < 0x80) {
            *w++ = *p++;
            continue;
        }
        char32_t cp = 0;
        const int n = detail::decodeUtf8Sequence(p, end, cp);
        if (n > 0) {
            w = detail::appendUtf16(w, cp);
            p += n;
        } else {
            if (strict)
                return false;
            *w++ = u'\uFFFD';
            p += -n;
        }
    }
    out.resize(static_cast<std::size_t>(w - out.data()));
    return true;
}

bool appendUtf16AsUtf8(std::u16string_view text, std::string& out, bool strict) {
    out.reserve(out.size() + text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t cp = text[i];
        if (cp >= 0xD800 && cp <= 0xDFFF) {
            if (cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
                text[i + 1] <= 0xDFFF) {
                cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
                ++i;
            } else {
                if (strict)
                    return false;
                cp = 0xFFFD;
            }
        }
        if (cp < 0x80) {
            out.push_back(static_cast<char>(cp));
        } else if (cp < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    }
    return true;
}

} // namespace

std::string toUtf8(std::u16string_view text) {
    std::string out;
    appendUtf16AsUtf8(text, out, false);
    return out;
}

std::u16string toUtf16(std::string_view utf8) {
    std::u16string out;
    appendUtf8AsUtf16(utf8, out, false);
    return out;
}

std::optional<std::string> toUtf8Strict(std::u16string_view text) {
    std::string out;
    if (!appendUtf16AsUtf8(text, out, true))
        return std::nullopt;
    return out;
}

std::optional<std::u16string> toUtf16Strict(std::string_view utf8) {
    std::u16string out;
    if (!appendUtf8AsUtf16(utf8, out, true))
        return std::nullopt;
    return out;
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

JsonObject adoptSortedMembers(std::vector<JsonMember>&& members) noexcept {
    JsonObject object;
    object.members_ = std::move(members);
    return object;
}

} // namespace detail

JsonObject::JsonObject(std::initializer_list<JsonMember> members)
    : JsonObject(fromMembers(std::vector<JsonMember>(members))) {}

JsonObject JsonObject::fromMembers(std::vector<JsonMember> members) {
    JsonMember* end = detail::sortMembers(members.data(), members.data() + members.size());
    members.erase(members.begin() + (end - members.data()), members.end());
    JsonObject object;
    object.members_ = std::move(members);
    return object;
}

namespace {

template <typename Members>
auto findMember(Members& members, std::u16string_view key) -> decltype(&members[0]) {
    auto it = std::lower_bound(
        members.begin(), members.end(), key,
        [](const JsonMember& m, std::u16string_view k) { return m.key.compare(k) < 0; });
    if (it == members.end() || it->key != key)
        return nullptr;
    return &*it;
}

} // namespace

const JsonValue* JsonObject::find(std::u16string_view key) const noexcept {
    const JsonMember* m = findMember(members_, key);
    return m ? &m->value : nullptr;
}

JsonValue* JsonObject::find(std::u16string_view key) noexcept {
    JsonMember* m = findMember(members_, key);
    return m ? &m->value : nullptr;
}

const JsonValue* JsonObject::find(std::string_view utf8Key) const {
    return find(std::u16string_view(toUtf16(utf8Key)));
}

JsonValue& JsonObject::set(std::u16string key, JsonValue value) {
    auto it =
        std::lower_bound(members_.begin(), members_.end(), key,
                         [](const JsonMember& m, const std::u16string& k) { return m.key < k; });
    if (it != members_.end() && it->key == key) {
        it->value = std::move(value);
        return it->value;
    }
    it = members_.insert(it, JsonMember(std::move(key), std::move(value)));
    return it->value;
}

JsonValue& JsonObject::set(std::string_view utf8Key, JsonValue value) {
    return set(toUtf16(utf8Key), std::move(value));
}

bool JsonObject::erase(std::u16string_view key) {
    JsonMember* m = findMember(members_, key);
    if (!m)
        return false;
    members_.erase(members_.begin() + (m - members_.data()));
    return true;
}

JsonMember::JsonMember(std::string_view utf8Key, JsonValue v)
    : key(toUtf16(utf8Key)), value(std::move(v)) {}

// ---------------------------------------------------------------------------------------------
// Values

JsonValue::JsonValue(Decimal value) noexcept : kind_(Kind::Number) {
    new (&number_) Decimal(std::move(value));
    heavy_ = !number_.isCompact();
}

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

JsonValue::JsonValue(std::u16string value) noexcept : kind_(Kind::String) {
    heavy_ = true;
    new (&string_) std::u16string(std::move(value));
}

JsonValue::JsonValue(std::string_view utf8) : kind_(Kind::String) {
    heavy_ = true;
    new (&string_) std::u16string(toUtf16(utf8));
}

JsonValue::JsonValue(Array elements) noexcept : kind_(Kind::Array) {
    heavy_ = true;
    new (&array_) Array(std::move(elements));
}

JsonValue::JsonValue(JsonObject members) noexcept : kind_(Kind::Object) {
    heavy_ = true;
    new (&object_) JsonObject(std::move(members));
}

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
        destroy();
        moveFrom(copy);
    }
    return *this;
}

void JsonValue::moveAssign(JsonValue& other) noexcept {
    if (this != &other) {
        // `other` may live inside this value: detach it before letting go of this one.
        JsonValue taken;
        taken.moveFrom(other);
        destroy();
        moveFrom(taken);
    }
}

std::optional<bool> JsonValue::asBoolean() const noexcept {
    if (kind_ != Kind::Boolean)
        return std::nullopt;
    return boolean_;
}

void JsonValue::moveFrom(JsonValue& other) noexcept {
    switch (other.kind_) {
    case Kind::Null:
        break;
    case Kind::Boolean:
        boolean_ = other.boolean_;
        break;
    case Kind::Number:
        new (&number_) Decimal(std::move(other.number_));
        break;
    case Kind::String:
        new (&string_) std::u16string(std::move(other.string_));
        break;
    case Kind::Array:
        new (&array_) Array(std::move(other.array_));
        break;
    case Kind::Object:
        new (&object_) JsonObject(std::move(other.object_));
        break;
    case Kind::Host:
        new (&host_) std::shared_ptr<const JsonHostValue>(std::move(other.host_));
        break;
    }
    kind_ = other.kind_;
    heavy_ = other.heavy_;
    other.destroy();
}

namespace {

// Values nested deeper than this are released with an explicit work list instead of
// recursion.
constexpr int kRecursionBudget = 64;

} // namespace

// Empties every container below `value`, bottom-up, so that destroying `value` afterwards
// recurses at most one level. Recursion is bounded by kRecursionBudget; below that the rest is
// taken apart iteratively.
struct JsonValueRelease {
    static bool hasChildren(const JsonValue& v) {
        return (v.kind_ == JsonValue::Kind::Array && !v.array_.empty()) ||
               (v.kind_ == JsonValue::Kind::Object && !v.object_.members_.empty());
    }

    static void flatten(JsonValue& root) {
        std::vector<JsonValue> work;
        auto takeChildren = [&work](JsonValue& v) {
            if (v.kind_ == JsonValue::Kind::Array) {
                for (JsonValue& child : v.array_)
                    if (hasChildren(child))
                        work.push_back(std::move(child));
                v.array_.clear();
            } else if (v.kind_ == JsonValue::Kind::Object) {
                for (JsonMember& member : v.object_.members_)
                    if (hasChildren(member.value))
                        work.push_back(std::move(member.value));
                v.object_.members_.clear();
            }
        };
        takeChildren(root);
        while (!work.empty()) {
            JsonValue item = std::move(work.back());
            work.pop_back();
            takeChildren(item);
        }
    }

    static void clearDeep(JsonValue& v, int budget) {
        if (budget == 0) {
            flatten(v);
            return;
        }
        if (v.kind_ == JsonValue::Kind::Array) {
            for (JsonValue& child : v.array_)
                if (hasChildren(child))
                    clearDeep(child, budget - 1);
        } else {
            for (JsonMember& member : v.object_.members_)
                if (hasChildren(member.value))
                    clearDeep(member.value, budget - 1);
        }
        if (v.kind_ == JsonValue::Kind::Array)
            v.array_.clear();
        else
            v.object_.members_.clear();
    }
};

void JsonValue::destroy() noexcept {
    switch (kind_) {
    case Kind::Null:
    case Kind::Boolean:
        break;
    case Kind::Number:
        number_.~Decimal();
        break;
    case Kind::String:
        string_.~basic_string();
        break;
    case Kind::Array:
        if (!array_.empty())
            JsonValueRelease::clearDeep(*this, kRecursionBudget);
        array_.~vector();
        break;
    case Kind::Object:
        if (!object_.members_.empty())
            JsonValueRelease::clearDeep(*this, kRecursionBudget);
        object_.~JsonObject();
        break;
    case Kind::Host:
        host_.~shared_ptr();
        break;
    }
    kind_ = Kind::Null;
    heavy_ = false;
    clearBytes();
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
            new (&target.string_) std::u16string(source.string_);
            break;
        case Kind::Array:
            new (&target.array_) Array(source.array_.size());
            break;
        case Kind::Object: {
            new (&target.object_) JsonObject();
            auto& members = target.object_.members_;
            members.reserve(source.object_.members_.size());
            for (const JsonMember& m : source.object_.members_)
                members.emplace_back(m.key, JsonValue());
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
            const auto& from = source->object_.members_;
            auto& to = target->object_.members_;
            for (std::size_t i = 0; i < from.size(); ++i)
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
            const auto& mx = x->object_.members();
            const auto& my = y->object_.members();
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
    const std::u16string* s = asString();
    if (!s)
        return std::nullopt;
    return toUtf8(*s);
}

} // namespace brenvo
