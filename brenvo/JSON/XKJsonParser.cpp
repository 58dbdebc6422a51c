#include "brenvo/JSON/XKJsonParser.h"

#include "brenvo/JSON/detail/ByteScan.h"
#include "brenvo/JSON/detail/NumberScan.h"
#include "brenvo/JSON/detail/ParseStacks.h"
#include "brenvo/JSON/detail/StringScan.h"
#include "brenvo/JSON/detail/ValueBuilder.h"
#include "brenvo/utf/Convert.h"

#include <cstdio>
#include <cstring>
#include <vector>

namespace brenvo {

namespace {

// Inputs up to this size keep their buffer between parses; larger ones release it.
constexpr std::size_t kKeptBufferSize = 1 << 20;

} // namespace

struct XKJsonParser::Scratch {
    std::unique_ptr<char[]> input;
    std::size_t inputCapacity = 0;
    detail::ParseStacks stacks;
};

namespace {

using detail::Frame;
using detail::ValueBuilder;

// One parse over a zero-terminated, padded buffer. Open containers live on explicit stacks,
// so nesting costs heap, never machine stack. Each failing step adds its record and the
// records of the enclosing containers follow, innermost first.
class Scanner {
public:
    Scanner(XKJsonBase& owner, detail::ParseStacks& stacks, uint64_t& depth, uint64_t limit)
        : errors_(owner), strings_(errors_, stacks.arena, stacks.text), stacks_(stacks),
          values_(stacks.values), members_(stacks.members), frames_(stacks.frames), depth_(depth),
          limit_(limit) {}

    bool run(const char* input, JsonValue& result);

    // Where the first record of a failed run was found.
    const char* failedAt() const { return errors_.firstAt(); }

private:
    // A record found where the cursor stands, or, for the byte that starts a value (the cursor
    // then stands past it), at that byte.
    void add(JsonMessage message) { errors_.add(p_, message); }
    void addAtLeadingByte(JsonMessage message) { errors_.add(p_ - 1, message); }

    void skipWhitespace() { p_ = detail::skipWhitespace(p_); }

    // The records of the enclosing containers, innermost first, for `count` frames counted
    // from the outermost.
    bool unwind(std::size_t count) {
        for (std::size_t i = count; i-- > 0;) {
            const Frame& frame = frames_[i];
            if (frame.object)
                errors_.addOuter(JsonMessage::MemberValueExpected,
                                 toUtf8(members_[frame.pending].key));
            else
                errors_.addOuter(JsonMessage::ArrayValueExpected);
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
            addAtLeadingByte(JsonMessage::NestedTooDeep);
            return failValue();
        }
        frames_.push_back(Frame{object, false, object ? members_.size() : values_.size(), 0});
        return true;
    }

    // A finished array or object takes its entries from the stacks and goes to its place.
    // An array's place in an enclosing array needs no new room when it had elements (they left
    // the same stack), and an empty one owns no block that a failure could lose.
    Next closeArray() {
        JsonValue* data;
        const std::size_t n = stacks_.takeElements(data);
        frames_.pop_back();
        --depth_;
        Next next;
        ValueBuilder::setArray(target(next), data, n);
        return next;
    }
    Next closeObject() {
        // Room for the object in an enclosing array first: once its members have left the stack
        // for their block, nothing may fail before the object holds that block.
        values_.reserveOne();
        JsonMember* data;
        const std::size_t n = stacks_.takeMembers(data);
        frames_.pop_back();
        --depth_;
        Next next;
        ValueBuilder::setObject(target(next), data, n);
        return next;
    }

    // The rest of true, false or null, compared as a fixed-length byte string (the padding
    // makes the bytes readable).
    template <std::size_t N> bool scanLiteral(const char (&rest)[N], JsonMessage missing) {
        if (std::memcmp(p_, rest, N - 1) != 0) {
            addAtLeadingByte(missing);
            return false;
        }
        p_ += N - 1;
        return true;
    }
    bool scanNumber(Next where);

    detail::ScanErrors errors_;
    detail::StringScanner strings_;
    detail::ParseStacks& stacks_;
    detail::ByteMovedStack<JsonValue>& values_;
    detail::ByteMovedStack<JsonMember>& members_;
    std::vector<Frame>& frames_;
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
    case '"': {
        // Read straight into its place, so the string's bytes are written once.
        JsonValue& string = slot(next);
        if (!strings_.scan(p_, ValueBuilder::beginString(string)))
            return failValue();
        ValueBuilder::endString(string);
        break;
    }
    case 't':
        if (!scanLiteral("rue", JsonMessage::ExpectedTrue))
            return failValue();
        put(next, true);
        break;
    case 'f':
        if (!scanLiteral("alse", JsonMessage::ExpectedFalse))
            return failValue();
        put(next, false);
        break;
    case 'n':
        if (!scanLiteral("ull", JsonMessage::ExpectedNull))
            return failValue();
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
        addAtLeadingByte(JsonMessage::LeadingPlus);
        return failValue();
    case '\0':
        addAtLeadingByte(JsonMessage::UnexpectedEnd);
        return failValue();
    default:
        addAtLeadingByte(JsonMessage::UnrecognisedCharacter);
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
            add(JsonMessage::GarbageAfterJson);
            return false;
        }
        return true;
    }

arrayLoop:
    if (*p_ == '\0') {
        add(JsonMessage::EndInArray);
        return failContainer();
    }
    skipWhitespace();
    if (*p_ == ']') {
        if (stacks_.tooManyEntries()) {
            add(JsonMessage::TooManyElements);
            return failContainer();
        }
        ++p_;
        next = closeArray();
        goto deliver;
    }
    if (frames_.back().needComma) {
        add(JsonMessage::ArraySeparatorExpected);
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
            add(JsonMessage::TrailingCommaInArray);
            return failContainer();
        }
        // What arrayLoop would do, less its checks that cannot fail after a comma (no ']'
        // follows, no comma is missing): the next element.
        if (*p_ == '\0') {
            add(JsonMessage::EndInArray);
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
        add(JsonMessage::EndInObject);
        return failContainer();
    }
    skipWhitespace();
    if (*p_ == '}') {
        if (stacks_.tooManyEntries()) {
            add(JsonMessage::TooManyMembers);
            return failContainer();
        }
        ++p_;
        next = closeObject();
        goto deliver;
    }
    if (frames_.back().needComma) {
        add(JsonMessage::MemberSeparatorExpected);
        return failContainer();
    }
objectKey:
    if (*p_ != '"') {
        add(JsonMessage::KeyExpected);
        return failContainer();
    }
    ++p_;
    // The key is read straight into a new member; a failed one is dropped with the stacks.
    if (!strings_.scan(p_, members_.emplace().key)) {
        add(JsonMessage::KeyExpected);
        return failContainer();
    }
    skipWhitespace();
    if (*p_ != ':') {
        add(JsonMessage::ColonExpected);
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
            add(JsonMessage::TrailingCommaInObject);
            return failContainer();
        }
        // What objectLoop would do, less its checks that cannot fail after a comma.
        if (*p_ == '\0') {
            add(JsonMessage::EndInObject);
            return failContainer();
        }
        goto objectKey;
    }
    // Only a '}' may follow now; needComma makes objectLoop report anything else.
    frames_.back().needComma = true;
    goto objectLoop;
}

// Inlined into the scanning loop: numbers dominate many documents, and a call would spill the
// loop's registers for each one.
[[gnu::always_inline]] inline bool Scanner::scanNumber(Next next) {
    Decimal::Parts parts;
    const char* start = p_;
    if (const std::optional<JsonMessage> message = detail::scanNumber<true>(p_, parts)) {
        add(*message);
        return false;
    }
    if (!ValueBuilder::setNumber(stacks_.arena, slot(next), parts)) {
        errors_.add(start, JsonMessage::DecimalFailed);
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
    if (size + detail::kPadding > scratch_->inputCapacity) {
        // Left uninitialised: every byte the scanner may read is written just below.
        scratch_->input.reset(new char[size + detail::kPadding]);
        scratch_->inputCapacity = size + detail::kPadding;
        // A buffer beyond the kept size is new for every parse: large pages make filling it
        // cost a few faults instead of one per page.
        if (scratch_->inputCapacity > kKeptBufferSize)
            detail::adviseLargePages(scratch_->input.get(), scratch_->inputCapacity);
    }
    char* input = scratch_->input.get();
    if (size > 0)
        std::memcpy(input, begin, size);
    std::memset(input + size, 0, detail::kPadding);

    // Runs however the scan ends, by an exception too (an error-trace observer that throws, no
    // memory): whatever the stacks still hold is dropped, so the next parse starts as on a new
    // parser, and the document's blocks are counted in their chunks before it leaves this thread.
    struct Tidy {
        Scratch& scratch;
        explicit Tidy(Scratch& kept) : scratch(kept) {}
        Tidy(const Tidy&) = delete;
        Tidy& operator=(const Tidy&) = delete;
        ~Tidy() {
            scratch.stacks.clear();
            scratch.stacks.arena.settle();
            if (scratch.inputCapacity > kKeptBufferSize) {
                scratch.input.reset();
                scratch.inputCapacity = 0;
            }
        }
    } tidy(*scratch_);

    const uint64_t limit = maxDepth() == 0 ? kNestingHardLimit : maxDepth();
    depth_ = 0;
    scratch_->stacks.arena.begin(size);
    Scanner scanner(*this, scratch_->stacks, depth_, limit);
    JsonValue result;
    const bool ok = scanner.run(input, result);
    if (!ok && scanner.failedAt())
        errorPosition_ = static_cast<std::size_t>(scanner.failedAt() - input);
    valueStart_ = static_cast<std::size_t>(detail::skipWhitespace(input) - input);
    if (!ok)
        return std::nullopt;
    detail::ValueBuilder::finishDocument(scratch_->stacks.arena, result);
    return result;
}

std::optional<JsonValue> XKJsonParser::fragmentWithString(std::optional<std::string_view> text) {
    clearErrorTrace();
    errorPosition_.reset();
    if (!text) {
        addError(JsonMessage::NilInput);
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
        errorPosition_.reset();
        addError(JsonMessage::InvalidUtf16);
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

std::optional<JsonValue> XKJsonParser::keepContainer(std::optional<JsonValue> value) {
    if (!value || value->isContainer())
        return value;
    addError(JsonMessage::NotJson);
    errorPosition_ = valueStart_;
    return std::nullopt;
}

std::optional<JsonValue> XKJsonParser::objectWithString(std::optional<std::string_view> text) {
    return keepContainer(fragmentWithString(text));
}

std::optional<JsonValue> XKJsonParser::objectWithString(std::optional<std::u16string_view> text) {
    return keepContainer(fragmentWithString(text));
}

} // namespace brenvo
