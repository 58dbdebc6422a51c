// Text from outside (a store's reply, a host's files) made safe for a terminal or a log line.
//
//   log.write(brenvo::utf::printable(untrusted));                       // always one line
//   out += brenvo::utf::printable(notes, brenvo::utf::LineBreaks::Keep); // multi-line notes
//
// What a terminal would act on instead of showing is written as a visible escape: line feed,
// carriage return and tab as \n, \r and \t; every other C0 control and DEL as \xHH; C1 controls
// (U+0080-U+009F), the line and paragraph separators (U+2028, U+2029) and the bidirectional
// embeddings, overrides and isolates (U+202A-U+202E, U+2066-U+2069) as \uHHHH. Bytes that are
// not UTF-8 become U+FFFD, one per maximal ill-formed subpart. Everything else, the backslash
// included, is kept, so applying the rule twice changes nothing more.
#pragma once

#include "brenvo/utf/Utf8.h"

#include <string>
#include <string_view>

namespace brenvo::utf {

enum class LineBreaks {
    Escape, // the result is one line
    Keep,   // line feeds and tabs pass unchanged (carriage returns are still escaped)
};

namespace detail {

inline void appendHexEscape(std::string& out, char prefix, unsigned value, int digits) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    out += '\\';
    out += prefix;
    for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4)
        out += kHex[(value >> shift) & 0xF];
}

// True for the characters above ASCII that a terminal or a log reader acts on.
constexpr bool isInvisibleControl(char32_t cp) {
    return (cp >= 0x80 && cp <= 0x9F) || cp == 0x2028 || cp == 0x2029 ||
           (cp >= 0x202A && cp <= 0x202E) || (cp >= 0x2066 && cp <= 0x2069);
}

} // namespace detail

// Appends the printable form of `text` to `out`.
inline void appendPrintable(std::string& out, std::string_view text,
                            LineBreaks breaks = LineBreaks::Escape) {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const auto* const end = p + text.size();
    out.reserve(out.size() + text.size());
    while (p < end) {
        // Printable ASCII runs are copied whole.
        const auto* run = p;
        while (p < end && *p >= 0x20 && *p < 0x7F)
            ++p;
        out.append(reinterpret_cast<const char*>(run), static_cast<size_t>(p - run));
        if (p == end)
            break;
        const unsigned char byte = *p;
        if (byte < 0x80) {
            if ((byte == '\n' || byte == '\t') && breaks == LineBreaks::Keep)
                out += static_cast<char>(byte);
            else if (byte == '\n')
                out += "\\n";
            else if (byte == '\t')
                out += "\\t";
            else if (byte == '\r')
                out += "\\r";
            else
                detail::appendHexEscape(out, 'x', byte, 2);
            ++p;
            continue;
        }
        char32_t cp = 0;
        const int length = decodeUtf8Sequence(p, end, cp);
        if (length < 0) {
            out += "\xEF\xBF\xBD";
            p += -length;
        } else if (detail::isInvisibleControl(cp)) {
            detail::appendHexEscape(out, 'u', static_cast<unsigned>(cp), 4);
            p += length;
        } else {
            out.append(reinterpret_cast<const char*>(p), static_cast<size_t>(length));
            p += length;
        }
    }
}

// The printable form of `text`.
inline std::string printable(std::string_view text, LineBreaks breaks = LineBreaks::Escape) {
    std::string out;
    appendPrintable(out, text, breaks);
    return out;
}

} // namespace brenvo::utf
