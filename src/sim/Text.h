#pragma once
// Byte and character helpers of the virtual modem: UTF-8, UTF-16 big-endian (the "UCS2"
// of the AT character sets and of SIM records) and hexadecimal text. Byte strings are
// std::string. Pure functions.
#include <optional>
#include <string>
#include <string_view>

namespace voryx::sim {

// None when the bytes are not well-formed UTF-8 (overlong forms, surrogates included).
std::optional<std::u32string> utf8Decode(std::string_view bytes);
std::string utf8Encode(std::u32string_view text);

// UTF-16BE; characters beyond the BMP become surrogate pairs.
std::string utf16Encode(std::u32string_view text);
// None for an odd byte count or an unpaired surrogate.
std::optional<std::u32string> utf16Decode(std::string_view bytes);

std::string toHex(std::string_view bytes);  // upper case
// None for an odd digit count or a non-hex digit.
std::optional<std::string> fromHex(std::string_view hex);

}  // namespace voryx::sim
