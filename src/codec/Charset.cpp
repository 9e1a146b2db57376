#include "codec/Charset.h"

#include <algorithm>
#include <array>
#include <charconv>

#include "base/Text.h"
#include "codec/GsmAlphabet.h"
#include "codec/SmsPdu.h"

namespace voryx::codec {
namespace {

struct Named {
  Charset cs;
  std::string_view name;
};
constexpr std::array<Named, 5> kNames{{{Charset::Hex, "HEX"},
                                       {Charset::Ucs2, "UCS2"},
                                       {Charset::Gsm, "GSM"},
                                       {Charset::Ira, "IRA"},
                                       {Charset::Utf8, "UTF-8"}}};

constexpr char32_t kReplacement = 0xFFFD;
// A septet the line cannot carry raw inside a quoted field: it would end the field ('"'),
// start an escape ('\'), or end or edit the command line (control bytes, DEL).
bool needsEscape(unsigned char b) { return b < 0x20 || b == '"' || b == '\\' || b == 0x7F; }

void appendHex(std::string& out, unsigned byte) {
  constexpr const char* kDigits = "0123456789ABCDEF";
  out.push_back(kDigits[(byte >> 4) & 0xF]);
  out.push_back(kDigits[byte & 0xF]);
}

std::string upper(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
}

// Bytes from the line taken as UTF-8; what is not UTF-8 becomes U+FFFD.
std::string asUtf8(std::string_view text) {
  std::string out;
  for (char32_t c : utf8ToCodePoints(text)) appendUtf8(out, c);
  return out;
}

// Whole 16-bit units of hexadecimal ("0041D83DDE00"); none for anything else.
std::optional<std::u16string> hexUnits(std::string_view hex) {
  if (hex.empty() || hex.size() % 4 != 0) return std::nullopt;
  std::u16string units;
  for (std::size_t i = 0; i < hex.size(); i += 4) {
    unsigned unit = 0;
    for (std::size_t k = i; k < i + 4; ++k) {
      const int v = hexDigitValue(hex[k]);
      if (v < 0) return std::nullopt;
      unit = unit << 4 | static_cast<unsigned>(v);
    }
    units.push_back(static_cast<char16_t>(unit));
  }
  return units;
}

// Whole bytes of hexadecimal; none for anything else.
std::optional<std::string> hexBytes(std::string_view hex) {
  if (hex.empty()) return std::nullopt;
  return hexDecode(hex);
}

// The "\hh" escapes of a quoted field resolved; a backslash without two hexadecimal
// digits after it stays.
std::string unescape(std::string_view field) {
  std::string out;
  for (std::size_t i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && i + 2 < field.size() && hexDigitValue(field[i + 1]) >= 0 &&
        hexDigitValue(field[i + 2]) >= 0) {
      out.push_back(static_cast<char>(hexDigitValue(field[i + 1]) * 16 + hexDigitValue(field[i + 2])));
      i += 2;
    } else {
      out.push_back(field[i]);
    }
  }
  return out;
}

bool isDialCharacter(char16_t u) {
  return (u >= '0' && u <= '9') || u == '+' || u == '*' || u == '#' || u == ',' || u == ';' ||
         u == 'p' || u == 'w' || u == 'P' || u == 'W';
}

// Under GSM and IRA: the name as septet bytes (IRA: ASCII bytes) within `budget` bytes of
// the SIM's plain form, '?' for a character the set lacks.
std::string plainBytes(std::string_view utf8Name, Charset cs, std::size_t budget) {
  std::string out;
  std::size_t used = 0;
  for (char32_t c : utf8ToCodePoints(utf8Name)) {
    const std::optional<GsmCode> code = gsmCode(c);
    const std::size_t size = code && code->extension ? 2 : 1;  // what the SIM stores
    if (used + size > budget) break;
    used += size;
    if (cs == Charset::Ira) {
      out.push_back(c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '?');
    } else if (!code) {
      out.push_back('?');
    } else {
      if (code->extension) out.push_back(static_cast<char>(kGsmEscape));
      out.push_back(static_cast<char>(code->septet));
    }
  }
  return out;
}

}  // namespace

std::string_view charsetName(Charset cs) {
  for (const Named& n : kNames) {
    if (n.cs == cs) return n.name;
  }
  return "IRA";
}

std::optional<Charset> charsetFromName(std::string_view name) {
  const std::string wanted = upper(name);
  if (wanted == "UTF8") return Charset::Utf8;
  for (const Named& n : kNames) {
    if (n.name == wanted) return n.cs;
  }
  return std::nullopt;
}

std::string decodeName(std::string_view field, Charset cs, const CodecLog& log) {
  switch (cs) {
    case Charset::Hex:
      return decodeSimName(field, log);
    case Charset::Ucs2:
      if (auto units = hexUnits(field)) return utf16ToUtf8(*units);
      return asUtf8(field);
    case Charset::Gsm:
      return decodeGsmText(unescape(field));
    case Charset::Ira:
      return asUtf8(unescape(field));
    case Charset::Utf8:
      break;
  }
  return asUtf8(field);
}

std::string encodeName(std::string_view utf8Name, Charset cs, int maxSIMLen, const CodecLog& log) {
  const std::size_t budget = maxSIMLen > 0 ? static_cast<std::size_t>(maxSIMLen) : 0;
  switch (cs) {
    case Charset::Hex:
      return encodeSimName(utf8Name, maxSIMLen, log);
    case Charset::Ucs2: {
      // The SIM may store the name in its 80 form: one byte, then two a unit.
      std::u16string units = toUtf16(utf8ToCodePoints(utf8Name));
      const std::size_t room = budget > 0 ? (budget - 1) / 2 : 0;
      if (units.size() > room) {
        units.resize(room);
        if (!units.empty() && units.back() >= 0xD800 && units.back() <= 0xDBFF) units.pop_back();
      }
      std::string out;
      for (char16_t u : units) {
        appendHex(out, static_cast<unsigned>(u) >> 8);
        appendHex(out, u & 0xFFu);
      }
      return out;
    }
    case Charset::Gsm:
    case Charset::Ira:
    case Charset::Utf8:
      break;
  }
  std::string out;
  for (char c : plainBytes(utf8Name, cs == Charset::Ira ? cs : Charset::Gsm, budget)) {
    const auto b = static_cast<unsigned char>(c);
    if (needsEscape(b)) {
      out.push_back('\\');
      appendHex(out, b);
    } else {
      out.push_back(c);
    }
  }
  return out;
}

std::string decodeNumber(std::string_view field, Charset cs) {
  if (cs == Charset::Ucs2) {
    auto units = hexUnits(field);
    if (units && std::all_of(units->begin(), units->end(), isDialCharacter)) {
      return std::string(units->begin(), units->end());
    }
  }
  return asUtf8(field);
}

namespace {

// A type field of TON 101 (alphanumeric): 208 to 223.
bool isAlphanumericType(std::string_view type) {
  while (!type.empty() && type.front() == ' ') type.remove_prefix(1);
  while (!type.empty() && type.back() == ' ') type.remove_suffix(1);
  int value = 0;
  auto [end, ec] = std::from_chars(type.data(), type.data() + type.size(), value);
  return ec == std::errc{} && end == type.data() + type.size() && value >= 0x80 && value <= 0xFF &&
         (value & 0x70) == 0x50;
}

// Units a sender's name is made of: no control character, no surrogate without its other
// half, nothing private, unassigned by design or already a replacement.
bool readsAsText(std::u16string_view units) {
  for (std::size_t i = 0; i < units.size(); ++i) {
    const char16_t u = units[i];
    if (u < 0x20 || (u >= 0x7F && u < 0xA0) || (u >= 0xE000 && u <= 0xF8FF) || u >= 0xFFFD) return false;
    if (u >= 0xDC00 && u <= 0xDFFF) return false;
    if (u >= 0xD800 && u <= 0xDBFF) {
      if (i + 1 >= units.size() || units[i + 1] < 0xDC00 || units[i + 1] > 0xDFFF) return false;
      ++i;
    }
  }
  return true;
}

}  // namespace

std::string decodeSender(std::string_view field, std::string_view type, Charset cs) {
  const bool alphanumeric = isAlphanumericType(type);
  if (cs == Charset::Ucs2) {
    auto units = hexUnits(field);
    if (units && !std::all_of(units->begin(), units->end(), isDialCharacter) && readsAsText(*units)) {
      const bool digitsOnly = std::all_of(field.begin(), field.end(), [](char c) { return c >= '0' && c <= '9'; });
      const bool ascii = std::all_of(units->begin(), units->end(), [](char16_t u) { return u < 0x80; });
      if (!digitsOnly || (alphanumeric && ascii)) return utf16ToUtf8(*units);
    }
  } else if (cs == Charset::Gsm && alphanumeric) {
    return decodeGsmText(field);
  }
  return decodeNumber(field, cs);
}

std::string decodeMessageText(std::string_view text, Charset cs) {
  switch (cs) {
    case Charset::Gsm:
      return decodeGsmText(text);
    case Charset::Ucs2:
      if (auto units = hexUnits(text)) return utf16ToUtf8(*units);
      break;
    case Charset::Hex:
      if (auto septets = hexBytes(text)) return decodeGsmText(*septets);
      break;
    case Charset::Ira:
    case Charset::Utf8:
      break;
  }
  return asUtf8(text);
}

std::optional<std::string> encodeMessageText(std::string_view utf8Text, Charset cs) {
  if (cs == Charset::Gsm) {
    if (needsPduMode(utf8Text)) return std::nullopt;
    return encodeGsmText(utf8Text);
  }
  if (cs != Charset::Ira) return std::nullopt;
  constexpr std::string_view kMoved = "@$_`[]{}\\^~|";
  for (char c : utf8Text) {
    const auto b = static_cast<unsigned char>(c);
    const bool plain = (b >= 0x20 && b < 0x7F && kMoved.find(c) == std::string_view::npos) ||
                       c == '\n' || c == '\r';
    if (!plain) return std::nullopt;
  }
  return std::string(utf8Text);
}

int nameSetBit(Charset cs) {
  switch (cs) {
    case Charset::Hex: return kNameSetHex;
    case Charset::Gsm: return kNameSetGsm;
    case Charset::Ira: return kNameSetIra;
    case Charset::Ucs2: return kNameSetUcs2;
    case Charset::Utf8: return 0;
  }
  return 0;
}

Charset nameSetFor(std::string_view utf8Name, const std::function<bool(Charset)>& mayUse,
                   Charset fallback) {
  if (mayUse(Charset::Gsm) && fitsGsmAlphabet(utf8Name)) return Charset::Gsm;
  if (mayUse(Charset::Ira) && encodeMessageText(utf8Name, Charset::Ira)) return Charset::Ira;
  return mayUse(Charset::Ucs2) ? Charset::Ucs2 : fallback;
}

std::string fitNameForSets(std::string_view utf8Name, int maxSIMLen, int nameSets) {
  if (nameSets == 0 || (nameSets & kNameSetHex) != 0) return fitSimName(utf8Name, maxSIMLen);
  const Charset fallback = (nameSets & kNameSetGsm) != 0 ? Charset::Gsm : Charset::Ira;
  const Charset cs = nameSetFor(
      utf8Name, [nameSets](Charset c) { return (nameSets & nameSetBit(c)) != 0; }, fallback);
  // Each character the set lacks goes as one "?": the SIM keeps as many characters as the
  // name sent decodes to, and the edit keeps that many of its own.
  const std::size_t kept = utf8ToCodePoints(decodeName(encodeName(utf8Name, cs, maxSIMLen), cs)).size();
  const std::u32string all = utf8ToCodePoints(utf8Name);
  if (kept >= all.size()) return std::string(utf8Name);
  std::string out;
  for (std::size_t i = 0; i < kept; ++i) appendUtf8(out, all[i]);
  return out;
}

}  // namespace voryx::codec
