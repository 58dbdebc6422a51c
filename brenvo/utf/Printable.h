// Text from outside (a store's reply, a host's files) made safe for a terminal or a log line.
//
//   log.write(brenvo::utf::printable(untrusted));                       // always one line
//   out += brenvo::utf::printable(notes, brenvo::utf::LineBreaks::Keep); // multi-line notes
//   line += brenvo::utf::logField(version);                             // at most 1 KiB of it
//
// What a terminal would act on, or what a reader cannot see, is written as a visible escape:
// line feed, carriage return and tab as \n, \r and \t; every other C0 control and DEL as \xHH;
// C1 controls (U+0080-U+009F), the line and paragraph separators (U+2028, U+2029) and every
// format character of Unicode 15.0 (general category Cf: zero-width characters, the
// bidirectional marks, embeddings, overrides and isolates, the byte order mark, the tag
// characters and the rest) as \uHHHH, or \UHHHHHHHH above U+FFFF. Bytes that are not UTF-8
// become U+FFFD, one per maximal ill-formed subpart. Everything else, the backslash included, is
// kept, so applying the rule twice changes nothing more.
#pragma once

#include "brenvo/utf/Utf8.h"

#include <algorithm>
#include <cstddef>
#include <iterator>
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

// The format characters (general category Cf) of Unicode 15.0, as inclusive ranges in order.
inline constexpr char32_t kFormatCharacters[][2] = {
    {0x00AD, 0x00AD},   {0x0600, 0x0605},   {0x061C, 0x061C},   {0x06DD, 0x06DD},
    {0x070F, 0x070F},   {0x0890, 0x0891},   {0x08E2, 0x08E2},   {0x180E, 0x180E},
    {0x200B, 0x200F},   {0x202A, 0x202E},   {0x2060, 0x2064},   {0x2066, 0x206F},
    {0xFEFF, 0xFEFF},   {0xFFF9, 0xFFFB},   {0x110BD, 0x110BD}, {0x110CD, 0x110CD},
    {0x13430, 0x1343F}, {0x1BCA0, 0x1BCA3}, {0x1D173, 0x1D17A}, {0xE0001, 0xE0001},
    {0xE0020, 0xE007F},
};

// The search below needs the ranges in order, apart and each the right way round.
constexpr bool inOrder() {
    for (std::size_t i = 0; i < std::size(kFormatCharacters); ++i) {
        if (kFormatCharacters[i][0] > kFormatCharacters[i][1] ||
            (i > 0 && kFormatCharacters[i - 1][1] >= kFormatCharacters[i][0]))
            return false;
    }
    return true;
}
static_assert(inOrder());

constexpr bool isFormatCharacter(char32_t cp) {
    // The first range that ends at or after cp holds it, if any does.
    const auto* range =
        std::lower_bound(std::begin(kFormatCharacters), std::end(kFormatCharacters), cp,
                         [](const char32_t(&r)[2], char32_t value) { return r[1] < value; });
    return range != std::end(kFormatCharacters) && (*range)[0] <= cp;
}

// True for the characters above ASCII that a terminal or a log reader acts on, or cannot see.
constexpr bool isInvisibleControl(char32_t cp) {
    return (cp >= 0x80 && cp <= 0x9F) || cp == 0x2028 || cp == 0x2029 || isFormatCharacter(cp);
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
            if (cp <= 0xFFFF)
                detail::appendHexEscape(out, 'u', static_cast<unsigned>(cp), 4);
            else
                detail::appendHexEscape(out, 'U', static_cast<unsigned>(cp), 8);
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

// `text` cut to at most `limit` bytes, at a character boundary, followed by "…" when anything was
// cut. A cut never splits a UTF-8 sequence; malformed bytes are cut where they stand.
inline std::string shortened(std::string_view text, std::size_t limit) {
    if (text.size() <= limit)
        return std::string(text);
    std::size_t end = limit;
    // A well-formed sequence has at most three continuation bytes after its lead byte.
    for (int back = 0;
         back < 3 && end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80; ++back)
        --end;
    if ((static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
        end = limit;
    std::string out(text.substr(0, end));
    out += "\u2026";
    return out;
}

// The most of any one outside text (a version, a URL, a reason) that a log line carries.
inline constexpr std::size_t kLogFieldLimit = 1024;

// `text` as one field of a log line: cut at kLogFieldLimit bytes with "…". The line it goes into
// is made printable as a whole.
inline std::string logField(std::string_view text) {
    return shortened(text, kLogFieldLimit);
}

} // namespace brenvo::utf
