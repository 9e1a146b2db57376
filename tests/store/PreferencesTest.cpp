#include "store/Preferences.h"

#include <gtest/gtest.h>

#include <thread>

#include "store/TempDir.h"

namespace voryx {
namespace {

namespace fs = std::filesystem;
using test::readFile;
using test::writeFile;

class PreferencesTest : public ::testing::Test {
 protected:
  test::TempDir dir_;
  fs::path file_ = dir_.path / "config" / "voryx" / "preferences.json";
};

TEST_F(PreferencesTest, DefaultsUntilStoredThenValuesSurviveARestart) {
  {
    Preferences prefs(file_);
    EXPECT_EQ(prefs.value(kPrefMaxSIMLen), std::nullopt);
    EXPECT_EQ(prefs.integer(kPrefMaxSIMLen, 14), 14);
    EXPECT_FALSE(fs::exists(file_.parent_path()));  // reading makes nothing
    EXPECT_TRUE(prefs.store(kPrefSort, 1));
    prefs.setValue(kPrefLastFirst, 1);
    prefs.setValue(kPrefFast, 0);
    prefs.setValue(kPrefMaxSIM, -2147483647 - 1);
    EXPECT_EQ(prefs.integer(kPrefLastFirst, 0), 1);  // visible before the flush
    EXPECT_TRUE(prefs.synchronize());
  }
  Preferences prefs(file_);
  EXPECT_EQ(prefs.integer(kPrefSort, 0), 1);
  EXPECT_EQ(prefs.integer(kPrefLastFirst, 0), 1);
  EXPECT_EQ(prefs.value(kPrefFast), 0);
  EXPECT_EQ(prefs.integer(kPrefMaxSIM, 0), -2147483647 - 1);
  EXPECT_EQ(test::modeOf(file_), 0600u);
  EXPECT_EQ(test::modeOf(file_.parent_path()), 0700u);
  EXPECT_EQ(test::modeOf(file_.parent_path().parent_path()), 0700u);
}

TEST_F(PreferencesTest, SynchronisePicksUpOtherWritersAndKeepsOwnValues) {
  Preferences a(file_);
  Preferences b(file_);
  ASSERT_TRUE(a.store(kPrefMaxSIM, 250));
  b.setValue(kPrefMaxSMS, 30);
  EXPECT_EQ(b.value(kPrefMaxSIM), std::nullopt);
  ASSERT_TRUE(b.synchronize());
  EXPECT_EQ(b.integer(kPrefMaxSIM, 0), 250);
  ASSERT_TRUE(a.synchronize());
  EXPECT_EQ(a.integer(kPrefMaxSMS, 0), 30);
}

TEST_F(PreferencesTest, CrashBeforeRenameLeavesThePreviousFile) {
  {
    Preferences prefs(file_);
    ASSERT_TRUE(prefs.store(kPrefSort, 1));
  }
  const std::string before = readFile(file_);
  // What a crash between writing the temporary file and renaming it leaves behind.
  writeFile(file_.string() + ".tmp-Ab12Cd", "{\n  \"sort\": 0,\n  \"maxS");
  Preferences prefs(file_);
  EXPECT_EQ(prefs.integer(kPrefSort, 0), 1);
  EXPECT_EQ(readFile(file_), before);
  ASSERT_TRUE(prefs.store(kPrefMaxSIM, 100));
  EXPECT_EQ(Preferences(file_).integer(kPrefMaxSIM, 0), 100);
}

TEST_F(PreferencesTest, GarbledFileReadsAsDefaults) {
  struct Case {
    const char* name;
    std::string text;
    std::optional<std::int32_t> sort;
  };
  const Case cases[] = {
      {"empty", "", std::nullopt},
      {"not JSON", "sort=1\n", std::nullopt},
      {"truncated", "{\"sort\": 1", std::nullopt},
      {"array", "[1, 2]", std::nullopt},
      {"binary", std::string("\0\xff\xfe{\"sort\":1}", 14), std::nullopt},
      {"text value", "{\"sort\": \"1\"}", std::nullopt},
      {"fraction", "{\"sort\": 1.5}", std::nullopt},
      {"too large", "{\"sort\": 2147483648}", std::nullopt},
      {"too small", "{\"sort\": -2147483649}", std::nullopt},
      {"good", "{\"sort\": 1, \"other\": [1]}", 1},
  };
  fs::create_directories(file_.parent_path());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    writeFile(file_, c.text);
    Preferences prefs(file_);
    EXPECT_EQ(prefs.value(kPrefSort), c.sort);
    // A garbled file is replaced by a good one at the next write.
    ASSERT_TRUE(prefs.store(kPrefMaxSMS, 20));
    EXPECT_EQ(Preferences(file_).integer(kPrefMaxSMS, 0), 20);
  }
}

TEST_F(PreferencesTest, FailedWriteKeepsValuesForTheNextTry) {
  // A regular file where the folder should be: the folder cannot be made, even by root.
  writeFile(dir_ / "config", "in the way");
  Preferences prefs(file_);
  EXPECT_FALSE(prefs.store(kPrefSort, 1));
  EXPECT_EQ(prefs.integer(kPrefSort, 0), 1);
  fs::remove(dir_ / "config");
  EXPECT_TRUE(prefs.synchronize());
  EXPECT_EQ(Preferences(file_).integer(kPrefSort, 0), 1);
}

TEST_F(PreferencesTest, WritersOnSeveralThreadsLoseNothing) {
  Preferences prefs(file_);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&prefs, t] {
      for (int i = 0; i < 10; ++i) prefs.store("k" + std::to_string(t), i);
    });
  }
  for (auto& th : threads) th.join();
  Preferences reread(file_);
  for (int t = 0; t < 4; ++t) EXPECT_EQ(reread.integer("k" + std::to_string(t), -1), 9);
}

}  // namespace
}  // namespace voryx
