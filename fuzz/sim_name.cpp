// A name field as a SIM may hold it, and the same bytes as a name to write: the encoded
// field never exceeds its byte budget. The same bytes as a typed number: what is taken
// holds only what a SIM number holds ("+" first only), and reads as itself again.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "codec/SimName.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text{reinterpret_cast<const char*>(data), size};
  voryx::codec::decodeSimName(text, [](const std::string&) {});
  const int maxSIMLen = size > 0 ? data[0] : 14;
  const std::string hex = voryx::codec::encodeSimName(text, maxSIMLen, [](const std::string&) {});
  if (hex.size() > 2 * static_cast<std::size_t>(maxSIMLen)) __builtin_trap();
  voryx::codec::decodeSimName(hex);
  const voryx::codec::TypedNumber number = voryx::codec::readTypedNumber(text);
  if (number.fault == voryx::codec::TypedNumber::Fault::None) {
    if (number.number.find_first_not_of("0123456789*#,+") != std::string::npos) __builtin_trap();
    if (number.number.find('+', 1) != std::string::npos) __builtin_trap();
    if (voryx::codec::readTypedNumber(number.number).number != number.number) __builtin_trap();
  } else if (!number.number.empty()) {
    __builtin_trap();
  }
  return 0;
}
