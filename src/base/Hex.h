#pragma once
// Bytes as hexadecimal, two upper-case digits a byte: "\x3F\x00" -> "3F00".
#include <string>
#include <string_view>

namespace voryx {

inline std::string hexUpper(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (unsigned char c : bytes) {
    out += kDigits[c >> 4];
    out += kDigits[c & 15];
  }
  return out;
}

}  // namespace voryx
