#include "sim/CardFiles.h"

#include "sim/Pdu.h"

namespace voryx::sim {
namespace {

constexpr int kSmsRecord = 176;
// EF_PBR's one record: a type 1 set (A8) naming EF_ADN 4F3A, a type 3 set (AA) naming
// EF_EXT1 4F4A.
const std::string kPbr = std::string("\xA8\x04\xC0\x02\x4F\x3A\xAA\x04\xC2\x02\x4F\x4A", 12) + std::string(20, '\xFF');

// EF_DIR's one record: the USIM application's template (TS 102 221 §13.1), its AID and label.
const std::string kUsimAid("\xA0\x00\x00\x00\x87\x10\x02\xFF\xFF\xFF\xFF\x89\x04\x0B\x00\xFF", 16);
const std::string kDirRecord = std::string("\x61\x18\x4F\x10", 4) + kUsimAid + "\x50\x04USIM" + std::string(6, '\xFF');

using Path = std::vector<std::uint16_t>;

std::string be16(int v) { return {static_cast<char>((v >> 8) & 0xFF), static_cast<char>(v & 0xFF)}; }

// A UICC's FCP: descriptor, identifier, size (TS 102 221 §11.1.1.3).
std::string fcp(std::uint16_t id, bool df, int recordLength, int records, int size) {
  std::string body;
  if (df) {
    body += std::string("\x82\x02\x78\x21", 4);
  } else if (recordLength > 0) {
    body += std::string("\x82\x05\x42\x21", 4) + be16(recordLength) + static_cast<char>(records);
  } else {
    body += std::string("\x82\x02\x41\x21", 4);
  }
  body += "\x83\x02" + be16(id);
  if (!df) body += "\x80\x02" + be16(size);
  return "\x62" + std::string(1, static_cast<char>(body.size())) + body;
}

// A SIM's GSM response (TS 51.011 §9.2.1); a DF's tells whether CHV1 is on and its tries.
std::string gsmResponse(std::uint16_t id, bool df, int recordLength, int size, const PinLock& lock) {
  std::string r(22, '\0');
  r.replace(2, 2, be16(size));
  r.replace(4, 2, be16(id));
  r[6] = static_cast<char>(df ? 0x02 : 0x04);
  if (df) {
    r[12] = 0x09;
    r[13] = static_cast<char>(lock.enabled() ? 0x00 : 0x80);  // b8: CHV1 disabled
    r[16] = 0x02;                                              // CHV1 and CHV2
    r[18] = static_cast<char>(0x80 | lock.pinTries());         // initialised, tries left
    r[19] = static_cast<char>(0x80 | lock.pukTries());
    r[20] = static_cast<char>(0x83);
    r[21] = static_cast<char>(0x8A);
    return r;
  }
  r[13] = static_cast<char>(recordLength > 0 ? 0x01 : 0x00);
  r[14] = static_cast<char>(recordLength);
  return r.substr(0, 15);
}

int statusByte(SmsStatus s) {
  switch (s) {
    case SmsStatus::RecRead: return 0x01;
    case SmsStatus::RecUnread: return 0x03;
    case SmsStatus::StoSent: return 0x05;
    case SmsStatus::StoUnsent: return 0x07;
  }
  return 0x05;
}

}  // namespace

const std::string& CardFiles::usimAid() { return kUsimAid; }

std::string CardFiles::smsRecord(const SmsRecord& message) {
  std::string record = static_cast<char>(statusByte(message.status)) + encodeSmsPdu(message);
  record.resize(kSmsRecord, '\xFF');
  return record;
}

std::optional<SmsRecord> CardFiles::messageOf(std::string_view record) {
  if (record.empty() || (static_cast<unsigned char>(record[0]) & 1) == 0) return std::nullopt;
  std::string_view pdu = record.substr(1);
  while (!pdu.empty() && static_cast<unsigned char>(pdu.back()) == 0xFF) pdu.remove_suffix(1);
  // The padding may have taken a last FF of the text with it.
  for (std::size_t extra = 0; extra <= 2 && pdu.size() + extra < record.size(); ++extra) {
    std::string_view whole = record.substr(1, pdu.size() + extra);
    auto message = decodeSmsPdu(whole, tpduLength(whole));
    if (!message) continue;
    switch (static_cast<unsigned char>(record[0]) & 0x07) {
      case 0x01: message->status = SmsStatus::RecRead; break;
      case 0x03: message->status = SmsStatus::RecUnread; break;
      case 0x07: message->status = SmsStatus::StoUnsent; break;
      default: message->status = SmsStatus::StoSent; break;
    }
    return message;
  }
  return std::nullopt;
}

CardFiles::Kind CardFiles::kindOf(const Path& p) const {
  if (p.empty() || p[0] != 0x3F00) return Kind::None;
  if (p == Path{0x3F00} || p == Path{0x3F00, 0x7F10}) return Kind::Df;
  if (p == Path{0x3F00, 0x2FE2}) return Kind::Iccid;
  if (p == Path{0x3F00, 0x2F00} && usim_) return Kind::Dir;
  if (p == Path{0x3F00, 0x7F10, 0x6F3A}) return Kind::Adn;
  if (p == Path{0x3F00, 0x7F10, 0x6F3C}) return Kind::Sms;
  if (p == Path{0x3F00, 0x7F10, 0x6F4A}) return Kind::Ext1;
  if (!usim_) return Kind::None;
  if (p == Path{0x3F00, 0x7FFF} || p == Path{0x3F00, 0x7FFF, 0x5F3A}) return Kind::Df;
  if (p == Path{0x3F00, 0x7FFF, 0x5F3A, 0x4F30}) return Kind::Pbr;
  if (p == Path{0x3F00, 0x7FFF, 0x5F3A, 0x4F3A}) return Kind::Adn;
  if (p == Path{0x3F00, 0x7FFF, 0x5F3A, 0x4F4A}) return Kind::Ext1;
  if (p == Path{0x3F00, 0x7FFF, 0x6F3C}) return Kind::Sms;
  return Kind::None;
}

std::uint16_t CardFiles::denied(Kind kind) const {
  const bool guarded = kind == Kind::Adn || kind == Kind::Ext1 || kind == Kind::Sms || kind == Kind::Pbr;
  if (!guarded || sim_.pinLock().state() == PinLock::State::Ready) return 0;
  return usim_ ? 0x6982 : 0x9804;
}

CardAnswer CardFiles::header(const Path& path) const {
  const Kind kind = kindOf(path);
  if (kind == Kind::None) return {notFound(), {}};
  int length = 0, records = 0, size = 0;
  switch (kind) {
    case Kind::Iccid: size = 10; break;
    case Kind::Adn: length = sim_.recordSize(); records = sim_.locations(); break;
    case Kind::Ext1: length = SimCard::kExtensionRecordSize; records = SimCard::kExtensionRecords; break;
    case Kind::Sms: length = kSmsRecord; records = sim_.smsCapacity(); break;
    case Kind::Pbr: length = static_cast<int>(kPbr.size()); records = 1; break;
    case Kind::Dir: length = static_cast<int>(kDirRecord.size()); records = 1; break;
    default: break;
  }
  if (length > 0) size = length * records;
  const bool df = kind == Kind::Df;
  return {0x9000, usim_ ? fcp(path.back(), df, length, records, size) : gsmResponse(path.back(), df, length, size, sim_.pinLock())};
}

CardAnswer CardFiles::readRecord(const Path& path, int number, int length) const {
  const Kind kind = kindOf(path);
  if (kind == Kind::None || kind == Kind::Df || kind == Kind::Iccid) return {kind == Kind::None ? notFound() : std::uint16_t(0x6981), {}};
  if (std::uint16_t sw = denied(kind)) return {sw, {}};
  std::string record;
  if (kind == Kind::Adn) {
    if (number < 1 || number > sim_.locations()) return {std::uint16_t(usim_ ? 0x6A83 : 0x9402), {}};
    record = sim_.record(number);
  } else if (kind == Kind::Ext1) {
    record = sim_.extension(number);
    if (record.empty()) return {std::uint16_t(usim_ ? 0x6A83 : 0x9402), {}};
  } else if (kind == Kind::Sms) {
    if (number < 1 || number > sim_.smsCapacity()) return {std::uint16_t(usim_ ? 0x6A83 : 0x9402), {}};
    const SmsRecord* m = sim_.message(number);
    record = m ? smsRecord(*m) : std::string(1, '\0') + std::string(kSmsRecord - 1, '\xFF');
  } else {
    if (number != 1) return {std::uint16_t(usim_ ? 0x6A83 : 0x9402), {}};
    record = kind == Kind::Dir ? kDirRecord : kPbr;
  }
  if (length != static_cast<int>(record.size())) return {static_cast<std::uint16_t>(0x6C00 | (record.size() & 0xFF)), {}};
  return {0x9000, record};
}

CardAnswer CardFiles::updateRecord(const Path& path, int number, std::string_view bytes, bool& changed) {
  changed = false;
  const Kind kind = kindOf(path);
  if (kind != Kind::Adn && kind != Kind::Ext1 && kind != Kind::Sms) return {kind == Kind::None ? notFound() : std::uint16_t(0x6981), {}};
  if (std::uint16_t sw = denied(kind)) return {sw, {}};
  if (kind == Kind::Adn) {
    if (number < 1 || number > sim_.locations()) return {std::uint16_t(usim_ ? 0x6A83 : 0x9402), {}};
    if (!sim_.setRecord(number, bytes)) return {0x6700, {}};
  } else if (kind == Kind::Ext1) {
    if (sim_.extension(number).empty()) return {std::uint16_t(usim_ ? 0x6A83 : 0x9402), {}};
    if (!sim_.setExtension(number, bytes)) return {0x6700, {}};
  } else {
    if (number < 1 || number > sim_.smsCapacity()) return {std::uint16_t(usim_ ? 0x6A83 : 0x9402), {}};
    if (bytes.size() != kSmsRecord) return {0x6700, {}};
    if ((static_cast<unsigned char>(bytes[0]) & 1) == 0) {
      sim_.deleteMessage(number);
    } else {
      auto message = messageOf(bytes);
      if (!message) return {0x6A80, {}};  // incorrect data: the SIM keeps what it had
      sim_.setMessage(number, *message);
    }
  }
  changed = true;
  return {0x9000, {}};
}

CardAnswer CardFiles::readBinary(const Path& path, int offset, int length) const {
  const Kind kind = kindOf(path);
  if (kind != Kind::Iccid) return {kind == Kind::None ? notFound() : std::uint16_t(0x6981), {}};
  std::string bytes(10, '\xFF');
  const std::string& digits = sim_.iccid();
  for (std::size_t i = 0; i < digits.size() && i < 20; ++i) {
    const int d = digits[i] >= '0' && digits[i] <= '9' ? digits[i] - '0' : 0xF;
    auto& b = reinterpret_cast<unsigned char&>(bytes[i / 2]);
    b = i % 2 == 0 ? static_cast<unsigned char>((b & 0xF0) | d) : static_cast<unsigned char>((b & 0x0F) | (d << 4));
  }
  if (offset < 0 || offset >= 10) return {0x6B00, {}};
  if (length == 0 || offset + length > 10) return {static_cast<std::uint16_t>(0x6C00 | (10 - offset)), {}};
  return {0x9000, bytes.substr(static_cast<std::size_t>(offset), static_cast<std::size_t>(length))};
}

}  // namespace voryx::sim
