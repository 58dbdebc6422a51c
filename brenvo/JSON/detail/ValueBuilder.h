// Direct construction of strings, numbers and containers, for the parser: it fills
// exactly-sized storage from its slab arena itself and hands it over, so that nothing is copied
// or reallocated after a value is read.
#pragma once

#include "brenvo/JSON/JsonValue.h"
#include "brenvo/JSON/detail/Slab.h"
#include "brenvo/utf/Simd.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <string_view>

namespace brenvo::detail {

struct ValueBuilder {
    // Storage for `n` values or members, to be filled completely and then handed to setArray
    // or setObject.
    template <typename T> static T* allocate(SlabArena& arena, std::size_t n) {
        if (n > UINT32_MAX)
            containerLimitExceeded();
        return static_cast<T*>(arena.allocate(n * sizeof(T)));
    }

    // Makes the null value `v` an array owning the `n` values at `data` (null when n is 0).
    static void setArray(JsonValue& v, JsonValue* data, std::size_t n) noexcept {
        adopt(*new (&v.array_) JsonArray(), data, n);
        v.kind_ = JsonValue::Kind::Array;
        v.heavy_ = true;
    }
    // Makes the null value `v` an object owning the `n` members at `data`, which are sorted by
    // key with unique keys.
    static void setObject(JsonValue& v, JsonMember* data, std::size_t n) noexcept {
        adopt(*new (&v.object_) JsonObject(), data, n);
        v.kind_ = JsonValue::Kind::Object;
        v.heavy_ = true;
    }
    template <class Entry>
    static void adopt(EntryStorage<Entry>& storage, Entry* data, std::size_t n) noexcept {
        storage.data_ = data;
        storage.size_ = storage.capacity_ = static_cast<uint32_t>(n);
    }
    // Makes the null value `v` the number of `parts`; false (and `v` still null) when the
    // exponent is out of range.
    static bool setNumber(SlabArena& arena, JsonValue& v, const Decimal::Parts& parts) {
        Decimal* number = new (&v.number_) Decimal();
        if (!Decimal::fromParts(parts, *number))
            return false; // a zero Decimal owns nothing, so `v` can stay null
        v.kind_ = JsonValue::Kind::Number;
        v.heavy_ = !number->isCompact();
        if (v.heavy_)
            arena.releaseByValues(); // its text is a heap block of its own
        return true;
    }
    // Ends the parse whose result is `root`: a container's block may carry what the document
    // took, to be released whole.
    static void finishDocument(SlabArena& arena, JsonValue& root) {
        void* block = nullptr;
        if (root.kind_ == JsonValue::Kind::Array)
            block = root.array_.data_;
        else if (root.kind_ == JsonValue::Kind::Object)
            block = root.object_.data_;
        arena.finish(block);
    }

    // Makes the null value `v` an empty string and returns it, to be filled by setUnits or
    // setAscii.
    static JsonString& beginString(JsonValue& v) noexcept {
        JsonString* s = new (&v.string_) JsonString();
        v.kind_ = JsonValue::Kind::String;
        v.heavy_ = true;
        return *s;
    }

    // Finishes the string value `v` begun with beginString: one short enough to be held inline
    // owns no memory, so the value is not heavy (nothing to release when it goes).
    static void endString(JsonValue& v) noexcept { v.heavy_ = v.string_.tag_ == JsonString::kHeap; }

    // Makes the empty string `s` a string of `n` units and returns where to write them.
    static char16_t* prepare(SlabArena& arena, JsonString& s, std::size_t n) {
        if (n <= JsonString::kInlineUnits) {
            s.tag_ = static_cast<uint16_t>(n);
            return s.units_;
        }
        if (n >> 48)
            containerLimitExceeded();
        return s.adopt(arena.allocate(n * sizeof(char16_t)), n);
    }

    // Makes the empty string `s` the units of `text`.
    static void setUnits(SlabArena& arena, JsonString& s, std::u16string_view text) {
        char16_t* units = prepare(arena, s, text.size());
        if (!text.empty())
            std::memcpy(units, text.data(), text.size() * sizeof(char16_t));
    }

    // Makes the empty string `s` the `n` ASCII bytes at `from`, widened to UTF-16. The bytes
    // from `from` up to `from + 16` must be readable (the parser's input is padded).
    static void setAscii(SlabArena& arena, JsonString& s, const char* from, std::size_t n) {
#if defined(BRENVO_SSE2)
        const __m128i zero = _mm_setzero_si128();
        auto widen8 = [zero](const char* in, void* out) {
            const __m128i bytes = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(in));
            _mm_storeu_si128(static_cast<__m128i*>(out), _mm_unpacklo_epi8(bytes, zero));
        };
        if (n <= JsonString::kInlineUnits) {
            // Eight units fill all 16 bytes of the string; the tag is written afterwards, and
            // units past `n` are never read.
            widen8(from, &s);
            s.tag_ = static_cast<uint16_t>(n);
            return;
        }
        char16_t* out = prepare(arena, s, n);
        // Blocks of eight; the last block overlaps the one before it instead of writing past
        // the end of the exactly-sized block (n >= 8 here).
        for (std::size_t i = 0; i + 8 < n; i += 8)
            widen8(from + i, out + i);
        widen8(from + n - 8, out + n - 8);
#else
        char16_t* out = prepare(arena, s, n);
        for (std::size_t i = 0; i < n; ++i)
            out[i] = static_cast<unsigned char>(from[i]);
#endif
    }
};

} // namespace brenvo::detail
