#include "brenvo/JSON/JsonValue.h"

#include "brenvo/JSON/detail/Slab.h"

#include <cstring>
#include <exception>

namespace brenvo {

void detail::containerLimitExceeded() noexcept {
    // Like running out of memory: there is no way to go on and nothing may throw.
    std::terminate();
}

JsonString::JsonString(std::u16string_view text) : JsonString() {
    char16_t* units = prepare(text.size());
    if (!text.empty())
        std::memcpy(units, text.data(), text.size() * sizeof(char16_t));
}

JsonString JsonString::fromUtf8(std::string_view utf8) {
    return JsonString(std::u16string_view(toUtf16(utf8)));
}

char16_t* JsonString::prepare(std::size_t n) {
    if (n <= kInlineUnits) {
        tag_ = static_cast<uint16_t>(n);
        return units_;
    }
    if (n >> 48)
        detail::containerLimitExceeded();
    return adopt(detail::allocateBlock(n * sizeof(char16_t)), n);
}

void JsonString::freeHeap() noexcept {
    detail::freeBlock(const_cast<char16_t*>(data()));
}

} // namespace brenvo
