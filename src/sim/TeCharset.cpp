#include "sim/TeCharset.h"

#include <array>
#include <cctype>
#include <cstdint>

#include "sim/Gsm7.h"
#include "sim/Text.h"

namespace voryx::sim {
namespace {

struct Named {
  Charset cs;
  std::string_view name;
};
constexpr std::array<Named, 5> kNames{{{Charset::Gsm, "GSM"},
                                       {Charset::Ira, "IRA"},
                                       {Charset::Hex, "HEX"},
                                       {Charset::Ucs2, "UCS2"},
                                       {Charset::Utf8, "UTF-8"}}};

// Septets for `text`, '?' for what neither table holds.
std::string lenientSeptets(std::u32string_view text) {
  std::string out;
  for (char32_t c : text) {
    auto s = gsm7::encode(std::u32string_view(&c, 1));
    out += s ? *s : std::string(1, '?');
  }
  return out;
}

}  // namespace

std::optional<Charset> charsetFromName(std::string_view name) {
  for (const auto& n : kNames) {
    if (n.name.size() != name.size()) continue;
    bool same = true;
    for (std::size_t i = 0; i < name.size(); ++i)
      same = same && std::toupper(static_cast<unsigned char>(name[i])) == n.name[i];
    if (same) return n.cs;
  }
  return std::nullopt;
}

std::string_view charsetName(Charset cs) {
  for (const auto& n : kNames) {
    if (n.cs == cs) return n.name;
  }
  return "IRA";
}

std::string charsetList(const std::vector<Charset>& sets) {
  std::string out = "(";
  for (Charset cs : sets) out += (out.size() > 1 ? ",\"" : "\"") + std::string(charsetName(cs)) + "\"";
  return out + ")";
}

std::string teEncode(std::u32string_view text, Charset cs) {
  switch (cs) {
    case Charset::Gsm:
      return lenientSeptets(text);
    case Charset::Hex:
      return toHex(lenientSeptets(text));
    case Charset::Ucs2:
      return toHex(utf16Encode(text));
    case Charset::Utf8:
      return utf8Encode(text);
    case Charset::Ira:
      break;
  }
  std::string out;
  for (char32_t c : text) out += c < 0x80 ? static_cast<char>(c) : '?';
  return out;
}

std::optional<std::u32string> teDecode(std::string_view bytes, Charset cs) {
  switch (cs) {
    case Charset::Gsm:
      return gsm7::decode(bytes);
    case Charset::Hex: {
      auto septets = fromHex(bytes);
      if (!septets) return std::nullopt;
      return gsm7::decode(*septets);
    }
    case Charset::Ucs2: {
      auto units = fromHex(bytes);
      if (!units) return std::nullopt;
      return utf16Decode(*units);
    }
    case Charset::Utf8:
      return utf8Decode(bytes);
    case Charset::Ira:
      break;
  }
  std::u32string out;
  for (char c : bytes) {
    if (static_cast<std::uint8_t>(c) >= 0x80) return std::nullopt;
    out.push_back(static_cast<char32_t>(c));
  }
  return out;
}

std::string quoteEscape(std::string_view bytes) {
  std::string out;
  for (char c : bytes) {
    if (c == '"') out += "\\22";
    else if (c == '\r') out += "\\0D";
    else if (c == '\n') out += "\\0A";
    else if (c == '\\') out += "\\5C";
    else out += c;
  }
  return out;
}

}  // namespace voryx::sim
