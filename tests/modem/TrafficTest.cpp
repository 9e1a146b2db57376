// The modem-traffic records of the debug log.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "entries/DebugLog.h"
#include "modem/Traffic.h"

namespace voryx::modem {
namespace {

using namespace std::string_literals;

TEST(TrafficTest, RecordsOnlyWhileLoggingIsOnWithTheTextsAsTheyAre) {
  const auto file = std::filesystem::path(::testing::TempDir()) /
                    ("voryx-traffic-" + std::to_string(::getpid()) + ".log");
  DebugLog::setPath(file);
  ASSERT_TRUE(DebugLog::start());

  for (int createLog : {0, 1}) {
    logSend(createLog, "AT+CPBR=?\r");
    logReceiveLen(createLog, 29, "\r\n+CPBR: (1-250),40,14\r\n\r\nOK\r\n");
    logSend(createLog, "AT+CPBR=1,250\r");
    logBuffer(createLog, "\r\n+CPBR: 1,\"0123\",129,\"41\"\r\n\r\nOK\r\n");
    logElements(createLog, 2);
    logRead(createLog, "");
    logAnswer(createLog, "AB\0CD"s);  // a reply cut at its NUL byte, as the jobs hold it
  }
  EXPECT_EQ(DebugLog::contents(),
            "LOG START\n"
            "send |AT+CPBR=?\r|\n"
            "recevive len 29 |\r\n+CPBR: (1-250),40,14\r\n\r\nOK\r\n|\n"
            "send |AT+CPBR=1,250\r|\n"
            "buffer |\r\n+CPBR: 1,\"0123\",129,\"41\"\r\n\r\nOK\r\n|\n"
            "elementi |2|\n"
            "read ||\n"
            "answer |AB|\n");
  DebugLog::setPath({});
  std::filesystem::remove(file);
}

}  // namespace
}  // namespace voryx::modem
