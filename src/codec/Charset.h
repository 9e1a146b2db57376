#pragma once
// The modem's character set (+CSCS) as one value, and how names, numbers and message
// texts cross the line in it (which set a job talks in is transfer/CharsetChoice.h). Pure
// functions, any thread; every reader survives garbage (no crash, no overrun).
//
//   HEX    the SIM's stored name forms as hexadecimal (SimName)
//   UCS2   every text field as hexadecimal 16-bit units; the modem maps them to and from
//          the SIM's stored form (emoji as surrogate pairs)
//   GSM    the GSM 7-bit alphabet, one byte a septet, 1B xx for the extension table
//   IRA    ASCII
//   UTF-8  as is (the SMS read)
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "codec/SimName.h"

namespace voryx::codec {

enum class Charset { Hex, Ucs2, Gsm, Ira, Utf8 };

// "HEX", "UCS2", "GSM", "IRA", "UTF-8".
std::string_view charsetName(Charset cs);
// The set a name stands for, in any case ("ucs2", "UTF8" too); none for anything else.
std::optional<Charset> charsetFromName(std::string_view name);

// A "+CPBR:" name field (quotes removed) to UTF-8. HEX: the SIM's stored forms; UCS2:
// 16-bit units (a field that is not whole units of hexadecimal is taken as text); GSM:
// septets; IRA: ASCII. Under GSM and IRA the line's "\hh" escapes are resolved.
std::string decodeName(std::string_view field, Charset cs, const CodecLog& log = {});

// A UTF-8 name as the "+CPBW" text field in `cs`, within what the SIM holds in
// `maxSIMLen` bytes, so that the modem never refuses it as too long:
//   HEX    the most compact stored form (encodeSimName)
//   UCS2   the first (maxSIMLen-1)/2 units (what the 80 form holds), never half a pair
//   GSM    septets, up to maxSIMLen bytes (an extension character takes two)
//   IRA    ASCII, cut the same way
// Under GSM and IRA a character the set lacks becomes '?'; the quote, the backslash and
// control bytes go as "\hh" escapes (a raw one would end the field or edit the line).
std::string encodeName(std::string_view utf8Name, Charset cs, int maxSIMLen,
                       const CodecLog& log = {});

// The sets a phonebook write may store names in, as bits: what the last phonebook job
// learned of the modem (kept as the "nameSets" preference; 0 when no job learned it).
inline constexpr int kNameSetHex = 1, kNameSetGsm = 2, kNameSetIra = 4, kNameSetUcs2 = 8;
int nameSetBit(Charset cs);

// Without HEX, the set a phonebook name is stored best in, of those `mayUse` allows: GSM
// for a name the GSM alphabet holds (one byte a letter, the most compact), else IRA for
// printable ASCII outside the characters the GSM alphabet places elsewhere (which modems
// convert unreliably), else UCS2 (every letter its own, 6 in 14 bytes), else `fallback`
// (with "?" for what it lacks).
Charset nameSetFor(std::string_view utf8Name, const std::function<bool(Charset)>& mayUse,
                   Charset fallback);

// A name as an edit keeps it: cut to what the SIM will hold of it in the set the write
// stores it in, by `nameSets` (HEX, or none known: fitSimName). Letters a set lacks are
// kept (the write sends "?" for them, and the row then shows what the SIM took).
std::string fitNameForSets(std::string_view utf8Name, int maxSIMLen, int nameSets);

// A number field as listed. Under UCS2 some modems send it as 16-bit units: a field of
// hexadecimal digits, a multiple of four long, whose units are all dial characters
// (0-9 + * # , ; p w) is decoded; anything else stays as listed.
std::string decodeNumber(std::string_view field, Charset cs);

// A message's sender (or recipient) as a "+CMGL:" header lists it, with its type field
// ("" when the layout has none). A number as decodeNumber reads it. Under UCS2 some
// modems list an alphanumeric sender ("SMART", "Vodafone") as its 16-bit units: decoded
// when they read as text, except that a field of digits only is a number ("1234" is no
// U+1234) unless the type is alphanumeric (TON 101: 208 = 0xD0) and its units are ASCII.
// An alphanumeric sender under GSM is septets.
std::string decodeSender(std::string_view field, std::string_view type, Charset cs);

// A message text of a text-mode listing to UTF-8: UTF-8 and IRA as sent (what is not
// UTF-8 becomes U+FFFD), GSM as septets, UCS2 as 16-bit units and HEX as septets in
// hexadecimal (a text that is not hexadecimal stays as sent).
std::string decodeMessageText(std::string_view text, Charset cs);

// The message text as text mode sends it under `cs` (GSM or IRA); none when the text
// must go in PDU mode: a character the set cannot carry unchanged, or one that would
// end or cancel the text entry. Under IRA that is anything outside printable ASCII and
// the line break, and the characters the GSM alphabet places elsewhere or only in its
// extension table (@ $ _ ` [ ] { } \ ^ ~ |), which modems convert unreliably.
std::optional<std::string> encodeMessageText(std::string_view utf8Text, Charset cs);

}  // namespace voryx::codec
