#include "codec/SimName.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <vector>

#include "base/Text.h"
#include "codec/GsmAlphabet.h"

namespace voryx::codec {
namespace {

constexpr char16_t kReplacement = u'\uFFFD';

// The field's bytes; nullopt for a pair that is not hexadecimal. A lone last digit
// gives no byte.
std::vector<std::optional<std::uint8_t>> fieldBytes(std::string_view hex) {
  std::vector<std::optional<std::uint8_t>> bytes;
  bytes.reserve(hex.size() / 2);
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    int hi = hexDigitValue(hex[i]);
    int lo = hexDigitValue(hex[i + 1]);
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
// septet, else an offset from `pointer` (16-bit sum). Every byte inside the count is a
// character, FF too (the window's last one); only the bytes past it are padding. A count larger than the field is limited to the bytes
// present. With an unreadable count there is no telling where the name ends: every byte
// present counts but the FF bytes at the end, which are then taken for padding.
std::u16string decodeWindow(const std::vector<std::optional<std::uint8_t>>& bytes,
                            std::size_t from, std::optional<std::uint8_t> count,
                            std::optional<std::uint16_t> pointer, const CodecLog& log) {
  std::size_t to = bytes.size();
  if (count && from + *count < to) to = from + *count;
  if (!count) {
    while (to > from && bytes[to - 1] == 0xFF) --to;
  }
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
    // The bytes after the tag in pairs, up to the first pair FF FF (the padding); a lone
    // byte left at the end is no unit. Pairing comes first: an FF is padding only as half
    // of such a pair, since a unit may end in FF (U+5BFF, U+00FF).
    for (std::size_t i = 1; i + 1 < bytes.size(); i += 2) {
      if (bytes[i] == 0xFF && bytes[i + 1] == 0xFF) break;
      units.push_back(bytes[i] && bytes[i + 1]
                          ? static_cast<char16_t>(*bytes[i] << 8 | *bytes[i + 1])
                          : kReplacement);
    }
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

namespace {

bool isSurrogate(char16_t u) { return u >= 0xD800 && u <= 0xDFFF; }

// A unit the 81 and 82 forms store as one septet: a default-alphabet character.
bool isSeptet(char16_t u) {
  auto code = gsmCode(u);
  return code && !code->extension;
}

// The plain form's size: one byte a default character, two an extension character;
// nothing when a unit is outside the GSM alphabet.
std::optional<std::size_t> plainBytes(std::u16string_view units) {
  std::size_t bytes = 0;
  for (char16_t u : units) {
    auto code = gsmCode(u);
    if (!code) return std::nullopt;
    bytes += code->extension ? 2 : 1;
  }
  return bytes;
}

// The smallest and largest unit the 81 and 82 forms must store as an offset from their
// base pointer; nothing when a unit cannot be one (a surrogate); {0, 0} when none.
struct Span {
  char16_t low = 0xFFFF;
  char16_t high = 0;
  bool any() const { return high >= low; }
};
std::optional<Span> offsetSpan(std::u16string_view units) {
  Span span;
  for (char16_t u : units) {
    if (isSeptet(u)) continue;
    if (isSurrogate(u)) return std::nullopt;
    span.low = std::min(span.low, u);
    span.high = std::max(span.high, u);
  }
  return span;
}

// The base pointer of the 81 form (a multiple of 128 below U+8000, as its base byte
// carries bits 14 to 7) when every offset unit lies in its window.
std::optional<char16_t> pointer81(const Span& span) {
  if (!span.any()) return std::nullopt;  // a name of septets only is plain
  if ((span.low >> 7) != (span.high >> 7) || span.high >= 0x8000) return std::nullopt;
  return static_cast<char16_t>(span.low & 0xFF80);
}

// The base pointer of the 82 form: any 16-bit value, the window's 128 characters from it.
std::optional<char16_t> pointer82(const Span& span) {
  if (!span.any() || span.high - span.low > 0x7F) return std::nullopt;
  return span.low;
}

enum class Form { Plain, Window81, Window82, Ucs2 };

struct Choice {
  Form form;
  std::size_t bytes;
  char16_t pointer = 0;
};

// The most compact standard form that holds these units within `budget` bytes (ties go
// to the earlier of plain, 81, 82, 80); nothing when none does. With no budget (and no
// limit on the 81 and 82 forms' one-byte count) it tells which forms can hold the
// characters at all.
constexpr std::size_t kNoBudget = SIZE_MAX;
std::optional<Choice> bestForm(std::u16string_view units, std::size_t budget) {
  std::optional<Choice> best;
  auto consider = [&](Choice c) {
    if (c.bytes <= budget && (!best || c.bytes < best->bytes)) best = c;
  };
  if (auto bytes = plainBytes(units)) consider({Form::Plain, *bytes});
  // A last byte FF is no trouble in any of these: the window forms' count says where the
  // name ends, and the 80 form's units are read in pairs before any padding.
  if (auto span = offsetSpan(units); span && (units.size() <= 255 || budget == kNoBudget)) {
    if (auto p = pointer81(*span)) consider({Form::Window81, 3 + units.size(), *p});
    if (auto p = pointer82(*span)) consider({Form::Window82, 4 + units.size(), *p});
  }
  consider({Form::Ucs2, 1 + 2 * units.size()});
  return best;
}

std::string encodePlain(std::u16string_view units) {
  std::string out;
  for (char16_t u : units) {
    const GsmCode code = *gsmCode(u);
    if (code.extension) appendHex(out, kGsmEscape, false);
    appendHex(out, code.septet, false);
  }
  return out;
}

// The 81 and 82 forms: header, then a septet for each default character and an offset
// (with the top bit set) for each other one.
std::string encodeWindow(std::u16string_view units, const Choice& c, const CodecLog& log) {
  std::string out = c.form == Form::Window81 ? "81" : "82";
  appendHex(out, static_cast<unsigned>(units.size()), true);
  if (c.form == Form::Window81) {
    const unsigned base = static_cast<unsigned>(c.pointer) >> 7;
    if (log) log("81 hex |" + nameHexText(std::u16string(units)) + "| charset |" + hexByte(base >> 1) + "|\n");
    appendHex(out, base, true);
    if (log) {
      log("ucs2 |" + out + "|    charsetI " + std::to_string(base >> 1) + "    charsetI shifted " +
          std::to_string(base) + "\n");
    }
  } else {
    appendHex(out, static_cast<unsigned>(c.pointer) >> 8, true);
    appendHex(out, c.pointer & 0xFFu, true);
  }
  for (char16_t u : units) {
    if (isSeptet(u)) {
      appendHex(out, gsmCode(u)->septet, true);
      if (log && c.form == Form::Window81) log("ucs22 |" + out + "|\n");
    } else {
      appendHex(out, static_cast<unsigned>(u - c.pointer) | 0x80u, true);
      if (log && c.form == Form::Window81) log("ucs21 |" + out + "|\n");
    }
  }
  return out;
}

// The 80 form, cut to the budget: the name's first `budget` units, then as many as fit
// (a surrogate pair is never split), filled with "FF": the fill counts hex characters
// against the byte budget, "FF" going in maxSIMLen minus the text's length times.
std::string encodeUcs2(std::u16string units, std::size_t budget, const CodecLog& log) {
  if (units.size() > budget) {
    units.resize(budget);
    if (!units.empty() && isHighSurrogate(units.back())) units.pop_back();
  }
  if (log) log("80 hex |" + nameHexText(units) + "| \n");
  std::string out = "80";
  std::size_t bytes = 1;
  std::size_t i = 0;
  while (i < units.size() && bytes + 1 < budget) {
    const std::size_t width = isHighSurrogate(units[i]) && i + 1 < units.size() ? 2 : 1;
    if (bytes + 2 * width > budget) break;
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

}  // namespace

std::string encodeSimName(std::string_view utf8Name, int maxSIMLen, const CodecLog& log) {
  const std::size_t budget = maxSIMLen > 0 ? static_cast<std::size_t>(maxSIMLen) : 0;
  const std::u16string units = toUtf16(utf8ToCodePoints(utf8Name));
  const Form wholeForm = bestForm(units, kNoBudget)->form;
  if (log) {
    // One record per unit with a high byte: its high byte, the first one's, and whether
    // the name needs the 80 form.
    std::optional<char16_t> first;
    for (char16_t u : units) {
      if (u <= 0xFF) continue;
      if (!first) first = u;
      log("80 hex |" + hexByte(u >> 8) + "| charset |" + hexByte(*first >> 8) + "| tipo80 " +
          (wholeForm == Form::Ucs2 ? "1" : "0") + "\n");
    }
  }
  auto encode = [&](std::u16string_view name, const Choice& c) -> std::string {
    switch (c.form) {
      case Form::Plain: return encodePlain(name);
      case Form::Window81:
      case Form::Window82: return encodeWindow(name, c, log);
      case Form::Ucs2: break;
    }
    return encodeUcs2(std::u16string(name), budget, log);
  };

  if (auto c = bestForm(units, budget)) return encode(units, *c);
  // Too long for every form. A name only the 80 form can hold is first cut to maxSIMLen
  // units; when that still needs the 80 form, the form cuts and fills it.
  std::u16string_view name = units;
  if (wholeForm == Form::Ucs2) {
    name = name.substr(0, std::min(budget, name.size()));
    if (!name.empty() && isHighSurrogate(name.back())) name.remove_suffix(1);
    if (bestForm(name, kNoBudget)->form == Form::Ucs2) return encodeUcs2(std::u16string(name), budget, log);
  }
  // Otherwise the longest beginning that a form holds (never half a surrogate pair).
  // Every form takes a byte a character at least, and a form that holds a beginning
  // holds every shorter one: a binary search over at most `budget` characters.
  auto whole = [&](std::size_t k) {
    return k > 0 && isHighSurrogate(name[k - 1]) ? k - 1 : k;
  };
  std::size_t fits = 0;
  std::size_t over = std::min(name.size(), budget) + 1;
  while (over - fits > 1) {
    const std::size_t mid = fits + (over - fits) / 2;
    (bestForm(name.substr(0, whole(mid)), budget) ? fits : over) = mid;
  }
  name = name.substr(0, whole(fits));
  if (auto c = bestForm(name, budget)) return encode(name, *c);
  return {};
}

std::string fitSimName(std::string_view utf8Name, int maxSIMLen) {
  const std::u32string name = utf8ToCodePoints(utf8Name);
  // Every stored form decodes to exactly the characters it holds, one for one.
  const std::size_t held = utf8ToCodePoints(decodeSimName(encodeSimName(utf8Name, maxSIMLen))).size();
  std::string out;
  for (std::size_t i = 0; i < std::min(held, name.size()); ++i) appendUtf8(out, name[i]);
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

namespace {

// What goes without a word between the digits of a typed number.
bool isSeparator(char32_t c) {
  if (c < 0x20 || (c >= 0x7F && c <= 0x9F)) return true;  // control characters
  switch (c) {
    case U' ': case U'-': case U'.': case U'/': case U'(': case U')':
    case 0xA0:     // no-break space
    case 0xAD:     // soft hyphen
    case 0x2212:   // minus sign
    case 0x202F:   // narrow no-break space
    case 0x205F:   // medium mathematical space
    case 0x2060:   // word joiner
    case 0x3000:   // ideographic space
    case 0xFEFF:   // byte-order mark
      return true;
    default:
      break;
  }
  return (c >= 0x2000 && c <= 0x200F)     // the wide and thin spaces, zero-width ones, direction marks
         || (c >= 0x2010 && c <= 0x2015)  // hyphens and dashes
         || (c >= 0x202A && c <= 0x202E);  // direction embeddings around a pasted number
}

bool isBlank(char32_t c) { return c == U' ' || c == 0xA0; }

// At `at` (a "("), the length of "(0)", blanks allowed inside; 0 when it is not one.
std::size_t trunkZero(const std::u32string& text, std::size_t at) {
  std::size_t i = at + 1;
  while (i < text.size() && isBlank(text[i])) ++i;
  if (i >= text.size() || text[i] != U'0') return 0;
  ++i;
  while (i < text.size() && isBlank(text[i])) ++i;
  if (i >= text.size() || text[i] != U')') return 0;
  return i + 1 - at;
}

bool isCountryCode(std::string_view kept) {
  return kept.size() >= 2 && kept.size() <= 4 && kept[0] == '+' &&
         std::all_of(kept.begin() + 1, kept.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

bool keepsTrunkZero(std::string_view code) { return code == "+39" || code == "+378" || code == "+379"; }

TypedNumber readTypedNumber(std::string_view typed) {
  const std::u32string text = utf8ToCodePoints(typed);
  TypedNumber out;
  auto refuse = [&out](TypedNumber::Fault fault, char32_t c) {
    out.number.clear();
    out.fault = fault;
    out.character.clear();
    appendUtf8(out.character, c);
    return out;
  };
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char32_t c = text[i];
    if ((c >= U'0' && c <= U'9') || c == U'*' || c == U'#') {
      out.number.push_back(static_cast<char>(c));
    } else if (c == U',' || c == U'p' || c == U'P') {
      out.number.push_back(',');
    } else if (c == U'+') {
      if (!out.number.empty()) return refuse(TypedNumber::Fault::PlusInside, c);
      out.number.push_back('+');
    } else if (c == U'(' && isCountryCode(out.number) && trunkZero(text, i) > 0) {
      if (keepsTrunkZero(out.number)) out.number.push_back('0');
      i += trunkZero(text, i) - 1;
    } else if (isSeparator(c)) {
      continue;
    } else if (c == U'w' || c == U'W' || c == U';') {
      return refuse(TypedNumber::Fault::Wait, c);
    } else {
      return refuse(TypedNumber::Fault::Character, c);
    }
  }
  if (out.number == "+") {
    out.number.clear();
    out.fault = TypedNumber::Fault::PlusAlone;
  }
  return out;
}

int numberType(std::string_view number) { return !number.empty() && number[0] == '+' ? 145 : 129; }

}  // namespace voryx::codec
