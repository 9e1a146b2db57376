#pragma once
// SIM phonebook names: the stored form (hex text under the "HEX" character set) to and
// from UTF-8, and the number filter of the write commands. Pure functions, any thread;
// no fixed-size areas, so a name of any length is neither overrun nor corrupted.
//
// Stored forms (the first byte tells them apart):
//   plain  the GSM 7-bit default alphabet, one byte a character, 1B xx for the extension
//          table; 0xFF pads the field.
//   80     big-endian UTF-16, read in pairs from the byte after the tag: a pair FF FF
//          ends the name, a lone last byte is none.
//   81     81, count, base byte B, then count bytes: below 0x80 a default-alphabet
//          character, else the character (B << 7) + (byte & 0x7F). Every byte inside
//          the count is a character, FF too; the bytes past it pad the field.
//   82     as 81 with a 16-bit base pointer (two bytes, high first) instead of B.
#include <functional>
#include <string>
#include <string_view>

namespace voryx::codec {

// Optional sink for the encoder's and decoder's debug records (already formatted, each
// ending in "\n"). The jobs pass one when createLog is on.
using CodecLog = std::function<void(const std::string&)>;

// Decodes a name field ("414243", "8000410042", "810208C141", "82020410C141", ...) to
// UTF-8. Digits of either case. A lone last digit gives no byte; a character made from
// a pair that is not hexadecimal decodes as U+FFFD; a count byte larger than the field
// is limited to the bytes present.
std::string decodeSimName(std::string_view hex, const CodecLog& log = {});

// Encodes a UTF-8 name for "AT+CPBW" within `maxSIMLen` bytes, in the most compact
// standard form that holds the whole name (ties in the order plain, 81, 82, 80):
//   plain  every character in the GSM alphabet (lowercase hex, escapes for the
//          extension table): one byte a character, two an extension one
//   81     the characters outside the default alphabet all in one 128-character window
//          aligned to 128 below U+8000 (uppercase): 3 bytes + one a character
//   82     the same in any 128-character window (uppercase): 4 bytes + one a character
//   80     anything (lowercase, uppercase "FF" fill): 1 byte + two a UTF-16 unit
// A name no form holds whole is cut to the longest beginning one does; a name only the
// 80 form can hold is cut to `maxSIMLen` units and filled within that form.
std::string encodeSimName(std::string_view utf8Name, int maxSIMLen, const CodecLog& log = {});

// The longest beginning of a UTF-8 name that encodeSimName stores whole within
// `maxSIMLen` bytes: the name itself when it fits, else what the SIM will hold once it is
// written (never half a character, never half an escape pair).
std::string fitSimName(std::string_view utf8Name, int maxSIMLen);

// Keeps ";", ",", "#", "*" and the digits of a number (and "+" when keepPlus); every
// other character goes.
std::string filterNumber(std::string_view number, bool keepPlus);

// The number type of the write commands: 145 (international) when the number starts
// with "+", else 129.
int numberType(std::string_view number);

}  // namespace voryx::codec
