#pragma once
// The modem-traffic records of the debug log, written by the jobs. Each writes one
// record, and only while logging is on (`createLog` not 0). Texts go in as they are:
// the carriage returns and line feeds of a reply stay inside the bars.
#include <cstddef>
#include <string_view>

#include "modem/Reply.h"

namespace voryx::modem {

void logSend(int createLog, std::string_view command);    // "send |%s|\n", before sending
void logRead(int createLog, std::string_view reply);      // "read |%s|\n"
void logBuffer(int createLog, std::string_view listing);  // "buffer |%s|\n"
void logReceiveLen(int createLog, std::size_t count, std::string_view reply);  // "recevive len %d |%s|\n"
void logElements(int createLog, int count);               // "elementi |%d|\n"
void logAnswer(int createLog, std::string_view reply);    // "answer |%s|\n"
// A reply that ended in an error: the modem's own words and what the user was told (in
// English): "refused |+CME ERROR: 20| The SIM's memory is full. ...\n". Nothing for
// other replies.
void logRefusal(int createLog, const Reply& reply);

}  // namespace voryx::modem
