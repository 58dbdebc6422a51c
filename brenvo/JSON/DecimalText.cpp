// The text of a Decimal: stringValue() and toChars(), on the formatting the writer inlines.
#include "brenvo/JSON/Decimal.h"

#include "brenvo/JSON/detail/DecimalText.h"

#include <string>

namespace brenvo {

std::string Decimal::stringValue() const {
    if (isLong())
        return *text_;
    std::string text(detail::DecimalText::length(*this), '\0');
    detail::DecimalText::write(text.data(), *this);
    return text;
}

std::size_t Decimal::toChars(char* out, std::size_t capacity) const noexcept {
    const std::size_t length = detail::DecimalText::length(*this);
    if (length > capacity)
        return 0;
    detail::DecimalText::write(out, *this);
    return length;
}

} // namespace brenvo
