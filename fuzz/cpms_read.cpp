// Reply to "AT+CPMS=\"SM\",\"SM\"" as the modem may send it, garbage included.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "transfer/Listings.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  voryx::transfer::parseCpmsRead({reinterpret_cast<const char*>(data), size});
  return 0;
}
