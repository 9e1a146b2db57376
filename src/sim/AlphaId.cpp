#include "sim/AlphaId.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "sim/Gsm7.h"
#include "sim/Text.h"

namespace voryx::sim {
namespace {

constexpr char32_t kBad = 0xFFFD;
constexpr std::uint8_t kEscape = 0x1B;

std::uint8_t byteAt(std::string_view s, std::size_t i) { return static_cast<std::uint8_t>(s[i]); }

// One GSM default character (no escape) for a byte below 0x80.
char32_t gsmChar(std::uint8_t b) {
  auto decoded = gsm7::decode(std::string(1, static_cast<char>(b)));
  return decoded && decoded->size() == 1 ? (*decoded)[0] : kBad;
}

// The single septet of `c`, or -1 when `c` needs the extension table or is not in it.
int singleSeptet(char32_t c) {
  auto septets = gsm7::encode(std::u32string_view(&c, 1));
  return septets && septets->size() == 1 ? static_cast<std::uint8_t>((*septets)[0]) : -1;
}

// The one-byte-per-character body of the 81 and 82 forms over the window [base, base+127];
// none when a character is neither in the window nor a single GSM septet.
std::optional<std::string> windowBytes(std::u32string_view name, char32_t base) {
  std::string out;
  for (char32_t c : name) {
    if (c >= base && c - base < 0x80) {
      out += static_cast<char>(0x80 | (c - base));
    } else if (int s = singleSeptet(c); s >= 0) {
      out += static_cast<char>(s);
    } else {
      return std::nullopt;
    }
  }
  return out;
}

// The characters that must come from the window: those with no single septet.
std::vector<char32_t> windowChars(std::u32string_view name) {
  std::vector<char32_t> out;
  for (char32_t c : name) {
    if (singleSeptet(c) < 0) out.push_back(c);
  }
  return out;
}

// The plain form's septets: the field up to its trailing FF padding.
std::string_view withoutTrailingFF(std::string_view field) {
  while (!field.empty() && byteAt(field, field.size() - 1) == 0xFF) field.remove_suffix(1);
  return field;
}

// The 80 form's UTF-16 units: the bytes after the tag in pairs, up to the first pair
// FF FF; a lone last byte is none. Pairs come first: a unit may end in FF (U+5BFF).
std::size_t ucs2Units(std::string_view field) {
  std::size_t n = 0;
  for (std::size_t i = 1; i + 1 < field.size(); i += 2, ++n) {
    if (byteAt(field, i) == 0xFF && byteAt(field, i + 1) == 0xFF) break;
  }
  return n;
}

// The 81 and 82 forms' header size.
std::size_t windowHead(std::uint8_t form) { return form == 0x81 ? 3 : 4; }

}  // namespace

std::string_view alphaContent(std::string_view field) {
  if (field.empty()) return field;
  const std::uint8_t form = byteAt(field, 0);
  if (form == 0x80) return field.substr(0, 1 + 2 * ucs2Units(field));
  if ((form == 0x81 || form == 0x82) && field.size() >= windowHead(form)) {
    return field.substr(0, windowHead(form) + byteAt(field, 1));  // substr stops at the end
  }
  return withoutTrailingFF(field);
}

std::u32string decodeAlpha(std::string_view field) {
  std::u32string out;
  if (field.empty() || byteAt(field, 0) == 0xFF) return out;
  const std::uint8_t form = byteAt(field, 0);
  if (form == 0x80) {
    // UTF-16 units up to the padding; a surrogate pair is one character, a surrogate
    // without its other half none.
    std::u16string units;
    const std::size_t count = ucs2Units(field);
    for (std::size_t k = 0; k < count; ++k) {
      units.push_back(static_cast<char16_t>(byteAt(field, 1 + 2 * k) << 8 | byteAt(field, 2 + 2 * k)));
    }
    for (std::size_t i = 0; i < units.size(); ++i) {
      const char32_t u = units[i];
      if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
          units[i + 1] <= 0xDFFF) {
        out.push_back(0x10000 + ((u - 0xD800) << 10) + (units[++i] - 0xDC00u));
      } else {
        out.push_back(u >= 0xD800 && u <= 0xDFFF ? kBad : u);
      }
    }
    return out;
  }
  if (form == 0x81 || form == 0x82) {
    const std::size_t head = windowHead(form);
    if (field.size() < head) return out;
    const char32_t base = form == 0x81 ? static_cast<char32_t>(byteAt(field, 2)) << 7
                                       : (static_cast<char32_t>(byteAt(field, 2)) << 8) |
                                             byteAt(field, 3);
    // Exactly the count's bytes (or those present): each is a character whatever its
    // value, FF being the window's last one; the bytes past the count are padding.
    const std::size_t end = alphaContent(field).size();
    for (std::size_t i = head; i < end; ++i) {
      const std::uint8_t b = byteAt(field, i);
      if (b >= 0x80) {
        out.push_back((base + (b & 0x7Fu)) & 0xFFFF);
      } else if (b != kEscape) {
        out.push_back(gsmChar(b));
      } else if (i + 1 < end && byteAt(field, i + 1) < 0x80) {  // an extension character
        if (auto pair = gsm7::decode(field.substr(i, 2))) out += *pair;
        ++i;
      }  // an escape with nothing to escape is dropped
    }
    return out;
  }
  // Plain: unpacked septets up to the padding, extension characters after an escape. A
  // last escape escapes nothing (the name was cut inside a pair): dropped.
  std::string_view septets = withoutTrailingFF(field);
  if (!septets.empty() && byteAt(septets, septets.size() - 1) == kEscape) septets.remove_suffix(1);
  std::size_t start = 0;
  for (std::size_t i = 0; i <= septets.size(); ++i) {
    if (i == septets.size() || byteAt(septets, i) >= 0x80) {
      if (auto part = gsm7::decode(septets.substr(start, i - start))) out += *part;
      if (i < septets.size()) out.push_back(kBad);
      start = i + 1;
    }
  }
  return out;
}

std::optional<std::string> encodeAlpha81(std::u32string_view name) {
  const auto wanted = windowChars(name);
  if (name.size() > 0xFF) return std::nullopt;
  const char32_t first = wanted.empty() ? 0 : wanted.front();
  if (first >= 0x8000) return std::nullopt;
  const char32_t base = first & ~char32_t{0x7F};
  auto body = windowBytes(name, base);
  if (!body) return std::nullopt;
  std::string out{static_cast<char>(0x81), static_cast<char>(name.size()),
                  static_cast<char>(base >> 7)};
  return out + *body;
}

std::optional<std::string> encodeAlpha82(std::u32string_view name) {
  const auto wanted = windowChars(name);
  if (name.size() > 0xFF) return std::nullopt;
  char32_t base = 0;
  if (!wanted.empty()) {
    base = wanted.front();
    for (char32_t c : wanted) base = std::min(base, c);
  }
  if (base > 0xFFFF) return std::nullopt;
  auto body = windowBytes(name, base);
  if (!body) return std::nullopt;
  std::string out{static_cast<char>(0x82), static_cast<char>(name.size()),
                  static_cast<char>(base >> 8), static_cast<char>(base & 0xFF)};
  return out + *body;
}

std::string encodeAlpha80(std::u32string_view name) {
  return std::string(1, static_cast<char>(0x80)) + utf16Encode(name);
}

std::optional<std::string> encodeAlpha(std::u32string_view name, std::size_t maxBytes) {
  // A last byte FF reads back whole in every form (the count bounds the 81 and 82 forms,
  // the 80 form is read in pairs): the shortest form wins.
  std::optional<std::string> best = gsm7::encode(name);
  for (auto candidate : {encodeAlpha81(name), encodeAlpha82(name),
                         std::optional<std::string>(encodeAlpha80(name))}) {
    if (candidate && (!best || candidate->size() < best->size())) best = candidate;
  }
  if (!best || best->size() > maxBytes) return std::nullopt;
  return best;
}

}  // namespace voryx::sim
