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
// other character goes. The write commands' form of a number already stored; what a
// person types goes through readTypedNumber first.
std::string filterNumber(std::string_view number, bool keepPlus);

// The digits of a SIM number without extension records: ten BCD bytes of EF_ADN. The
// limit wherever the longest number a phonebook takes is not known.
inline constexpr int kSimNumberDigits = 20;

// A number as a person writes it ("+49 (0) 30 1234-56", "0612345678p1"), in the form the
// SIM's phonebook stores, or what keeps it from being one.
struct TypedNumber {
  enum class Fault {
    None,
    Character,   // `character` is no part of a SIM number (a letter, "?", "@" ...)
    Wait,        // `character` ("w", "W" or ";") asks for a wait, which no SIM number holds
    PlusInside,  // a "+" after the start
    PlusAlone,   // a "+" with no digit after it
  };
  std::string number;  // None: the stored form (digits, "*", "#", ",", "+" first)
  Fault fault = Fault::None;
  std::string character;  // Character, Wait: the character as written (one, UTF-8)
};
// Keeps the digits, "*", "#" and a leading "+"; "p" or "P" (a pause) becomes ",", the
// DTMF separator a SIM holds. Separators go without a word: blanks (also the wide and
// the invisible ones pasted from web pages), "-", ".", "/", "(", ")", and control
// characters. "(0)" right after "+" and a country code of one to three digits is the
// trunk digit written for national dialling and goes with its parentheses ("+49 (0) 30"
// is "+4930"), but for the countries whose numbers keep their 0 from abroad (Italy, San
// Marino, the Vatican: "+39 (0)2" is "+3902") only the parentheses go, as anywhere else. Anything else is refused, the
// first such character named. The text is taken to be UTF-8. Pure, any thread.
TypedNumber readTypedNumber(std::string_view typed);

// Whether the country of `code` ("+39") dials its numbers' leading 0 from abroad too.
bool keepsTrunkZero(std::string_view code);

// The number type of the write commands: 145 (international) when the number starts
// with "+", else 129.
int numberType(std::string_view number);

}  // namespace voryx::codec
