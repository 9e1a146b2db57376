#include "base/Base64.h"

#include <algorithm>
#include <cstdint>

namespace voryx {
namespace {

int base64Digit(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+' || c == '-') return 62;
  if (c == '/' || c == '_') return 63;
  return -1;
}

}  // namespace

std::string encodeBase64(std::string_view bytes, std::size_t lineLength) {
  static constexpr char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  std::size_t onLine = 0;
  auto put = [&](char c) {
    if (lineLength != 0 && onLine == lineLength) {
      out += "\r\n";
      onLine = 0;
    }
    out += c;
    ++onLine;
  };
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    const std::size_t n = std::min<std::size_t>(3, bytes.size() - i);
    std::uint32_t v = 0;
    for (std::size_t k = 0; k < 3; ++k) {
      v = (v << 8) | (k < n ? static_cast<unsigned char>(bytes[i + k]) : 0u);
    }
    for (std::size_t k = 0; k < 4; ++k) put(k <= n ? kDigits[(v >> (18 - 6 * k)) & 0x3f] : '=');
  }
  return out;
}

std::optional<std::string> decodeBase64(std::string_view s) {
  std::string out;
  out.reserve(s.size() / 4 * 3);
  std::uint32_t acc = 0;
  int bits = 0;
  std::size_t digits = 0;
  bool padding = false;
  for (char c : s) {
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n') continue;
    if (c == '=') {
      padding = true;
      continue;
    }
    const int v = base64Digit(c);
    if (v < 0 || padding) return std::nullopt;
    acc = ((acc << 6) | static_cast<std::uint32_t>(v)) & 0xFFFFFFu;
    bits += 6;
    ++digits;
    if (bits >= 8) {
      bits -= 8;
      out.push_back(static_cast<char>((acc >> bits) & 0xFFu));
    }
  }
  if (digits % 4 == 1) return std::nullopt;
  return out;
}

}  // namespace voryx
