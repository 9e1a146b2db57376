#include "web/EventBody.h"

namespace voryx::web {

nlohmann::json parseEventBody(std::string_view body) {
  bool tooDeep = false;
  // The callback drops every value below the limit as it is read, so that no deep value
  // is ever built, and remembers that the body was refused.
  nlohmann::json parsed = nlohmann::json::parse(
      body,
      [&tooDeep](int depth, nlohmann::json::parse_event_t, nlohmann::json&) {
        if (depth <= kDeepestEventBody) return true;
        tooDeep = true;
        return false;
      },
      false);
  if (tooDeep) return nlohmann::json(nlohmann::json::value_t::discarded);
  return parsed;
}

}  // namespace voryx::web
