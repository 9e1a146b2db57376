// Any reply as the modem may send it, garbage included: its outcome, and the index a
// message write reports.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "modem/Reply.h"
#include "transfer/Listings.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view reply{reinterpret_cast<const char*>(data), size};
  voryx::modem::classify(reply);
  voryx::transfer::parseCmgwWrite(reply);
  return 0;
}
