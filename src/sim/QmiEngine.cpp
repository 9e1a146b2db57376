#include "sim/QmiEngine.h"

#include <charconv>
#include <tuple>

namespace voryx::sim {
using namespace std::string_literals;
namespace {

using Path = std::vector<std::uint16_t>;

// CTL and UIM message ids.
constexpr std::uint16_t kGetVersionInfo = 0x0021, kAllocateCid = 0x0022, kReleaseCid = 0x0023, kSync = 0x0027;
constexpr std::uint16_t kReadTransparent = 0x0020, kReadRecord = 0x0021, kWriteRecord = 0x0023,
                        kGetFileAttributes = 0x0024, kVerifyPin = 0x0026, kGetCardStatus = 0x002F;
// Error codes of the result TLV.
constexpr std::uint16_t kMalformed = 0x0001, kInternal = 0x0003, kClientIdsExhausted = 0x0005,
                        kInvalidClientId = 0x0007, kIncorrectPin = 0x000C, kMissingArgument = 0x0011,
                        kPinBlocked = 0x0023, kNoEffect = 0x001A, kInvalidCommand = 0x0047;
// A frame longer than this is no frame (the longest real one is a few kilobytes).
constexpr std::size_t kMaxFrame = 8192;

void le16(std::string& out, unsigned v) {
  out += static_cast<char>(v & 0xFF);
  out += static_cast<char>((v >> 8) & 0xFF);
}
unsigned u8(std::string_view s, std::size_t at) { return static_cast<unsigned char>(s[at]); }
unsigned u16(std::string_view s, std::size_t at) { return u8(s, at) | u8(s, at + 1) << 8; }

std::string tlv(std::uint8_t type, std::string_view value) {
  std::string out(1, static_cast<char>(type));
  le16(out, static_cast<unsigned>(value.size()));
  out += value;
  return out;
}

std::string cardResult(std::uint16_t sw) {
  return tlv(0x10, std::string{static_cast<char>(sw >> 8), static_cast<char>(sw & 0xFF)});
}

// The file TLV (02): the file id, then the path of the DFs above it as little-endian
// pairs ("00 3F 10 7F"). Empty when it is not of that form.
Path filePath(const std::map<std::uint8_t, std::string>& tlvs) {
  auto it = tlvs.find(0x02);
  if (it == tlvs.end() || it->second.size() < 3) return {};
  const std::string& v = it->second;
  const std::size_t pathLength = u8(v, 2);
  if (pathLength == 0 || pathLength % 2 != 0 || v.size() != 3 + pathLength) return {};
  Path path;
  for (std::size_t at = 3; at < v.size(); at += 2) path.push_back(static_cast<std::uint16_t>(u16(v, at)));
  path.push_back(static_cast<std::uint16_t>(u16(v, 0)));
  return path;
}

// What a header says of its file, decoded here from the header's own bytes: the FCP of a
// UICC (TS 102 221 §11.1.1.3) or the GSM response (TS 51.011 §9.2.1).
struct FileShape {
  int type = 3;  // QMI's file type: 0 transparent, 1 cyclic, 2 linear fixed, 3 DF, 4 MF
  int size = 0;
  int recordLength = 0;
  int records = 0;
};
FileShape shapeOf(std::string_view h, std::uint16_t id) {
  FileShape s;
  if (id == 0x3F00) s.type = 4;
  if (!h.empty() && u8(h, 0) == 0x62 && h.size() >= 2) {
    for (std::size_t at = 2; at + 2 <= h.size();) {
      const unsigned tag = u8(h, at), len = u8(h, at + 1);
      if (at + 2 + len > h.size()) break;
      std::string_view v = h.substr(at + 2, len);
      if (tag == 0x82 && !v.empty()) {
        const unsigned d = u8(v, 0) & 0x3F;
        if (d == 0x38) s.type = id == 0x3F00 ? 4 : 3;
        else s.type = (d & 0x07) == 1 ? 0 : (d & 0x07) == 2 ? 2 : (d & 0x07) == 6 ? 1 : 3;
        if (v.size() >= 5) {
          s.recordLength = static_cast<int>(u8(v, 2) << 8 | u8(v, 3));
          s.records = static_cast<int>(u8(v, 4));
        }
      } else if (tag == 0x80 && len == 2) {
        s.size = static_cast<int>(u8(v, 0) << 8 | u8(v, 1));
      }
      at += 2 + len;
    }
    return s;
  }
  if (h.size() >= 15) {
    s.size = static_cast<int>(u8(h, 2) << 8 | u8(h, 3));
    if (u8(h, 6) == 0x04) {
      const unsigned structure = u8(h, 13);
      s.type = structure == 0 ? 0 : structure == 1 ? 2 : 1;
      s.recordLength = s.type == 0 ? 0 : static_cast<int>(u8(h, 14));
      s.records = s.recordLength > 0 ? s.size / s.recordLength : 0;
    }
  }
  return s;
}

}  // namespace

bool parseQmiFault(std::string_view text, QmiFaults& faults) {
  const std::size_t eq = text.find('=');
  if (eq == std::string_view::npos) return false;
  int k = 0;
  const std::string_view number = text.substr(eq + 1);
  auto [end, ec] = std::from_chars(number.data(), number.data() + number.size(), k);
  if (ec != std::errc{} || end != number.data() + number.size() || k < 1) return false;
  const std::string_view name = text.substr(0, eq);
  if (name == "error-at-record") faults.errorAtRecord = k;
  else if (name == "silence-at-record") faults.silenceAtRecord = k;
  else if (name == "hangup-at-record") faults.hangupAtRecord = k;
  else return false;
  return true;
}

int QmiEngine::requestCount(std::uint8_t service, std::uint16_t message) const {
  auto it = counts_.find({service, message});
  return it == counts_.end() ? 0 : it->second;
}

QmiEngine::Output QmiEngine::feed(std::string_view bytes) {
  Output out;
  pending_ += bytes;
  for (;;) {
    const std::size_t marker = pending_.find('\x01');
    if (marker == std::string::npos) {
      pending_.clear();
      break;
    }
    pending_.erase(0, marker);
    if (pending_.size() < 3) break;
    const std::size_t length = u16(pending_, 1);
    // Length (2), flags, service, client and the shortest message header (6).
    if (length < 11 || length + 1 > kMaxFrame) {
      pending_.erase(0, 1);  // no frame starts here: look for the next marker
      continue;
    }
    if (pending_.size() < length + 1) break;
    const std::string whole = pending_.substr(0, length + 1);
    pending_.erase(0, length + 1);
    std::string reply;
    switch (frame(whole, reply)) {
      case Fate::Answer:
        if (!reply.empty()) out.frames.push_back(std::move(reply));
        break;
      case Fate::Silence: break;
      case Fate::HangUp:
        out.hangUp = true;
        pending_.clear();
        return out;
    }
  }
  return out;
}

QmiEngine::Fate QmiEngine::frame(std::string_view f, std::string& reply) {
  Request r;
  r.service = static_cast<std::uint8_t>(u8(f, 4));
  r.client = static_cast<std::uint8_t>(u8(f, 5));
  std::string_view sdu = f.substr(6);
  const bool ctl = r.service == kQmiCtl;
  const std::size_t header = ctl ? 6 : 7;
  if (sdu.size() < header) return Fate::Answer;  // too short to answer: dropped
  r.transaction = static_cast<std::uint16_t>(ctl ? u8(sdu, 1) : u16(sdu, 1));
  r.message = static_cast<std::uint16_t>(u16(sdu, ctl ? 2 : 3));
  if ((u8(sdu, 0) & (ctl ? 0x03 : 0x06)) != 0) return Fate::Answer;  // a response or an indication: not ours to answer
  const std::size_t tlvLength = u16(sdu, ctl ? 4 : 5);
  std::string_view rest = sdu.substr(header);
  if (tlvLength != rest.size()) {
    reply = respond(r, kMalformed);
    return Fate::Answer;
  }
  while (!rest.empty()) {
    if (rest.size() < 3 || 3 + u16(rest, 1) > rest.size()) {
      reply = respond(r, kMalformed);
      return Fate::Answer;
    }
    const std::size_t n = u16(rest, 1);
    r.tlvs[static_cast<std::uint8_t>(u8(rest, 0))] = std::string(rest.substr(3, n));
    rest.remove_prefix(3 + n);
  }
  ++counts_[{r.service, r.message}];
  if (ctl) {
    reply = control(r);
    return Fate::Answer;
  }
  if (r.service != kQmiUim) {
    reply = respond(r, kInvalidCommand);
    return Fate::Answer;
  }
  if (!clients_[r.service].contains(r.client)) {
    reply = respond(r, kInvalidClientId);
    return Fate::Answer;
  }
  return uim(r, reply);
}

std::string QmiEngine::respond(const Request& r, std::uint16_t error, std::string tlvs) const {
  std::string result;
  le16(result, error == 0 ? 0 : 1);
  le16(result, error);
  tlvs = tlv(0x02, result) + tlvs;
  const bool ctl = r.service == kQmiCtl;
  std::string sdu(1, static_cast<char>(ctl ? 0x01 : 0x02));
  if (ctl) sdu += static_cast<char>(r.transaction & 0xFF);
  else le16(sdu, r.transaction);
  le16(sdu, r.message);
  le16(sdu, static_cast<unsigned>(tlvs.size()));
  sdu += tlvs;
  std::string out(1, '\x01');
  le16(out, static_cast<unsigned>(sdu.size() + 5));
  out += '\x80';
  out += static_cast<char>(r.service);
  out += static_cast<char>(r.client);
  return out + sdu;
}

std::string QmiEngine::control(const Request& r) {
  switch (r.message) {
    case kAllocateCid: {
      auto it = r.tlvs.find(0x01);
      if (it == r.tlvs.end() || it->second.size() != 1) return respond(r, kMissingArgument);
      const auto service = static_cast<std::uint8_t>(it->second[0]);
      if (service == kQmiCtl) return respond(r, kInvalidCommand);
      std::set<std::uint8_t>& given = clients_[service];
      if (given.size() >= 254) return respond(r, kClientIdsExhausted);
      while (nextClient_ == 0 || nextClient_ == 0xFF || given.contains(nextClient_)) ++nextClient_;
      given.insert(nextClient_);
      const std::string info{static_cast<char>(service), static_cast<char>(nextClient_++)};
      return respond(r, 0, tlv(0x01, info));
    }
    case kReleaseCid: {
      auto it = r.tlvs.find(0x01);
      if (it == r.tlvs.end() || it->second.size() != 2) return respond(r, kMissingArgument);
      const auto service = static_cast<std::uint8_t>(it->second[0]);
      const auto client = static_cast<std::uint8_t>(it->second[1]);
      if (clients_[service].erase(client) == 0) return respond(r, kInvalidClientId);
      return respond(r, 0, tlv(0x01, it->second));
    }
    case kGetVersionInfo: {
      std::string list(1, '\x02');
      for (auto [service, major, minor] : {std::tuple{kQmiCtl, 1u, 5u}, std::tuple{kQmiUim, 1u, 46u}}) {
        list += static_cast<char>(service);
        le16(list, major);
        le16(list, minor);
      }
      return respond(r, 0, tlv(0x01, list));
    }
    case kSync:
      clients_.clear();  // every client id given out is released
      return respond(r, 0);
    default: return respond(r, kInvalidCommand);
  }
}

QmiEngine::Fate QmiEngine::uim(const Request& r, std::string& reply) {
  SimCard& sim = files_.sim();
  PinLock& lock = sim.pinLock();
  if (r.message == kGetCardStatus && faults_.noSim) {
    // No provisioning application; one slot, its card absent and without applications.
    std::string status;
    for (int i = 0; i < 4; ++i) le16(status, 0xFFFF);
    status += "\x01\x00\x00\x00\x00\x00\x00"s;
    reply = respond(r, 0, tlv(0x10, status));
    return Fate::Answer;
  }
  if (faults_.noSim && r.message != kGetCardStatus) {
    reply = respond(r, 0x0003);  // nothing to reach
    return Fate::Answer;
  }
  if (r.message == kGetCardStatus) {
    std::string status;
    le16(status, 0x0000);  // the primary GW application: card 0, application 0
    le16(status, 0xFFFF), le16(status, 0xFFFF), le16(status, 0xFFFF);
    status += '\x01';                  // one card
    status += "\x01\x00\x00\x00\x00"s;  // present, no UPIN, no error
    status += '\x01';                  // one application
    const bool usim = files_.usim();
    const PinLock::State state = lock.state();
    status += static_cast<char>(usim ? 2 : 1);
    status += static_cast<char>(state == PinLock::State::Ready ? 7 : state == PinLock::State::Pin ? 2 : 3);
    status += "\x02\x00\x00\x00"s;  // personalization ready, no feature, no tries
    const std::string aid = usim ? CardFiles::usimAid() : std::string();
    status += static_cast<char>(aid.size());
    status += aid;
    status += '\x00';  // UPIN does not replace PIN1
    status += static_cast<char>(!lock.enabled() ? 3 : state == PinLock::State::Puk ? 4 : state == PinLock::State::Pin ? 1 : 2);
    status += static_cast<char>(lock.pinTries());
    status += static_cast<char>(lock.pukTries());
    status += "\x03\x03\x0A"s;  // PIN2 disabled, 3 and 10 tries
    reply = respond(r, 0, tlv(0x10, status));
    return Fate::Answer;
  }
  if (r.message == kVerifyPin) {
    auto it = r.tlvs.find(0x02);
    if (it == r.tlvs.end() || it->second.size() < 2 || it->second.size() != 2 + u8(it->second, 1)) {
      reply = respond(r, kMissingArgument);
      return Fate::Answer;
    }
    if (u8(it->second, 0) != 1) {  // PIN2 and the others guard nothing here
      reply = respond(r, kNoEffect);
      return Fate::Answer;
    }
    std::uint16_t error = 0;
    if (!lock.enabled() || lock.state() == PinLock::State::Ready) {
      error = lock.enabled() ? 0 : kNoEffect;
    } else if (lock.state() == PinLock::State::Puk) {
      error = kPinBlocked;
    } else {
      changed_ = true;
      if (lock.enterPin(std::string_view(it->second).substr(2)) != PinLock::Verdict::Accepted) {
        error = lock.state() == PinLock::State::Puk ? kPinBlocked : kIncorrectPin;
      }
    }
    const std::string tries{static_cast<char>(lock.pinTries()), static_cast<char>(lock.pukTries())};
    reply = respond(r, error, tlv(0x10, tries));
    return Fate::Answer;
  }
  if (r.message != kGetFileAttributes && r.message != kReadRecord && r.message != kWriteRecord &&
      r.message != kReadTransparent) {
    reply = respond(r, kInvalidCommand);
    return Fate::Answer;
  }
  const Path path = filePath(r.tlvs);
  if (path.empty()) {
    reply = respond(r, kMissingArgument);
    return Fate::Answer;
  }
  const CardAnswer header = files_.header(path);
  const FileShape shape = shapeOf(header.data, path.back());
  auto answer = [&](const CardAnswer& a, bool withData) {
    std::string tlvs = cardResult(a.sw);
    if (withData && a.sw == 0x9000) {
      std::string data;
      le16(data, static_cast<unsigned>(a.data.size()));
      tlvs += tlv(0x11, data + a.data);
    }
    reply = respond(r, a.sw == 0x9000 ? 0 : kInternal, tlvs);
    return Fate::Answer;
  };
  if (r.message == kGetFileAttributes) {
    if (header.sw != 0x9000) return answer(header, false);
    std::string attributes;
    le16(attributes, static_cast<unsigned>(shape.size));
    le16(attributes, path.back());
    attributes += static_cast<char>(shape.type);
    le16(attributes, static_cast<unsigned>(shape.recordLength));
    le16(attributes, static_cast<unsigned>(shape.records));
    for (int i = 0; i < 5; ++i) attributes += std::string("\x00\x00\x00", 3);  // security: always
    le16(attributes, static_cast<unsigned>(header.data.size()));
    attributes += header.data;
    reply = respond(r, 0, cardResult(0x9000) + tlv(0x11, attributes));
    return Fate::Answer;
  }
  auto info = r.tlvs.find(0x03);
  if (info == r.tlvs.end() || info->second.size() < 4) {
    reply = respond(r, kMissingArgument);
    return Fate::Answer;
  }
  const int first = static_cast<int>(u16(info->second, 0));
  const int length = static_cast<int>(u16(info->second, 2));
  if (r.message == kReadTransparent) {
    return answer(files_.readBinary(path, first, length == 0 ? shape.size - first : length), true);
  }
  ++records_;
  if (records_ == faults_.silenceAtRecord) return Fate::Silence;
  if (records_ == faults_.hangupAtRecord) return Fate::HangUp;
  if (records_ == faults_.errorAtRecord) return answer({0x6F00, {}}, false);
  if (r.message == kReadRecord) return answer(files_.readRecord(path, first, length == 0 ? shape.recordLength : length), true);
  // Write Record: the record's number, then its bytes with their length.
  if (info->second.size() != 4 + static_cast<std::size_t>(length)) {
    reply = respond(r, kMalformed);
    return Fate::Answer;
  }
  bool changed = false;
  const CardAnswer a = files_.updateRecord(path, first, std::string_view(info->second).substr(4), changed);
  changed_ = changed_ || changed;
  return answer(a, false);
}

}  // namespace voryx::sim
