#include "store/EntryList.h"

#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <thread>

#include "store/Database.h"
#include "store/TempDir.h"

namespace voryx {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test::readFile;
using test::TempDir;
using test::writeFile;

class EntryListTest : public ::testing::Test {
 protected:
  void SetUp() override { fs::copy_file(test::shippedDatabase(), db_); }

  void exec(const std::string& sql) {
    auto done = Database::open(db_)->exec(sql);
    ASSERT_TRUE(done.ok()) << done.error().detail;
  }

  static std::vector<int> positions(const std::vector<SimEntry>& entries) {
    std::vector<int> out;
    for (const auto& e : entries) out.push_back(e.posizione);
    return out;
  }

  TempDir dir_;
  fs::path db_ = dir_ / "Voryx.sqlitedb";
};

TEST_F(EntryListTest, SearchAndOrder) {
  exec(
      "INSERT INTO sim (entry,desc,number,operazione) VALUES "
      "(1,'Zanna','+39021234',0),(2,'GIANNI','333',1),(3,'Bob','444',2),"
      "(4,'50% off','555',3),(5,'a_b','666',0),(6,'\xC3\x80nna','777',0),"
      "(7,'AxB','888',0),(8,'anna','999',0)");
  struct Case {
    const char* search;
    int sortField;
    std::vector<int> expected;
  };
  const Case cases[] = {
      {"", 0, {1, 2, 3, 4, 5, 6, 7, 8}},
      {"", 1, {4, 7, 3, 2, 1, 5, 8, 6}},  // byte order: digits, upper case, lower, non-ASCII
      {"an", 0, {1, 2, 8}},               // either letter case, in that order of letters
      {"AN", 1, {2, 1, 8}},
      {"21", 0, {1}},                     // the number matches too
      {"a%i", 0, {2}},                    // % in the text is a wildcard
      {"a_b", 0, {5, 7}},                 // so is _
      {"\xC3\xA0", 0, {}},                // letter case of non-ASCII letters is not folded
      {"%", 1, {4, 7, 3, 2, 1, 5, 8, 6}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.search) + " sort " + std::to_string(c.sortField));
    ListLoad load = loadEntries(db_, ListStore::Phonebook, c.search, c.sortField);
    EXPECT_EQ(load.failure, LoadFailure::None);
    EXPECT_EQ(positions(load.entries), c.expected);
  }
}

TEST_F(EntryListTest, EmptyTablesThenSmsIgnoresSearchAndSortAndNullsReadEmpty) {
  for (ListStore store : {ListStore::Phonebook, ListStore::Sms}) {
    ListLoad load = loadEntries(db_, store, "", 0);
    EXPECT_EQ(load.failure, LoadFailure::None);
    EXPECT_TRUE(load.entries.empty());
  }
  exec(
      "INSERT INTO simsms (entry,desc,number,operazione) VALUES "
      "(9,'b text','+39333',0),(2,'a text',NULL,NULL),(5,NULL,'123',1)");
  ListLoad load = loadEntries(db_, ListStore::Sms, "zzz", 1);
  EXPECT_EQ(load.failure, LoadFailure::None);
  EXPECT_EQ(load.entries, (std::vector<SimEntry>{{2, "a text", "", 0},
                                                 {5, "", "123", 1},
                                                 {9, "b text", "+39333", 0}}));
}

// Creates a database whose `sim` table spans several pages and overwrites the table's
// root page, so that the first step of the list statement meets the damage.
void damageSimTable(const fs::path& file) {
  int rootPage = 0;
  {
    auto db = Database::open(file);
    ASSERT_TRUE(db.ok());
    ASSERT_TRUE(db->exec("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i+1 FROM n "
                         "WHERE i<500) INSERT INTO sim SELECT i, printf('name %03d', i), "
                         "'123456789', 0 FROM n")
                    .ok());
    auto stmt = db->prepare("SELECT rootpage FROM sqlite_master WHERE name='sim'");
    ASSERT_TRUE(stmt.ok());
    ASSERT_EQ(stmt->step(), Statement::Step::Row);
    rootPage = stmt->columnInt(0);
  }
  std::string bytes = readFile(file);
  const std::size_t pageSize = 4096;
  ASSERT_GE(bytes.size(), pageSize * static_cast<std::size_t>(rootPage));
  std::fill_n(bytes.begin() + static_cast<std::ptrdiff_t>(pageSize * (rootPage - 1)), pageSize,
              '\xA5');
  writeFile(file, bytes);
}

TEST_F(EntryListTest, DamagedFileIsMovedAsideWhole) {
  struct Case {
    const char* name;
    void (*damage)(const fs::path&);
    LoadFailure failure;
  };
  const Case cases[] = {
      {"no sim table", [](const fs::path& f) { ASSERT_TRUE(Database::open(f)->exec("DROP TABLE sim").ok()); },
       LoadFailure::Prepare},
      {"not a database",
       [](const fs::path& f) { writeFile(f, std::string(8192, 'x') + "garbage"); },
       LoadFailure::Prepare},
      {"damaged table", damageSimTable, LoadFailure::Corrupt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const fs::path file = dir / "Voryx.sqlitedb";
    fs::copy_file(test::shippedDatabase(), file);
    c.damage(file);
    // An empty (not hot) rollback journal belongs to the file and goes with it.
    writeFile(dir / "Voryx.sqlitedb-journal", std::string(512, '\0'));
    const std::string before = readFile(file);

    ListLoad load = loadEntries(file, ListStore::Phonebook, "", 0);
    EXPECT_EQ(load.failure, c.failure);
    EXPECT_TRUE(load.entries.empty());
    EXPECT_FALSE(fs::exists(file));
    ASSERT_FALSE(load.movedAsideTo.empty());
    EXPECT_EQ(load.movedAsideTo.parent_path(), dir.path);
    EXPECT_EQ(load.movedAsideTo.filename().string().rfind("Voryx.sqlitedb.damaged-", 0), 0u);
    EXPECT_EQ(readFile(load.movedAsideTo), before);
    EXPECT_FALSE(fs::exists(dir / "Voryx.sqlitedb-journal"));
    EXPECT_TRUE(fs::exists(load.movedAsideTo.string() + "-journal"));
  }
}

TEST_F(EntryListTest, MovingAsideNeverOverwrites) {
  // Occupy the names of this second and the next few, in case the clock ticks meanwhile.
  std::vector<fs::path> taken;
  for (std::time_t t = std::time(nullptr), end = t + 3; t < end; ++t) {
    std::tm local{};
    localtime_r(&t, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
    taken.push_back(db_.string() + ".damaged-" + stamp);
    writeFile(taken.back(), "earlier damaged file");
  }
  writeFile(db_, "garbage");
  ListLoad load = loadEntries(db_, ListStore::Phonebook, "", 0);
  EXPECT_EQ(load.failure, LoadFailure::Prepare);
  ASSERT_FALSE(load.movedAsideTo.empty());
  EXPECT_EQ(readFile(load.movedAsideTo), "garbage");
  for (const auto& p : taken) EXPECT_EQ(readFile(p), "earlier damaged file");
}

TEST_F(EntryListTest, LockIsWaitedOutWithinTheBoundThenEndsAsBusy) {
  auto holder = Database::open(db_);  // an exclusive lock from another connection
  ASSERT_TRUE(holder->exec("BEGIN EXCLUSIVE").ok());
  ASSERT_TRUE(holder->exec("INSERT INTO sim VALUES (1,'locked','1',0)").ok());
  ListLoad load = loadEntries(db_, ListStore::Phonebook, "", 0, 5ms);
  EXPECT_EQ(load.failure, LoadFailure::Busy);
  EXPECT_TRUE(load.movedAsideTo.empty());
  EXPECT_TRUE(fs::exists(db_));
  std::thread releaser([&] {
    std::this_thread::sleep_for(50ms);
    EXPECT_TRUE(holder->exec("COMMIT").ok());
  });
  // The bound (10 x 200 ms) leaves a wide margin over the 50 ms hold.
  load = loadEntries(db_, ListStore::Phonebook, "", 0, 200ms);
  releaser.join();
  EXPECT_EQ(load.failure, LoadFailure::None);
  EXPECT_EQ(load.entries, (std::vector<SimEntry>{{1, "locked", "1", 0}}));
}

TEST(ComparatorTest, OrdinaComparesLocationsAsIntegers) {
  EXPECT_LT(ordina({3, "", "", 0}, {12, "", "", 0}), 0);
  EXPECT_EQ(ordina({12, "a", "", 0}, {12, "b", "", 0}), 0);
  EXPECT_GT(ordina({12, "", "", 0}, {-3, "", "", 0}), 0);
}

TEST(ComparatorTest, OrdinaNameComparesUtf16Units) {
  struct Case {
    const char* a;
    const char* b;
    int sign;
  };
  const Case cases[] = {
      {"Anna", "Bob", -1},
      {"Bob", "anna", -1},  // case-sensitive: upper case first
      {"anna", "anna", 0},
      {"ann", "anna", -1},
      {"\xC3\xA0", "b", 1},  // U+00E0 after ASCII
      // U+1F600 (surrogates D83D DE00) before U+E000, unlike UTF-8 byte order.
      {"\xF0\x9F\x98\x80", "\xEE\x80\x80", -1},
      {"\xFF", "\xEF\xBF\xBD", 0},  // a stray byte counts as U+FFFD
      {"\xE2\x82", "a", 1},         // a truncated sequence too
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.a) + " / " + c.b);
    int r = ordinaName({1, c.a, "", 0}, {2, c.b, "", 0});
    EXPECT_EQ((r > 0) - (r < 0), c.sign);
  }
}

TEST(ComparatorTest, SortEntriesIsStable) {
  std::vector<SimEntry> entries{{12, "b", "1", 0}, {3, "a", "2", 0}, {7, "b", "3", 0},
                                {1, "a", "4", 0}};
  sortEntries(entries, 1);
  EXPECT_EQ(entries, (std::vector<SimEntry>{{3, "a", "2", 0}, {1, "a", "4", 0},
                                            {12, "b", "1", 0}, {7, "b", "3", 0}}));
  sortEntries(entries, 0);
  EXPECT_EQ(entries, (std::vector<SimEntry>{{1, "a", "4", 0}, {3, "a", "2", 0},
                                            {7, "b", "3", 0}, {12, "b", "1", 0}}));
}

}  // namespace
}  // namespace voryx
