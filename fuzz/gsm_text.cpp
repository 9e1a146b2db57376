// Text of any shape: whatever the alphabet holds decodes back to the same text; the
// SMS encoders take it without harm.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include <string>

#include "transfer/GsmAlphabet.h"
#include "transfer/SmsPdu.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes{reinterpret_cast<const char*>(data), size};
  voryx::transfer::decodeGsmText(bytes);
  if (auto septets = voryx::transfer::encodeGsmText(bytes)) {
    if (voryx::transfer::decodeGsmText(*septets) != bytes) __builtin_trap();
  }
  voryx::transfer::needsPduMode(bytes);
  voryx::transfer::encodeSubmitPdu(bytes, 145, bytes);
  const auto length = voryx::transfer::smsLength(bytes);
  if (length.used < 0 || length.used > 2 * static_cast<int>(bytes.size())) __builtin_trap();
  return 0;
}
