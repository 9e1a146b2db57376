#pragma once
// Which character set (+CSCS) a job talks in: the sets a modem offers and the order each
// use asks them in. Pure functions, any thread; the reader survives garbage.
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "codec/Charset.h"

namespace voryx::transfer {

using codec::Charset;

// +CSCS: ("IRA","GSM","UCS2")
// The names the modem lists, upper case, in its order, vendor sets ("8859-1",
// "PCCP437") included. Quotes, parentheses and blanks are optional; the list may run over
// several lines. None when the reply did not end in OK or lists nothing readable.
std::optional<std::vector<std::string>> parseCscsTest(std::string_view reply);

// What a job talks in the set for. Each has its order of preference:
//   Phonebook  HEX, UCS2, GSM, IRA (UCS2 first and no HEX when the user asks for UCS2)
//   SmsRead    UTF-8, UCS2, GSM, IRA (UCS2 first when the user asks for it)
//   SmsWrite   GSM, IRA: the only sets text mode is written in; the texts neither can
//              carry go in PDU mode, which needs no set
enum class CharsetUse { Phonebook, SmsRead, SmsWrite };

// What the user asked for: a set forced from the shell (--charset), or the negotiation,
// with UCS2 first when the setup screen's "Use UCS2 character set" is on.
struct CharsetPreference {
  std::optional<Charset> forced;
  bool ucs2First = false;
};

// The modem's answer to AT+CSCS="X".
enum class SetAnswer { Taken, Refused, Ended };

struct Negotiated {
  std::optional<Charset> chosen;  // none: every candidate was refused
  bool ended = false;             // the dialogue ended while asking (line lost, too slow)
  std::vector<Charset> refused;   // in the order asked
};

// Chooses the set a job talks in: the candidates of `use` in their order (only `forced`
// when the user forced one), kept to those `offered` lists when the list was readable and
// names any of them (a list that names none, or an unreadable one, leaves the whole
// order), each asked with `trySet` until the modem takes one. A set that is listed but
// refused is skipped.
Negotiated chooseCharset(CharsetUse use, const std::optional<std::vector<std::string>>& offered,
                         const CharsetPreference& preference,
                         const std::function<SetAnswer(Charset)>& trySet);

}  // namespace voryx::transfer
