#include "brenvo/JSON/XKJsonWriter.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <deque>
#include <type_traits>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

constexpr const char* kHex = "0123456789abcdef";

inline bool needsEscape(char16_t unit) {
    return unit < 0x20 || unit == u'"' || unit == u'\\';
}

// A growable output: one string whose size runs ahead of the text written so far, so that
// writes need a single capacity check and no per-character bookkeeping. finish() trims it.
template <class Char> class Output {
public:
    explicit Output(std::basic_string<Char>& text) : text_(text), used_(text.size()) {}
    // Writes from `start` on into a buffer whose whole size is room; finish() leaves it alone.
    Output(std::basic_string<Char>& text, std::size_t start)
        : text_(text), used_(start), trim_(false) {}

    // Makes room for `count` more characters; pointers from at() are invalid afterwards.
    void reserve(std::size_t count) {
        if (text_.size() - used_ < count)
            grow(count);
    }
    Char* at() { return text_.data() + used_; }
    void advance(std::size_t count) { used_ += count; }

    // Writes with a capacity check of their own.
    void put(Char c) {
        reserve(1);
        text_[used_++] = c;
    }
    void put(const char* ascii, std::size_t count) {
        reserve(count);
        Char* out = at();
        for (std::size_t i = 0; i < count; ++i)
            out[i] = static_cast<Char>(ascii[i]);
        used_ += count;
    }
    // Writes without a check: the caller reserved the room.
    void putUnchecked(Char c) { text_[used_++] = c; }

    std::size_t used() const { return used_; }
    void truncate(std::size_t size) { used_ = size; }
    void finish() {
        if (trim_)
            text_.resize(used_);
    }

private:
    void grow(std::size_t count) {
        const std::size_t needed = used_ + count;
        text_.resize(std::max({needed, text_.size() * 2, std::size_t(128)}));
    }

    std::basic_string<Char>& text_;
    std::size_t used_;
    bool trim_ = true;
};

// The escape of one unit of kEscapeChars into `out`, which has room for six characters.
template <class Char> std::size_t writeEscape(Char* out, char16_t unit) {
    out[0] = '\\';
    switch (unit) {
    case u'"':
        out[1] = '"';
        return 2;
    case u'\\':
        out[1] = '\\';
        return 2;
    case 0x08:
        out[1] = 'b';
        return 2;
    case 0x09:
        out[1] = 't';
        return 2;
    case 0x0A:
        out[1] = 'n';
        return 2;
    case 0x0C:
        out[1] = 'f';
        return 2;
    case 0x0D:
        out[1] = 'r';
        return 2;
    default:
        out[1] = 'u';
        out[2] = static_cast<Char>(kHex[(unit >> 12) & 0xF]);
        out[3] = static_cast<Char>(kHex[(unit >> 8) & 0xF]);
        out[4] = static_cast<Char>(kHex[(unit >> 4) & 0xF]);
        out[5] = static_cast<Char>(kHex[unit & 0xF]);
        return 6;
    }
}

// The first unit of [p, end) that needs an escape, or end. Eight units per step.
const char16_t* findEscape(const char16_t* p, const char16_t* end) {
#if defined(__SSE2__)
    const __m128i controlLimit = _mm_set1_epi16(0x1F);
    const __m128i quote = _mm_set1_epi16(0x22);
    const __m128i backslash = _mm_set1_epi16(0x5C);
    const __m128i zero = _mm_setzero_si128();
    while (end - p >= 8) {
        const __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        // units <= 0x1F exactly when the saturating difference is zero.
        const __m128i control = _mm_cmpeq_epi16(_mm_subs_epu16(units, controlLimit), zero);
        const __m128i special =
            _mm_or_si128(control, _mm_or_si128(_mm_cmpeq_epi16(units, quote),
                                               _mm_cmpeq_epi16(units, backslash)));
        const int mask = _mm_movemask_epi8(special);
        if (mask != 0)
            return p + (__builtin_ctz(static_cast<unsigned>(mask)) >> 1);
        p += 8;
    }
#endif
    while (p != end && !needsEscape(*p))
        ++p;
    return p;
}

// Strings are written in chunks; each chunk reserves room for its worst case (six characters
// per unit, plus slack for eight-unit block stores), so the loops below need no checks.
constexpr std::size_t kChunkUnits = 4096;
constexpr std::size_t kSlack = 8;

// Writes the units [p, end) to o; returns the end of what was written.
char16_t* encodeChunk(char16_t* o, const char16_t* p, const char16_t* end) {
    for (;;) {
        const char16_t* stop = findEscape(p, end);
        const std::size_t run = static_cast<std::size_t>(stop - p);
        std::memcpy(o, p, run * sizeof(char16_t));
        o += run;
        if (stop == end)
            return o;
        o += writeEscape(o, *stop);
        p = stop + 1;
    }
}

// UTF-8 form: a surrogate pair becomes one four-byte sequence, a lone surrogate a \u escape.
// A high surrogate at the end of the chunk may take its low half from beyond it (`limit`);
// returns the end of what was written and moves p past what was read.
char* encodeChunk(char* o, const char16_t*& p, const char16_t* end, const char16_t* limit) {
    while (p < end) {
#if defined(__SSE2__)
        if (end - p >= 8) {
            const __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
            const __m128i zero = _mm_setzero_si128();
            const __m128i ascii = _mm_cmpeq_epi16(
                _mm_and_si128(units, _mm_set1_epi16(static_cast<short>(0xFF80))), zero);
            const __m128i control =
                _mm_cmpeq_epi16(_mm_subs_epu16(units, _mm_set1_epi16(0x1F)), zero);
            const __m128i special = _mm_or_si128(
                _mm_andnot_si128(ascii, _mm_set1_epi16(-1)),
                _mm_or_si128(control, _mm_or_si128(_mm_cmpeq_epi16(units, _mm_set1_epi16(0x22)),
                                                   _mm_cmpeq_epi16(units, _mm_set1_epi16(0x5C)))));
            const unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(special));
            _mm_storel_epi64(reinterpret_cast<__m128i*>(o), _mm_packus_epi16(units, units));
            const std::size_t plain = mask == 0 ? 8 : (__builtin_ctz(mask) >> 1);
            o += plain;
            p += plain;
            if (plain == 8)
                continue;
        }
#endif
        const char16_t unit = *p++;
        if (unit < 0x80) {
            if (needsEscape(unit))
                o += writeEscape(o, unit);
            else
                *o++ = static_cast<char>(unit);
        } else if (unit < 0x800) {
            o[0] = static_cast<char>(0xC0 | (unit >> 6));
            o[1] = static_cast<char>(0x80 | (unit & 0x3F));
            o += 2;
        } else if (unit < 0xD800 || unit > 0xDFFF) {
            o[0] = static_cast<char>(0xE0 | (unit >> 12));
            o[1] = static_cast<char>(0x80 | ((unit >> 6) & 0x3F));
            o[2] = static_cast<char>(0x80 | (unit & 0x3F));
            o += 3;
        } else if (unit <= 0xDBFF && p != limit && *p >= 0xDC00 && *p <= 0xDFFF) {
            const char32_t c = 0x10000 + ((char32_t(unit) - 0xD800) << 10) + (*p++ - 0xDC00);
            o[0] = static_cast<char>(0xF0 | (c >> 18));
            o[1] = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            o[2] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            o[3] = static_cast<char>(0x80 | (c & 0x3F));
            o += 4;
        } else {
            o += writeEscape(o, unit);
        }
    }
    return o;
}

template <class Char> void writeString(Output<Char>& out, std::u16string_view string) {
    const char16_t* p = string.data();
    const char16_t* const end = p + string.size();
    out.reserve(std::min(string.size(), kChunkUnits) * 6 + kSlack + 2);
    out.putUnchecked('"');
    while (p != end) {
        const std::size_t count = std::min(static_cast<std::size_t>(end - p), kChunkUnits);
        out.reserve(count * 6 + kSlack + 1);
        Char* const start = out.at();
        Char* o;
        if constexpr (std::is_same_v<Char, char16_t>) {
            o = encodeChunk(start, p, p + count);
            p += count;
        } else {
            o = encodeChunk(start, p, p + count, end);
        }
        out.advance(static_cast<std::size_t>(o - start));
    }
    out.putUnchecked('"');
}

template <class Char> void writeIndent(Output<Char>& out, uint64_t depth) {
    const std::size_t count = 1 + 2 * static_cast<std::size_t>(depth);
    out.reserve(count);
    Char* o = out.at();
    o[0] = '\n';
    std::fill(o + 1, o + count, Char(' '));
    out.advance(count);
}

// Numbers of ordinary length are written in place; only very long ones go through a string.
void writeNumber(Output<char>& out, const Decimal& number) {
    constexpr std::size_t kRoom = 64;
    out.reserve(kRoom);
    if (const std::size_t length = number.toChars(out.at(), kRoom)) {
        out.advance(length);
        return;
    }
    const std::string text = number.stringValue();
    out.put(text.data(), text.size());
}

void writeNumber(Output<char16_t>& out, const Decimal& number) {
    char buffer[64];
    if (const std::size_t length = number.toChars(buffer, sizeof buffer)) {
        out.put(buffer, length);
        return;
    }
    const std::string text = number.stringValue();
    out.put(text.data(), text.size());
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
    struct Frame {
        const JsonValue* elements; // arrays
        const JsonMember* members; // objects
        std::size_t next;
        std::size_t count;
        std::size_t proxyMark; // proxies.size() before this container's value was resolved
        bool isObject;         // (members is null for an empty object)
    };
    std::vector<Frame> frames;
    std::deque<JsonValue> proxies; // stable addresses while frames point into them

    // Output buffers whose size is all room, kept so that repeated conversions neither grow
    // nor clear a new buffer; released after a conversion that made them very large.
    std::string utf8;
    std::u16string utf16;
    static constexpr std::size_t kRetainedBytes = 16 << 20;

    template <class Char> std::basic_string<Char>& buffer() {
        if constexpr (std::is_same_v<Char, char>)
            return utf8;
        else
            return utf16;
    }
};

namespace detail {

// One conversion of a value (and everything inside it) into an output, without recursion.
template <class Char> class WriterEngine {
public:
    // Appends to `text`.
    WriterEngine(XKJsonWriter& writer, std::basic_string<Char>& text)
        : writer_(writer), scratch_(*writer.scratch_), out_(text) {}
    // Writes into the writer's reusable buffer; the text is its first used() characters.
    explicit WriterEngine(XKJsonWriter& writer)
        : writer_(writer), scratch_(*writer.scratch_), out_(scratch_.buffer<Char>(), 0) {}

    std::size_t used() const { return out_.used(); }

    // Writes `value` (null: absent), or the given array or object; on failure records it and
    // restores the output to its size on entry.
    bool run(const JsonValue* value, const JsonValue::Array* array, const JsonObject* object) {
        const std::size_t start = out_.used();
        // The limit cannot change while a conversion runs; read it once.
        limit_ = writer_.maxDepth();
        scratch_.frames.clear();
        scratch_.proxies.clear();
        const bool ok = writeAll(value, array, object);
        if (!ok)
            out_.truncate(start);
        out_.finish();
        scratch_.frames.clear();
        scratch_.proxies.clear();
        return ok;
    }

private:
    using Frame = XKJsonWriter::Scratch::Frame;

    bool writeAll(const JsonValue* value, const JsonValue::Array* array, const JsonObject* object) {
        const bool pretty = writer_.humanReadable_;
        const std::string_view separator = pretty ? " : " : ":";
        if (array) {
            if (!openArray(*array, 0))
                return fail();
        } else if (object) {
            if (!openObject(*object, 0))
                return fail();
        } else if (!writeValue(value)) {
            return fail();
        }
        while (!scratch_.frames.empty()) {
            Frame& frame = scratch_.frames.back();
            if (frame.next < frame.count) {
                if (frame.next != 0)
                    out_.put(',');
                if (pretty)
                    writeIndent(out_, writer_.depth_);
                const JsonValue* element;
                if (frame.isObject) {
                    const JsonMember& member = frame.members[frame.next];
                    writeString(out_, member.key);
                    out_.put(separator.data(), separator.size());
                    element = &member.value;
                } else {
                    element = &frame.elements[frame.next];
                }
                ++frame.next;
                if (!writeValue(element))
                    return fail();
                continue;
            }
            --writer_.depth_;
            if (pretty && frame.count != 0)
                writeIndent(out_, writer_.depth_);
            out_.put(frame.isObject ? '}' : ']');
            if (scratch_.proxies.size() != frame.proxyMark)
                scratch_.proxies.resize(frame.proxyMark);
            scratch_.frames.pop_back();
        }
        return true;
    }

    // Writes a scalar, or opens a container for the loop above to fill.
    bool writeValue(const JsonValue* value) {
        const std::size_t proxyMark = scratch_.proxies.size();
        while (value && value->isHost()) {
            const JsonHostValue& host = **value->asHost();
            if (scratch_.proxies.size() >= XKJsonWriter::kMaxProxyNesting) {
                writer_.addErrorWithCode(
                    JsonErrorUnsupportedType,
                    unsupportedMessage(host.typeName()) + " (proxyForJson nested more than " +
                        std::to_string(XKJsonWriter::kMaxProxyNesting) + " deep)");
                return false;
            }
            std::optional<JsonValue> proxy = host.proxyForJson();
            if (!proxy) {
                writer_.addErrorWithCode(JsonErrorUnsupportedType,
                                         unsupportedMessage(host.typeName()));
                return false;
            }
            scratch_.proxies.push_back(std::move(*proxy));
            value = &scratch_.proxies.back();
        }
        if (!value) {
            writer_.addErrorWithCode(JsonErrorUnsupportedType, unsupportedMessage(kNilTypeName));
            return false;
        }
        switch (value->kind()) {
        case JsonValue::Kind::Object:
            return openObject(*value->asObject(), proxyMark);
        case JsonValue::Kind::Array:
            return openArray(*value->asArray(), proxyMark);
        case JsonValue::Kind::String:
            writeString(out_, *value->asString());
            break;
        case JsonValue::Kind::Boolean:
            if (*value->asBoolean())
                out_.put("true", 4);
            else
                out_.put("false", 5);
            break;
        case JsonValue::Kind::Number:
            writeNumber(out_, *value->asNumber());
            break;
        case JsonValue::Kind::Null:
            out_.put("null", 4);
            break;
        case JsonValue::Kind::Host:
            break; // resolved above
        }
        if (scratch_.proxies.size() != proxyMark)
            scratch_.proxies.resize(proxyMark);
        return true;
    }

    bool enter() {
        ++writer_.depth_;
        if (limit_ != 0 && writer_.depth_ > limit_) {
            writer_.addErrorWithCode(JsonErrorDepth, "Nested too deep");
            return false;
        }
        return true;
    }

    bool openArray(const JsonValue::Array& array, std::size_t proxyMark) {
        if (!enter())
            return false;
        out_.put('[');
        scratch_.frames.push_back(Frame{array.data(), nullptr, 0, array.size(), proxyMark, false});
        return true;
    }

    bool openObject(const JsonObject& object, std::size_t proxyMark) {
        if (!enter())
            return false;
        out_.put('{');
        scratch_.frames.push_back(
            Frame{nullptr, object.members().data(), 0, object.size(), proxyMark, true});
        return true;
    }

    // Every object around the failed value reports its key, innermost first.
    bool fail() {
        for (auto frame = scratch_.frames.rbegin(); frame != scratch_.frames.rend(); ++frame) {
            if (frame->isObject) {
                std::string message = "Unsupported value for key ";
                message += toUtf8(frame->members[frame->next - 1].key);
                message += " in object";
                writer_.addErrorWithCode(JsonErrorUnsupportedType, std::move(message));
            }
        }
        return false;
    }

    XKJsonWriter& writer_;
    XKJsonWriter::Scratch& scratch_;
    Output<Char> out_;
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
    return detail::WriterEngine<Char>(*this, into).run(value, array, object);
}

template <class Char>
std::optional<std::basic_string<Char>> XKJsonWriter::fragment(const JsonValue* value) {
    clearErrorTrace();
    depth_ = 0;
    detail::WriterEngine<Char> engine(*this);
    if (!engine.run(value, nullptr, nullptr))
        return std::nullopt;
    std::basic_string<Char>& buffer = scratch_->buffer<Char>();
    std::basic_string<Char> text(buffer.data(), engine.used());
    if (buffer.size() * sizeof(Char) > Scratch::kRetainedBytes)
        std::basic_string<Char>().swap(buffer);
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
    Output<char16_t> out(into);
    writeString(out, string);
    out.finish();
    return true;
}

bool XKJsonWriter::appendString(std::u16string_view string, std::string& into) {
    Output<char> out(into);
    writeString(out, string);
    out.finish();
    return true;
}

std::u16string XKJsonWriter::indent() const {
    std::u16string text(1 + 2 * static_cast<std::size_t>(depth_), u' ');
    text[0] = u'\n';
    return text;
}

} // namespace brenvo
