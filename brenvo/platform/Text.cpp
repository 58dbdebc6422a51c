#include "brenvo/platform/Text.h"

#include <cstdint>

namespace brenvo::platform {

namespace {

// Decodes one scalar value starting at bytes[i]; advances i past it. Returns -1 for a malformed
// sequence (then i is advanced by one byte).
int32_t decodeOne(std::string_view bytes, size_t& i) {
    const auto at = [&](size_t k) { return static_cast<uint8_t>(bytes[k]); };
    const uint8_t lead = at(i);
    if (lead < 0x80) {
        ++i;
        return lead;
    }
    size_t length = 0;
    uint32_t value = 0;
    uint8_t low = 0x80;
    uint8_t high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        value = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        value = lead & 0x0F;
        if (lead == 0xE0) {
            low = 0xA0; // no overlong forms
        } else if (lead == 0xED) {
            high = 0x9F; // no surrogates
        }
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        value = lead & 0x07;
        if (lead == 0xF0) {
            low = 0x90;
        } else if (lead == 0xF4) {
            high = 0x8F; // nothing above U+10FFFF
        }
    } else {
        ++i;
        return -1;
    }
    if (bytes.size() - i < length) {
        ++i;
        return -1;
    }
    for (size_t k = 1; k < length; ++k) {
        const uint8_t byte = at(i + k);
        const uint8_t min = k == 1 ? low : 0x80;
        const uint8_t max = k == 1 ? high : 0xBF;
        if (byte < min || byte > max) {
            ++i;
            return -1;
        }
        value = (value << 6) | (byte & 0x3F);
    }
    i += length;
    return static_cast<int32_t>(value);
}

void appendUTF16(std::u16string& out, uint32_t scalar) {
    if (scalar < 0x10000) {
        out += static_cast<char16_t>(scalar);
    } else {
        scalar -= 0x10000;
        out += static_cast<char16_t>(0xD800 + (scalar >> 10));
        out += static_cast<char16_t>(0xDC00 + (scalar & 0x3FF));
    }
}

} // namespace

void appendUTF8(std::string& out, char32_t scalar) {
    if (scalar < 0x80) {
        out += static_cast<char>(scalar);
    } else if (scalar < 0x800) {
        out += static_cast<char>(0xC0 | (scalar >> 6));
        out += static_cast<char>(0x80 | (scalar & 0x3F));
    } else if (scalar < 0x10000) {
        out += static_cast<char>(0xE0 | (scalar >> 12));
        out += static_cast<char>(0x80 | ((scalar >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (scalar & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (scalar >> 18));
        out += static_cast<char>(0x80 | ((scalar >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((scalar >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (scalar & 0x3F));
    }
}

bool isValidUTF8(std::string_view bytes) {
    size_t i = 0;
    while (i < bytes.size()) {
        if (decodeOne(bytes, i) < 0) {
            return false;
        }
    }
    return true;
}

std::optional<std::string> decodeUTF8(std::string_view bytes) {
    if (!isValidUTF8(bytes)) {
        return std::nullopt;
    }
    return std::string(bytes);
}

std::optional<std::u16string> decodeUTF8ToUTF16(std::string_view bytes) {
    std::u16string out;
    out.reserve(bytes.size());
    size_t i = 0;
    while (i < bytes.size()) {
        const int32_t scalar = decodeOne(bytes, i);
        if (scalar < 0) {
            return std::nullopt;
        }
        appendUTF16(out, static_cast<uint32_t>(scalar));
    }
    return out;
}

std::u16string toUTF16(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        const int32_t scalar = decodeOne(text, i);
        appendUTF16(out, scalar < 0 ? 0xFFFD : static_cast<uint32_t>(scalar));
    }
    return out;
}

std::string encodeUTF8(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const char16_t unit = text[i];
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            const uint32_t scalar = 0x10000 + ((unit - 0xD800u) << 10) + (text[i + 1] - 0xDC00u);
            appendUTF8(out, scalar);
            ++i;
        } else if (unit >= 0xD800 && unit <= 0xDFFF) {
            appendUTF8(out, 0xFFFD);
        } else {
            appendUTF8(out, unit);
        }
    }
    return out;
}

} // namespace brenvo::platform
