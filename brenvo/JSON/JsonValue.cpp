#include "brenvo/JSON/JsonValue.h"

#include "brenvo/JSON/detail/Release.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <exception>
#include <new>
#include <utility>

namespace brenvo {

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
    JsonValueRelease release;
    release.value(*this, JsonValueRelease::kRecursionBudget);
    release.drain();
    // The content is released, or moved to the work list and released from there.
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
            Array& to = *new (&target.array_) Array();
            to.reserve(source.array_.size_);
            for (; to.size_ < source.array_.size_; ++to.size_)
                new (to.data_ + to.size_) JsonValue();
            break;
        }
        case Kind::Object: {
            JsonObject& to = *new (&target.object_) JsonObject();
            to.reserve(source.object_.size_);
            for (; to.size_ < source.object_.size_; ++to.size_)
                new (to.data_ + to.size_)
                    JsonMember(source.object_.data_[to.size_].key, JsonValue());
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
