#include "base/Random.h"

#include <sys/random.h>

#include "base/Text.h"

namespace voryx {

std::string randomBytes(std::size_t size) {
  std::string bytes(size, '\0');
  for (std::size_t got = 0; got < size;) {
    const ssize_t n = ::getrandom(bytes.data() + got, size - got, 0);
    if (n > 0) got += static_cast<std::size_t>(n);  // else EINTR: asked again
  }
  return bytes;
}

std::string newUuid() {
  std::string b = randomBytes(16);
  b[6] = static_cast<char>((static_cast<unsigned char>(b[6]) & 0x0F) | 0x40);  // version 4
  b[8] = static_cast<char>((static_cast<unsigned char>(b[8]) & 0x3F) | 0x80);  // RFC 4122 variant
  const std::string hex = hexLower(b);
  return hex.substr(0, 8) + "-" + hex.substr(8, 4) + "-" + hex.substr(12, 4) + "-" + hex.substr(16, 4) + "-" +
         hex.substr(20);
}

}  // namespace voryx
