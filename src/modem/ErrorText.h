#pragma once
// The modem's refusals in words the user can act on: one table maps every "+CME ERROR"
// and "+CMS ERROR" the jobs may meet, by number ("+CME ERROR: 10", after AT+CMEE=1) or by
// the modem's own text ("+CME ERROR: SIM not inserted", after AT+CMEE=2; any case, any
// run of blanks), to a sentence that says what happened and what to do. Pure, any thread.
#include <optional>
#include <string>
#include <string_view>

#include "modem/Reply.h"

namespace voryx::modem {

// The number a modem's verbose text stands for, e.g. (Equipment, "sim BUSY") gives 14 and
// (Messages, "memory full") 322; none for a text the table does not know.
std::optional<int> errorCodeOfText(ErrorSource source, std::string_view text);

// The string-table key (the English sentence) for a refusal; null for a code the table
// does not know.
const char* errorSentenceKey(ErrorSource source, int code);

// What to tell the user about a reply that ended in an error, in the current language:
// the table's sentence; for a code the table does not know, a general sentence with the
// modem's own words; for a bare "ERROR", a general sentence. Empty for any other reply.
std::string refusalSentence(const Reply& reply);
// The same in English, for the debug log.
std::string refusalSentenceForLog(const Reply& reply);

}  // namespace voryx::modem
