// A listed name, number or message text in every character set, and the same bytes as a
// name or message to write: what UCS2 writes never exceeds what the SIM's 80 form holds.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "codec/Charset.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace voryx::transfer;
  const std::string_view text{reinterpret_cast<const char*>(data), size};
  const int maxSIMLen = size > 0 ? data[0] : 14;
  for (Charset cs : {Charset::Hex, Charset::Ucs2, Charset::Gsm, Charset::Ira, Charset::Utf8}) {
    decodeName(text, cs);
    decodeNumber(text, cs);
    for (std::string_view type : {"", "129", "145", "208", "x"}) decodeSender(text, type, cs);
    decodeMessageText(text, cs);
    encodeMessageText(text, cs);
    const std::string field = encodeName(text, cs, maxSIMLen);
    if (cs == Charset::Ucs2 && field.size() / 4 > static_cast<std::size_t>(maxSIMLen > 0 ? (maxSIMLen - 1) / 2 : 0)) {
      __builtin_trap();
    }
    decodeName(field, cs);
  }
  return 0;
}
