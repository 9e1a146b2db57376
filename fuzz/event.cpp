// The body of POST /api/event as any client may send it, garbage included: parsed as the
// server parses it, then checked for the event's shape, and an event that passes taken
// apart as the screens take it (a numbered target, an index value). Run it with
// -max_len=65536, the largest body the server takes, to reach the deep nestings.
#include <cstddef>
#include <cstdint>

#include <nlohmann/json.hpp>

#include "ui/kit/Event.h"
#include "web/EventBody.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const nlohmann::json body = voryx::web::parseEventBody({reinterpret_cast<const char*>(data), size});
  if (body.is_discarded()) return 0;
  auto event = voryx::kit::parseEvent(body);
  if (!event) return 0;
  voryx::kit::targetNumber(event->target, "alert:");
  voryx::kit::indexValue(event->value, 3);
  return 0;
}
