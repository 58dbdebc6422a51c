// Sorting of object members, shared by JsonObject and the parser.
#pragma once

#include "brenvo/JSON/JsonValue.h"

namespace brenvo::detail {

// Sorts [first, last) by key in UTF-16 unit order and removes all but the last of each run of
// equal keys (the last in the original order). Returns the new end; the members after it are
// moved-from. Allocates nothing for up to 16 members or for members already in order.
JsonMember* sortMembers(JsonMember* first, JsonMember* last);

} // namespace brenvo::detail
