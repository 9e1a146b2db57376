// The modem-traffic records of the debug log.
#include <gtest/gtest.h>

#include <string>

#include "base/DebugLog.h"
#include "modem/Traffic.h"
#include "support/TempDir.h"

namespace voryx::modem {
namespace {

TEST(TrafficTest, RecordsOnlyWhileLoggingIsOnWithTheTextsAsTheyAre) {
  test::TempDir dir;
  DebugLog::setPath(dir / "Voryx.log");
  ASSERT_TRUE(DebugLog::start());
  for (int createLog : {0, 1}) {
    logSend(createLog, "AT+CPBR=?\r");
    logReceiveLen(createLog, 8, "\r\nOK\r\n\r\n");
    logBuffer(createLog, "\r\n+CPBR: 1\r\n");
    logElements(createLog, 2);
    logRead(createLog, "");
    logAnswer(createLog, std::string("AB\0CD", 5));  // stops at the NUL, as the jobs hold it
  }
  EXPECT_EQ(DebugLog::contents(),
            "LOG START\nsend |AT+CPBR=?\r|\nrecevive len 8 |\r\nOK\r\n\r\n|\n"
            "buffer |\r\n+CPBR: 1\r\n|\nelementi |2|\nread ||\nanswer |AB|\n");
  DebugLog::setPath({});
}

}  // namespace
}  // namespace voryx::modem
