// The writer's engine: one conversion of a value, and everything inside it, into a string or
// into the writer's reusable room, without recursion: open containers wait on a heap stack.
#pragma once

#include "brenvo/JSON/XKJsonWriter.h"
#include "brenvo/JSON/detail/DecimalText.h"
#include "brenvo/JSON/detail/Escape.h"
#include "brenvo/JSON/detail/Slab.h"

#include <algorithm>
#include <cstdlib>
#include <deque>
#include <new>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>
#include <unordered_set>
#include <vector>

namespace brenvo {

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
    // The proxies in use along the current path (stable addresses while frames point into
    // them), each with the host value it stands in for; `proxied` holds those hosts, so that a
    // proxy that leads back to one of them is seen as the cycle it is.
    std::deque<JsonValue> proxies;
    std::vector<const JsonHostValue*> proxyHosts;
    std::unordered_set<const JsonHostValue*> proxied;

    void clearPath() {
        frames.clear();
        dropProxies(0);
    }
    // Ends the life of the proxies made since there were `mark` of them.
    void dropProxies(std::size_t mark) {
        for (std::size_t i = mark; i < proxyHosts.size(); ++i)
            proxied.erase(proxyHosts[i]);
        proxyHosts.resize(mark);
        proxies.resize(mark);
    }

    // The room whole conversions are written into before their text is copied out: plain
    // memory grown with realloc, which neither clears the new room nor (for large blocks,
    // which the system remaps) copies the old, unlike growing a string. Kept between
    // conversions; it never grows beyond kRetainedBytes (see WriterEngine).
    void* room = nullptr;
    std::size_t roomBytes = 0;
    static constexpr std::size_t kRetainedBytes = 16 << 20;

    Scratch() = default;
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;
    ~Scratch() { std::free(room); }
};

namespace detail {

// Where the next character goes and the end of the room reserved for it. Passed and returned by
// value so that the compiler keeps both in registers: a store through a char pointer could
// otherwise alias a pointer kept in memory and force it to be reloaded after every character.
template <class Char> struct Cursor {
    Char* o;
    Char* limit;
    std::size_t room() const { return static_cast<std::size_t>(limit - o); }
};

inline constexpr std::string_view kNilTypeName = "nil";

// One conversion of a value (and everything inside it), without recursion, into the caller's
// string (whose whole size is room while it runs: text goes from `start` on, and the engine cuts
// it to the text when it ends) or into the writer's reusable room (see Scratch::room). Text that
// outgrows what the room may keep goes on in pieces of its own, each as long as all the text
// before it, which takeText() joins once: no character is copied twice, and fresh memory is
// touched only for the pieces and the result.
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

    // Cuts the caller's string to the text, however the conversion ended.
    ~WriterEngine() {
        if (text_)
            text_->resize(used_);
        dropPieces();
    }
    WriterEngine(const WriterEngine&) = delete;
    WriterEngine& operator=(const WriterEngine&) = delete;

    // The text written into the reusable room (and the pieces after it), as one string.
    std::basic_string<Char> takeText() {
        std::size_t total = used_;
        for (const Piece& piece : pieces_)
            total += piece.used;
        std::basic_string<Char> text;
        text.reserve(total);
        if (!pieces_.empty())
            adviseLargePages(text.data(), total * sizeof(Char));
        for (const Piece& piece : pieces_)
            text.append(piece.text, piece.used);
        text.append(base_, used_);
        return text;
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
        scratch_.clearPath();
        bool ok = false;
        try {
            ok = withMemory([&] {
                return writer_.humanReadable_ ? writeAll<true>(value, array, object)
                                              : writeAll<false>(value, array, object);
            });
        } catch (...) {
            // From an error-trace observer: undone as a failure is.
            used_ = start;
            dropPieces();
            writer_.depth_ = depth;
            scratch_.clearPath();
            throw;
        }
        if (!ok) {
            used_ = start;
            writer_.depth_ = depth;
            dropPieces();
        }
        scratch_.clearPath();
        return ok;
    }

    // A quoted, escaped string at the end of the text; false only when memory ran out.
    bool appendString(std::u16string_view string) {
        return withMemory([&] {
            Cursor<Char> c = cursor();
            c = putString(c, string);
            used_ = static_cast<std::size_t>(c.o - base_);
            return true;
        });
    }

    // The result of `write`, or false after recording that memory ran out while it wrote (the
    // text, a proxy, a frame).
    template <class Write> bool withMemory(Write write) {
        try {
            return write();
        } catch (const std::bad_alloc&) {
        } catch (const std::length_error&) {
        }
        writer_.addError(JsonMessage::NoMemoryForText);
        return false;
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
        if (!text_ &&
            (!pieces_.empty() || size * sizeof(Char) > XKJsonWriter::Scratch::kRetainedBytes))
            return nextPiece(used, count);
        if (text_) {
            // Cut to the text first, so that a reallocation copies the text but not the old
            // room.
            text_->resize(used);
            text_->resize(size);
            base_ = text_->data();
        } else {
            void* room = std::realloc(scratch_.room, size * sizeof(Char));
            // Caught in withMemory(), which ends the conversion.
            if (!room)
                throw std::bad_alloc();
            scratch_.room = room;
            scratch_.roomBytes = size * sizeof(Char);
            base_ = static_cast<Char*>(room);
        }
        capacity_ = size;
        return {base_ + used, base_ + capacity_};
    }

    // Ends the current piece at `used` and goes on in a new one with room for `count` more
    // characters. The last character written moves along, since closing a container steps
    // back over it.
    [[gnu::noinline]] Cursor<Char> nextPiece(std::size_t used, std::size_t count) {
        std::size_t total = used;
        for (const Piece& piece : pieces_)
            total += piece.used;
        const std::size_t size = std::max(total, count + 1);
        auto* text = static_cast<Char*>(std::malloc(size * sizeof(Char)));
        // Caught in withMemory(), which ends the conversion.
        if (!text)
            throw std::bad_alloc();
        adviseLargePages(text, size * sizeof(Char));
        const std::size_t carried = used != 0 ? 1 : 0;
        try {
            pieces_.push_back({base_, used - carried, base_ != scratch_.room});
        } catch (...) {
            std::free(text);
            throw;
        }
        if (carried)
            text[0] = base_[used - 1];
        base_ = text;
        capacity_ = size;
        return {base_ + carried, base_ + capacity_};
    }

    // Frees the pieces after the room and goes back to writing into the room.
    void dropPieces() noexcept {
        if (pieces_.empty())
            return;
        if (base_ != scratch_.room)
            std::free(base_);
        for (const Piece& piece : pieces_)
            if (piece.owned)
                std::free(piece.text);
        pieces_.clear();
        base_ = static_cast<Char*>(scratch_.room);
        capacity_ = scratch_.roomBytes / sizeof(Char);
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
#if defined(BRENVO_SSE2)
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
        case JsonValue::Kind::Object: {
            const bool isArray = value.isArray();
            if ((isArray ? value.asArray()->size() : value.asObject()->size()) != 0 ||
                depth >= limit_)
                return false;
            c = reserve(c, 2 + kTrail);
            c.o = putAscii(c.o, isArray ? "[]" : "{}", 2);
            return true;
        }
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
            scratch_.dropProxies(proxyMark);
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
        writer_.addError(JsonMessage::NestedTooDeep);
        return false;
    }

    // Follows proxies from a host value (or an absent one) to the value that stands in for
    // it, kept in scratch_.proxies; null after recording why there is none. A chain of proxies
    // is bounded by kMaxProxyNesting, and a proxy may not lead back to a host value whose proxy
    // is being written (itself, or one around it).
    [[gnu::noinline]] const JsonValue* resolve(const JsonValue* value) {
        for (std::size_t hops = 0; value && value->isHost(); ++hops) {
            const JsonHostValue& host = **value->asHost();
            if (scratch_.proxied.count(&host) != 0) {
                writer_.addError(JsonMessage::ProxyCycle, host.typeName());
                return nullptr;
            }
            if (hops == XKJsonWriter::kMaxProxyNesting) {
                static_assert(XKJsonWriter::kMaxProxyNesting == 64, "named in the message");
                writer_.addError(JsonMessage::ProxyChainTooLong, host.typeName());
                return nullptr;
            }
            std::optional<JsonValue> proxy = host.proxyForJson();
            if (!proxy) {
                writer_.addError(JsonMessage::NotSupported, host.typeName());
                return nullptr;
            }
            scratch_.proxies.push_back(std::move(*proxy));
            scratch_.proxyHosts.push_back(&host);
            scratch_.proxied.insert(&host);
            value = &scratch_.proxies.back();
        }
        if (!value)
            writer_.addError(JsonMessage::NotSupported, kNilTypeName);
        return value;
    }

    // Every object around the failed value reports its key, innermost first.
    [[gnu::noinline]] bool fail(Frame top, bool hasTop) {
        auto report = [&](const Frame& frame) {
            if (!frame.isObject)
                return;
            writer_.addError(JsonMessage::UnsupportedValueForKey,
                             toUtf8(std::u16string_view(frame.member[-1].key)));
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
    // Filled pieces of the text in the room's stead, in order; base_ is the one being written.
    struct Piece {
        Char* text;
        std::size_t used;
        bool owned; // false for the room
    };
    std::vector<Piece> pieces_;
    Char* base_;
    std::size_t capacity_; // characters of room from base_ on
    std::size_t used_;
    uint64_t limit_ = 0;
};

} // namespace detail
} // namespace brenvo
