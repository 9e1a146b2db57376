// Replies to "AT+CCID" (and the makers' forms) and "AT+CIMI" as the modem may send them,
// garbage included.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "transfer/Listings.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view reply{reinterpret_cast<const char*>(data), size};
  voryx::transfer::parseIccidReply(reply);
  voryx::transfer::parseCimiReply(reply);
  return 0;
}
