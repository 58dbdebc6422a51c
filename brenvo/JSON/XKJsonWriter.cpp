#include "brenvo/JSON/XKJsonWriter.h"

#include "brenvo/JSON/detail/DecimalText.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <exception>
#include <type_traits>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// The writer's helpers are inlined into its loop, so that the cursor and the innermost frame
// stay in registers: none of them may pass their address to a call that is not inlined.
#define BRENVO_WRITER_INLINE [[gnu::always_inline]] inline

namespace brenvo {
namespace {

constexpr std::array<char16_t, 34> makeEscapeChars() {
    std::array<char16_t, 34> units{};
    for (char16_t unit = 0; unit < 32; ++unit)
        units[unit] = unit;
    units[32] = u'"';
    units[33] = u'\\';
    return units;
}

constexpr std::array<char16_t, 34> kEscapeUnits = makeEscapeChars();

// For each ASCII unit, 0 when it stands for itself inside a JSON string, otherwise the letter
// after the backslash of its escape ('u' for the \u00xx form).
constexpr std::array<char, 128> makeEscapeLetters() {
    std::array<char, 128> letters{};
    for (unsigned unit = 0; unit < 0x20; ++unit)
        letters[unit] = 'u';
    letters[0x08] = 'b';
    letters[0x09] = 't';
    letters[0x0A] = 'n';
    letters[0x0C] = 'f';
    letters[0x0D] = 'r';
    letters['"'] = '"';
    letters['\\'] = '\\';
    return letters;
}

constexpr std::array<char, 128> kEscapeLetters = makeEscapeLetters();

constexpr const char* kHex = "0123456789abcdef";

// Where the next character goes and the end of the room reserved for it. Passed and returned by
// value so that the compiler keeps both in registers: a store through a char pointer could
// otherwise alias a pointer kept in memory and force it to be reloaded after every character.
template <class Char> struct Cursor {
    Char* o;
    Char* limit;
    std::size_t room() const { return static_cast<std::size_t>(limit - o); }
};

// Block stores write up to eight units past the text they keep: reserved on top of a string's
// worst case.
constexpr std::size_t kSlack = 16;
// Room reserved after anything written, for the punctuation that may follow it.
constexpr std::size_t kTrail = 8;
// Strings are written in chunks, each reserving its worst case of six characters per unit.
constexpr std::size_t kChunkUnits = 4096;

// Writes the escape of `unit` (a unit that needs one; `letter` from kEscapeLetters, or 'u').
template <class Char> Char* putEscape(Char* o, char16_t unit, char letter) {
    o[0] = '\\';
    o[1] = static_cast<Char>(letter);
    if (letter != 'u')
        return o + 2;
    o[2] = static_cast<Char>(kHex[(unit >> 12) & 0xF]);
    o[3] = static_cast<Char>(kHex[(unit >> 8) & 0xF]);
    o[4] = static_cast<Char>(kHex[(unit >> 4) & 0xF]);
    o[5] = static_cast<Char>(kHex[unit & 0xF]);
    return o + 6;
}

#if defined(__SSE2__)
// A mask with two bits set for each of the eight units that needs an escape; with `ascii`
// also for each unit beyond ASCII.
template <bool ascii> inline unsigned specialUnits(__m128i units) {
    const __m128i quoteOrBackslash = _mm_or_si128(_mm_cmpeq_epi16(units, _mm_set1_epi16(0x22)),
                                                  _mm_cmpeq_epi16(units, _mm_set1_epi16(0x5C)));
    if constexpr (ascii) {
        // Adding 0x7FE0 maps 0x20-0x7F, and only those, onto the signed values below -32672
        // (the others land on -32672 and above, or wrap to non-negative values).
        const __m128i shifted = _mm_add_epi16(units, _mm_set1_epi16(0x7FE0));
        const __m128i printable = _mm_cmplt_epi16(shifted, _mm_set1_epi16(-32672));
        const __m128i plain = _mm_andnot_si128(quoteOrBackslash, printable);
        return ~static_cast<unsigned>(_mm_movemask_epi8(plain)) & 0xFFFF;
    } else {
        // units <= 0x1F exactly when the saturating difference is zero.
        const __m128i control =
            _mm_cmpeq_epi16(_mm_subs_epu16(units, _mm_set1_epi16(0x1F)), _mm_setzero_si128());
        return static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(control, quoteOrBackslash)));
    }
}

// The eight units at p narrowed to bytes (UTF-8) or as they are (UTF-16), stored at o. Only
// plain ASCII units are ever kept from the narrowed form, for which narrowing is exact.
inline void storeBlock(char* o, __m128i units) {
    _mm_storel_epi64(reinterpret_cast<__m128i*>(o), _mm_packus_epi16(units, units));
}
inline void storeBlock(char16_t* o, __m128i units) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(o), units);
}

// Copies units that stand for themselves from p on, eight at a time, and stops before the first
// one that does not (UTF-8: anything beyond ASCII as well) or before the last few units of
// [p, stop). Only blocks wholly before `stop` are read.
template <class Char>
BRENVO_WRITER_INLINE void copyPlainBlocks(Char*& o, const char16_t*& p, const char16_t* stop) {
    constexpr bool utf8 = std::is_same_v<Char, char>;
    if (stop - p < 8)
        return;
    for (;;) {
        const __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const unsigned mask = specialUnits<utf8>(units);
        // All eight are stored; only those before the first special unit are kept.
        storeBlock(o, units);
        if (mask != 0) {
            const unsigned plain = static_cast<unsigned>(__builtin_ctz(mask)) >> 1;
            o += plain;
            p += plain;
            return;
        }
        o += 8;
        p += 8;
        const std::size_t rest = static_cast<std::size_t>(stop - p);
        if (rest >= 8)
            continue;
        if (rest == 0)
            return;
        // The last 1-7 units: the block ending at `stop` overlaps units just written, which
        // were plain and became one character each, so storing it `8 - rest` characters back
        // rewrites those characters unchanged.
        const __m128i last = _mm_loadu_si128(reinterpret_cast<const __m128i*>(stop - 8));
        if (specialUnits<utf8>(last) == 0) {
            storeBlock(o - (8 - rest), last);
            o += rest;
            p = stop;
        }
        return;
    }
}
#endif

// UTF-16 form: units pass unchanged except those that need an escape. Writes [p, stop).
char16_t* encodeUnits(char16_t* o, const char16_t*& p, const char16_t* stop) {
    for (;;) {
#if defined(__SSE2__)
        copyPlainBlocks(o, p, stop);
#endif
        // The unit the block scan stopped at, and the short tail, one at a time.
        if (p == stop)
            return o;
        const char16_t unit = *p++;
        if (unit < 0x80 && kEscapeLetters[unit] != 0)
            o = putEscape(o, unit, kEscapeLetters[unit]);
        else
            *o++ = unit;
    }
}

// UTF-8 form: a surrogate pair becomes one four-byte sequence, a lone surrogate a \u escape.
// Writes [p, stop); a high surrogate just before `stop` may take its low half from [stop, end).
char* encodeUnits(char* o, const char16_t*& p, const char16_t* stop, const char16_t* end) {
    for (;;) {
#if defined(__SSE2__)
        copyPlainBlocks(o, p, stop);
#endif
        // Units other than plain ASCII, and the short tail, one at a time; a run of them (text
        // in other scripts) stays here instead of returning to the block scan for each.
        for (;;) {
            // A surrogate pair split by `stop` leaves p one past it.
            if (p >= stop)
                return o;
            const char16_t unit = *p;
            if (unit < 0x80) {
                const char letter = kEscapeLetters[unit];
                if (letter != 0) {
                    o = putEscape(o, unit, letter);
                } else {
                    if (stop - p >= 8)
                        break;
                    *o++ = static_cast<char>(unit);
                }
                ++p;
                continue;
            }
            ++p;
            if (unit < 0x800) {
                o[0] = static_cast<char>(0xC0 | (unit >> 6));
                o[1] = static_cast<char>(0x80 | (unit & 0x3F));
                o += 2;
            } else if (unit < 0xD800 || unit > 0xDFFF) {
                o[0] = static_cast<char>(0xE0 | (unit >> 12));
                o[1] = static_cast<char>(0x80 | ((unit >> 6) & 0x3F));
                o[2] = static_cast<char>(0x80 | (unit & 0x3F));
                o += 3;
            } else if (unit <= 0xDBFF && p != end && *p >= 0xDC00 && *p <= 0xDFFF) {
                const char32_t c = 0x10000 + ((char32_t(unit) - 0xD800) << 10) + (*p++ - 0xDC00);
                o[0] = static_cast<char>(0xF0 | (c >> 18));
                o[1] = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
                o[2] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
                o[3] = static_cast<char>(0x80 | (c & 0x3F));
                o += 4;
            } else {
                o = putEscape(o, unit, 'u');
            }
        }
    }
}

// "\n" and 2 * depth spaces; the room was reserved. The spaces are copied from a run of them
// in fixed-size blocks, the last one running past the indentation into reserved room.
template <class Char> Char* putIndent(Char* o, uint64_t depth) {
    static constexpr std::size_t kBlock = 32 / sizeof(Char);
    static const auto kSpaces = [] {
        std::array<Char, kBlock> spaces{};
        spaces.fill(Char(' '));
        return spaces;
    }();
    *o++ = '\n';
    const std::size_t count = 2 * static_cast<std::size_t>(depth);
    for (std::size_t done = 0; done < count; done += kBlock)
        std::memcpy(o + done, kSpaces.data(), sizeof kSpaces);
    return o + count;
}

// Room for putIndent: the line feed, the spaces and the block overrun.
inline std::size_t indentRoom(uint64_t depth) {
    return 1 + 2 * static_cast<std::size_t>(depth) + 32;
}

template <class Char> Char* putAscii(Char* o, const char* text, std::size_t count) {
    if constexpr (std::is_same_v<Char, char>) {
        std::memcpy(o, text, count);
    } else {
        for (std::size_t i = 0; i < count; ++i)
            o[i] = static_cast<Char>(text[i]);
    }
    return o + count;
}

constexpr std::string_view kNilTypeName = "nil";

std::string unsupportedMessage(std::string_view typeName) {
    std::string message = "JSON serialisation not supported for ";
    message += typeName;
    return message;
}

} // namespace

const std::u16string_view XKJsonWriter::kEscapeChars(kEscapeUnits.data(), kEscapeUnits.size());

// Open containers and the proxies that stand in for values along the current path, reused from
// one conversion to the next.
struct XKJsonWriter::Scratch {
    // An open array (elements) or object (members): what is left to write.
    struct Frame {
        const JsonValue* element;
        const JsonValue* elementsEnd;
        const JsonMember* member;
        const JsonMember* membersEnd;
        // proxies.size() before this container's value was resolved, or kNoProxies when it
        // was not reached through a proxy (then closing it releases none).
        std::size_t proxyMark;
        bool isObject;
    };
    // The containers around the innermost one, outermost first.
    std::vector<Frame> frames;
    std::deque<JsonValue> proxies; // stable addresses while frames point into them

    // The room whole conversions are written into before their text is copied out: plain
    // memory grown with realloc, which neither clears the new room nor (for large blocks,
    // which the system remaps) copies the old, unlike growing a string. Kept between
    // conversions unless it grew beyond kRetainedBytes.
    void* room = nullptr;
    std::size_t roomBytes = 0;
    static constexpr std::size_t kRetainedBytes = 16 << 20;

    Scratch() = default;
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;
    ~Scratch() { std::free(room); }

    void releaseLargeRoom() {
        if (roomBytes > kRetainedBytes) {
            std::free(room);
            room = nullptr;
            roomBytes = 0;
        }
    }
};

namespace detail {

// One conversion of a value (and everything inside it), without recursion, into the caller's
// string (whose whole size is room: text goes from `start` on, and finish() cuts it to the
// text) or into the writer's reusable room (see Scratch::room).
template <class Char> class WriterEngine {
public:
    using Frame = XKJsonWriter::Scratch::Frame;

    WriterEngine(XKJsonWriter& writer, std::basic_string<Char>& text, std::size_t start)
        : writer_(writer), scratch_(*writer.scratch_), text_(&text), base_(text.data()),
          capacity_(text.size()), used_(start) {}
    explicit WriterEngine(XKJsonWriter& writer)
        : writer_(writer), scratch_(*writer.scratch_), text_(nullptr),
          base_(static_cast<Char*>(scratch_.room)), capacity_(scratch_.roomBytes / sizeof(Char)),
          used_(0) {}

    // The text written into the reusable room.
    std::basic_string_view<Char> text() const { return {base_, used_}; }
    // Cuts the caller's string to the text.
    void finish() {
        if (text_)
            text_->resize(used_);
    }

    // Writes `value` (null: absent), or the given array or object; on failure records it and
    // restores the text and the writer's depth to what they were.
    bool run(const JsonValue* value, const JsonValue::Array* array, const JsonObject* object) {
        const std::size_t start = used_;
        const uint64_t depth = writer_.depth_;
        // The limit cannot change while a conversion runs; read it once. No limit (0) is the
        // largest one, so that depth needs a single comparison.
        const uint64_t limit = writer_.maxDepth();
        limit_ = limit != 0 ? limit : ~uint64_t(0);
        scratch_.frames.clear();
        scratch_.proxies.clear();
        const bool ok = writer_.humanReadable_ ? writeAll<true>(value, array, object)
                                               : writeAll<false>(value, array, object);
        if (!ok) {
            used_ = start;
            writer_.depth_ = depth;
        }
        scratch_.frames.clear();
        scratch_.proxies.clear();
        return ok;
    }

    // A quoted, escaped string at the end of the text.
    void appendString(std::u16string_view string) {
        Cursor<Char> c = cursor();
        c = putString(c, string);
        used_ = static_cast<std::size_t>(c.o - base_);
    }

private:
    Cursor<Char> cursor() { return {base_ + used_, base_ + capacity_}; }

    // Makes room for `count` characters at c.o.
    Cursor<Char> reserve(Cursor<Char> c, std::size_t count) {
        if (c.room() < count) [[unlikely]]
            return grow(c, count);
        return c;
    }

    [[gnu::noinline]] Cursor<Char> grow(Cursor<Char> c, std::size_t count) {
        const std::size_t used = static_cast<std::size_t>(c.o - base_);
        const std::size_t size = std::max({used + count, 2 * capacity_, std::size_t(4096)});
        if (text_) {
            // Cut to the text first, so that a reallocation copies the text but not the old
            // room.
            text_->resize(used);
            text_->resize(size);
            base_ = text_->data();
        } else {
            void* room = std::realloc(scratch_.room, size * sizeof(Char));
            // Out of memory: nothing here may throw, and there is no way to go on.
            if (!room)
                std::terminate();
            scratch_.room = room;
            scratch_.roomBytes = size * sizeof(Char);
            base_ = static_cast<Char*>(room);
        }
        capacity_ = size;
        return {base_ + used, base_ + capacity_};
    }

    // Every put* below reserves its own room, plus kTrail characters for the punctuation that
    // may follow it (a comma, a separator, a closing bracket).

    // A quoted, escaped string.
    [[gnu::noinline]] Cursor<Char> putString(Cursor<Char> c, std::u16string_view string) {
        const char16_t* p = string.data();
        const char16_t* const end = p + string.size();
        std::size_t chunk = std::min(string.size(), kChunkUnits);
        c = reserve(c, 6 * chunk + 2 + kTrail + kSlack);
        Char* o = c.o;
        *o++ = '"';
        for (;;) {
            if constexpr (std::is_same_v<Char, char>)
                o = encodeUnits(o, p, p + chunk, end);
            else
                o = encodeUnits(o, p, p + chunk);
            if (p == end)
                break;
            chunk = std::min(static_cast<std::size_t>(end - p), kChunkUnits);
            c = reserve({o, c.limit}, 6 * chunk + 1 + kTrail + kSlack);
            o = c.o;
        }
        *o++ = '"';
        return {o, c.limit};
    }

    // A string value or key, given as the object holding it (a JsonString or a
    // std::u16string).
    template <class StringObject>
    BRENVO_WRITER_INLINE Cursor<Char> putStringOf(Cursor<Char> c, const StringObject& object) {
        const std::u16string_view string(object);
#if defined(__SSE2__)
        // A short string stored inside its object: its eight-unit block can be loaded whole
        // because those 16 bytes are the object's own; lanes past the string are ignored.
        const auto units = reinterpret_cast<std::uintptr_t>(string.data());
        const auto self = reinterpret_cast<std::uintptr_t>(&object);
        if (string.size() < 8 && units >= self && units + 16 <= self + sizeof(StringObject)) {
            const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(string.data()));
            const unsigned inString = (1u << (2 * string.size())) - 1;
            if ((specialUnits<std::is_same_v<Char, char>>(block) & inString) == 0) {
                c = reserve(c, 2 + 8 + kTrail);
                *c.o = '"';
                storeBlock(c.o + 1, block);
                c.o += 1 + string.size();
                *c.o++ = '"';
                return c;
            }
        }
        // Eight to sixteen units: the first and the last eight overlap in the middle and are
        // both within the string; when neither holds a special unit they are the whole text.
        if (string.size() >= 8 && string.size() <= 16) {
            const __m128i first = _mm_loadu_si128(reinterpret_cast<const __m128i*>(string.data()));
            const __m128i last = _mm_loadu_si128(
                reinterpret_cast<const __m128i*>(string.data() + string.size() - 8));
            if ((specialUnits<std::is_same_v<Char, char>>(first) |
                 specialUnits<std::is_same_v<Char, char>>(last)) == 0) {
                c = reserve(c, 2 + 16 + kTrail);
                *c.o = '"';
                storeBlock(c.o + 1, first);
                storeBlock(c.o + 1 + string.size() - 8, last);
                c.o += 1 + string.size();
                *c.o++ = '"';
                return c;
            }
        }
#endif
        return putString(c, string);
    }

    // A number's text, formatted in place.
    BRENVO_WRITER_INLINE Cursor<Char> putNumber(Cursor<Char> c, const Decimal& number) {
        const std::size_t length = detail::DecimalText::maxLength(number);
        if constexpr (std::is_same_v<Char, char>) {
            c = reserve(c, length + detail::DecimalText::kSlack + kTrail);
            c.o = detail::DecimalText::writeWithSlack(c.o, number);
        } else {
            char buffer[64];
            if (length <= sizeof buffer) {
                const char* end = detail::DecimalText::write(buffer, number);
                c = reserve(c, sizeof buffer + kTrail);
                c.o = putAscii(c.o, buffer, static_cast<std::size_t>(end - buffer));
            } else {
                const std::string text = number.stringValue();
                c = reserve(c, text.size() + kTrail);
                c.o = putAscii(c.o, text.data(), text.size());
            }
        }
        return c;
    }

    // Writes `value` when it needs nothing opened: a scalar, or an empty array or object that
    // the depth limit allows one level below `depth`. Otherwise (a container to open, a host
    // value to resolve) writes nothing and returns false. One dispatch on the kind does both.
    BRENVO_WRITER_INLINE bool putLeaf(Cursor<Char>& c, const JsonValue& value, uint64_t depth) {
        switch (value.kind()) {
        case JsonValue::Kind::String:
            c = putStringOf(c, *value.asString());
            return true;
        case JsonValue::Kind::Number:
            c = putNumber(c, *value.asNumber());
            return true;
        case JsonValue::Kind::Boolean:
            c = reserve(c, 5 + kTrail);
            c.o = *value.asBoolean() ? putAscii(c.o, "true", 4) : putAscii(c.o, "false", 5);
            return true;
        case JsonValue::Kind::Null:
            c = reserve(c, 4 + kTrail);
            c.o = putAscii(c.o, "null", 4);
            return true;
        case JsonValue::Kind::Array:
            if (value.asArray()->size() != 0 || depth >= limit_)
                return false;
            c = reserve(c, 2 + kTrail);
            c.o = putAscii(c.o, "[]", 2);
            return true;
        case JsonValue::Kind::Object:
            if (value.asObject()->size() != 0 || depth >= limit_)
                return false;
            c = reserve(c, 2 + kTrail);
            c.o = putAscii(c.o, "{}", 2);
            return true;
        case JsonValue::Kind::Host:
            break;
        }
        return false;
    }

    // What comes before an element: in human-readable form its line, then for a member the
    // key and separator.
    template <bool pretty>
    BRENVO_WRITER_INLINE Cursor<Char> putPrefix(Cursor<Char> c, const JsonMember* member,
                                                uint64_t depth) {
        if constexpr (pretty) {
            c = reserve(c, indentRoom(depth) + kTrail);
            c.o = putIndent(c.o, depth);
        }
        if (member) {
            c = putStringOf(c, member->key);
            c.o = pretty ? putAscii(c.o, " : ", 3) : putAscii(c.o, ":", 1);
        }
        return c;
    }

    // Writes the elements of `frame` from its current one on, each with its prefix and a
    // comma after it, up to its end (returns null) or to an element that must be opened or
    // resolved: that one is returned with its prefix written and the frame past it.
    template <bool pretty>
    BRENVO_WRITER_INLINE const JsonValue* putLeaves(Cursor<Char>& c, Frame& frame, uint64_t depth) {
        if (frame.isObject) {
            while (frame.member != frame.membersEnd) {
                const JsonMember& member = *frame.member++;
                c = putPrefix<pretty>(c, &member, depth);
                if (!putLeaf(c, member.value, depth))
                    return &member.value;
                *c.o++ = ',';
            }
        } else {
            while (frame.element != frame.elementsEnd) {
                const JsonValue& element = *frame.element++;
                c = putPrefix<pretty>(c, nullptr, depth);
                // Numbers first: arrays of them are the longest runs of leaves.
                if (element.kind() == JsonValue::Kind::Number)
                    c = putNumber(c, *element.asNumber());
                else if (!putLeaf(c, element, depth))
                    return &element;
                *c.o++ = ',';
            }
        }
        return nullptr;
    }

    static bool atEnd(const Frame& frame) {
        return frame.isObject ? frame.member == frame.membersEnd
                              : frame.element == frame.elementsEnd;
    }

    // Ends a container whose elements are all written: its last comma becomes the bracket (in
    // human-readable form, the line break before it). Containers are closed only when they
    // have elements, so the text ends with that comma.
    template <bool pretty>
    BRENVO_WRITER_INLINE Cursor<Char> putClose(Cursor<Char> c, const Frame& frame,
                                               uint64_t& depth) {
        --depth;
        c = reserve(c, (pretty ? indentRoom(depth) : 0) + 1 + kTrail);
        --c.o;
        if constexpr (pretty)
            c.o = putIndent(c.o, depth);
        *c.o++ = frame.isObject ? '}' : ']';
        release(frame.proxyMark);
        return c;
    }

    enum class Step { Scalar, Opened, Failed };

    // Writes any value: a scalar whole, a container opened (its bracket written, its frame
    // made `top`, the previous innermost frame, if `hasTop`, suspended). A host value (or an
    // absent one) is written as the value its proxies lead to; they live as long as that value
    // is being written: a scalar's until it is written, a container's until it is closed.
    BRENVO_WRITER_INLINE Step putValue(Cursor<Char>& c, const JsonValue* value, Frame& top,
                                       bool& hasTop, uint64_t& depth) {
        std::size_t proxyMark = kNoProxies;
        if (!value || value->isHost()) {
            proxyMark = scratch_.proxies.size();
            value = resolve(value);
            if (!value)
                return Step::Failed;
        }
        if (const JsonValue::Array* array = value->asArray())
            return open(c, *array, proxyMark, top, hasTop, depth);
        if (const JsonObject* object = value->asObject())
            return open(c, *object, proxyMark, top, hasTop, depth);
        // Containers were opened above: this is a scalar.
        putLeaf(c, *value, depth);
        release(proxyMark);
        return Step::Scalar;
    }

    static constexpr std::size_t kNoProxies = ~std::size_t(0);

    // Ends the life of the proxies made since `proxyMark`.
    BRENVO_WRITER_INLINE void release(std::size_t proxyMark) {
        if (proxyMark != kNoProxies) [[unlikely]]
            scratch_.proxies.resize(proxyMark);
    }

    // Opens an array or object and makes it the innermost frame; an empty one is written whole
    // and counts as a scalar.
    template <class Container>
    BRENVO_WRITER_INLINE Step open(Cursor<Char>& c, const Container& container,
                                   std::size_t proxyMark, Frame& top, bool& hasTop,
                                   uint64_t& depth) {
        Frame frame;
        if (!start(c, container, proxyMark, frame, depth))
            return Step::Failed;
        if (atEnd(frame))
            return Step::Scalar;
        if (hasTop)
            suspend(top);
        top = frame;
        hasTop = true;
        return Step::Opened;
    }

    // Checks the depth, writes the opening bracket and sets `frame` to the container's
    // elements; an empty container is closed at once (its frame is then at its end).
    template <class Container>
    BRENVO_WRITER_INLINE bool start(Cursor<Char>& c, const Container& container,
                                    std::size_t proxyMark, Frame& frame, uint64_t& depth) {
        constexpr bool isObject = std::is_same_v<Container, JsonObject>;
        if (!enter(depth))
            return false;
        c = reserve(c, 2 + kTrail);
        *c.o++ = isObject ? '{' : '[';
        if constexpr (isObject) {
            const JsonMember* members = container.begin();
            frame = Frame{nullptr, nullptr, members, members + container.size(), proxyMark, true};
        } else {
            const JsonValue* elements = container.data();
            frame =
                Frame{elements, elements + container.size(), nullptr, nullptr, proxyMark, false};
        }
        if (container.size() == 0) {
            *c.o++ = isObject ? '}' : ']';
            --depth;
            release(proxyMark);
        }
        return true;
    }

    // Takes the frame by value: the innermost frame's own address never leaves writeAll().
    [[gnu::noinline]] void suspend(Frame frame) {
        scratch_.frames.push_back(frame);
    }

    template <bool pretty>
    bool writeAll(const JsonValue* value, const JsonValue::Array* array, const JsonObject* object) {
        uint64_t depth = writer_.depth_;
        Frame top{};
        bool hasTop = false;
        Cursor<Char> c = cursor();
        Step step;
        if (array)
            step = open(c, *array, kNoProxies, top, hasTop, depth);
        else if (object)
            step = open(c, *object, kNoProxies, top, hasTop, depth);
        else
            step = putValue(c, value, top, hasTop, depth);
        if (step == Step::Failed)
            return fail(top, hasTop);

        // Every element is followed by a comma; closing a container turns the last comma into
        // the bracket, so no element asks whether it is the first. `pending` is an element of
        // the innermost container whose prefix is written and which must be opened or
        // resolved.
        const JsonValue* pending = nullptr;
        while (hasTop) {
            if (!pending) {
                pending = putLeaves<pretty>(c, top, depth);
                if (!pending) {
                    c = putClose<pretty>(c, top, depth);
                    if (scratch_.frames.empty())
                        break;
                    top = scratch_.frames.back();
                    scratch_.frames.pop_back();
                    *c.o++ = ',';
                    continue;
                }
            }
            const JsonValue* element = pending;
            pending = nullptr;
            if (element->isHost()) [[unlikely]] {
                step = putValue(c, element, top, hasTop, depth);
                if (step == Step::Failed)
                    return fail(top, hasTop);
                if (step == Step::Scalar)
                    *c.o++ = ',';
                continue;
            }
            // A container of leaves is written whole, without a frame of its own.
            Frame child;
            const bool started = element->isArray()
                                     ? start(c, *element->asArray(), kNoProxies, child, depth)
                                     : start(c, *element->asObject(), kNoProxies, child, depth);
            if (!started)
                return fail(top, hasTop);
            // start() closed an empty container already.
            if (!atEnd(child)) {
                pending = putLeaves<pretty>(c, child, depth);
                if (pending) {
                    suspend(top);
                    top = child;
                    continue;
                }
                c = putClose<pretty>(c, child, depth);
            }
            *c.o++ = ',';
        }
        used_ = static_cast<std::size_t>(c.o - base_);
        writer_.depth_ = depth;
        return true;
    }

    BRENVO_WRITER_INLINE bool enter(uint64_t& depth) {
        ++depth;
        if (depth > limit_) [[unlikely]]
            return tooDeep();
        return true;
    }

    [[gnu::noinline]] bool tooDeep() {
        writer_.addErrorWithCode(JsonErrorDepth, "Nested too deep");
        return false;
    }

    // Follows proxies from a host value (or an absent one) to the value that stands in for
    // it, kept in scratch_.proxies; null after recording why there is none.
    [[gnu::noinline]] const JsonValue* resolve(const JsonValue* value) {
        while (value && value->isHost()) {
            const JsonHostValue& host = **value->asHost();
            if (scratch_.proxies.size() >= XKJsonWriter::kMaxProxyNesting) {
                writer_.addErrorWithCode(
                    JsonErrorUnsupportedType,
                    unsupportedMessage(host.typeName()) + " (proxyForJson nested more than " +
                        std::to_string(XKJsonWriter::kMaxProxyNesting) + " deep)");
                return nullptr;
            }
            std::optional<JsonValue> proxy = host.proxyForJson();
            if (!proxy) {
                writer_.addErrorWithCode(JsonErrorUnsupportedType,
                                         unsupportedMessage(host.typeName()));
                return nullptr;
            }
            scratch_.proxies.push_back(std::move(*proxy));
            value = &scratch_.proxies.back();
        }
        if (!value)
            writer_.addErrorWithCode(JsonErrorUnsupportedType, unsupportedMessage(kNilTypeName));
        return value;
    }

    // Every object around the failed value reports its key, innermost first.
    [[gnu::noinline]] bool fail(Frame top, bool hasTop) {
        auto report = [&](const Frame& frame) {
            if (!frame.isObject)
                return;
            std::string message = "Unsupported value for key ";
            message += toUtf8(std::u16string_view(frame.member[-1].key));
            message += " in object";
            writer_.addErrorWithCode(JsonErrorUnsupportedType, std::move(message));
        };
        if (hasTop)
            report(top);
        for (auto frame = scratch_.frames.rbegin(); frame != scratch_.frames.rend(); ++frame)
            report(*frame);
        return false;
    }

    XKJsonWriter& writer_;
    XKJsonWriter::Scratch& scratch_;
    std::basic_string<Char>* text_; // null when writing into the reusable room
    Char* base_;
    std::size_t capacity_; // characters of room from base_ on
    std::size_t used_;
    uint64_t limit_ = 0;
};

} // namespace detail

XKJsonWriting::~XKJsonWriting() = default;

XKJsonWriter::XKJsonWriter() : scratch_(std::make_unique<Scratch>()) {
    scratch_->frames.reserve(32);
}

XKJsonWriter::~XKJsonWriter() = default;

template <class Char>
bool XKJsonWriter::append(const JsonValue* value, const JsonValue::Array* array,
                          const JsonObject* object, std::basic_string<Char>& into) {
    detail::WriterEngine<Char> engine(*this, into, into.size());
    const bool ok = engine.run(value, array, object);
    engine.finish();
    return ok;
}

template <class Char>
std::optional<std::basic_string<Char>> XKJsonWriter::fragment(const JsonValue* value) {
    clearErrorTrace();
    depth_ = 0;
    // Written into the reusable room, then copied into a string of exactly its size.
    detail::WriterEngine<Char> engine(*this);
    std::optional<std::basic_string<Char>> text;
    if (engine.run(value, nullptr, nullptr))
        text.emplace(engine.text());
    scratch_->releaseLargeRoom();
    return text;
}

template <class Char>
std::optional<std::basic_string<Char>> XKJsonWriter::object(const JsonValue* value) {
    // Follows proxies until a container turns up; the chain is bounded like nested proxies.
    std::optional<JsonValue> held;
    for (std::size_t hops = 0;; ++hops) {
        if (value && value->isContainer()) {
            auto text = fragment<Char>(value);
            // A container given directly keeps the records of its failure; one reached
            // through proxies reports only that the top value was not valid.
            if (text || hops == 0)
                return text;
            break;
        }
        if (!value || !value->isHost() || hops >= kMaxProxyNesting)
            break;
        std::optional<JsonValue> proxy = (*value->asHost())->proxyForJson();
        if (!proxy)
            break;
        held = std::move(*proxy);
        value = &*held;
    }
    clearErrorTrace();
    addErrorWithCode(JsonErrorFragment, "Not valid type for JSON");
    return std::nullopt;
}

std::optional<std::u16string> XKJsonWriter::stringWithFragment(const JsonValue* value) {
    return fragment<char16_t>(value);
}

std::optional<std::u16string> XKJsonWriter::stringWithObject(const JsonValue* value) {
    return object<char16_t>(value);
}

std::optional<std::string> XKJsonWriter::utf8StringWithFragment(const JsonValue* value) {
    return fragment<char>(value);
}

std::optional<std::string> XKJsonWriter::utf8StringWithObject(const JsonValue* value) {
    return object<char>(value);
}

bool XKJsonWriter::appendValue(const JsonValue& value, std::u16string& into) {
    return append(&value, nullptr, nullptr, into);
}

bool XKJsonWriter::appendValue(const JsonValue& value, std::string& into) {
    return append(&value, nullptr, nullptr, into);
}

bool XKJsonWriter::appendArray(const JsonValue::Array& array, std::u16string& into) {
    return append<char16_t>(nullptr, &array, nullptr, into);
}

bool XKJsonWriter::appendDictionary(const JsonObject& object, std::u16string& into) {
    return append<char16_t>(nullptr, nullptr, &object, into);
}

bool XKJsonWriter::appendString(std::u16string_view string, std::u16string& into) {
    detail::WriterEngine<char16_t> engine(*this, into, into.size());
    engine.appendString(string);
    engine.finish();
    return true;
}

bool XKJsonWriter::appendString(std::u16string_view string, std::string& into) {
    detail::WriterEngine<char> engine(*this, into, into.size());
    engine.appendString(string);
    engine.finish();
    return true;
}

std::u16string XKJsonWriter::indent() const {
    std::u16string text(1 + 2 * static_cast<std::size_t>(depth_), u' ');
    text[0] = u'\n';
    return text;
}

} // namespace brenvo

#undef BRENVO_WRITER_INLINE
