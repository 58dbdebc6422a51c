// Ordering of dotted version strings such as "1.2.10" and "1.3".
//
//   if (brenvo::compareVersions(storeVersion, appVersion) == 1) { /* the store is newer */ }
//   int order = compareVersions("2.0b1", "2.0"); // plain C symbol: 1
//
// A version splits at every "." into components; an absent version has no components and an
// empty one has a single empty component. The shorter list is padded with "0" components, then
// the components are compared pairwise; the first unequal pair decides. Within a component, runs
// of ASCII digits compare by numeric value and every other character compares by itself; a
// component that ends first is the smaller one. Nothing is trimmed: spaces, letters, "-" and "+"
// are ordinary characters. The result is -1 (the first is older), 0 (same) or 1 (the first is
// newer); swapping the arguments negates it.
//
// Cases decided here:
// - Characters that are not both digits compare by their UTF-8 bytes (unsigned), which for
//   valid UTF-8 is the order of their code points. This covers two different non-digits and a
//   digit against a non-digit ("1-" < "1." < "10" < "1a"). Comparison is case-sensitive
//   ("B" < "a").
// - Text outside ASCII is compared as it is, byte by byte: no normalisation, so canonically
//   equivalent spellings that differ in bytes are different. Malformed UTF-8 is compared by its
//   bytes as well and never rejected.
// - Only "0" to "9" are digits. Two digit runs of equal value are equal whatever their leading
//   zeros ("01" equals "1", "1.01" equals "1.1"), and the walk continues after both runs.
// - Digit runs of any length compare exactly, without overflow: leading zeros are skipped, then
//   the longer run is the larger, and runs of equal length compare digit by digit.
#pragma once

#include "brenvo/Export.h"

#ifdef __cplusplus
#include <optional>
#include <string_view>

extern "C" {
#endif

// `first` and `second` are NUL-terminated UTF-8 texts; a null pointer is an absent version.
BRENVO_EXPORT int compareVersions(const char* first, const char* second);

#ifdef __cplusplus
}

namespace brenvo {

// std::nullopt is an absent version.
BRENVO_EXPORT int compareVersions(std::optional<std::string_view> first,
                                  std::optional<std::string_view> second);

// NUL-terminated texts; a null pointer is an absent version. Chosen for literals and pointers.
inline int compareVersions(const char* first, const char* second) {
    return ::compareVersions(first, second);
}

} // namespace brenvo
#endif
