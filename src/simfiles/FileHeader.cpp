#include "simfiles/FileHeader.h"

#include <cstdint>

namespace voryx::simfiles {
namespace {

std::uint8_t at(std::string_view b, std::size_t i) { return i < b.size() ? static_cast<std::uint8_t>(b[i]) : 0; }

FileInfo::Structure structureOf(int code) {
  switch (code) {
    case 1: return FileInfo::Structure::Transparent;
    case 2: return FileInfo::Structure::LinearFixed;
    case 6: return FileInfo::Structure::Cyclic;
    default: return FileInfo::Structure::Other;
  }
}

}  // namespace

//   62 1E 82 05 42 21 00 1C FA 83 02 6F 3A ... 80 02 1B 58 ...
std::optional<FileInfo> parseFcp(std::string_view b) {
  if (at(b, 0) != 0x62 || b.size() < 2) return std::nullopt;
  const std::size_t end = std::min<std::size_t>(b.size(), 2 + at(b, 1));
  FileInfo info;
  bool described = false;
  for (std::size_t i = 2; i + 2 <= end;) {
    const std::uint8_t tag = at(b, i), length = at(b, i + 1);
    const std::size_t v = i + 2;
    if (v + length > end) break;
    if (tag == 0x82 && length >= 2) {
      const std::uint8_t descriptor = at(b, v);
      described = true;
      info.structure = (descriptor & 0x38) == 0x38 ? FileInfo::Structure::Other : structureOf(descriptor & 0x07);
      if (length >= 5) {
        info.recordLength = at(b, v + 2) << 8 | at(b, v + 3);
        info.records = at(b, v + 4);
      }
    } else if (tag == 0x80 && length >= 1) {
      info.size = 0;
      for (std::size_t k = 0; k < length && k < 4; ++k) info.size = info.size << 8 | at(b, v + k);
    }
    i = v + length;
  }
  if (!described) return std::nullopt;
  if (info.recordLength > 0 && info.records == 0) info.records = info.size / info.recordLength;
  if (info.size == 0 && info.records > 0) info.size = info.records * info.recordLength;
  return info;
}

//   00 00 1B 58 6F 3A 04 00 11 FF 22 01 02 01 1C
std::optional<FileInfo> parseGsmResponse(std::string_view b) {
  if (b.size() < 7) return std::nullopt;
  FileInfo info;
  info.size = at(b, 2) << 8 | at(b, 3);
  if (at(b, 6) != 0x04) {  // an MF or a DF: no body of its own
    info.structure = FileInfo::Structure::Other;
    return info;
  }
  if (b.size() < 14) return std::nullopt;
  switch (at(b, 13)) {
    case 0x00: info.structure = FileInfo::Structure::Transparent; break;
    case 0x01: info.structure = FileInfo::Structure::LinearFixed; break;
    case 0x03: info.structure = FileInfo::Structure::Cyclic; break;
    default: info.structure = FileInfo::Structure::Other; break;
  }
  if (info.structure != FileInfo::Structure::Transparent) {
    if (b.size() < 15) return std::nullopt;
    info.recordLength = at(b, 14);
    info.records = info.recordLength > 0 ? info.size / info.recordLength : 0;
  }
  return info;
}

std::optional<FileInfo> parseFileHeader(std::string_view bytes) {
  return at(bytes, 0) == 0x62 ? parseFcp(bytes) : parseGsmResponse(bytes);
}

}  // namespace voryx::simfiles
