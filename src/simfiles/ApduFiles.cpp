#include "simfiles/ApduFiles.h"

#include "simfiles/FileHeader.h"

namespace voryx::simfiles {
namespace {

constexpr std::uint8_t kSelect = 0xA4, kReadBinary = 0xB0, kReadRecord = 0xB2, kGetResponse = 0xC0,
                       kUpdateRecord = 0xDC, kVerify = 0x20;
// The USIM application's AID begins so (TS 101 220 annex E: RID A000000087, PIX 1002).
const std::string kUsimAidPrefix("\xA0\x00\x00\x00\x87\x10\x02", 7);

std::string header4(std::uint8_t cla, std::uint8_t ins, int p1, int p2) {
  return {static_cast<char>(cla), static_cast<char>(ins), static_cast<char>(p1 & 0xFF), static_cast<char>(p2 & 0xFF)};
}

std::string be16(std::uint16_t v) { return {static_cast<char>(v >> 8), static_cast<char>(v & 0xFF)}; }

}  // namespace

ApduFiles::ApduFiles(CardLink& link, std::string name) : link_(link), name_(std::move(name)) {}

// Under T=1 a command that expects data carries Le 00 (the card gives what it has); under
// T=0 the response waits behind 61xx / 9Fxx for GET RESPONSE instead.
std::string ApduFiles::withLe(std::string apdu) const { return link_.t0() ? apdu : apdu + '\0'; }

CardResult ApduFiles::command(std::string apdu, std::string& data) {
  data.clear();
  if (removed_) return cardRemoved();
  for (int round = 0; round < 8; ++round) {
    std::optional<std::string> response = link_.transmit(apdu);
    if (!response) {
      removed_ = true;
      return cardRemoved();
    }
    if (response->size() < 2) {  // no status word: the card went in the middle of the exchange
      removed_ = true;
      return cardRemoved();
    }
    const auto sw1 = static_cast<std::uint8_t>((*response)[response->size() - 2]);
    const auto sw2 = static_cast<std::uint8_t>((*response)[response->size() - 1]);
    data += response->substr(0, response->size() - 2);
    if (sw1 == 0x61 || sw1 == 0x9F) {  // the response waits: fetch it
      apdu = header4(sw1 == 0x9F ? 0xA0 : static_cast<std::uint8_t>(cla_.value_or(0) & 0x03), kGetResponse, 0, 0) +
             static_cast<char>(sw2);
      continue;
    }
    // Wrong Le: once more with the card's. A 2G SIM tells it in 67xx, for a read only.
    const bool simLength = sw1 == 0x67 && sw2 != 0 && apdu.size() == 5 && static_cast<std::uint8_t>(apdu[0]) == 0xA0;
    if ((sw1 == 0x6C && apdu.size() >= 5) || simLength) {
      apdu.back() = static_cast<char>(sw2);
      data.clear();
      continue;
    }
    return judgeStatus(static_cast<std::uint16_t>(sw1 << 8 | sw2));
  }
  return {CardOutcome::Other, 0, {}, {}};
}

// A UICC takes class 00; a 2G SIM answers it "class not supported" (6E00), or "instruction
// not supported" (6D00), and takes A0.
bool ApduFiles::findClass() {
  if (cla_) return true;
  std::string header;
  cla_ = 0x00;
  CardResult r = command(withLe(header4(0x00, kSelect, 0x00, 0x04) + "\x02" + be16(kMf)), header);
  if (r.outcome == CardOutcome::Removed) {
    cla_.reset();
    return false;
  }
  if (r.sw == 0x6E00 || r.sw == 0x6D00 || r.sw == 0x6A86 || r.sw == 0x6B00) cla_ = 0xA0;
  return true;
}

CardResult ApduFiles::selectId(std::uint16_t id, std::string& header) {
  selected_.clear();
  if (*cla_ == 0xA0) return command(header4(0xA0, kSelect, 0x00, 0x00) + "\x02" + be16(id), header);
  return command(withLe(header4(0x00, kSelect, 0x00, 0x04) + "\x02" + be16(id)), header);
}

// ADF.USIM by its AID, from EF_DIR's records (tag 61, the AID in 4F).
CardResult ApduFiles::selectUsim(std::string& header) {
  if (usimAid_.empty()) {
    std::string ignored;
    CardResult r = selectId(kMf, ignored);
    if (r.ok()) r = selectId(kEfDir, header);
    if (!r.ok()) return r;
    const auto info = parseFileHeader(header);
    for (int n = 1; info && n <= info->records && usimAid_.empty(); ++n) {
      std::string record;
      if (!readRecord(n, info->recordLength, record).ok()) continue;
      const std::size_t at = record.find('\x4F');
      if (at == std::string::npos || at + 1 >= record.size()) continue;
      const std::string aid = record.substr(at + 2, static_cast<unsigned char>(record[at + 1]));
      if (aid.starts_with(kUsimAidPrefix)) usimAid_ = aid;
    }
    if (usimAid_.empty()) return {CardOutcome::NotFound, 0x6A82, {}, {}};
  }
  return command(withLe(header4(0x00, kSelect, 0x04, 0x04) + static_cast<char>(usimAid_.size()) + usimAid_), header);
}

CardResult ApduFiles::select(const FilePath& path, FileInfo& info) {
  info = {};
  if (!findClass()) return cardRemoved();
  std::string header;
  CardResult r{CardOutcome::NotFound, 0, {}, {}};
  selected_.clear();  // whatever happens now, the card's current file changes
  for (std::uint16_t id : path) {
    r = id == kAdfUsim ? (*cla_ == 0xA0 ? CardResult{CardOutcome::NotFound, 0x9404, {}, {}} : selectUsim(header))
                       : selectId(id, header);
    if (!r.ok()) return r;
  }
  auto parsed = parseFileHeader(header);
  if (!parsed) return {CardOutcome::Other, r.sw, {}, {}};
  info = *parsed;
  selected_ = path;
  return r;
}

CardResult ApduFiles::readRecord(int number, int length, std::string& bytes) {
  if (!findClass()) return cardRemoved();
  if (number < 1 || number > 255 || length < 1 || length > 255) return {CardOutcome::WrongLength, 0, {}, {}};
  return command(header4(*cla_, kReadRecord, number, 0x04) + static_cast<char>(length), bytes);
}

CardResult ApduFiles::updateRecord(int number, std::string_view bytes) {
  if (!findClass()) return cardRemoved();
  if (number < 1 || number > 255 || bytes.empty() || bytes.size() > 255) return {CardOutcome::WrongLength, 0, {}, {}};
  std::string ignored;
  return command(header4(*cla_, kUpdateRecord, number, 0x04) + static_cast<char>(bytes.size()) + std::string(bytes),
                 ignored);
}

CardResult ApduFiles::readBinaryPart(int offset, int length, std::string& part) {
  if (!findClass()) return cardRemoved();
  return command(header4(*cla_, kReadBinary, offset >> 8, offset) + static_cast<char>(length), part);
}

CardResult ApduFiles::pinStatus() {
  if (!findClass()) return cardRemoved();
  std::string data;
  if (*cla_ == 0x00) {
    // VERIFY without data: 9000 when no PIN is needed now, 63Cx with the tries left.
    CardResult r = command(header4(0x00, kVerify, 0x00, 0x01), data);
    return r.ok() || r.outcome == CardOutcome::WrongPin || r.outcome == CardOutcome::Blocked
               ? r
               : CardResult{CardOutcome::Other, r.sw, {}, {}};
  }
  // A SIM: DF_TELECOM's response tells whether CHV1 is on (byte 14, b8 set: disabled) and
  // its tries (byte 19); whether it is given already shows in a read of EF_ADN.
  std::string header;
  CardResult r = selectId(kMf, header);
  if (r.ok()) r = selectId(kDfTelecom, header);
  if (!r.ok()) return r.outcome == CardOutcome::Removed ? r : CardResult{CardOutcome::Other, r.sw, {}, {}};
  if (header.size() < 19 || (static_cast<unsigned char>(header[13]) & 0x80) != 0) return {CardOutcome::Ok, 0x9000, {}, {}};
  const int tries = static_cast<unsigned char>(header[18]) & 0x0F;
  if (tries == 0) return {CardOutcome::Blocked, 0x9840, 0, {}};
  FileInfo adn;
  r = select({kMf, kDfTelecom, kEfAdn}, adn);
  if (r.ok() && adn.recordLength > 0) r = readRecord(1, adn.recordLength, data);
  if (r.outcome == CardOutcome::NotAllowed) return {CardOutcome::WrongPin, r.sw, tries, {}};
  return r.outcome == CardOutcome::Removed ? r : CardResult{CardOutcome::Ok, r.sw, {}, {}};
}

CardResult ApduFiles::verifyPin(std::string_view pin) {
  if (!findClass()) return cardRemoved();
  std::string block(pin.substr(0, 8));
  block.resize(8, '\xFF');
  std::string ignored;
  return command(header4(*cla_, kVerify, 0x00, 0x01) + "\x08" + block, ignored);
}

bool ApduFiles::usim() { return findClass() && *cla_ == 0x00; }

std::string ApduFiles::describe() const { return "reader " + name_; }

}  // namespace voryx::simfiles
