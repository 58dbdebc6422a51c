// Text helpers: strict UTF-8 decoding and UTF-8/UTF-16 conversion.
//
//   if (auto text = decodeUTF8ToUTF16(bodyBytes)) parse(*text);   // nullopt: not UTF-8
#pragma once

#include "brenvo/Export.h"

#include <optional>
#include <string>
#include <string_view>

namespace brenvo::platform {

// True when `bytes` is well-formed UTF-8: no overlong forms, no surrogates, nothing above
// U+10FFFF, no truncated sequences. NUL bytes are allowed.
BRENVO_EXPORT bool isValidUTF8(std::string_view bytes);

// The bytes as UTF-8 text, or nullopt when they are not well-formed UTF-8. A byte-order mark is
// kept as the character U+FEFF.
BRENVO_EXPORT std::optional<std::string> decodeUTF8(std::string_view bytes);

// The bytes decoded to UTF-16 units, or nullopt when they are not well-formed UTF-8.
BRENVO_EXPORT std::optional<std::u16string> decodeUTF8ToUTF16(std::string_view bytes);

// UTF-16 text as UTF-8. A lone surrogate becomes U+FFFD.
BRENVO_EXPORT std::string encodeUTF8(std::u16string_view text);

// UTF-8 text as UTF-16 units; malformed bytes become U+FFFD each.
BRENVO_EXPORT std::u16string toUTF16(std::string_view text);

// Appends the UTF-8 form of the Unicode scalar value `scalar` (at most U+10FFFF) to `out`.
BRENVO_EXPORT void appendUTF8(std::string& out, char32_t scalar);

} // namespace brenvo::platform
