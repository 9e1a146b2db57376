#pragma once
// The GSM 7-bit default alphabet and its extension table (3GPP 23.038), as unpacked
// septets: one byte per septet, value 0x00 to 0x7F; a character of the extension table
// takes the escape pair 1B xx. Also the UTF-8 conversions the SIM codecs share. Pure
// functions, any thread.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace voryx::codec {

inline constexpr std::uint8_t kGsmEscape = 0x1B;

// Where a character lives in the alphabet: its septet, and whether it needs the escape.
struct GsmCode {
  std::uint8_t septet = 0;
  bool extension = false;
};
std::optional<GsmCode> gsmCode(char32_t c);

// The character of a septet of the default table (the low seven bits count). The escape
// itself, when not followed by anything it could escape, reads as a space.
char32_t gsmDefaultChar(std::uint8_t septet);
// The character of the escape pair 1B `septet`: the extension table's, or, where that
// table has none, the default table's character of `septet`.
char32_t gsmEscapedChar(std::uint8_t septet);

// UTF-8 to septets; nullopt when a character is not in the alphabet (or the text is
// not valid UTF-8).
std::optional<std::string> encodeGsmText(std::string_view utf8);
// Septets to UTF-8. A byte above 0x7F is not a septet and reads as U+FFFD; a lone
// escape at the end gives nothing.
std::string decodeGsmText(std::string_view septets);
// Every character of the text is in the alphabet.
bool fitsGsmAlphabet(std::string_view utf8);

// UTF-8 to code points; each malformed sequence, surrogate or overlong form gives one
// U+FFFD.
std::u32string utf8ToCodePoints(std::string_view utf8);
// The text is well-formed UTF-8 (what utf8ToCodePoints reads without a U+FFFD of its own).
bool isUtf8(std::string_view text);
// Appends one code point as UTF-8 (U+FFFD for a surrogate or a value past U+10FFFF).
void appendUtf8(std::string& out, char32_t c);
// UTF-16 units to UTF-8; an unpaired surrogate gives U+FFFD.
std::string utf16ToUtf8(std::u16string_view units);
// Code points to UTF-16 units.
std::u16string toUtf16(std::u32string_view codePoints);

}  // namespace voryx::codec
