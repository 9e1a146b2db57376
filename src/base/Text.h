#pragma once
// Small text helpers every layer shares: blanks trimmed by an explicit set, bytes as
// hexadecimal, and the one UTF-8 decoder.
#include <optional>
#include <string>
#include <string_view>

namespace voryx {

// The blanks each kind of text has. A modem's line may carry a stray carriage return;
// whitespace is C's isspace in the "C" locale.
inline constexpr std::string_view kBlanks = " \t";
inline constexpr std::string_view kLineBlanks = " \t\r";
inline constexpr std::string_view kWhitespace = " \t\n\r\f\v";

// `s` without the characters of `blanks` at either end.
constexpr std::string_view trim(std::string_view s, std::string_view blanks = kBlanks) {
  const std::size_t first = s.find_first_not_of(blanks);
  if (first == std::string_view::npos) return {};
  return s.substr(first, s.find_last_not_of(blanks) - first + 1);
}

// A hexadecimal digit's value, either case; -1 for anything else.
constexpr int hexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Bytes as hexadecimal, two digits a byte: "\x3F\x00" -> "3F00" (hexLower: "3f00").
inline std::string hexOf(std::string_view bytes, const char* digits) {
  std::string out;
  out.reserve(bytes.size() * 2);
  for (unsigned char c : bytes) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}
inline std::string hexUpper(std::string_view bytes) { return hexOf(bytes, "0123456789ABCDEF"); }
inline std::string hexLower(std::string_view bytes) { return hexOf(bytes, "0123456789abcdef"); }

// "3f00" or "3F00" -> "\x3F\x00"; none for an odd length or a character that is no
// hexadecimal digit.
inline std::optional<std::string> hexDecode(std::string_view hex) {
  if (hex.size() % 2 != 0) return std::nullopt;
  std::string out;
  out.reserve(hex.size() / 2);
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    const int high = hexDigitValue(hex[i]), low = hexDigitValue(hex[i + 1]);
    if (high < 0 || low < 0) return std::nullopt;
    out.push_back(static_cast<char>(high << 4 | low));
  }
  return out;
}

// One character of UTF-8 text: its code point and how many bytes it takes.
struct Utf8Char {
  char32_t value = 0;
  std::size_t length = 1;
  bool wellFormed = true;
};

// The character that starts at s[at] (at < s.size()). A malformed sequence (a stray or
// cut-short one, an overlong form, a surrogate, a value past U+10FFFF) is one U+FFFD,
// not well formed, as long as its lead byte and the continuation bytes that follow it,
// at least one byte: so the next character is never lost.
constexpr Utf8Char utf8CharAt(std::string_view s, std::size_t at) {
  const auto lead = static_cast<unsigned char>(s[at]);
  if (lead < 0x80) return {lead, 1, true};
  std::size_t extra = 0;
  char32_t value = 0, least = 0;
  if ((lead & 0xE0) == 0xC0) {
    extra = 1, value = lead & 0x1F, least = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    extra = 2, value = lead & 0x0F, least = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    extra = 3, value = lead & 0x07, least = 0x10000;
  } else {
    return {U'\uFFFD', 1, false};
  }
  std::size_t end = at + 1;
  for (; end < s.size() && end <= at + extra; ++end) {
    const auto next = static_cast<unsigned char>(s[end]);
    if ((next & 0xC0) != 0x80) break;
    value = (value << 6) | (next & 0x3F);
  }
  const std::size_t length = end - at;
  if (length != extra + 1 || value < least || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
    return {U'\uFFFD', length, false};
  }
  return {value, length, true};
}

}  // namespace voryx
