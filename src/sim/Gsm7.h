#pragma once
// The GSM 7-bit default alphabet with its extension table (3GPP 23.038), unpacked (one
// septet per byte, an extension character as 0x1B and its code) and packed (eight septets
// in seven octets, least significant bit first, as in an SMS user data field).
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace voryx::sim::gsm7 {

// The septets for `text`; none when a character is in neither table.
std::optional<std::string> encode(std::u32string_view text);
// The septet count `text` takes (extension characters count two); none as above.
std::optional<std::size_t> septetCount(std::u32string_view text);
// Septets (bytes 0x00-0x7F) to characters. An escape before a code without an extension
// character gives that code's default character (the 23.038 fallback); a lone escape at
// the end gives a space. Bytes of 0x80 or more are not septets: none.
std::optional<std::u32string> decode(std::string_view septets);

std::string pack(std::string_view septets);
// The first `count` septets held in `octets`; fewer when the octets run out.
std::string unpack(std::string_view octets, std::size_t count);

}  // namespace voryx::sim::gsm7
