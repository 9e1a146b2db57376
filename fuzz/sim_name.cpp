// A name field as a SIM may hold it, and the same bytes as a name to write: the encoded
// field never exceeds its byte budget.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "codec/SimName.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text{reinterpret_cast<const char*>(data), size};
  voryx::codec::decodeSimName(text, [](const std::string&) {});
  const int maxSIMLen = size > 0 ? data[0] : 14;
  const std::string hex = voryx::codec::encodeSimName(text, maxSIMLen, [](const std::string&) {});
  if (hex.size() > 2 * static_cast<std::size_t>(maxSIMLen)) __builtin_trap();
  voryx::codec::decodeSimName(hex);
  return 0;
}
