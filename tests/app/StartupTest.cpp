#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <functional>
#include <optional>

#include "app/Commands.h"
#include "app/Startup.h"
#include "app/VoryxAppDelegate.h"
#include "base/DebugLog.h"
#include "store/Database.h"
#include "store/EntryList.h"
#include "store/Preferences.h"
#include "support/TempDir.h"

namespace voryx {
namespace {

namespace fs = std::filesystem;
using test::filesIn;
using test::readFile;

class StartupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    paths_.documents = dir_ / "data";
    paths_.resources = test::shippedDatabase().parent_path();
    paths_.logFile = dir_ / "state" / "Voryx.log";
    paths_.preferences = dir_ / "config" / "preferences.json";
    prepareFolders(paths_);
    DebugLog::setPath(paths_.logFile);
  }
  void TearDown() override { DebugLog::setPath({}); }

  test::TempDir dir_;
  Paths paths_;
};

TEST_F(StartupTest, FirstStartCopiesTheShippedDatabaseLaterStartsLeaveItAlone) {
  for (bool folderExists : {true, false}) {
    SCOPED_TRACE(folderExists);
    fs::remove_all(paths_.documents);
    fs::remove(paths_.logFile);
    if (folderExists) fs::create_directory(paths_.documents);

    EXPECT_EQ(VoryxAppDelegate(paths_).createEditableCopyOfDatabaseIfNeeded(), std::nullopt);
    EXPECT_EQ(DebugLog::contents(), "creo folder rc |" + std::string(folderExists ? "0" : "1") +
                                        "|   folder " + paths_.documents.string() + "\n");
    EXPECT_EQ(readFile(paths_.database()), readFile(paths_.shippedDatabase()));
    EXPECT_EQ(filesIn(paths_.documents), std::vector<fs::path>{paths_.database()});  // no temporary
    EXPECT_EQ(test::modeOf(paths_.database()), 0600u);
  }
  // The folders start-up makes are private.
  for (const char* folder : {"data", "state", "config"}) EXPECT_EQ(test::modeOf(dir_ / folder), 0700u) << folder;

  // A later start leaves the database alone.
  test::exec(paths_.database(), "INSERT INTO sim VALUES (1,'Anna','123',1)");
  const std::string before = readFile(paths_.database());
  DebugLog::start();
  EXPECT_EQ(VoryxAppDelegate(paths_).createEditableCopyOfDatabaseIfNeeded(), std::nullopt);
  EXPECT_EQ(DebugLog::contents(), "LOG START\n");
  EXPECT_EQ(readFile(paths_.database()), before);
}

TEST_F(StartupTest, MissingShippedDatabaseGivesTheAlertMessage) {
  paths_.resources = dir_ / "no-resources";
  EXPECT_THAT(VoryxAppDelegate(paths_).createEditableCopyOfDatabaseIfNeeded().value_or(""),
              testing::MatchesRegex("Failed to create writable database file with message "
                                    "'.*: No such file or directory'\\."));
  // The first load then fails without making an empty database.
  EXPECT_EQ(loadEntries(paths_.database(), ListStore::Phonebook, "", 0).failure,
            LoadFailure::Unreadable);
  EXPECT_TRUE(filesIn(paths_.documents).empty());
}

// The address book: --contacts first, then the preference (which the setup screen writes),
// else the vCard file; under VORYX_HOME the desktop's book is never the default.
TEST_F(StartupTest, TheCommandLineNamesTheAddressBookBeforeThePreference) {
  ::setenv("VORYX_HOME", dir_.path.c_str(), 1);
  const std::string home = std::getenv("HOME") ? std::getenv("HOME") : "";
  struct Case {
    const char* given;
    std::optional<std::string> stored;
    std::string chosen;
  };
  const Case kCases[] = {
      {"", std::nullopt, paths_.vcardBook().string()},
      {"", "eds:work", "eds:work"},
      {"mine.vcf", "eds:work", "mine.vcf"},
      {"eds:", "/books/x.vcf", "eds:"},
      {"", "~/x.vcf", home.empty() ? "~/x.vcf" : home + "/x.vcf"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(std::string(c.given) + " " + c.stored.value_or("-"));
    fs::remove(paths_.preferences);
    if (c.stored) {
      Preferences prefs(paths_.preferences);
      prefs.setText(kPrefContacts, *c.stored);
      ASSERT_TRUE(prefs.synchronize());
    }
    Paths paths = paths_;
    paths.contacts = paths.vcardBook();
    chooseAddressBook(paths, c.given);
    EXPECT_EQ(paths.contacts.string(), c.chosen);
  }
  ::unsetenv("VORYX_HOME");
}

// voryx list, run in this process against a VORYX_HOME of its own. A damaged database
// replaced at the next start: the "damaged" row of the failures.
class ListCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ::setenv("VORYX_HOME", dir_.path.c_str(), 1);
    ::setenv("VORYX_RESOURCES", test::shippedDatabase().parent_path().c_str(), 1);
  }
  void TearDown() override {
    ::unsetenv("VORYX_HOME");
    ::unsetenv("VORYX_RESOURCES");
    DebugLog::setPath({});
  }

  int run(std::vector<const char*> args) {
    CLI::App app;
    int exitCode = -1;
    addListCommand(app, exitCode);
    args.insert(args.begin(), {"voryx", "list"});
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    app.parse(static_cast<int>(args.size()), args.data());
    out_ = testing::internal::GetCapturedStdout();
    err_ = testing::internal::GetCapturedStderr();
    return exitCode;
  }
  // The output of a run that must succeed.
  std::string listed(std::vector<const char*> args = {}) {
    EXPECT_EQ(run(std::move(args)), 0) << err_;
    return out_;
  }
  void exec(const std::string& sql) { test::exec(db_, sql); }

  test::TempDir dir_;
  fs::path db_ = dir_ / "data" / "Voryx.sqlitedb";
  std::string out_, err_;
};

TEST_F(ListCommandTest, PrintsTheListAsLoaded) {
  EXPECT_EQ(listed(), "");  // a fresh machine: the copy, then an empty list
  exec("INSERT INTO sim VALUES (12,'Bob','+39333',3),(3,'anna\tb\\c','555',0),(7,'Carla',NULL,1)");
  exec("INSERT INTO simsms VALUES (2,'two\nlines','+39333',0)");

  EXPECT_EQ(listed(), "3\tanna\\tb\\\\c\t555\t0\n7\tCarla\t\t1\n12\tBob\t+39333\t3\n");
  EXPECT_EQ(listed({"--sort", "name", "--search", "B"}), "12\tBob\t+39333\t3\n3\tanna\\tb\\\\c\t555\t0\n");
  EXPECT_EQ(listed({"--sms", "--search", "zzz"}), "2\ttwo\\nlines\t+39333\t0\n");
  // Without --sort the stored order applies.
  ASSERT_TRUE(Preferences(dir_ / "config" / "preferences.json").store(kPrefSort, 1));
  EXPECT_EQ(listed({"--search", "a"}), "7\tCarla\t\t1\n3\tanna\\tb\\\\c\t555\t0\n");
}

TEST_F(ListCommandTest, FailuresSayWhatHappenedAndOnlyADamagedFileIsReplaced) {
  std::optional<Result<Database>> holder;
  // make: from a fresh copy of the shipped database; says: on stderr; smsNext: what the next
  // run lists, when it can read a file.
  struct Case { const char* name; std::function<void()> make; std::string says; std::optional<std::string> smsNext; };
  const Case cases[] = {
      {"damaged", [&] { test::writeFile(db_, std::string(4096, 'g')); },
       "the damaged file was moved to " + db_.string() + ".damaged-", ""},
      {"in use", [&] { ASSERT_TRUE(holder.emplace(Database::open(db_))->exec("BEGIN EXCLUSIVE").ok()); },
       "the database " + db_.string() + " is locked: it is in use by another program",
       "2\tunsent\t+39333\t1\n"},  // the unsent change is still there
      {"unreadable", [&] { fs::remove(db_); fs::create_directory(db_); },
       "the database cannot be read: " + db_.string() + ": is a directory", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(listed(), "");  // the copy when there is none
    exec("INSERT INTO simsms VALUES (2,'unsent','+39333',1)");
    c.make();
    EXPECT_EQ(run({}), 1);
    EXPECT_EQ(out_, "");
    EXPECT_NE(err_.find(c.says), std::string::npos) << err_;
    holder.reset();
    if (c.smsNext) {
      EXPECT_EQ(listed({"--sms"}), *c.smsNext);
    }
    fs::remove_all(db_);
  }
}

}  // namespace
}  // namespace voryx
