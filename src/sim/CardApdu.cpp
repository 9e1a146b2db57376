#include "sim/CardApdu.h"

namespace voryx::sim {
namespace {

constexpr std::uint8_t kSelect = 0xA4, kGetResponse = 0xC0, kReadRecord = 0xB2, kUpdateRecord = 0xDC,
                       kReadBinary = 0xB0, kVerify = 0x20;

bool isDf(std::uint16_t id) { return id == 0x3F00 || (id >> 8) == 0x7F || (id >> 8) == 0x5F; }

std::uint16_t be16(std::string_view two) {
  return static_cast<std::uint16_t>(static_cast<unsigned char>(two[0]) << 8 | static_cast<unsigned char>(two[1]));
}

}  // namespace

std::string CardApdu::atr() const {
  // T=0 only, two historical bytes; or T=1 only (TD1 = 01), with its check byte.
  return options_.t1 ? std::string("\x3B\x80\x01\x81", 4) : std::string("\x3B\x02\x14\x50", 4);
}

void CardApdu::powerUp() {
  df_ = {0x3F00};
  ef_.clear();
  pending_.clear();
  reads_ = updates_ = 0;
  lengthTold_ = false;
  files_.sim().pinLock().powerUp();
}

std::string CardApdu::reply(std::uint16_t sw, std::string data) {
  data += static_cast<char>(sw >> 8);
  data += static_cast<char>(sw & 0xFF);
  return data;
}

// A wrong Le: a UICC names the right one in 6Cxx, a SIM in 67xx.
std::uint16_t CardApdu::wrongLength(std::uint8_t cla, std::size_t correct) const {
  return static_cast<std::uint16_t>((cla == 0xA0 ? 0x6700 : 0x6C00) | (correct & 0xFF));
}

std::optional<std::string> CardApdu::answer(std::string_view apdu) {
  changed_ = false;
  if (apdu.size() < 4) return reply(0x6700);
  const auto cla = static_cast<std::uint8_t>(apdu[0]);
  const auto ins = static_cast<std::uint8_t>(apdu[1]);
  const int p1 = static_cast<unsigned char>(apdu[2]);
  const int p2 = static_cast<unsigned char>(apdu[3]);
  // Case 1 (header only), 2 (Le), 3 (Lc and data) or 4 (Lc, data and Le).
  std::string_view data;
  std::optional<int> le;
  if (apdu.size() == 5) {
    le = static_cast<unsigned char>(apdu[4]);
  } else if (apdu.size() > 5) {
    const std::size_t lc = static_cast<unsigned char>(apdu[4]);
    if (apdu.size() != 5 + lc && apdu.size() != 6 + lc) return reply(0x6700);
    data = apdu.substr(5, lc);
    if (apdu.size() == 6 + lc) le = static_cast<unsigned char>(apdu.back());
  }
  const bool usim = files_.usim();
  if (usim ? (cla & 0xFC) != 0x00 : cla != 0xA0) return reply(0x6E00);
  const std::uint16_t noFile = usim ? 0x6986 : 0x9400;
  const int wanted = le.value_or(0) == 0 ? 256 : *le;

  switch (ins) {
    case kSelect: return select(cla, p1, p2, data, le.has_value());
    case kGetResponse: {
      if (pending_.empty()) return reply(usim ? 0x6985 : 0x6F00);
      if (static_cast<std::size_t>(wanted) > pending_.size() && le.value_or(0) != 0) {
        return reply(wrongLength(cla, pending_.size()));
      }
      std::string out = pending_.substr(0, static_cast<std::size_t>(wanted));
      pending_.clear();
      return reply(0x9000, std::move(out));
    }
    case kReadRecord: {
      pending_.clear();
      if ((p2 & 0x07) != 0x04) return reply(usim ? 0x6A86 : 0x6B00);
      if (ef_.empty()) return reply(noFile);
      if (++reads_ == options_.removeAtRead) return std::nullopt;
      CardAnswer a = files_.readRecord(ef_, p1, wanted);
      if (a.sw == 0x9000 && options_.wrongLength && !lengthTold_) {
        lengthTold_ = true;
        return reply(wrongLength(cla, a.data.size()));
      }
      lengthTold_ = false;
      if ((a.sw & 0xFF00) == 0x6C00) a.sw = wrongLength(cla, a.sw & 0xFF);
      return reply(a.sw, std::move(a.data));
    }
    case kUpdateRecord: {
      pending_.clear();
      if ((p2 & 0x07) != 0x04) return reply(usim ? 0x6A86 : 0x6B00);
      if (ef_.empty()) return reply(noFile);
      ++updates_;
      if (updates_ == options_.faults.hangupAtWrite) return std::nullopt;
      if (updates_ == options_.faults.errorAtWrite) return reply(0x6F00);
      bool changed = false;
      CardAnswer a = files_.updateRecord(ef_, p1, data, changed);
      changed_ = changed;
      // The record is written, but the card goes before its answer does.
      if (updates_ == options_.faults.lostAtWrite) return std::nullopt;
      return reply(a.sw);
    }
    case kReadBinary: {
      pending_.clear();
      if ((p1 & 0x80) != 0) return reply(usim ? 0x6A81 : 0x6B00);  // no short file identifiers
      if (ef_.empty()) return reply(noFile);
      CardAnswer a = files_.readBinary(ef_, p1 << 8 | p2, wanted);
      if ((a.sw & 0xFF00) == 0x6C00) a.sw = wrongLength(cla, a.sw & 0xFF);
      return reply(a.sw, std::move(a.data));
    }
    case kVerify: pending_.clear(); return verify(cla, p2, data);
    default: return reply(0x6D00);
  }
}

std::string CardApdu::select(std::uint8_t cla, int p1, int p2, std::string_view data, bool wantsData) {
  pending_.clear();
  const bool usim = files_.usim();
  const std::uint16_t notFound = usim ? 0x6A82 : 0x9404;
  auto exists = [&](const Path& p) { return files_.header(p).sw == 0x9000; };
  Path target;
  if (p1 == 0x04 && usim) {  // an application by (the start of) its AID
    const std::string& aid = CardFiles::usimAid();
    if (data.size() < 7 || data.size() > aid.size() || aid.compare(0, data.size(), data) != 0) return reply(notFound);
    target = {0x3F00, 0x7FFF};
  } else if ((p1 == 0x08 || p1 == 0x09) && usim) {  // a path from the MF, or from the current DF
    if (data.empty() || data.size() % 2 != 0) return reply(0x6700);
    target = p1 == 0x08 ? Path{0x3F00} : df_;
    for (std::size_t at = 0; at < data.size(); at += 2) target.push_back(be16(data.substr(at, 2)));
  } else if (p1 == 0x00) {
    if (data.size() != 2) return reply(0x6700);
    const std::uint16_t id = be16(data);
    Path parent = df_;  // the MF is its own parent
    if (parent.size() > 1) parent.pop_back();
    Path child = df_;
    child.push_back(id);
    Path sibling = parent;
    sibling.push_back(id);
    if (id == 0x3F00) {
      target = {0x3F00};
    } else if (id == df_.back()) {
      target = df_;
    } else if (id == parent.back()) {
      target = parent;
    } else if (usim && id == 0x7FFF) {
      target = {0x3F00, 0x7FFF};
    } else if (exists(child)) {
      target = child;
    } else if (df_.size() > 1 && isDf(id) && exists(sibling)) {
      target = sibling;
    } else {
      return reply(notFound);
    }
  } else {
    return reply(usim ? 0x6A86 : 0x6B00);
  }
  CardAnswer header = files_.header(target);
  if (header.sw != 0x9000) return reply(notFound);
  if (isDf(target.back())) {
    df_ = target;
    ef_.clear();
  } else {
    ef_ = target;
    df_.assign(target.begin(), target.end() - 1);
  }
  if (!usim) {
    pending_ = std::move(header.data);
    return reply(static_cast<std::uint16_t>(0x9F00 | pending_.size()));
  }
  if ((p2 & 0x0C) == 0x0C) return reply(0x9000);  // no data asked for
  if (options_.t1 && wantsData) return reply(0x9000, std::move(header.data));
  pending_ = std::move(header.data);
  (void)cla;
  return reply(static_cast<std::uint16_t>(0x6100 | pending_.size()));
}

std::string CardApdu::verify(std::uint8_t cla, int p2, std::string_view data) {
  const bool usim = cla != 0xA0;
  if (p2 != 0x01) return reply(usim ? 0x6A86 : 0x6B00);
  PinLock& lock = files_.sim().pinLock();
  const std::uint16_t blocked = usim ? 0x6983 : 0x9840;
  if (data.empty()) {  // the PIN's status
    if (!usim) return reply(0x6700);
    if (lock.state() == PinLock::State::Puk) return reply(blocked);
    if (lock.state() == PinLock::State::Pin) return reply(static_cast<std::uint16_t>(0x63C0 | lock.pinTries()));
    return reply(0x9000);
  }
  if (data.size() != 8) return reply(0x6700);
  if (!lock.enabled()) return reply(usim ? 0x6984 : 0x9808);
  if (lock.state() == PinLock::State::Puk) return reply(blocked);
  if (lock.state() == PinLock::State::Ready) return reply(0x9000);
  std::string_view pin = data;
  while (!pin.empty() && static_cast<unsigned char>(pin.back()) == 0xFF) pin.remove_suffix(1);
  const PinLock::Verdict verdict = lock.enterPin(pin);
  changed_ = true;  // the tries left changed, one way or the other
  if (verdict == PinLock::Verdict::Accepted) return reply(0x9000);
  if (lock.state() == PinLock::State::Puk) return reply(blocked);
  return reply(usim ? static_cast<std::uint16_t>(0x63C0 | lock.pinTries()) : 0x9804);
}

}  // namespace voryx::sim
