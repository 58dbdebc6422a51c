// Checks that version ordering is a consistent order on arbitrary input: every text equals
// itself, swapping the arguments negates the result, results stay in {-1, 0, 1}, the C symbol
// agrees with the C++ overload, and zero components appended never matter.
//
// Input: the bytes up to the first NUL are the first version, the rest the second; a leading
// byte 0x01 on either part makes that part absent.
#include "brenvo/compareVersions.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

namespace {

std::optional<std::string_view> version(std::string_view part) {
    if (!part.empty() && part.front() == '\x01')
        return std::nullopt;
    return part;
}

void require(bool condition) {
    if (!condition)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const size_t split = input.find('\0');
    const auto a = version(input.substr(0, split));
    const auto b = split == std::string_view::npos ? std::optional<std::string_view>(std::nullopt)
                                                   : version(input.substr(split + 1));

    const int ab = brenvo::compareVersions(a, b);
    const int ba = brenvo::compareVersions(b, a);
    require(ab >= -1 && ab <= 1);
    require(ab == -ba);
    require(brenvo::compareVersions(a, a) == 0);
    require(brenvo::compareVersions(b, b) == 0);

    // The C symbol sees NUL-terminated copies; the NUL split means neither part holds a NUL
    // except the second, which may; cut it there like a C caller would.
    const std::string ca = a ? std::string(*a) : std::string();
    std::string cb = b ? std::string(*b) : std::string();
    cb = cb.substr(0, cb.find('\0'));
    const int cResult = compareVersions(a ? ca.c_str() : nullptr, b ? cb.c_str() : nullptr);
    require(cResult ==
            brenvo::compareVersions(a ? std::optional<std::string_view>(ca) : std::nullopt,
                                    b ? std::optional<std::string_view>(cb) : std::nullopt));

    // Appending ".0" to a present version never changes its order against anything.
    if (a) {
        const std::string padded = ca + ".0";
        require(brenvo::compareVersions(std::optional<std::string_view>(padded),
                                        std::optional<std::string_view>(ca)) == 0);
    }
    return 0;
}
