// Text-mode SMS listing as the modem may send it, garbage included. A message text is a
// slice of the reply, so it can never be longer than the reply.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "transfer/Listings.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view reply{reinterpret_cast<const char*>(data), size};
  for (const auto& row : voryx::transfer::parseCmglListing(reply)) {
    if (row.text.size() > size || row.number.size() > size + 1) __builtin_trap();
  }
  return 0;
}
