#include "simfiles/QmiReply.h"

#include "simfiles/FileHeader.h"

namespace voryx::simfiles {
namespace {

unsigned u8(std::string_view s, std::size_t at) { return static_cast<unsigned char>(s[at]); }
unsigned u16(std::string_view s, std::size_t at) { return u8(s, at) | u8(s, at + 1) << 8; }

}  // namespace

std::optional<QmiReply> parseQmiReply(std::string_view f) {
  // Marker, length, flags, service, client; flags, transaction (2), message, TLV length.
  if (f.size() < 13 || u8(f, 0) != 0x01 || u16(f, 1) + 1 != f.size()) return std::nullopt;
  QmiReply reply;
  reply.service = static_cast<std::uint8_t>(u8(f, 4));
  if (reply.service == 0) return std::nullopt;
  reply.message = static_cast<std::uint16_t>(u16(f, 9));
  std::string_view rest = f.substr(13);
  if (u16(f, 11) != rest.size()) return std::nullopt;
  while (!rest.empty()) {
    if (rest.size() < 3 || 3 + u16(rest, 1) > rest.size()) return std::nullopt;
    const std::size_t n = u16(rest, 1);
    reply.tlvs[static_cast<std::uint8_t>(u8(rest, 0))] = std::string(rest.substr(3, n));
    rest.remove_prefix(3 + n);
  }
  auto result = reply.tlvs.find(0x02);
  if (result == reply.tlvs.end() || result->second.size() != 4) return std::nullopt;
  reply.success = u16(result->second, 0) == 0;
  reply.error = static_cast<std::uint16_t>(u16(result->second, 2));
  return reply;
}

std::optional<std::uint16_t> qmiCardResult(const QmiReply& reply) {
  auto it = reply.tlvs.find(0x10);
  if (it == reply.tlvs.end() || it->second.size() != 2) return std::nullopt;
  return static_cast<std::uint16_t>(u8(it->second, 0) << 8 | u8(it->second, 1));
}

std::optional<std::string> qmiReadResult(const QmiReply& reply) {
  auto it = reply.tlvs.find(0x11);
  if (it == reply.tlvs.end() || it->second.size() < 2 || it->second.size() != 2 + u16(it->second, 0)) return std::nullopt;
  return it->second.substr(2);
}

std::optional<FileInfo> qmiFileAttributes(const QmiReply& reply, bool* fcp) {
  // Size, id, type, record size, record count, five security attributes (1 + 2 bytes
  // each), then the raw header with its 2-byte length.
  constexpr std::size_t kFixed = 2 + 2 + 1 + 2 + 2 + 5 * 3;
  auto it = reply.tlvs.find(0x11);
  if (it == reply.tlvs.end() || it->second.size() < kFixed + 2) return std::nullopt;
  const std::string_view v = it->second;
  if (v.size() != kFixed + 2 + u16(v, kFixed)) return std::nullopt;
  const std::string_view raw = v.substr(kFixed + 2);
  if (fcp) *fcp = !raw.empty() && u8(raw, 0) == 0x62;
  if (auto header = parseFileHeader(raw)) return header;
  FileInfo info;
  info.size = static_cast<int>(u16(v, 0));
  const unsigned type = u8(v, 4);
  info.structure = type == 0   ? FileInfo::Structure::Transparent
                   : type == 1 ? FileInfo::Structure::Cyclic
                   : type == 2 ? FileInfo::Structure::LinearFixed
                               : FileInfo::Structure::Other;
  if (info.structure == FileInfo::Structure::LinearFixed || info.structure == FileInfo::Structure::Cyclic) {
    info.recordLength = static_cast<int>(u16(v, 5));
    info.records = static_cast<int>(u16(v, 7));
    if (info.recordLength < 1 || info.recordLength > 255 || info.records < 1) return std::nullopt;
    if (info.size == 0) info.size = info.recordLength * info.records;
  }
  return info;
}

std::optional<QmiCardStatus> qmiCardStatus(const QmiReply& reply) {
  auto it = reply.tlvs.find(0x10);
  if (it == reply.tlvs.end()) return std::nullopt;
  const std::string_view v = it->second;
  std::size_t at = 0;
  auto has = [&](std::size_t n) { return at + n <= v.size(); };
  if (!has(9)) return std::nullopt;
  const unsigned primary = u16(v, 0);  // card index (high byte), application index (low)
  const unsigned cards = u8(v, 8);
  at = 9;
  std::optional<QmiCardStatus> found, absent;
  for (unsigned card = 0; card < cards; ++card) {
    if (!has(6)) return std::nullopt;
    const int state = static_cast<int>(u8(v, at));
    const unsigned applications = u8(v, at + 5);
    at += 6;
    for (unsigned app = 0; app < applications; ++app) {
      if (!has(7)) return std::nullopt;
      QmiCardStatus s;
      s.cardState = state;
      s.applicationType = static_cast<int>(u8(v, at));
      s.applicationState = static_cast<int>(u8(v, at + 1));
      const std::size_t aid = u8(v, at + 6);
      at += 7;
      if (!has(aid + 7)) return std::nullopt;
      at += aid + 1;  // the AID, whether UPIN replaces PIN1
      s.pin1State = static_cast<int>(u8(v, at));
      s.pin1Retries = static_cast<int>(u8(v, at + 1));
      s.puk1Retries = static_cast<int>(u8(v, at + 2));
      at += 6;
      if ((primary >> 8) == card && (primary & 0xFF) == app) found = s;
    }
    // A card with no application (absent, or in error): what the modem has, when it has no
    // primary application at all.
    if (applications == 0 && !absent) absent = QmiCardStatus{state, 0, 0, 0, 0, 0};
  }
  if (at != v.size()) return std::nullopt;
  return found ? found : absent;
}

}  // namespace voryx::simfiles
