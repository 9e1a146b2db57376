// Text of any shape: whatever the alphabet holds decodes back to the same text; the
// SMS encoders take it without harm.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include <string>

#include "codec/GsmAlphabet.h"
#include "codec/SmsPdu.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes{reinterpret_cast<const char*>(data), size};
  voryx::codec::decodeGsmText(bytes);
  if (auto septets = voryx::codec::encodeGsmText(bytes)) {
    if (voryx::codec::decodeGsmText(*septets) != bytes) __builtin_trap();
  }
  voryx::codec::needsPduMode(bytes);
  voryx::codec::encodeSubmitPdu(bytes, 145, bytes);
  const auto length = voryx::codec::smsLength(bytes);
  if (length.used < 0 || length.used > 2 * static_cast<int>(bytes.size())) __builtin_trap();
  return 0;
}
