// The platform services' names for the UTF layer (brenvo/utf), one conversion policy for the
// whole library: malformed UTF-8 becomes one U+FFFD per maximal ill-formed subpart, a lone
// surrogate one U+FFFD.
//
//     if (!brenvo::platform::isValidUTF8(body)) log("not UTF-8");
#pragma once

#include "brenvo/utf/Convert.h"

#include <string>
#include <string_view>

namespace brenvo::platform {

// True when `bytes` is well-formed UTF-8: no overlong forms, no surrogates, nothing above
// U+10FFFF, no truncated sequences. NUL bytes are allowed.
inline bool isValidUTF8(std::string_view bytes) {
    return utf::isValidUtf8(bytes);
}

// UTF-16 text as UTF-8; a lone surrogate becomes U+FFFD.
inline std::string encodeUTF8(std::u16string_view text) {
    return utf::toUtf8(text);
}

// UTF-8 text as UTF-16 units; each maximal ill-formed subpart becomes one U+FFFD.
inline std::u16string toUTF16(std::string_view text) {
    return utf::toUtf16(text);
}

// Appends the UTF-8 form of the Unicode scalar value `scalar` (at most U+10FFFF) to `out`.
inline void appendUTF8(std::string& out, char32_t scalar) {
    utf::appendUtf8(out, scalar);
}

} // namespace brenvo::platform
