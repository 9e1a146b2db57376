#include "sim/Pdu.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>

#include "sim/Gsm7.h"
#include "sim/Text.h"

namespace voryx::sim {
namespace {

std::uint8_t at(std::string_view s, std::size_t i) { return static_cast<std::uint8_t>(s[i]); }

// TP-DCS values the store writes.
constexpr std::uint8_t kDcsGsm = 0x00;
constexpr std::uint8_t kDcsUcs2 = 0x08;

// Address field: digit count, TON/NPI, BCD; a name as packed septets, its length the
// semi-octets they fill (23.040 9.1.2.5).
std::string encodeAddress(std::string_view number) {
  if (isAlphanumericAddress(number)) {
    const std::string septets = *gsm7::encode(*utf8Decode(number));
    std::string out;
    out += static_cast<char>((septets.size() * 7 + 3) / 4);
    out += static_cast<char>(kAlphanumericType);
    return out + gsm7::pack(septets);
  }
  const bool international = !number.empty() && number.front() == '+';
  if (international) number.remove_prefix(1);
  auto bcd = encodeBcd(number);
  if (!bcd) bcd = std::string{};
  std::string out;
  out += static_cast<char>(bcd->empty() ? 0 : number.size());
  out += static_cast<char>(international ? 0x91 : 0x81);
  return out + *bcd;
}

// Service centre address: octet count (TON included), TON/NPI, BCD.
std::string encodeServiceCentre(std::string_view number) {
  const std::string address = encodeAddress(number);
  return static_cast<char>(address.size() - 1) + address.substr(1);
}

int bcdPair(std::uint8_t octet) { return (octet & 0x0F) * 10 + (octet >> 4); }
char swappedPair(int value) { return static_cast<char>(((value % 10) << 4) | (value / 10)); }

// "yy/MM/dd,hh:mm:ss+zz" to the seven SCTS octets; zeros when unreadable.
std::string encodeTimestamp(std::string_view ts) {
  int v[7] = {0, 1, 1, 0, 0, 0, 0};
  bool negative = false;
  if (ts.size() == 20) {
    const std::size_t pos[7] = {0, 3, 6, 9, 12, 15, 18};
    for (int i = 0; i < 7; ++i) {
      const char a = ts[pos[i]];
      const char b = ts[pos[i] + 1];
      if (a >= '0' && a <= '9' && b >= '0' && b <= '9') v[i] = (a - '0') * 10 + (b - '0');
    }
    negative = ts[17] == '-';
  }
  std::string out;
  for (int i = 0; i < 6; ++i) out += swappedPair(v[i]);
  out += static_cast<char>(swappedPair(v[6]) | (negative ? 0x08 : 0));
  return out;
}

std::string decodeTimestamp(std::string_view o) {
  char buf[32];
  const int tz = bcdPair(at(o, 6) & 0xF7);
  std::snprintf(buf, sizeof buf, "%02d/%02d/%02d,%02d:%02d:%02d%c%02d", bcdPair(at(o, 0)) % 100,
                bcdPair(at(o, 1)) % 100, bcdPair(at(o, 2)) % 100, bcdPair(at(o, 3)) % 100,
                bcdPair(at(o, 4)) % 100, bcdPair(at(o, 5)) % 100, (at(o, 6) & 0x08) ? '-' : '+',
                tz % 100);
  return buf;
}

// Reads the bytes of a PDU front to back; any read past the end fails the cursor.
class Cursor {
 public:
  explicit Cursor(std::string_view bytes) : bytes_(bytes) {}
  std::optional<std::uint8_t> octet() {
    if (pos_ >= bytes_.size()) return std::nullopt;
    return at(bytes_, pos_++);
  }
  std::optional<std::string_view> take(std::size_t n) {
    if (n > bytes_.size() - pos_) return std::nullopt;
    auto part = bytes_.substr(pos_, n);
    pos_ += n;
    return part;
  }
  std::size_t left() const { return bytes_.size() - pos_; }

 private:
  std::string_view bytes_;
  std::size_t pos_ = 0;
};

std::optional<std::string> readAddress(Cursor& c) {
  auto digits = c.octet();
  auto ton = c.octet();
  if (!digits || !ton) return std::nullopt;
  auto body = c.take((*digits + 1u) / 2);
  if (!body) return std::nullopt;
  if ((*ton & 0x70) == 0x50) {  // alphanumeric (23.038 packed)
    auto text = gsm7::decode(gsm7::unpack(*body, *digits * 4u / 7u));
    return text ? utf8Encode(*text) : std::string{};
  }
  std::string number = decodeBcd(*body);
  if (number.size() > *digits) number.resize(*digits);
  return ((*ton & 0x70) == 0x10 ? "+" : "") + number;
}

}  // namespace

bool isAlphanumericAddress(std::string_view number) {
  std::string_view digits = number;
  if (!digits.empty() && digits.front() == '+') digits.remove_prefix(1);
  if (number.empty() || encodeBcd(digits)) return false;
  const bool letter = std::any_of(number.begin(), number.end(), [](char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || static_cast<unsigned char>(c) >= 0x80;
  });
  if (!letter) return false;  // "39 1" is a mistyped number, not a name
  auto text = utf8Decode(number);
  auto septets = text ? gsm7::encode(*text) : std::nullopt;
  return septets && septets->size() <= 11;
}

std::optional<std::string> encodeBcd(std::string_view digits) {
  std::string out;
  int pending = -1;
  for (char ch : digits) {
    int nibble = -1;
    if (ch >= '0' && ch <= '9') nibble = ch - '0';
    else if (ch == '*') nibble = 0xA;
    else if (ch == '#') nibble = 0xB;
    else if (ch == ',' || ch == 'p' || ch == 'P') nibble = 0xC;
    else if (ch == '?') nibble = 0xD;
    if (nibble < 0) return std::nullopt;
    if (pending < 0) {
      pending = nibble;
    } else {
      out += static_cast<char>((nibble << 4) | pending);
      pending = -1;
    }
  }
  if (pending >= 0) out += static_cast<char>(0xF0 | pending);
  return out;
}

std::string decodeBcd(std::string_view bytes) {
  static constexpr char kChars[] = "0123456789*#,?";
  std::string out;
  for (char ch : bytes) {
    for (int nibble : {static_cast<std::uint8_t>(ch) & 0x0F, static_cast<std::uint8_t>(ch) >> 4}) {
      if (nibble == 0xF) return out;
      if (nibble < 0xE) out += kChars[nibble];
    }
  }
  return out;
}

std::string userData(const SmsRecord& m, std::size_t& udl) {
  const auto text = utf8Decode(m.text).value_or(U"");
  const std::string header =
      m.header.empty() ? std::string() : static_cast<char>(m.header.size()) + m.header;
  auto septets = m.ucs2 ? std::nullopt : gsm7::encode(text);
  if (!septets) {
    const std::string data = header + utf16Encode(text);
    udl = data.size();
    return data;
  }
  // The header, then fill bits up to a septet boundary, then the septets.
  const std::size_t headerSeptets = (header.size() * 8 + 6) / 7;
  udl = headerSeptets + septets->size();
  const std::string packed = gsm7::pack(std::string(headerSeptets, '\0') + *septets);
  return header + packed.substr(std::min(header.size(), packed.size()));
}

std::string encodeSmsPdu(const SmsRecord& m) {
  const bool received = m.status == SmsStatus::RecUnread || m.status == SmsStatus::RecRead;
  std::size_t udl = 0;
  const std::string data = userData(m, udl);
  const std::uint8_t dcs = m.ucs2 || !gsm7::encode(utf8Decode(m.text).value_or(U"")) ? kDcsUcs2 : kDcsGsm;
  const char headerBit = m.header.empty() ? 0 : 0x40;
  std::string pdu = encodeServiceCentre(kServiceCentre);
  if (received) {
    pdu += static_cast<char>(0x04 | headerBit);  // SMS-DELIVER, no more messages waiting
    pdu += encodeAddress(m.number);
    pdu += '\0';  // TP-PID
    pdu += static_cast<char>(dcs);
    pdu += encodeTimestamp(m.timestamp);
  } else {
    pdu += static_cast<char>(0x01 | headerBit);  // SMS-SUBMIT, no validity period
    pdu += '\0';                     // TP-MR
    pdu += encodeAddress(m.number);
    pdu += '\0';
    pdu += static_cast<char>(dcs);
  }
  pdu += static_cast<char>(udl & 0xFF);
  return pdu + data;
}

std::size_t tpduLength(std::string_view pdu) {
  if (pdu.empty()) return 0;
  const std::size_t sca = 1 + at(pdu, 0);
  return pdu.size() > sca ? pdu.size() - sca : 0;
}

std::optional<SmsRecord> decodeSmsPdu(std::string_view pdu, std::size_t length, std::string* error) {
  auto fail = [error](const char* why) -> std::optional<SmsRecord> {
    if (error) *error = why;
    return std::nullopt;
  };
  Cursor c{pdu};
  if (pdu.size() != length) {
    auto sca = c.octet();
    if (!sca || !c.take(*sca)) return fail("truncated service centre address");
  }
  if (c.left() != length) return fail("length does not match the PDU");
  SmsRecord m;
  auto first = c.octet();
  if (!first) return fail("empty PDU");
  const int mti = *first & 0x03;
  if (mti != 0 && mti != 1) return fail("neither SMS-DELIVER nor SMS-SUBMIT");
  if (mti == 1 && !c.octet()) return fail("truncated");  // TP-MR
  auto number = readAddress(c);
  auto pid = c.octet();
  auto dcs = c.octet();
  if (!number || !pid || !dcs) return fail("truncated address");
  m.number = *number;
  if (mti == 0) {
    auto ts = c.take(7);
    if (!ts) return fail("truncated time stamp");
    m.timestamp = decodeTimestamp(*ts);
    m.status = SmsStatus::RecRead;
  } else {
    const int vpf = (*first >> 3) & 0x03;
    if (vpf != 0 && !c.take(vpf == 2 ? 1 : 7)) return fail("truncated validity period");
  }
  // Alphabet from TP-DCS (23.038 section 4): general groups, message waiting, class groups.
  int alphabet = -1;  // 0 GSM, 2 UCS2
  const std::uint8_t d = *dcs;
  if ((d & 0xC0) == 0x00 || (d & 0xC0) == 0x40) alphabet = (d >> 2) & 0x03;
  else if (d >= 0xC0 && d <= 0xDF) alphabet = 0;
  else if (d >= 0xE0 && d <= 0xEF) alphabet = 2;
  else if (d >= 0xF0) alphabet = (d & 0x04) ? 1 : 0;
  if (alphabet != 0 && alphabet != 2) return fail("only 7-bit and UCS2 texts can be stored");
  if ((d & 0x20) && (d & 0xC0) == 0x00) return fail("compressed text");
  auto udl = c.octet();
  if (!udl) return fail("truncated user data length");
  const bool udhi = (*first & 0x40) != 0;
  std::u32string text;
  if (alphabet == 0) {
    const std::size_t octets = (*udl * 7u + 7u) / 8u;
    auto ud = c.take(octets);
    if (!ud || *udl > 160) return fail("user data shorter than its length");
    std::string septets = gsm7::unpack(*ud, *udl);
    if (udhi) {
      if (ud->empty()) return fail("missing user data header");
      const std::size_t headerSeptets = ((at(*ud, 0) + 1u) * 8u + 6u) / 7u;
      if (headerSeptets > septets.size() || at(*ud, 0) + 1u > ud->size()) return fail("user data header too long");
      m.header = std::string(ud->substr(1, at(*ud, 0)));
      septets.erase(0, headerSeptets);
    }
    auto decoded = gsm7::decode(septets);
    if (!decoded) return fail("bad septets");
    text = *decoded;
  } else {
    auto ud = c.take(*udl);
    if (!ud || *udl > 140) return fail("user data shorter than its length");
    std::string_view body = *ud;
    if (udhi) {
      if (body.empty() || at(body, 0) + 1u > body.size()) return fail("user data header too long");
      m.header = std::string(body.substr(1, at(body, 0)));
      body.remove_prefix(at(body, 0) + 1u);
    }
    auto decoded = utf16Decode(body.substr(0, body.size() & ~std::size_t{1}));
    if (!decoded) return fail("bad UCS2 text");
    text = *decoded;
    m.ucs2 = true;
  }
  if (c.left() != 0) return fail("bytes after the user data");
  m.text = utf8Encode(text);
  return m;
}

}  // namespace voryx::sim
