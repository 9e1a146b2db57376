#include "sim/alpha.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "sim/gsm7.h"
#include "sim/text.h"

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

}  // namespace

std::string_view trimAlphaPadding(std::string_view field) {
  while (!field.empty() && byteAt(field, field.size() - 1) == 0xFF) field.remove_suffix(1);
  return field;
}

std::u32string decodeAlpha(std::string_view field) {
  std::u32string out;
  if (field.empty() || byteAt(field, 0) == 0xFF) return out;
  const std::uint8_t form = byteAt(field, 0);
  if (form == 0x80) {
    // UTF-16 units up to the first FFFF; a surrogate pair is one character, a surrogate
    // without its other half none. A lone byte left before the FF padding (a name cut
    // inside a unit) is no character: paired with the padding it would read as U+xxFF.
    std::u16string units;
    std::string_view body = trimAlphaPadding(field.substr(1));
    if (body.size() % 2 == 1) body.remove_suffix(1);
    for (std::size_t i = 0; i + 1 < body.size(); i += 2) {
      const char16_t unit = static_cast<char16_t>(byteAt(body, i) << 8 | byteAt(body, i + 1));
      if (unit == 0xFFFF) break;
      units.push_back(unit);
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
    const std::size_t head = form == 0x81 ? 3 : 4;
    if (field.size() < head) return out;
    const std::size_t count = byteAt(field, 1);
    const char32_t base = form == 0x81 ? static_cast<char32_t>(byteAt(field, 2)) << 7
                                       : (static_cast<char32_t>(byteAt(field, 2)) << 8) |
                                             byteAt(field, 3);
    // Some phones write a count larger than the name: what follows it is padding, never
    // characters (FF would read as the window's last one).
    std::size_t end = std::min(field.size(), head + count);
    while (end > head && byteAt(field, end - 1) == 0xFF) --end;
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
  std::string_view septets = trimAlphaPadding(field);
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
  // A last byte FF reads back as padding: a form that would end in one (the 81 and 82
  // forms' last window character, an 80 form's U+xxFF) is taken only when no other is.
  auto endsInFF = [](const std::optional<std::string>& form) {
    return form && form->size() > 1 && static_cast<std::uint8_t>(form->back()) == 0xFF;
  };
  std::optional<std::string> best = gsm7::encode(name);
  std::optional<std::string> lastResort;
  for (auto candidate : {encodeAlpha81(name), encodeAlpha82(name),
                         std::optional<std::string>(encodeAlpha80(name))}) {
    if (endsInFF(candidate)) {
      if (!lastResort || candidate->size() < lastResort->size()) lastResort = candidate;
    } else if (candidate && (!best || candidate->size() < best->size())) {
      best = candidate;
    }
  }
  if (!best || best->size() > maxBytes) best = lastResort;
  if (!best || best->size() > maxBytes) return std::nullopt;
  return best;
}

}  // namespace voryx::sim
