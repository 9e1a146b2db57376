#include "transfer/SmsPdu.h"

#include <cstdint>
#include <optional>

#include "transfer/GsmAlphabet.h"

namespace voryx::transfer {
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

}  // namespace

bool needsPduMode(std::string_view utf8Text) {
  auto septets = encodeGsmText(utf8Text);
  return !septets || septets->find_first_of("\x08\x1A\x1B\x7F") != std::string::npos;
}

SubmitPdu encodeSubmitPdu(std::string_view number, int type, std::string_view utf8Text) {
  std::string digits;
  for (char c : number) {
    if (int v = semiOctet(c); v >= 0) digits.push_back(static_cast<char>(v));
  }
  // A destination of more than 20 digits does not fit the address field.
  if (digits.size() > 20) digits.resize(20);

  std::string hex = "00";  // no service centre: the modem's own is used
  appendHex(hex, 0x01);    // SMS-SUBMIT, no validity period, no user data header
  appendHex(hex, 0x00);    // message reference
  appendHex(hex, static_cast<unsigned>(digits.size()));
  appendHex(hex, type >= 0x80 && type <= 0xFF ? static_cast<unsigned>(type) : 0x81u);
  for (std::size_t i = 0; i < digits.size(); i += 2) {
    const unsigned low = static_cast<unsigned char>(digits[i]);
    const unsigned high = i + 1 < digits.size() ? static_cast<unsigned char>(digits[i + 1]) : 0xF;
    appendHex(hex, high << 4 | low);
  }
  appendHex(hex, 0x00);  // protocol identifier
  if (std::optional<std::string> septets = encodeGsmText(utf8Text)) {
    if (septets->size() > static_cast<std::size_t>(kSeptetsPerSms)) {
      septets->resize(kSeptetsPerSms);
      if (static_cast<std::uint8_t>(septets->back()) == kGsmEscape) septets->pop_back();
    }
    appendHex(hex, 0x00);  // data coding: GSM 7-bit
    appendHex(hex, static_cast<unsigned>(septets->size()));
    // Eight septets in seven octets, the first septet in the low bits of the first octet.
    unsigned bits = 0;
    int held = 0;
    for (char septet : *septets) {
      bits |= (static_cast<unsigned>(septet) & 0x7Fu) << held;
      held += 7;
      while (held >= 8) {
        appendHex(hex, bits & 0xFFu);
        bits >>= 8;
        held -= 8;
      }
    }
    if (held > 0) appendHex(hex, bits & 0xFFu);
    return {hex, static_cast<int>(hex.size() / 2 - 1)};
  }
  std::u16string units = toUtf16(utf8ToCodePoints(utf8Text));
  if (units.size() > static_cast<std::size_t>(kUcs2UnitsPerSms)) {
    units.resize(kUcs2UnitsPerSms);
    if (units.back() >= 0xD800 && units.back() <= 0xDBFF) units.pop_back();
  }
  appendHex(hex, 0x08);  // data coding: UCS2
  appendHex(hex, static_cast<unsigned>(units.size() * 2));
  for (char16_t u : units) {
    appendHex(hex, static_cast<unsigned>(u) >> 8);
    appendHex(hex, u & 0xFFu);
  }
  return {hex, static_cast<int>(hex.size() / 2 - 1)};
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

}  // namespace voryx::transfer
