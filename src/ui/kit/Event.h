#pragma once
// An event from the page, checked for shape before it reaches the main loop, and the
// answers the screens give to it.
#include <cstdint>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "base/Result.h"
#include "ui/kit/UiPort.h"

namespace voryx::kit {

struct Event {
  std::uint64_t version = 0;
  std::string target;
  std::string action;
  nlohmann::json value;  // null when absent
};

// {"version": 42, "target": "alert:3", "action": "tap", "value": 0}
// Checks the envelope {"version": unsigned, "target": string, "action": string,
// "value": any}: anything else (not an object, a missing or mistyped member, over-long
// strings) is Errc::Invalid with the reason.
Result<Event> parseEvent(const nlohmann::json& json);

// "alert:12" with prefix "alert:" gives 12; nothing for any other shape.
std::optional<std::uint64_t> targetNumber(const std::string& target, std::string_view prefix);

// The value as an index in [0, count), or nothing when it is not an integer in range.
std::optional<int> indexValue(const nlohmann::json& value, std::size_t count);

inline EventResult done() { return {}; }
inline EventResult invalidEvent(std::string why) { return {400, false, std::move(why)}; }
inline EventResult staleEvent(std::string why) { return {409, false, std::move(why)}; }

}  // namespace voryx::kit
