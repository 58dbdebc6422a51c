// Taking value trees apart: what destroying or clearing a JsonValue, JsonArray or JsonObject
// does, with bounded recursion however deep the tree.
#pragma once

#include "brenvo/JSON/JsonValue.h"
#include "brenvo/JSON/detail/Slab.h"

#include <cstddef>
#include <utility>
#include <vector>

namespace brenvo {

// Releases everything a run of values or members owns. Recursion is bounded by
// kRecursionBudget; a container found below that depth is moved to a work list and taken apart
// from there. Blocks are freed through one batch, so consecutive slab blocks cost one atomic
// update.
struct JsonValueRelease {
    // Values nested deeper than this below the value being released go to the work list.
    static constexpr int kRecursionBudget = 64;

    std::vector<JsonValue> deferred;
    detail::BlockBatch blocks;

    // Releases the string's block and leaves `s` as raw storage.
    void string(JsonString& s) noexcept {
        if (s.tag_ == JsonString::kHeap)
            blocks.free(const_cast<char16_t*>(s.data()));
    }

    void entries(JsonValue* first, std::size_t n, int budget) noexcept {
        for (JsonValue* v = first; v != first + n; ++v)
            if (v->heavy_)
                value(*v, budget);
    }
    void entries(JsonMember* first, std::size_t n, int budget) noexcept {
        for (JsonMember* m = first; m != first + n; ++m) {
            string(m->key);
            if (m->value.heavy_)
                value(m->value, budget);
        }
    }
    // Releases a container's entries and block, unless the budget is spent: then the value
    // holding it goes to the work list whole.
    template <class Entry>
    bool container(JsonValue& holder, detail::EntryStorage<Entry>& storage, int budget) noexcept {
        if (!storage.data_)
            return true;
        if (detail::DocumentBlocks* document = detail::documentOf(storage.data_)) {
            detail::releaseDocument(document);
            return true;
        }
        if (budget == 0) {
            deferred.push_back(std::move(holder));
            return false;
        }
        entries(storage.data_, storage.size_, budget - 1);
        blocks.free(storage.data_);
        return true;
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
            container(v, v.array_, budget);
            break;
        case JsonValue::Kind::Object:
            container(v, v.object_, budget);
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

} // namespace brenvo
