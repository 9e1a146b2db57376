#pragma once
// SIM phonebook names: the stored form (hex text under the "HEX" character set) to and
// from UTF-8. Pure functions, no fixed-size areas. (Draft interface: the codec owner
// completes it; callers rely on the names below.)
#include <functional>
#include <string>
#include <string_view>

namespace voryx::transfer {

// Optional sink for the encoder's and decoder's debug records (already formatted).
using CodecLog = std::function<void(const std::string&)>;

// Decodes a name field ("414243", "8000410042", "810208C141", "82020410C141", ...).
std::string decodeSimName(std::string_view hex, const CodecLog& log = {});

// Encodes a UTF-8 name for "AT+CPBW" within `maxSIMLen` bytes: plain (lowercase hex),
// 80 (lowercase, FF fill) or 81 (uppercase) form.
std::string encodeSimName(std::string_view utf8Name, int maxSIMLen, const CodecLog& log = {});

// Keeps ";", ",", "#", "*" and digits (and "+" when keepPlus) of a number.
std::string filterNumber(std::string_view number, bool keepPlus);

}  // namespace voryx::transfer
