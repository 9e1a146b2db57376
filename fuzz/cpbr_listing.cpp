// Phonebook listing as the modem may send it; every name field found is decoded too.
// (How the reply ends is the reply classifier's: fuzz_reply.)
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "transfer/Listings.h"
#include "codec/SimName.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view reply{reinterpret_cast<const char*>(data), size};
  for (const auto& row : voryx::transfer::parseCpbrListing(reply)) {
    voryx::codec::decodeSimName(row.name);
  }
  return 0;
}
