#pragma once
// Small text helpers every layer shares: blanks trimmed by an explicit set, and bytes as
// hexadecimal.
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

}  // namespace voryx
