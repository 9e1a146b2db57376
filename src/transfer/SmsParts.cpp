#include "transfer/SmsParts.h"

#include <cstdint>

namespace voryx::transfer {

std::optional<MessagePart> concatenationOf(std::string_view header) {
  auto at = [&header](std::size_t i) { return static_cast<std::uint8_t>(header[i]); };
  std::optional<MessagePart> found;
  for (std::size_t i = 0; i + 2 <= header.size();) {
    const std::uint8_t id = at(i), length = at(i + 1);
    if (i + 2 + length > header.size()) break;
    const std::size_t data = i + 2;
    std::optional<MessagePart> part;
    if (id == 0x00 && length == 3) part = MessagePart{at(data), at(data + 1), at(data + 2)};
    if (id == 0x08 && length == 4) part = MessagePart{at(data) << 8 | at(data + 1), at(data + 2), at(data + 3)};
    if (part && part->total >= 2 && part->part >= 1 && part->part <= part->total) found = part;
    i = data + length;
  }
  return found;
}

}  // namespace voryx::transfer
