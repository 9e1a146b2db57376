#pragma once
// The body of POST /api/event as outside input: JSON, and shallow. An event is at most an
// object in an object (a touch's value); anything nested deeper is refused here, before
// any copy of it is made, since copying a JSON value recurses once per level and a 64 KiB
// body can nest 32,000 levels deep.
#include <cstddef>
#include <string_view>

#include <nlohmann/json.hpp>

namespace voryx::web {

inline constexpr int kDeepestEventBody = 8;  // levels of arrays and objects

// The parsed body, or a discarded value (is_discarded()) when it is not JSON or nests
// deeper than kDeepestEventBody. Never throws; any thread.
nlohmann::json parseEventBody(std::string_view body);

}  // namespace voryx::web
