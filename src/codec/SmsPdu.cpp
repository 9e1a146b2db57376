#include "codec/SmsPdu.h"

#include <algorithm>
#include <cstdint>
#include <optional>

#include "codec/GsmAlphabet.h"

namespace voryx::codec {
namespace {

void appendHex(std::string& out, unsigned byte) {
  constexpr const char* kDigits = "0123456789ABCDEF";
  out.push_back(kDigits[(byte >> 4) & 0xF]);
  out.push_back(kDigits[byte & 0xF]);
}

// Semi-octet of a destination digit (3GPP 24.008 BCD: "*" is A, "#" is B); -1 for a
// character an address cannot hold (pauses, "+", letters).
int semiOctet(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c == '*') return 0xA;
  if (c == '#') return 0xB;
  return -1;
}

// The PDU after its address: PID, data coding, the time stamp of a DELIVER (seven octets,
// none in a SUBMIT), user data.
SubmitPdu encodeSubmitBody(std::string hex, std::string_view utf8Text, std::string_view timestamp = {});

// The address field: semi-octets used, type, then the digits or the name's septets.
void appendAddress(std::string& hex, std::string_view number, int type);

// Septets packed eight into seven octets, the first in the low bits of the first octet.
void appendPacked(std::string& hex, std::string_view septets) {
  unsigned bits = 0;
  int held = 0;
  for (char septet : septets) {
    bits |= (static_cast<unsigned>(septet) & 0x7Fu) << held;
    held += 7;
    while (held >= 8) {
      appendHex(hex, bits & 0xFFu);
      bits >>= 8;
      held -= 8;
    }
  }
  if (held > 0) appendHex(hex, bits & 0xFFu);
}

}  // namespace

bool isAlphanumericSender(std::string_view number) {
  const bool letter = std::any_of(number.begin(), number.end(), [](char c) {
    const char lower = static_cast<char>(c | 0x20);
    return lower >= 'a' && lower <= 'z' && lower != 'p' && lower != 'w';
  });
  if (!letter || number.starts_with("+")) return false;
  auto septets = encodeGsmText(number);
  return septets && septets->size() <= 11;
}

bool needsPduMode(std::string_view utf8Text) {
  auto septets = encodeGsmText(utf8Text);
  return !septets || septets->find_first_of("\x08\x1A\x1B\x7F") != std::string::npos;
}

SubmitPdu encodeSubmitPdu(std::string_view number, int type, std::string_view utf8Text) {
  std::string hex = "00";  // no service centre: the modem's own is used
  appendHex(hex, 0x01);    // SMS-SUBMIT, no validity period, no user data header
  appendHex(hex, 0x00);    // message reference
  appendAddress(hex, number, type);
  return encodeSubmitBody(std::move(hex), utf8Text);
}

SubmitPdu encodeDeliverPdu(std::string_view number, int type, std::string_view timestamp,
                           std::string_view utf8Text) {
  std::string hex = "00";
  appendHex(hex, 0x04);  // SMS-DELIVER, no more messages, no user data header
  appendAddress(hex, number, type);
  return encodeSubmitBody(std::move(hex), utf8Text,
                          timestamp.size() == 7 ? timestamp : std::string_view("\0\0\0\0\0\0\0", 7));
}

namespace {

void appendAddress(std::string& hex, std::string_view number, int type) {
  if (type == kAlphanumericType && isAlphanumericSender(number)) {
    const std::string septets = *encodeGsmText(number);
    appendHex(hex, static_cast<unsigned>((septets.size() * 7 + 3) / 4));  // semi-octets used
    appendHex(hex, kAlphanumericType);
    appendPacked(hex, septets);
    return;
  }
  std::string digits;
  for (char c : number) {
    if (int v = semiOctet(c); v >= 0) digits.push_back(static_cast<char>(v));
  }
  // An address of more than 20 digits does not fit the address field.
  if (digits.size() > 20) digits.resize(20);
  appendHex(hex, static_cast<unsigned>(digits.size()));
  const bool usable = type >= 0x80 && type <= 0xFF && type != kAlphanumericType;
  appendHex(hex, usable ? static_cast<unsigned>(type) : 0x81u);
  for (std::size_t i = 0; i < digits.size(); i += 2) {
    const unsigned low = static_cast<unsigned char>(digits[i]);
    const unsigned high = i + 1 < digits.size() ? static_cast<unsigned char>(digits[i + 1]) : 0xF;
    appendHex(hex, high << 4 | low);
  }
}

SubmitPdu encodeSubmitBody(std::string hex, std::string_view utf8Text, std::string_view timestamp) {
  const std::string text = oneMessageText(utf8Text);
  appendHex(hex, 0x00);  // protocol identifier
  if (std::optional<std::string> septets = encodeGsmText(text)) {
    appendHex(hex, 0x00);  // data coding: GSM 7-bit
    for (unsigned char octet : timestamp) appendHex(hex, octet);
    appendHex(hex, static_cast<unsigned>(septets->size()));
    appendPacked(hex, *septets);
    return {hex, static_cast<int>(hex.size() / 2 - 1)};
  }
  const std::u16string units = toUtf16(utf8ToCodePoints(text));
  appendHex(hex, 0x08);  // data coding: UCS2
  for (unsigned char octet : timestamp) appendHex(hex, octet);
  appendHex(hex, static_cast<unsigned>(units.size() * 2));
  for (char16_t u : units) {
    appendHex(hex, static_cast<unsigned>(u) >> 8);
    appendHex(hex, u & 0xFFu);
  }
  return {hex, static_cast<int>(hex.size() / 2 - 1)};
}

}  // namespace

SmsLength smsLength(std::string_view utf8Text) {
  if (std::optional<std::string> septets = encodeGsmText(utf8Text)) {
    return {true, static_cast<int>(septets->size()), kSeptetsPerSms};
  }
  return {false, static_cast<int>(toUtf16(utf8ToCodePoints(utf8Text)).size()), kUcs2UnitsPerSms};
}

std::string oneMessageText(std::string_view utf8Text) {
  const bool gsm = fitsGsmAlphabet(utf8Text);
  const std::size_t room = gsm ? kSeptetsPerSms : kUcs2UnitsPerSms;
  std::size_t used = 0;
  std::string out;
  for (char32_t c : utf8ToCodePoints(utf8Text)) {
    std::size_t cost = 1;
    if (gsm) {
      cost = gsmCode(c)->extension ? 2 : 1;
    } else if (c > 0xFFFF) {
      cost = 2;  // a surrogate pair
    }
    if (used + cost > room) return out;
    used += cost;
    appendUtf8(out, c);
  }
  return std::string(utf8Text);  // it fits: the text as it stands
}

}  // namespace voryx::codec
