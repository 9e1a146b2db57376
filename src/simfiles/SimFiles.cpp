#include "simfiles/SimFiles.h"

namespace voryx::simfiles {

CardResult SimFiles::readBinary(int offset, int length, std::string& bytes) {
  bytes.clear();
  while (length > 0) {
    const int chunk = length > 255 ? 255 : length;
    std::string part;
    CardResult r = readBinaryPart(offset, chunk, part);
    if (!r.ok()) return r;
    if (part.empty()) break;
    bytes += part;
    offset += static_cast<int>(part.size());
    length -= static_cast<int>(part.size());
  }
  return {CardOutcome::Ok, 0x9000, {}, {}};
}

}  // namespace voryx::simfiles
