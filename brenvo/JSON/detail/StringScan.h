// The parser's string scanner: plain content in runs (one search, one conversion and one append
// per run), escapes one at a time, and where a parse failed.
#pragma once

#include "brenvo/JSON/JsonMessages.h"
#include "brenvo/JSON/JsonValue.h"
#include "brenvo/JSON/XKJsonBase.h"
#include "brenvo/JSON/detail/ByteScan.h"
#include "brenvo/JSON/detail/Slab.h"
#include "brenvo/JSON/detail/ValueBuilder.h"
#include "brenvo/utf/Convert.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace brenvo::detail {

// Where a parse's records go, and the input position of the first: the innermost cause.
class ScanErrors {
public:
    explicit ScanErrors(XKJsonBase& owner) : owner_(owner) {}

    // A record found at `at`.
    void add(const char* at, JsonMessage message) {
        mark(at);
        owner_.addError(message);
    }
    void add(const char* at, JsonMessage message, unsigned char byte) {
        mark(at);
        owner_.addError(message, byte);
    }
    // A record of an enclosing container, after the record of the failure inside it.
    void addOuter(JsonMessage message, std::string_view argument = {}) {
        owner_.addError(message, argument);
    }
    // Where the first record was found, or null.
    const char* firstAt() const { return firstAt_; }

private:
    void mark(const char* at) {
        if (!firstAt_)
            firstAt_ = at;
    }

    XKJsonBase& owner_;
    const char* firstAt_ = nullptr;
};

class StringScanner {
public:
    StringScanner(ScanErrors& errors, SlabArena& arena, std::u16string& text)
        : errors_(errors), arena_(arena), text_(text) {}

    // Reads the content of a string, p just after its opening quote, into the empty string
    // `out` and moves p past the closing quote; false after recording why not. Plain ASCII up to
    // the closing quote, most strings, is widened straight into the string's storage here, in
    // the caller's loop.
    [[gnu::always_inline]] bool scan(const char*& p, JsonString& out) {
        bool ascii = true;
        const char* end = findRunEnd(p, ascii);
        if (*end == '"' && ascii) [[likely]] {
            ValueBuilder::setAscii(arena_, out, p, static_cast<std::size_t>(end - p));
            p = end + 1;
            return true;
        }
        return scanOther(p, end, ascii, out);
    }

private:
    // The rest of scan: the run from p ends at `end`, on a quote after non-ASCII content or on
    // an escape or control byte.
    [[gnu::noinline]] bool scanOther(const char*& p, const char* end, bool ascii, JsonString& out) {
        if (*end == '"') {
            // UTF-8 without escapes: validated and converted in one pass into the scratch
            // buffer (never more units than bytes), then copied at its exact size.
            const std::size_t n = static_cast<std::size_t>(end - p);
            if (text_.size() < n)
                text_.resize(n);
            char16_t* w = convertRun(p, end, text_.data());
            if (!w)
                return false;
            ValueBuilder::setUnits(
                arena_, out, std::u16string_view(text_.data(), std::size_t(w - text_.data())));
            p = end + 1;
            return true;
        }
        // The run found so far is converted once; scanning goes on from its end.
        text_.clear();
        if (end != p && !appendRun(p, end, ascii, text_))
            return false;
        p = end;
        if (!scanEscaped(p, text_))
            return false;
        ValueBuilder::setUnits(arena_, out, text_);
        return true;
    }

    // Content with escapes, run by run, into `out`.
    bool scanEscaped(const char*& p, std::u16string& out) {
        for (;;) {
            const char* runStart = p;
            bool ascii = true;
            p = findRunEnd(p, ascii);
            if (p != runStart && !appendRun(runStart, p, ascii, out))
                return false;
            if (*p == '"') {
                ++p;
                return true;
            }
            if (*p != '\\') {
                errors_.add(p, JsonMessage::ControlCharacter, static_cast<unsigned char>(*p));
                return false;
            }
            const char* escape = p++;
            if (*p == 'u') {
                ++p;
                if (!scanUnicodeChar(p, out)) {
                    errors_.add(escape, JsonMessage::BrokenUnicode);
                    return false;
                }
            } else {
                const char16_t unit = escapedUnit(*p);
                if (unit == 0xFFFF) {
                    errors_.add(escape, JsonMessage::IllegalEscape, static_cast<unsigned char>(*p));
                    return false;
                }
                ++p;
                out.push_back(unit);
            }
            if (*p == '\0') {
                errors_.add(p, JsonMessage::EndInString);
                return false;
            }
        }
    }

    // The unit a one-letter escape stands for, or 0xFFFF.
    static char16_t escapedUnit(char letter) {
        switch (letter) {
        case '"':
        case '\\':
        case '/':
            return static_cast<char16_t>(letter);
        case 'b':
            return u'\b';
        case 'f':
            return u'\f';
        case 'n':
            return u'\n';
        case 'r':
            return u'\r';
        case 't':
            return u'\t';
        default:
            return 0xFFFF;
        }
    }

    // The four hex digits at p.
    bool scanHexQuad(const char*& p, uint16_t& out) {
        unsigned value = 0;
        for (int i = 0; i < 4; ++i) {
            const int digit = hexValue(*p);
            if (digit < 0) {
                errors_.add(p, JsonMessage::MissingHexDigit);
                return false;
            }
            ++p;
            value = value * 16 + static_cast<unsigned>(digit);
        }
        out = static_cast<uint16_t>(value);
        return true;
    }

    // A \u escape, p after its "u": one unit, or a surrogate pair written as two escapes.
    bool scanUnicodeChar(const char*& p, std::u16string& out) {
        const char* first = p - 2;
        uint16_t high = 0;
        if (!scanHexQuad(p, high)) {
            errors_.add(first, JsonMessage::MissingHexQuad);
            return false;
        }
        if (high < 0xD800 || high > 0xDFFF) {
            out.push_back(static_cast<char16_t>(high));
            return true;
        }
        if (high >= 0xDC00) {
            errors_.add(first, JsonMessage::InvalidHighSurrogate);
            return false;
        }
        const char* second = p;
        uint16_t low = 0;
        if (p[0] != '\\' || p[1] != 'u') {
            errors_.add(second, JsonMessage::MissingLowSurrogate);
            return false;
        }
        p += 2;
        if (!scanHexQuad(p, low)) {
            errors_.add(second, JsonMessage::MissingLowSurrogate);
            return false;
        }
        if (low < 0xDC00 || low > 0xDFFF) {
            errors_.add(second, JsonMessage::InvalidLowSurrogate);
            return false;
        }
        out.push_back(static_cast<char16_t>(high));
        out.push_back(static_cast<char16_t>(low));
        return true;
    }

    // Converts the UTF-8 run [begin, end), which holds no quote, backslash or control byte,
    // into UTF-16 at `w` (room for end - begin units) and returns the end of what it wrote, or
    // null after recording the first ill-formed sequence.
    char16_t* convertRun(const char* begin, const char* end, char16_t* w) {
        const auto* p = reinterpret_cast<const unsigned char*>(begin);
        const auto* const stop = reinterpret_cast<const unsigned char*>(end);
        w = utf::convertUtf8<utf::Invalid::Stop>(p, stop, w);
        if (p == stop)
            return w;
        errors_.add(reinterpret_cast<const char*>(p), JsonMessage::InvalidUtf8);
        return nullptr;
    }

    bool appendRun(const char* begin, const char* end, bool ascii, std::u16string& out) {
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

    ScanErrors& errors_;
    SlabArena& arena_;
    std::u16string& text_;
};

} // namespace brenvo::detail
