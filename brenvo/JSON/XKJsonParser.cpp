#include "brenvo/JSON/XKJsonParser.h"

#include "brenvo/JSON/detail/NumberScan.h"
#include "brenvo/JSON/detail/ValueBuilder.h"
#include "brenvo/utf/Convert.h"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <utility>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace brenvo {

namespace {

// Zero bytes appended after every input, so that the scanners may read a whole 16-byte block
// or a fixed-length literal at any position up to the terminating zero.
constexpr std::size_t kPadding = 32;

// Inputs up to this size keep their buffer between parses; larger ones release it.
constexpr std::size_t kKeptBufferSize = 1 << 20;

struct ByteTables {
    bool whitespace[256] = {};
    // Bytes that end a run of plain string content: quote, backslash, 0x00-0x1F.
    bool stringStop[256] = {};
    constexpr ByteTables() {
        for (unsigned char c : {0x20, 0x09, 0x0A, 0x0B, 0x0C, 0x0D})
            whitespace[c] = true;
        for (int c = 0; c < 0x20; ++c)
            stringStop[c] = true;
        stringStop['"'] = true;
        stringStop['\\'] = true;
    }
};
constexpr ByteTables kBytes;

inline int hexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Finds the end of a run of plain string content starting at p: the first byte that is a
// quote, a backslash or below 0x20 (the terminating zero included). Clears `ascii` if the run
// holds a byte of 0x80 or above.
inline const char* findRunEnd(const char* p, bool& ascii) {
#if defined(__SSE2__)
    const __m128i quote = _mm_set1_epi8('"');
    const __m128i backslash = _mm_set1_epi8('\\');
    const __m128i control = _mm_set1_epi8(0x1F);
    unsigned high = 0;
    for (;;) {
        const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const __m128i isControl = _mm_cmpeq_epi8(_mm_max_epu8(block, control), control);
        const __m128i stop = _mm_or_si128(
            _mm_or_si128(_mm_cmpeq_epi8(block, quote), _mm_cmpeq_epi8(block, backslash)),
            isControl);
        const unsigned stopMask = static_cast<unsigned>(_mm_movemask_epi8(stop));
        const unsigned highMask = static_cast<unsigned>(_mm_movemask_epi8(block));
        if (stopMask != 0) {
            const int index = __builtin_ctz(stopMask);
            high |= highMask & ((1u << index) - 1);
            if (high)
                ascii = false;
            return p + index;
        }
        high |= highMask;
        p += 16;
    }
#else
    unsigned char high = 0;
    while (!kBytes.stringStop[static_cast<unsigned char>(*p)]) {
        high |= static_cast<unsigned char>(*p);
        ++p;
    }
    if (high & 0x80)
        ascii = false;
    return p;
#endif
}

// Finds the first byte at or after p that is not whitespace (the terminating zero stops it).
inline const char* skipWhitespaceRun(const char* p) {
#if defined(__SSE2__)
    const __m128i space = _mm_set1_epi8(' ');
    const __m128i tab = _mm_set1_epi8('\t');
    const __m128i four = _mm_set1_epi8(4);
    for (;; p += 16) {
        const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        // Bytes 0x09 to 0x0D (tab to carriage return) are those whose distance from a tab,
        // taken unsigned, is at most 4.
        const __m128i fromTab = _mm_sub_epi8(block, tab);
        const __m128i white = _mm_or_si128(_mm_cmpeq_epi8(block, space),
                                           _mm_cmpeq_epi8(_mm_min_epu8(fromTab, four), fromTab));
        const unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(white));
        if (mask != 0xFFFF)
            return p + __builtin_ctz(~mask);
    }
#else
    while (kBytes.whitespace[static_cast<unsigned char>(*p)])
        ++p;
    return p;
#endif
}

struct Frame {
    bool object;
    bool needComma;      // an element or member was read and no comma followed yet
    std::size_t start;   // first slot of this container on the value or member stack
    std::size_t pending; // objects: the member whose value is being read
};

// A stack of values or members being built. Entries move by copying their bytes: the parser
// makes no host values, and no other payload (decimal, string, array, object) points into
// itself, so a byte copy is a complete move and the source needs no destruction.
template <typename T> class ByteMovedStack {
public:
    ByteMovedStack() = default;
    ByteMovedStack(const ByteMovedStack&) = delete;
    ByteMovedStack& operator=(const ByteMovedStack&) = delete;
    ~ByteMovedStack() {
        clear();
        ::operator delete(data_);
    }

    std::size_t size() const noexcept { return size_; }
    T& operator[](std::size_t i) noexcept { return data_[i]; }
    T& back() noexcept { return data_[size_ - 1]; }
    T* top(std::size_t n) noexcept { return data_ + size_ - n; }

    template <typename... Args> T& emplace(Args&&... args) {
        if (size_ == capacity_)
            grow();
        return *new (data_ + size_++) T(std::forward<Args>(args)...);
    }
    // Forgets the top `n` entries, which the caller has moved away or destroyed.
    void drop(std::size_t n) noexcept { size_ -= n; }
    void clear() noexcept {
        for (std::size_t i = 0; i < size_; ++i)
            data_[i].~T();
        size_ = 0;
    }

private:
    void grow() {
        const std::size_t capacity = capacity_ ? capacity_ * 2 : 256;
        T* data = static_cast<T*>(::operator new(capacity * sizeof(T)));
        if (size_ != 0)
            std::memcpy(static_cast<void*>(data), static_cast<const void*>(data_),
                        size_ * sizeof(T));
        ::operator delete(data_);
        data_ = data;
        capacity_ = capacity;
    }

    T* data_ = nullptr;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
};

// Compares two runs of UTF-16 units in unit order, four units at a time: the lowest differing
// bit of two little-endian words lies in the first unit that differs.
inline int compareUnits(const char16_t* a, std::size_t an, const char16_t* b, std::size_t bn) {
    const std::size_t n = an < bn ? an : bn;
    std::size_t i = 0;
    if constexpr (std::endian::native == std::endian::little) {
        for (; i + 4 <= n; i += 4) {
            uint64_t x, y;
            std::memcpy(&x, a + i, sizeof x);
            std::memcpy(&y, b + i, sizeof y);
            if (x != y) {
                const std::size_t j = i + static_cast<std::size_t>(std::countr_zero(x ^ y)) / 16;
                return a[j] < b[j] ? -1 : 1;
            }
        }
    }
    for (; i < n; ++i)
        if (a[i] != b[i])
            return a[i] < b[i] ? -1 : 1;
    return an < bn ? -1 : an > bn ? 1 : 0;
}

// A key to sort: its first eight units packed into two numbers, its units and its position
// among the members read.
struct KeyRef {
    uint64_t head; // units 0-3
    uint64_t tail; // units 4-7
    const char16_t* data;
    uint32_t size;
    uint32_t index;

    // Units past the end count as 0. Keys whose prefixes differ are ordered by them, as unit
    // order would: at the first differing position either both keys have units, or the key
    // that ended is a prefix of the other (its padding 0 is below any unit there), hence smaller.
    static KeyRef of(const char16_t* data, std::size_t size, std::size_t index) {
        uint64_t words[2] = {0, 0};
        for (std::size_t i = 0; i < 8; ++i)
            words[i / 4] = (words[i / 4] << 16) | (i < size ? data[i] : 0);
        return KeyRef{words[0], words[1], data, static_cast<uint32_t>(size),
                      static_cast<uint32_t>(index)};
    }
    // Equal prefixes and equal sizes of at most eight units mean equal keys, so the units
    // themselves (out of cache for large objects) are read only for longer keys or keys that
    // differ in length after a run of zero units.
    friend bool operator<(const KeyRef& a, const KeyRef& b) {
        if (a.head != b.head)
            return a.head < b.head;
        if (a.tail != b.tail)
            return a.tail < b.tail;
        if (a.size != b.size || a.size > 8) {
            const int c = compareUnits(a.data, a.size, b.data, b.size);
            if (c != 0)
                return c < 0;
        }
        return a.index < b.index;
    }
    friend bool sameKey(const KeyRef& a, const KeyRef& b) {
        return a.head == b.head && a.tail == b.tail && a.size == b.size &&
               (a.size <= 8 ||
                std::memcmp(a.data + 8, b.data + 8, (a.size - 8) * sizeof(char16_t)) == 0);
    }
};

// The parser's working storage, kept between parses so that it is allocated once.
struct Stacks {
    ByteMovedStack<JsonValue> values;
    ByteMovedStack<JsonMember> members;
    std::vector<Frame> frames;
    std::vector<KeyRef> order;
    std::u16string text; // strings with escapes or non-ASCII content, decoded
    // Where the document's strings and containers get their blocks.
    detail::SlabArena arena;
};

} // namespace

struct XKJsonParser::Scratch {
    std::unique_ptr<char[]> input;
    std::size_t inputCapacity = 0;
    Stacks stacks;
};

namespace {

using detail::ValueBuilder;

// One parse over a zero-terminated, padded buffer. Open containers live on explicit stacks,
// so nesting costs heap, never machine stack. Each failing step adds its record and the
// records of the enclosing containers follow, innermost first.
class Scanner {
public:
    Scanner(XKJsonBase& owner, Stacks& scratch, uint64_t& depth, uint64_t limit)
        : owner_(owner), values_(scratch.values), members_(scratch.members),
          frames_(scratch.frames), order_(scratch.order), text_(scratch.text),
          arena_(scratch.arena), depth_(depth), limit_(limit) {}

    bool run(const char* input, JsonValue& result);

private:
    void add(unsigned code, const char* message) { owner_.addErrorWithCode(code, message); }
    void addByte(unsigned code, const char* format, unsigned char byte) {
        char message[64];
        std::snprintf(message, sizeof message, format, static_cast<unsigned>(byte));
        owner_.addErrorWithCode(code, message);
    }

    void skipWhitespace() {
        // Mostly none or one byte; longer runs (indentation) go block by block. A local copy of
        // the position lets the loop run in a register.
        const char* p = p_;
        if (kBytes.whitespace[static_cast<unsigned char>(*p)]) {
            ++p;
            if (kBytes.whitespace[static_cast<unsigned char>(*p)])
                p = skipWhitespaceRun(p);
        }
        p_ = p;
    }

    // The records of the enclosing containers, innermost first, for `count` frames counted
    // from the outermost.
    bool unwind(std::size_t count) {
        for (std::size_t i = count; i-- > 0;) {
            const Frame& frame = frames_[i];
            if (frame.object) {
                owner_.addErrorWithCode(JsonErrorSyntax, "Object value expected for key: " +
                                                             toUtf8(members_[frame.pending].key));
            } else {
                add(JsonErrorSyntax, "Expected value while parsing array");
            }
        }
        return false;
    }
    // A value failed: every open container reports it.
    bool failValue() { return unwind(frames_.size()); }
    // The innermost container failed by itself: the others report it.
    bool failContainer() { return unwind(frames_.size() - 1); }

    // Where a finished value goes: the top level, the open array or the open object.
    enum class Next { Top, ArrayElement, ObjectMember };

    // The null value a finished value is stored into, and which place that is.
    JsonValue& target(Next& next) {
        if (frames_.empty()) {
            next = Next::Top;
            return *result_;
        }
        if (frames_.back().object) {
            next = Next::ObjectMember;
            return members_.back().value;
        }
        next = Next::ArrayElement;
        return values_.emplace();
    }
    // The null value a finished scalar is stored into, its place being known.
    JsonValue& slot(Next where) {
        if (where == Next::ArrayElement)
            return values_.emplace();
        if (where == Next::ObjectMember)
            return members_.back().value;
        return *result_;
    }
    template <typename T> void put(Next where, T&& content) {
        // The target is null, so this assignment is a plain move of bytes.
        slot(where) = JsonValue(std::forward<T>(content));
    }

    bool open(bool object) {
        ++depth_;
        if (depth_ > limit_) {
            add(JsonErrorDepth, "Nested too deep");
            return failValue();
        }
        frames_.push_back(Frame{object, false, object ? members_.size() : values_.size(), 0});
        return true;
    }

    // The elements read since the array opened become its storage: one exactly-sized block.
    Next closeArray() {
        const std::size_t n = values_.size() - frames_.back().start;
        JsonValue* data = nullptr;
        if (n != 0) {
            data = ValueBuilder::allocate<JsonValue>(arena_, n);
            void* to = data;
            const void* from = values_.top(n);
            // Fixed sizes for the short arrays that dominate (pairs of coordinates and the
            // like) are copied inline rather than through a library call.
            switch (n) {
            case 1:
                std::memcpy(to, from, sizeof(JsonValue));
                break;
            case 2:
                std::memcpy(to, from, 2 * sizeof(JsonValue));
                break;
            case 3:
                std::memcpy(to, from, 3 * sizeof(JsonValue));
                break;
            default:
                std::memcpy(to, from, n * sizeof(JsonValue));
            }
            values_.drop(n);
        }
        frames_.pop_back();
        --depth_;
        Next next;
        ValueBuilder::setArray(target(next), data, n);
        return next;
    }

    // The members read since the object opened, sorted by key once (of equal keys the one read
    // last wins), become its storage: one exactly-sized block.
    Next closeObject() {
        const std::size_t n = members_.size() - frames_.back().start;
        JsonMember* first = members_.top(n);
        // Strictly increasing keys are in order already, without duplicates.
        bool sorted = true;
        for (std::size_t i = 1; i < n && sorted; ++i) {
            const std::u16string_view a = first[i - 1].key, b = first[i].key;
            sorted = compareUnits(a.data(), a.size(), b.data(), b.size()) < 0;
        }
        JsonMember* data = nullptr;
        std::size_t kept = n;
        if (sorted) {
            if (n != 0) {
                data = ValueBuilder::allocate<JsonMember>(arena_, n);
                std::memcpy(static_cast<void*>(data), static_cast<const void*>(first),
                            n * sizeof(JsonMember));
            }
        } else {
            // Sort positions rather than members (O(n log n), duplicates included), then move
            // each kept member once; of equal keys the one read last sorts last and is kept.
            order_.resize(n);
            for (std::size_t i = 0; i < n; ++i) {
                const std::u16string_view key = first[i].key;
                order_[i] = KeyRef::of(key.data(), key.size(), i);
            }
            std::sort(order_.begin(), order_.end());
            for (std::size_t k = 0; k + 1 < n; ++k)
                kept -= sameKey(order_[k], order_[k + 1]);
            data = ValueBuilder::allocate<JsonMember>(arena_, kept);
            std::size_t out = 0;
            for (std::size_t k = 0; k < n; ++k) {
                JsonMember& member = first[order_[k].index];
                if (k + 1 < n && sameKey(order_[k], order_[k + 1]))
                    member.~JsonMember(); // replaced by a later member with the same key
                else
                    std::memcpy(static_cast<void*>(data + out++), static_cast<const void*>(&member),
                                sizeof(JsonMember));
            }
        }
        members_.drop(n);
        frames_.pop_back();
        --depth_;
        Next next;
        ValueBuilder::setObject(target(next), data, kept);
        return next;
    }

    bool scanString(JsonString& out);
    bool scanRestOfString(std::u16string& out);
    // Converts the UTF-8 run [begin, end), which holds no quote, backslash or control byte, into
    // UTF-16 at `w` (room for end - begin units) and returns the end of what it wrote, or null
    // after recording the first ill-formed sequence (the cursor then stands on it).
    char16_t* convertRun(const char* begin, const char* end, char16_t* w);
    bool appendRun(const char* begin, const char* end, bool ascii, std::u16string& out);
    bool scanUnicodeChar(std::u16string& out);
    bool scanHexQuad(uint16_t& out);
    bool scanNumber(Next where);

    XKJsonBase& owner_;
    ByteMovedStack<JsonValue>& values_;
    ByteMovedStack<JsonMember>& members_;
    std::vector<Frame>& frames_;
    std::vector<KeyRef>& order_;
    std::u16string& text_;
    detail::SlabArena& arena_;
    uint64_t& depth_;
    const uint64_t limit_;
    const char* p_ = nullptr;
    JsonValue* result_ = nullptr;
};

bool Scanner::run(const char* input, JsonValue& result) {
    p_ = input;
    result_ = &result;
    Next next = Next::Top;

scanValue:
    skipWhitespace();
    switch (*p_++) {
    case '{':
        if (!open(true))
            return false;
        goto objectLoop;
    case '[':
        if (!open(false))
            return false;
        goto arrayLoop;
    case '"':
        // Read straight into its place, so the string's bytes are written once.
        if (!scanString(ValueBuilder::beginString(slot(next))))
            return failValue();
        break;
    case 't':
        if (std::memcmp(p_, "rue", 3) != 0) {
            add(JsonErrorSyntax, "Expected 'true'");
            return failValue();
        }
        p_ += 3;
        put(next, true);
        break;
    case 'f':
        if (std::memcmp(p_, "alse", 4) != 0) {
            add(JsonErrorSyntax, "Expected 'false'");
            return failValue();
        }
        p_ += 4;
        put(next, false);
        break;
    case 'n':
        if (std::memcmp(p_, "ull", 3) != 0) {
            add(JsonErrorSyntax, "Expected 'null'");
            return failValue();
        }
        p_ += 3;
        put(next, nullptr);
        break;
    case '-':
    case '0':
    case '1':
    case '2':
    case '3':
    case '4':
    case '5':
    case '6':
    case '7':
    case '8':
    case '9':
        --p_;
        if (!scanNumber(next))
            return failValue();
        break;
    case '+':
        add(JsonErrorNumber, "Leading + disallowed in number");
        return failValue();
    case '\0':
        add(JsonErrorEndOfInput, "Unexpected end of string");
        return failValue();
    default:
        add(JsonErrorSyntax, "Unrecognised leading character");
        return failValue();
    }

deliver:
    if (next == Next::ObjectMember)
        goto objectAfterMember;
    if (next == Next::ArrayElement)
        goto arrayAfterElement;
    {
        skipWhitespace();
        if (*p_ != '\0') {
            add(JsonErrorTrailingGarbage, "Garbage after JSON");
            return false;
        }
        return true;
    }

arrayLoop:
    if (*p_ == '\0') {
        add(JsonErrorEndOfInput, "End of input while parsing array");
        return failContainer();
    }
    skipWhitespace();
    if (*p_ == ']') {
        ++p_;
        next = closeArray();
        goto deliver;
    }
    if (frames_.back().needComma) {
        add(JsonErrorSyntax, "Expected ',' or ']' after array element");
        return failContainer();
    }
    next = Next::ArrayElement;
    goto scanValue;

arrayAfterElement:
    skipWhitespace();
    if (*p_ == ',') {
        ++p_;
        skipWhitespace();
        if (*p_ == ']') {
            add(JsonErrorTrailingComma, "Trailing comma disallowed in array");
            return failContainer();
        }
        // What arrayLoop would do, less its checks that cannot fail after a comma (no ']'
        // follows, no comma is missing): the next element.
        if (*p_ == '\0') {
            add(JsonErrorEndOfInput, "End of input while parsing array");
            return failContainer();
        }
        next = Next::ArrayElement;
        goto scanValue;
    }
    // Only a ']' may follow now; needComma makes arrayLoop report anything else.
    frames_.back().needComma = true;
    goto arrayLoop;

objectLoop:
    if (*p_ == '\0') {
        add(JsonErrorEndOfInput, "End of input while parsing object");
        return failContainer();
    }
    skipWhitespace();
    if (*p_ == '}') {
        ++p_;
        next = closeObject();
        goto deliver;
    }
    if (frames_.back().needComma) {
        add(JsonErrorSyntax, "Expected ',' or '}' after object member");
        return failContainer();
    }
objectKey:
    if (*p_ != '"') {
        add(JsonErrorSyntax, "Object key string expected");
        return failContainer();
    }
    ++p_;
    // The key is read straight into a new member; a failed one is dropped with the stacks.
    if (!scanString(members_.emplace().key)) {
        add(JsonErrorSyntax, "Object key string expected");
        return failContainer();
    }
    skipWhitespace();
    if (*p_ != ':') {
        add(JsonErrorSyntax, "Expected ':' separating key and value");
        return failContainer();
    }
    ++p_;
    frames_.back().pending = members_.size() - 1;
    next = Next::ObjectMember;
    goto scanValue;

objectAfterMember:
    skipWhitespace();
    if (*p_ == ',') {
        ++p_;
        skipWhitespace();
        if (*p_ == '}') {
            add(JsonErrorTrailingComma, "Trailing comma disallowed in object");
            return failContainer();
        }
        // What objectLoop would do, less its checks that cannot fail after a comma.
        if (*p_ == '\0') {
            add(JsonErrorEndOfInput, "End of input while parsing object");
            return failContainer();
        }
        goto objectKey;
    }
    // Only a '}' may follow now; needComma makes objectLoop report anything else.
    frames_.back().needComma = true;
    goto objectLoop;
}

char16_t* Scanner::convertRun(const char* begin, const char* end, char16_t* w) {
    const auto* p = reinterpret_cast<const unsigned char*>(begin);
    const auto* const stop = reinterpret_cast<const unsigned char*>(end);
    w = utf::convertUtf8<utf::Invalid::Stop>(p, stop, w);
    if (p == stop)
        return w;
    p_ = reinterpret_cast<const char*>(p);
    add(JsonErrorUnicode, "Invalid UTF-8 sequence in string");
    return nullptr;
}

bool Scanner::appendRun(const char* begin, const char* end, bool ascii, std::u16string& out) {
    const std::size_t n = static_cast<std::size_t>(end - begin);
    const std::size_t old = out.size();
    out.resize(old + n);
    if (ascii) {
        utf::widenAscii(begin, n, out.data() + old);
        return true;
    }
    char16_t* w = convertRun(begin, end, out.data() + old);
    if (!w)
        return false;
    out.resize(static_cast<std::size_t>(w - out.data()));
    return true;
}

bool Scanner::scanString(JsonString& out) {
    const char* start = p_;
    bool ascii = true;
    const char* end = findRunEnd(p_, ascii);
    if (*end == '"' && ascii) {
        // Plain ASCII up to the closing quote: widened straight into the string's storage.
        ValueBuilder::setAscii(arena_, out, start, static_cast<std::size_t>(end - start));
        p_ = end + 1;
        return true;
    }
    if (*end == '"') {
        // UTF-8 without escapes: validated and converted in one pass into the scratch buffer
        // (never more units than bytes), then copied at its exact size.
        const std::size_t n = static_cast<std::size_t>(end - start);
        if (text_.size() < n)
            text_.resize(n);
        char16_t* w = convertRun(start, end, text_.data());
        if (!w)
            return false;
        ValueBuilder::setUnits(arena_, out,
                               std::u16string_view(text_.data(), std::size_t(w - text_.data())));
        p_ = end + 1;
        return true;
    }
    text_.clear();
    if (!scanRestOfString(text_))
        return false;
    ValueBuilder::setUnits(arena_, out, text_);
    return true;
}

bool Scanner::scanRestOfString(std::u16string& out) {
    for (;;) {
        const char* runStart = p_;
        bool ascii = true;
        p_ = findRunEnd(p_, ascii);
        if (p_ != runStart && !appendRun(runStart, p_, ascii, out))
            return false;
        const char c = *p_;
        if (c == '"') {
            ++p_;
            return true;
        }
        if (c != '\\') {
            addByte(JsonErrorControlCharacter, "Unescaped control character '0x%x'",
                    static_cast<unsigned char>(c));
            return false;
        }
        ++p_;
        const char escape = *p_;
        char16_t unit;
        switch (escape) {
        case '"':
            unit = u'"';
            break;
        case '\\':
            unit = u'\\';
            break;
        case '/':
            unit = u'/';
            break;
        case 'b':
            unit = u'\b';
            break;
        case 'f':
            unit = u'\f';
            break;
        case 'n':
            unit = u'\n';
            break;
        case 'r':
            unit = u'\r';
            break;
        case 't':
            unit = u'\t';
            break;
        case 'u':
            ++p_;
            if (!scanUnicodeChar(out)) {
                add(JsonErrorUnicode, "Broken unicode character");
                return false;
            }
            goto afterEscape;
        default:
            addByte(JsonErrorEscape, "Illegal escape sequence '0x%x'",
                    static_cast<unsigned char>(escape));
            return false;
        }
        ++p_;
        out.push_back(unit);
    afterEscape:
        if (*p_ == '\0') {
            add(JsonErrorEndOfInput, "Unexpected EOF while parsing string");
            return false;
        }
    }
}

bool Scanner::scanHexQuad(uint16_t& out) {
    unsigned value = 0;
    for (int i = 0; i < 4; ++i) {
        const int digit = hexValue(*p_);
        if (digit < 0) {
            add(JsonErrorUnicode, "Missing hex digit in quad");
            return false;
        }
        ++p_;
        value = value * 16 + static_cast<unsigned>(digit);
    }
    out = static_cast<uint16_t>(value);
    return true;
}

bool Scanner::scanUnicodeChar(std::u16string& out) {
    uint16_t high = 0;
    if (!scanHexQuad(high)) {
        add(JsonErrorUnicode, "Missing hex quad");
        return false;
    }
    if (high < 0xD800 || high > 0xDFFF) {
        out.push_back(static_cast<char16_t>(high));
        return true;
    }
    if (high >= 0xDC00) {
        add(JsonErrorUnicode, "Invalid high character in surrogate pair");
        return false;
    }
    uint16_t low = 0;
    if (p_[0] != '\\' || p_[1] != 'u') {
        add(JsonErrorUnicode, "Missing low character in surrogate pair");
        return false;
    }
    p_ += 2;
    if (!scanHexQuad(low)) {
        add(JsonErrorUnicode, "Missing low character in surrogate pair");
        return false;
    }
    if (low < 0xDC00 || low > 0xDFFF) {
        add(JsonErrorUnicode, "Invalid low surrogate char");
        return false;
    }
    out.push_back(static_cast<char16_t>(high));
    out.push_back(static_cast<char16_t>(low));
    return true;
}

// Inlined into the scanning loop: numbers dominate many documents, and a call would spill the
// loop's registers for each one.
[[gnu::always_inline]] inline bool Scanner::scanNumber(Next next) {
    Decimal::Parts parts;
    if (const char* message = detail::scanNumber<true>(p_, parts)) {
        add(JsonErrorNumber, message);
        return false;
    }
    if (!ValueBuilder::setNumber(slot(next), parts)) {
        add(JsonErrorNumber, "Failed creating decimal instance");
        return false;
    }
    return true;
}

} // namespace

XKJsonParsing::~XKJsonParsing() = default;

std::optional<JsonValue> XKJsonParsing::objectWithString(const char* text) {
    if (!text)
        return objectWithString(std::optional<std::string_view>());
    return objectWithString(std::optional<std::string_view>(text));
}

std::optional<JsonValue> XKJsonParsing::objectWithString(const char16_t* text) {
    if (!text)
        return objectWithString(std::optional<std::u16string_view>());
    return objectWithString(std::optional<std::u16string_view>(text));
}

XKJsonParser::XKJsonParser() : scratch_(std::make_unique<Scratch>()) {}

XKJsonParser::~XKJsonParser() = default;

std::optional<JsonValue> XKJsonParser::parseBytes(const char* begin, std::size_t size) {
    if (size + kPadding > scratch_->inputCapacity) {
        // Left uninitialised: every byte the scanner may read is written just below.
        scratch_->input.reset(new char[size + kPadding]);
        scratch_->inputCapacity = size + kPadding;
    }
    char* input = scratch_->input.get();
    if (size > 0)
        std::memcpy(input, begin, size);
    std::memset(input + size, 0, kPadding);

    const uint64_t limit =
        (maxDepth() == 0 || maxDepth() > kNestingHardLimit) ? kNestingHardLimit : maxDepth();
    depth_ = 0;
    scratch_->stacks.arena.begin(size);
    Scanner scanner(*this, scratch_->stacks, depth_, limit);
    JsonValue result;
    const bool ok = scanner.run(input, result);

    // Drop whatever a failed parse left on the stacks; keep their capacity for the next one.
    scratch_->stacks.values.clear();
    scratch_->stacks.members.clear();
    scratch_->stacks.frames.clear();
    // The document's blocks are counted in their chunks before it leaves this thread.
    scratch_->stacks.arena.settle();
    if (scratch_->inputCapacity > kKeptBufferSize) {
        scratch_->input.reset();
        scratch_->inputCapacity = 0;
    }
    if (!ok)
        return std::nullopt;
    return result;
}

std::optional<JsonValue> XKJsonParser::fragmentWithString(std::optional<std::string_view> text) {
    clearErrorTrace();
    if (!text) {
        addErrorWithCode(JsonErrorNilInput, "Input was 'nil'");
        return std::nullopt;
    }
    return parseBytes(text->data(), text->size());
}

std::optional<JsonValue> XKJsonParser::fragmentWithString(std::optional<std::u16string_view> text) {
    if (!text)
        return fragmentWithString(std::optional<std::string_view>());
    std::optional<std::string> utf8 = toUtf8Strict(*text);
    if (!utf8) {
        clearErrorTrace();
        addErrorWithCode(JsonErrorUnicode, "Input is not valid UTF-16");
        return std::nullopt;
    }
    return fragmentWithString(std::optional<std::string_view>(*utf8));
}

std::optional<JsonValue> XKJsonParser::fragmentWithString(const char* text) {
    if (!text)
        return fragmentWithString(std::optional<std::string_view>());
    return fragmentWithString(std::optional<std::string_view>(text));
}

std::optional<JsonValue> XKJsonParser::fragmentWithString(const char16_t* text) {
    if (!text)
        return fragmentWithString(std::optional<std::u16string_view>());
    return fragmentWithString(std::optional<std::u16string_view>(text));
}

namespace {

std::optional<JsonValue> keepContainer(XKJsonBase& parser, std::optional<JsonValue> value) {
    if (!value || value->isContainer())
        return value;
    parser.addErrorWithCode(JsonErrorFragment, "Valid fragment, but not JSON");
    return std::nullopt;
}

} // namespace

std::optional<JsonValue> XKJsonParser::objectWithString(std::optional<std::string_view> text) {
    return keepContainer(*this, fragmentWithString(text));
}

std::optional<JsonValue> XKJsonParser::objectWithString(std::optional<std::u16string_view> text) {
    return keepContainer(*this, fragmentWithString(text));
}

} // namespace brenvo
