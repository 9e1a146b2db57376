#include <gtest/gtest.h>
#include <stdlib.h>

#include <functional>
#include <optional>

#include "app/Commands.h"
#include "app/Startup.h"
#include "app/VoryxAppDelegate.h"
#include "entries/DebugLog.h"
#include "store/Database.h"
#include "store/EntryList.h"
#include "store/Preferences.h"
#include "store/TempDir.h"

namespace voryx {
namespace {

namespace fs = std::filesystem;
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

  std::string log() { return DebugLog::contents(); }
  std::vector<fs::path> documentsFiles() {
    std::vector<fs::path> out;
    for (const auto& e : fs::directory_iterator(paths_.documents)) out.push_back(e.path());
    return out;
  }

  test::TempDir dir_;
  Paths paths_;
};

TEST_F(StartupTest, FirstStartCopiesTheShippedDatabaseLaterStartsLeaveItAlone) {
  for (bool folderExists : {false, true}) {
    SCOPED_TRACE(folderExists);
    fs::remove_all(paths_.documents);
    fs::remove(paths_.logFile);
    if (folderExists) fs::create_directory(paths_.documents);

    EXPECT_EQ(VoryxAppDelegate(paths_).createEditableCopyOfDatabaseIfNeeded(), std::nullopt);
    EXPECT_EQ(log(), "creo folder rc |" + std::string(folderExists ? "0" : "1") +
                         "|   folder " + paths_.documents.string() + "\n");
    EXPECT_EQ(readFile(paths_.database()), readFile(paths_.shippedDatabase()));
    EXPECT_EQ(documentsFiles(), std::vector<fs::path>{paths_.database()});  // no temporary
    EXPECT_EQ(test::modeOf(paths_.database()), 0600u);
    if (!folderExists) {
      EXPECT_EQ(test::modeOf(paths_.documents), 0700u);
    }
  }
  // The folders start-up prepares are private too.
  EXPECT_EQ(test::modeOf(dir_ / "state"), 0700u);
  EXPECT_EQ(test::modeOf(dir_ / "config"), 0700u);

  // A later start leaves the database alone.
  ASSERT_TRUE(Database::open(paths_.database())->exec("INSERT INTO sim VALUES (1,'Anna','123',1)").ok());
  const std::string before = readFile(paths_.database());
  DebugLog::start();
  EXPECT_EQ(VoryxAppDelegate(paths_).createEditableCopyOfDatabaseIfNeeded(), std::nullopt);
  EXPECT_EQ(log(), "LOG START\n");
  EXPECT_EQ(readFile(paths_.database()), before);
}

TEST_F(StartupTest, MissingShippedDatabaseGivesTheAlertMessage) {
  paths_.resources = dir_ / "no-resources";
  auto message = VoryxAppDelegate(paths_).createEditableCopyOfDatabaseIfNeeded();
  ASSERT_TRUE(message.has_value());
  EXPECT_EQ(message->rfind("Failed to create writable database file with message '", 0), 0u);
  EXPECT_NE(message->find("No such file or directory"), std::string::npos) << *message;
  EXPECT_EQ(message->substr(message->size() - 2), "'.");
  EXPECT_TRUE(documentsFiles().empty());
  // The first load then fails without making an empty database.
  EXPECT_EQ(loadEntries(paths_.database(), ListStore::Phonebook, "", 0).failure,
            LoadFailure::Unreadable);
  EXPECT_TRUE(documentsFiles().empty());
}

TEST_F(StartupTest, DamagedDatabaseIsReplacedAtTheNextStart) {
  fs::create_directory(paths_.documents);
  test::writeFile(paths_.database(), "not a database");
  ListLoad load = loadEntries(paths_.database(), ListStore::Phonebook, "", 0);
  EXPECT_EQ(load.failure, LoadFailure::Corrupt);
  EXPECT_EQ(VoryxAppDelegate(paths_).createEditableCopyOfDatabaseIfNeeded(), std::nullopt);
  EXPECT_EQ(loadEntries(paths_.database(), ListStore::Phonebook, "", 0).failure,
            LoadFailure::None);
  EXPECT_EQ(readFile(load.movedAsideTo), "not a database");
}

// voryx list, run in this process against a VORYX_HOME of its own.
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

  void exec(const std::string& sql) {
    ASSERT_TRUE(Database::open(dir_ / "data" / "Voryx.sqlitedb")->exec(sql).ok());
  }

  test::TempDir dir_;
  std::string out_, err_;
};

TEST_F(ListCommandTest, PrintsTheListAsLoaded) {
  EXPECT_EQ(run({}), 0);  // a fresh machine: the copy, then an empty list
  EXPECT_EQ(out_, "");
  EXPECT_EQ(err_, "");
  exec("INSERT INTO sim VALUES (12,'Bob','+39333',3),(3,'anna\tb\\c','555',0),"
       "(7,'Carla',NULL,1)");
  exec("INSERT INTO simsms VALUES (2,'two\nlines','+39333',0)");

  EXPECT_EQ(run({}), 0);
  EXPECT_EQ(out_, "3\tanna\\tb\\\\c\t555\t0\n7\tCarla\t\t1\n12\tBob\t+39333\t3\n");
  EXPECT_EQ(run({"--sort", "name", "--search", "B"}), 0);
  EXPECT_EQ(out_, "12\tBob\t+39333\t3\n3\tanna\\tb\\\\c\t555\t0\n");
  EXPECT_EQ(run({"--sms", "--search", "zzz"}), 0);
  EXPECT_EQ(out_, "2\ttwo\\nlines\t+39333\t0\n");

  // Without --sort the stored order applies.
  ASSERT_TRUE(Preferences(dir_ / "config" / "preferences.json").store(kPrefSort, 1));
  EXPECT_EQ(run({"--search", "a"}), 0);
  EXPECT_EQ(out_, "7\tCarla\t\t1\n3\tanna\\tb\\\\c\t555\t0\n");
}

TEST_F(ListCommandTest, FailuresSayWhatHappenedAndOnlyADamagedFileIsReplaced) {
  const fs::path db = dir_ / "data" / "Voryx.sqlitedb";
  std::optional<Result<Database>> holder;
  struct Case {
    const char* name;
    std::function<void()> make;  // from a fresh copy of the shipped database
    std::string says;            // on stderr
    bool replacedNext;           // the next run starts from a fresh copy
  };
  const Case cases[] = {
      {"damaged", [&] { test::writeFile(db, std::string(4096, 'g')); },
       "the damaged file was moved to " + db.string() + ".damaged-", true},
      {"in use",
       [&] {
         holder.emplace(Database::open(db));
         ASSERT_TRUE((*holder)->exec("BEGIN EXCLUSIVE").ok());
       },
       "the database " + db.string() + " is locked: it is in use by another program", false},
      {"unreadable",
       [&] {
         fs::remove(db);
         fs::create_directory(db);
       },
       "the database cannot be read: " + db.string() + ": is a directory", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(run({}), 0);  // the copy when there is none
    exec("INSERT INTO simsms VALUES (2,'unsent','+39333',1)");
    c.make();
    EXPECT_EQ(run({}), 1);
    EXPECT_EQ(out_, "");
    EXPECT_NE(err_.find(c.says), std::string::npos) << err_;
    holder.reset();
    if (c.replacedNext) {
      EXPECT_EQ(run({"--sms"}), 0);
      EXPECT_EQ(out_, "");
    } else if (fs::is_regular_file(db)) {
      EXPECT_EQ(run({"--sms"}), 0);
      EXPECT_EQ(out_, "2\tunsent\t+39333\t1\n");  // the unsent change is still there
    }
    fs::remove_all(db);
  }
}

}  // namespace
}  // namespace voryx
