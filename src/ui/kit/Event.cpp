#include "ui/kit/Event.h"

#include <charconv>

namespace voryx::kit {
namespace {

constexpr std::size_t kLongestName = 64;  // targets and actions are short identifiers

Error invalid(std::string why) { return {Errc::Invalid, std::move(why)}; }

}  // namespace

Result<Event> parseEvent(const nlohmann::json& json) {
  if (!json.is_object()) return invalid("an event is a JSON object");
  auto version = json.find("version");
  if (version == json.end() || !version->is_number_integer() ||
      (!version->is_number_unsigned() && version->get<std::int64_t>() < 0)) {
    return invalid("version must be a non-negative integer");
  }
  auto target = json.find("target");
  if (target == json.end() || !target->is_string() || target->get_ref<const std::string&>().empty() ||
      target->get_ref<const std::string&>().size() > kLongestName) {
    return invalid("target must be a short non-empty string");
  }
  auto action = json.find("action");
  if (action == json.end() || !action->is_string() ||
      action->get_ref<const std::string&>().size() > kLongestName) {
    return invalid("action must be a short string");
  }
  Event e;
  e.version = version->get<std::uint64_t>();
  e.target = target->get<std::string>();
  e.action = action->get<std::string>();
  if (auto value = json.find("value"); value != json.end()) e.value = *value;
  return e;
}

std::optional<std::uint64_t> targetNumber(const std::string& target, std::string_view prefix) {
  if (target.size() <= prefix.size() || target.compare(0, prefix.size(), prefix) != 0) {
    return std::nullopt;
  }
  const char* first = target.data() + prefix.size();
  const char* last = target.data() + target.size();
  std::uint64_t n = 0;
  auto [end, ec] = std::from_chars(first, last, n);
  if (ec != std::errc() || end != last) return std::nullopt;
  return n;
}

std::optional<int> indexValue(const nlohmann::json& value, std::size_t count) {
  if (!value.is_number_integer()) return std::nullopt;
  if (value.is_number_unsigned()) {
    auto n = value.get<std::uint64_t>();
    if (n < count) return static_cast<int>(n);
    return std::nullopt;
  }
  auto n = value.get<std::int64_t>();
  if (n >= 0 && static_cast<std::uint64_t>(n) < count) return static_cast<int>(n);
  return std::nullopt;
}

}  // namespace voryx::kit
