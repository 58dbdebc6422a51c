// Dotted-version ordering; see compareVersions.h for the rules.
#include "brenvo/compareVersions.h"

#include <cstddef>

namespace brenvo {
namespace {

bool isDigit(unsigned char c) {
    return c >= '0' && c <= '9';
}

int sign(int value) {
    return (value > 0) - (value < 0);
}

// Compares two runs of digits by numeric value, whatever their length.
int compareDigitRuns(std::string_view a, std::string_view b) {
    size_t zerosA = a.find_first_not_of('0');
    size_t zerosB = b.find_first_not_of('0');
    a.remove_prefix(zerosA == std::string_view::npos ? a.size() : zerosA);
    b.remove_prefix(zerosB == std::string_view::npos ? b.size() : zerosB);
    if (a.size() != b.size())
        return a.size() < b.size() ? -1 : 1;
    return sign(a.compare(b));
}

size_t digitRunEnd(std::string_view text, size_t from) {
    while (from < text.size() && isDigit(static_cast<unsigned char>(text[from])))
        ++from;
    return from;
}

// One component against another.
int compareComponents(std::string_view a, std::string_view b) {
    size_t i = 0;
    size_t j = 0;
    while (i < a.size() && j < b.size()) {
        const auto ca = static_cast<unsigned char>(a[i]);
        const auto cb = static_cast<unsigned char>(b[j]);
        if (isDigit(ca) && isDigit(cb)) {
            const size_t endA = digitRunEnd(a, i);
            const size_t endB = digitRunEnd(b, j);
            if (int order = compareDigitRuns(a.substr(i, endA - i), b.substr(j, endB - j)))
                return order;
            i = endA;
            j = endB;
            continue;
        }
        if (ca != cb)
            return ca < cb ? -1 : 1;
        ++i;
        ++j;
    }
    if (i < a.size())
        return 1;
    if (j < b.size())
        return -1;
    return 0;
}

// Walks the components of a version; an absent version has none, and once the components are
// used up it goes on giving the padding component "0".
class Components {
public:
    explicit Components(std::optional<std::string_view> text)
        : rest_(text.value_or(std::string_view())), remaining_(text ? 1 : 0) {}

    bool exhausted() const { return remaining_ == 0; }

    std::string_view next() {
        if (remaining_ == 0)
            return "0";
        const size_t dot = rest_.find('.');
        if (dot == std::string_view::npos) {
            remaining_ = 0;
            return rest_;
        }
        std::string_view component = rest_.substr(0, dot);
        rest_.remove_prefix(dot + 1);
        return component;
    }

private:
    std::string_view rest_;
    int remaining_; // 1 while components are left, 0 afterwards
};

} // namespace

int compareVersions(std::optional<std::string_view> first, std::optional<std::string_view> second) {
    Components a(first);
    Components b(second);
    while (!a.exhausted() || !b.exhausted()) {
        if (int order = compareComponents(a.next(), b.next()))
            return order;
    }
    return 0;
}

} // namespace brenvo

extern "C" int compareVersions(const char* first, const char* second) {
    return brenvo::compareVersions(first ? std::optional<std::string_view>(first) : std::nullopt,
                                   second ? std::optional<std::string_view>(second) : std::nullopt);
}
