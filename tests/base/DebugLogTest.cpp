#include "base/DebugLog.h"

#include <gtest/gtest.h>

#include <sstream>
#include <thread>
#include <vector>

#include "support/TempDir.h"

namespace voryx {
namespace {

namespace fs = std::filesystem;
using test::readFile;

class DebugLogTest : public ::testing::Test {
 protected:
  void SetUp() override { DebugLog::setPath(log_); }
  void TearDown() override { DebugLog::setPath({}); }

  test::TempDir dir_;
  fs::path log_ = dir_ / "Voryx.log";
};

// It holds message texts: private from its first record, and again after start(), whatever
// it was. (What the records say is pinned by the traffic and start-up tests.)
TEST_F(DebugLogTest, FileIsPrivateFromTheFirstRecordAndAfterStart) {
  int logging = 0;
  VORYX_LOG_IF(logging, "read |%s|\n", "dropped while logging is off");
  EXPECT_FALSE(fs::exists(log_));
  logging = 1;
  VORYX_LOG_IF(logging, "read |%s|\n", "AT");
  EXPECT_EQ(readFile(log_), "read |AT|\n");
  EXPECT_EQ(test::modeOf(log_), 0600u);
  fs::permissions(log_, fs::perms(0644));
  ASSERT_TRUE(DebugLog::start());
  EXPECT_EQ(readFile(log_), "LOG START\n");
  EXPECT_EQ(test::modeOf(log_), 0600u);
}

TEST_F(DebugLogTest, UnwritableLogDropsRecordsQuietly) {
  test::writeFile(dir_ / "file", "a file, not a folder");
  for (const fs::path& path : {fs::path(), dir_ / "file" / "Voryx.log", dir_.path}) {
    SCOPED_TRACE(path.string());
    DebugLog::setPath(path);
    EXPECT_FALSE(DebugLog::start());
    DebugLog::append("elementi |%d|\n", 3);
    EXPECT_EQ(DebugLog::contents(), "");
  }
  EXPECT_EQ(readFile(dir_ / "file"), "a file, not a folder");
}

TEST_F(DebugLogTest, RecordsFromSeveralThreadsStayWhole) {
  const std::string text(300, 'x');
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t, &text] {
      for (int i = 0; i < 50; ++i) DebugLog::append("thread %d |%s|\n", t, text.c_str());
    });
  }
  for (auto& th : threads) th.join();
  std::istringstream lines(readFile(log_));
  int count = 0;
  for (std::string line; std::getline(lines, line); ++count) {
    EXPECT_EQ(line.substr(9), "|" + text + "|") << line;
  }
  EXPECT_EQ(count, 200);
}

}  // namespace
}  // namespace voryx
