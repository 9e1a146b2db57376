// Reply to "AT+CSCS=?" as the modem may send it, garbage included.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "codec/Charset.h"
#include "transfer/CharsetChoice.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  voryx::transfer::parseCscsTest({reinterpret_cast<const char*>(data), size});
  return 0;
}
