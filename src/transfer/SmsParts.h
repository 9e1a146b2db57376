#pragma once
// Messages sent in parts (3GPP 23.040 9.2.3.24): each part's user data header carries the
// concatenation element, 00 with an 8-bit reference or 08 with a 16-bit one, then the
// count of parts and this part's number. Pure functions, any thread.
#include <optional>
#include <string_view>

#include "store/SimEntry.h"

namespace voryx::transfer {

// The concatenation a user data header holds; `header` is the header without its length
// octet. Elements are walked by their lengths; one that runs past the header ends the walk.
// None when there is no concatenation element, or its count is below 2 or its number is
// 0 or above the count (the standard has such an element ignored); the last one counts.
std::optional<MessagePart> concatenationOf(std::string_view header);

}  // namespace voryx::transfer
