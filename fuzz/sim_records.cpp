// The record parsers on any bytes: the first byte picks the parser, the rest is its input.
#include <cstddef>
#include <cstdint>
#include <string>

#include "simfiles/CrsmFiles.h"
#include "simfiles/FileHeader.h"
#include "transfer/SimRecords.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::string input(reinterpret_cast<const char*>(data + 1), size - 1);
  using namespace voryx;
  switch (data[0] % 6) {
    case 0: (void)simfiles::parseCrsm(input); break;
    case 1: (void)simfiles::parseFileHeader(input); break;
    case 2: {
      // The same bytes as the extension records: chains of any shape.
      const transfer::ExtensionReader ext = [&](int n) {
        const auto at = static_cast<std::size_t>(n % 16);
        return at < input.size() ? input.substr(at, 13) : std::string();
      };
      (void)transfer::decodeAdn(input, ext);
      (void)transfer::adnExtensions(input, ext);
      break;
    }
    case 3: (void)transfer::decodeSmsRecord(input); break;
    case 4: (void)transfer::parsePbr({input, input.substr(input.size() / 2)}); break;
    case 5: (void)transfer::decodeIccid(input); break;
  }
  return 0;
}
