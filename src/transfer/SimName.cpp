#include "transfer/SimName.h"

#include <cstdint>
#include <optional>
#include <vector>

#include "transfer/GsmAlphabet.h"

namespace voryx::transfer {
namespace {

constexpr char16_t kReplacement = u'\uFFFD';

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The field's bytes; nullopt for a pair that is not hexadecimal. A lone last digit
// gives no byte.
std::vector<std::optional<std::uint8_t>> fieldBytes(std::string_view hex) {
  std::vector<std::optional<std::uint8_t>> bytes;
  bytes.reserve(hex.size() / 2);
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    int hi = hexValue(hex[i]);
    int lo = hexValue(hex[i + 1]);
    if (hi < 0 || lo < 0) {
      bytes.emplace_back();
    } else {
      bytes.emplace_back(static_cast<std::uint8_t>(hi * 16 + lo));
    }
  }
  return bytes;
}

void appendHex(std::string& out, unsigned byte, bool upper) {
  const char* digits = upper ? "0123456789ABCDEF" : "0123456789abcdef";
  out.push_back(digits[(byte >> 4) & 0xF]);
  out.push_back(digits[byte & 0xF]);
}

std::string hexByte(unsigned byte) {
  std::string s;
  appendHex(s, byte, false);
  return s;
}

bool isHighSurrogate(char16_t u) { return u >= 0xD800 && u <= 0xDBFF; }

// Septets of the plain form and of the low bytes of the 81 and 82 forms: the default
// alphabet, 1B xx for the extension table. A byte with the top bit set is no septet;
// it reads as its Latin-1 character, which is what some phones write.
void appendSeptets(std::u16string& out, const std::vector<std::optional<std::uint8_t>>& bytes,
                   std::size_t from, std::size_t to) {
  for (std::size_t i = from; i < to; ++i) {
    if (!bytes[i]) {
      out.push_back(kReplacement);
    } else if (*bytes[i] >= 0x80) {
      out.push_back(*bytes[i]);
    } else if (*bytes[i] == kGsmEscape && i + 1 < to && bytes[i + 1] && *bytes[i + 1] < 0x80) {
      out.push_back(static_cast<char16_t>(gsmEscapedChar(*bytes[++i])));
    } else if (*bytes[i] != kGsmEscape || i + 1 < to) {
      out.push_back(static_cast<char16_t>(gsmDefaultChar(*bytes[i])));
    }
  }
}

// The 81 and 82 forms after their header: `count` bytes from `from`, each below 0x80 a
// septet, else an offset from `pointer` (16-bit sum). A count larger than the field is
// limited to the bytes present; with an unreadable count every byte present counts.
std::u16string decodeWindow(const std::vector<std::optional<std::uint8_t>>& bytes,
                            std::size_t from, std::optional<std::uint8_t> count,
                            std::optional<std::uint16_t> pointer, const CodecLog& log) {
  std::size_t to = bytes.size();
  if (count && from + *count < to) to = from + *count;
  std::u16string units;
  std::size_t runStart = from;
  for (std::size_t i = from; i < to; ++i) {
    if (!bytes[i] || *bytes[i] < 0x80) continue;
    appendSeptets(units, bytes, runStart, i);
    runStart = i + 1;
    if (log) {
      log("81 nomeucs2[" + std::to_string(i) + "] |" + std::to_string(*bytes[i]) +
          "| puntatore |" + std::to_string(pointer ? (*pointer & 0x80) : 0) + "|\n");
    }
    units.push_back(pointer ? static_cast<char16_t>(*pointer + (*bytes[i] & 0x7F)) : kReplacement);
  }
  appendSeptets(units, bytes, runStart, to);
  return units;
}

// The name as the debug records show it: "<fffe", each UTF-16 unit low byte first,
// ">".
std::string nameHexText(const std::u16string& units) {
  std::string s = "<fffe";
  for (char16_t u : units) {
    appendHex(s, u & 0xFFu, false);
    appendHex(s, static_cast<unsigned>(u) >> 8, false);
  }
  return s + ">";
}

}  // namespace

std::string decodeSimName(std::string_view hex, const CodecLog& log) {
  const auto bytes = fieldBytes(hex);
  if (bytes.empty()) return {};
  const auto b0 = bytes[0];
  std::u16string units;
  if (b0 == 0x80) {
    for (std::size_t i = 1; i + 1 < bytes.size(); i += 2) {
      units.push_back(bytes[i] && bytes[i + 1]
                          ? static_cast<char16_t>(*bytes[i] << 8 | *bytes[i + 1])
                          : kReplacement);
    }
    while (!units.empty() && units.back() == 0xFFFF) units.pop_back();
  } else if (b0 == 0x81) {
    if (bytes.size() < 3) return {};
    std::optional<std::uint16_t> pointer;
    if (bytes[2]) pointer = static_cast<std::uint16_t>(*bytes[2] << 7);
    units = decodeWindow(bytes, 3, bytes[1], pointer, log);
  } else if (b0 == 0x82) {
    if (bytes.size() < 4) return {};
    std::optional<std::uint16_t> pointer;
    if (bytes[2] && bytes[3]) pointer = static_cast<std::uint16_t>(*bytes[2] << 8 | *bytes[3]);
    units = decodeWindow(bytes, 4, bytes[1], pointer, {});  // records are the 81 form's
  } else {
    std::size_t end = 0;
    while (end < bytes.size() && bytes[end] != 0xFF) ++end;
    appendSeptets(units, bytes, 0, end);
  }
  return utf16ToUtf8(units);
}

std::string encodeSimName(std::string_view utf8Name, int maxSIMLen, const CodecLog& log) {
  const std::size_t budget = maxSIMLen > 0 ? static_cast<std::size_t>(maxSIMLen) : 0;
  std::u16string units = toUtf16(utf8ToCodePoints(utf8Name));
  if (units.size() > budget) {
    units.resize(budget);
    if (!units.empty() && isHighSurrogate(units.back())) units.pop_back();
  }

  // Choice of form. `first` is the first unit with a non-zero high byte; the 81 form
  // holds such units only within the 128-character window of `first` (and below
  // U+8000, as the base byte carries bits 14 to 7), and other units only as one-byte
  // septets.
  std::optional<char16_t> first;
  bool tipo80 = false;
  bool escapes = false;
  for (char16_t u : units) {
    if (u > 0xFF) {
      if (!first) {
        first = u;
        tipo80 = tipo80 || u >= 0x8000;
      } else if ((u >> 7) != (*first >> 7)) {
        tipo80 = true;
      }
      if (log) {
        log("80 hex |" + hexByte(u >> 8) + "| charset |" + hexByte(*first >> 8) + "| tipo80 " +
            std::to_string(tipo80 ? 1 : 0) + "\n");
      }
    } else if (auto code = gsmCode(u); !code) {
      tipo80 = true;
    } else if (code->extension) {
      escapes = true;
    }
  }

  std::string out;
  if (!first && !tipo80) {
    // Plain form: an escape pair takes two bytes of the budget and is never split.
    std::size_t bytes = 0;
    for (char16_t u : units) {
      const GsmCode code = *gsmCode(u);
      if (bytes + (code.extension ? 2 : 1) > budget) break;
      if (code.extension) appendHex(out, kGsmEscape, false);
      appendHex(out, code.septet, false);
      bytes += code.extension ? 2 : 1;
    }
    return out;
  }

  if (!tipo80 && !escapes) {
    const unsigned base = (*first >> 7) & 0xFFu;
    const auto pointer = static_cast<char16_t>(base << 7);
    if (log) log("81 hex |" + nameHexText(units) + "| charset |" + hexByte(*first >> 8) + "|\n");
    // The count is one byte: never more than 255 characters, whatever the budget.
    const std::size_t room = budget > 258 ? 255 : budget > 3 ? budget - 3 : 0;
    const std::size_t count = units.size() < room ? units.size() : room;
    out = "81";
    appendHex(out, static_cast<unsigned>(count), true);
    appendHex(out, base, true);
    if (log) {
      log("ucs2 |" + out + "|    charsetI " + std::to_string(*first >> 8) + "    charsetI shifted " +
          std::to_string(base) + "\n");
    }
    for (std::size_t i = 0; i < count; ++i) {
      if (units[i] > 0xFF) {
        appendHex(out, static_cast<unsigned>(units[i] - pointer) | 0x80u, true);
        if (log) log("ucs21 |" + out + "|\n");
      } else {
        appendHex(out, gsmCode(units[i])->septet, true);
        if (log) log("ucs22 |" + out + "|\n");
      }
    }
    return out;
  }

  // 80 form. The fill counts hex characters against the byte budget: "FF" goes in
  // maxSIMLen minus the text's length times, which keeps the field within the budget.
  if (log) log("80 hex |" + nameHexText(units) + "| \n");
  out = "80";
  std::size_t bytes = 1;
  std::size_t i = 0;
  while (i < units.size() && bytes + 1 < budget) {
    const std::size_t width = isHighSurrogate(units[i]) && i + 1 < units.size() ? 2 : 1;
    if (bytes + 2 * width > budget) break;  // a surrogate pair is never split
    for (std::size_t k = i; k < i + width; ++k) {
      appendHex(out, static_cast<unsigned>(units[k]) >> 8, false);
      appendHex(out, units[k] & 0xFFu, false);
    }
    bytes += 2 * width;
    i += width;
  }
  for (std::size_t length = out.size(); length < budget; ++length) out += "FF";
  return out;
}

std::string filterNumber(std::string_view number, bool keepPlus) {
  std::string out;
  for (char c : number) {
    if ((c >= '0' && c <= '9') || c == ';' || c == ',' || c == '#' || c == '*' ||
        (keepPlus && c == '+')) {
      out.push_back(c);
    }
  }
  return out;
}

int numberType(std::string_view number) { return !number.empty() && number[0] == '+' ? 145 : 129; }

}  // namespace voryx::transfer
