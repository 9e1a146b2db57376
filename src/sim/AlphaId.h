#pragma once
// The alpha identifier of a SIM record (ETSI 102 221 Annex A): the GSM default alphabet
// unpacked, or one of the three UCS2 forms: 0x80 followed by UTF-16BE units; 0x81 with a
// character count, a base byte (base pointer = byte << 7) and one byte per character;
// 0x82 with a count, a 16-bit base pointer and one byte per character. In 0x81 and 0x82,
// a byte below 0x80 is a GSM default character, 0x80 or more is base + (byte & 0x7F).
// Unused bytes are FF; an FF is padding only where no character can be (past the 81 and
// 82 forms' count, in a pair FF FF of the 80 form): a character may end in FF.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace voryx::sim {

// Decodes a record's alpha field (FF padding allowed). Never fails: counts larger than
// the field are cut to it, bytes that are no character give U+FFFD.
std::u32string decodeAlpha(std::string_view field);

// The shortest form (plain, 81, 82, 80) that holds `name` in at most `maxBytes` bytes,
// without padding; none when no form fits.
std::optional<std::string> encodeAlpha(std::u32string_view name, std::size_t maxBytes);

// Each form on its own; none when the form cannot hold the name (at any length).
std::optional<std::string> encodeAlpha81(std::u32string_view name);
std::optional<std::string> encodeAlpha82(std::u32string_view name);
std::string encodeAlpha80(std::u32string_view name);

// The bytes of a field that hold its name, without the padding (what "HEX" shows of
// it): an 80 form up to its first pair FF FF (a lone last byte left out), an 81 or 82
// form to the end of its count (FF bytes inside it are characters), a plain name up to
// its trailing FF bytes.
std::string_view alphaContent(std::string_view field);

}  // namespace voryx::sim
