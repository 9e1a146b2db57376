#pragma once
// The TE character sets of +CSCS and how text crosses the line in each: GSM (default
// alphabet septets as bytes, extension characters as 1B xx), IRA (7-bit ASCII), HEX (the
// GSM septets as hexadecimal), UCS2 (UTF-16BE as hexadecimal), UTF-8 (as is). What a SIM
// name looks like under HEX is not decided here (the engine shows the raw alpha field).
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace voryx::sim {

enum class Charset { Gsm, Ira, Hex, Ucs2, Utf8 };

std::optional<Charset> charsetFromName(std::string_view name);  // case-insensitive
std::string_view charsetName(Charset cs);
// The +CSCS=? list of `sets`, e.g. ("GSM","IRA","HEX","UCS2","UTF-8").
std::string charsetList(const std::vector<Charset>& sets);

// Text for the line; a character the set cannot hold becomes '?'.
std::string teEncode(std::u32string_view text, Charset cs);
// Text from the line; none when the bytes are not valid in the set.
std::optional<std::u32string> teDecode(std::string_view bytes, Charset cs);

// A string parameter as sent inside quotes: '"', CR, LF and the byte 5C (a backslash,
// or the GSM alphabet's "Ö") become the line's escapes "\22", "\0D", "\0A", "\5C".
std::string quoteEscape(std::string_view bytes);

}  // namespace voryx::sim
