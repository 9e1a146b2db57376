#include "modem/Traffic.h"

#include <climits>

#include "base/DebugLog.h"
#include "modem/ErrorText.h"

namespace voryx::modem {
namespace {

// "%.*s" takes an int length and a pointer that must not be null.
int printable(std::string_view text) {
  return text.size() > INT_MAX ? INT_MAX : static_cast<int>(text.size());
}
const char* chars(std::string_view text) { return text.empty() ? "" : text.data(); }

}  // namespace

void logSend(int createLog, std::string_view command) {
  VORYX_LOG_IF(createLog, "send |%.*s|\n", printable(command), chars(command));
}

void logRead(int createLog, std::string_view reply) {
  VORYX_LOG_IF(createLog, "read |%.*s|\n", printable(reply), chars(reply));
}

void logBuffer(int createLog, std::string_view listing) {
  VORYX_LOG_IF(createLog, "buffer |%.*s|\n", printable(listing), chars(listing));
}

void logReceiveLen(int createLog, std::size_t count, std::string_view reply) {
  VORYX_LOG_IF(createLog, "recevive len %d |%.*s|\n",
               count > INT_MAX ? INT_MAX : static_cast<int>(count), printable(reply),
               chars(reply));
}

void logElements(int createLog, int count) {
  VORYX_LOG_IF(createLog, "elementi |%d|\n", count);
}

void logAnswer(int createLog, std::string_view reply) {
  VORYX_LOG_IF(createLog, "answer |%.*s|\n", printable(reply), chars(reply));
}

void logRefusal(int createLog, const Reply& reply) {
  const std::string sentence = refusalSentenceForLog(reply);
  if (sentence.empty()) return;
  VORYX_LOG_IF(createLog, "refused |%.*s| %s\n", printable(reply.final), chars(reply.final),
               sentence.c_str());
}

}  // namespace voryx::modem
