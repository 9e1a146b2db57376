#include "store/Preferences.h"

#include <gtest/gtest.h>

#include <thread>

#include "support/TempDir.h"

namespace voryx {
namespace {

namespace fs = std::filesystem;
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

// Text values the user wrote by hand (the address book's path) are read, and a store of an
// integer keeps them and every other key it does not know.
TEST_F(PreferencesTest, KeepsWhatItDoesNotWrite) {
  fs::create_directories(file_.parent_path());
  writeFile(file_, R"({"contacts": "/home/u/Contacts", "maxSIM": 250, "theme": [1, 2]})");
  Preferences prefs(file_);
  EXPECT_EQ(prefs.text("contacts"), "/home/u/Contacts");
  EXPECT_EQ(prefs.text(kPrefMaxSIM), std::nullopt);
  ASSERT_TRUE(prefs.store(kPrefSort, 1));
  EXPECT_EQ(nlohmann::json::parse(test::readFile(file_)),
            nlohmann::json::parse(R"({"contacts": "/home/u/Contacts", "maxSIM": 250, "sort": 1, "theme": [1, 2]})"));
  EXPECT_EQ(prefs.text("contacts"), "/home/u/Contacts");
}

// Every garbled file reads as defaults and is replaced by a good one at the next write.
TEST_F(PreferencesTest, GarbledFileReadsAsDefaults) {
  const std::pair<std::string, std::optional<std::int32_t>> cases[] = {
      {"", std::nullopt},
      {"sort=1\n", std::nullopt},
      {"{\"sort\": 1", std::nullopt},
      {"[1, 2]", std::nullopt},
      {std::string("\0\xff\xfe{\"sort\":1}", 14), std::nullopt},
      {"{\"sort\": \"1\"}", std::nullopt},
      {"{\"sort\": 1.5}", std::nullopt},
      {"{\"sort\": 2147483648}", std::nullopt},
      {"{\"sort\": -2147483649}", std::nullopt},
      {"{\"sort\": 1, \"other\": [1]}", 1},
  };
  fs::create_directories(file_.parent_path());
  for (const auto& [text, sort] : cases) {
    SCOPED_TRACE(text);
    writeFile(file_, text);
    Preferences prefs(file_);
    EXPECT_EQ(prefs.value(kPrefSort), sort);
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
  std::vector<std::jthread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&prefs, t] {
      for (int i = 0; i < 10; ++i) prefs.store("k" + std::to_string(t), i);
    });
  }
  threads.clear();  // joins
  Preferences reread(file_);
  for (int t = 0; t < 4; ++t) EXPECT_EQ(reread.integer("k" + std::to_string(t), -1), 9);
}

}  // namespace
}  // namespace voryx
