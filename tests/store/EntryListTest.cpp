#include "store/EntryList.h"

#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <functional>
#include <thread>

#include "store/Database.h"
#include "support/TempDir.h"

namespace voryx {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test::exec;
using test::filesIn;
using test::readFile;
using test::TempDir;
using test::writeFile;

std::string schemaOf(const fs::path& file) {
  return test::queryText(file, "SELECT group_concat(type||'|'||name||'|'||tbl_name||'|'||quote(sql), ' ') "
                               "FROM (SELECT * FROM sqlite_master ORDER BY name)");
}

// Creates a database whose `sim` table spans several pages and overwrites the table's
// root page, so that the first step of the list statement meets the damage.
void damageSimTable(const fs::path& file) {
  exec(file, "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i+1 FROM n WHERE i<500) "
             "INSERT INTO sim SELECT i, printf('name %03d', i), '123456789', 0 FROM n");
  const std::size_t pageSize = 4096,
                    rootPage = std::stoul(test::queryText(file, "SELECT rootpage FROM sqlite_master WHERE name='sim'"));
  std::string bytes = readFile(file);
  ASSERT_TRUE(rootPage > 0 && bytes.size() >= pageSize * rootPage) << rootPage;
  bytes.replace(pageSize * (rootPage - 1), pageSize, pageSize, '\xA5');
  writeFile(file, bytes);
}

TEST(EntryListTest, OnlyADamagedFileIsMovedAside) {
  struct Case {
    const char* name;
    std::function<void(const fs::path&)> make;  // from a copy of the shipped database
    LoadFailure failure;
    bool movedAside;
    const char* detailEnd;
    std::vector<SimEntry> sms = {};  // the SMS list afterwards, when the load succeeds
  };
  const Case cases[] = {
      {"no sim table: made, the SMS rows kept",
       [](const fs::path& f) { exec(f, "DROP TABLE sim"); }, LoadFailure::None, false, "",
       {{2, "kept", "+39", 1}}},
      {"an empty file: a database without tables", [](const fs::path& f) { writeFile(f, ""); },
       LoadFailure::None, false, ""},
      {"not a database",
       [](const fs::path& f) { writeFile(f, std::string(8192, 'x') + "garbage"); },
       LoadFailure::Corrupt, true, ": file is not a database"},
      {"damaged table", damageSimTable, LoadFailure::Corrupt, true,
       ": database disk image is malformed"},
      {"missing: not created either", [](const fs::path& f) { fs::remove(f); },
       LoadFailure::Unreadable, false, ": no such file"},
      {"a folder in its place",
       [](const fs::path& f) {
         fs::remove(f);
         fs::create_directory(f);
       },
       LoadFailure::Unreadable, false, ": is a directory"},
      {"a table of another shape",
       [](const fs::path& f) {
         exec(f, "DROP TABLE sim");
         exec(f, "CREATE TABLE sim (entry, desc)");
       },
       LoadFailure::Step, false,
       "no such column: number (in \"SELECT desc,number,entry,operazione "
       "FROM sim order by entry\")"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const fs::path file = dir / "Voryx.sqlitedb";
    fs::copy_file(test::shippedDatabase(), file);
    exec(file, "INSERT INTO simsms VALUES (2,'kept','+39',1)");
    c.make(file);
    // An empty (not hot) rollback journal belongs to the file and goes with it. Earlier
    // damaged files hold the names of this second and the next few (the clock may tick):
    // moving aside never overwrites them.
    std::vector<fs::path> earlier;
    if (c.movedAside) {
      writeFile(dir / "Voryx.sqlitedb-journal", std::string(512, '\0'));
      writeFile(dir / "Voryx.sqlitedb.pass-simsms", "{\"pass\":\"1\"}\n");  // a write's journal
      for (std::time_t t = std::time(nullptr), end = t + 3; t < end; ++t) {
        std::tm local{};
        localtime_r(&t, &local);
        char stamp[32];
        std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
        earlier.push_back(file.string() + ".damaged-" + stamp);
        writeFile(earlier.back(), "earlier damaged file");
      }
    }
    const std::vector<fs::path> files = filesIn(dir.path);
    const std::string before = fs::is_regular_file(file) ? readFile(file) : "";

    ListLoad load = loadEntries(file, ListStore::Phonebook, "", 0);
    EXPECT_EQ(load.failure, c.failure);
    EXPECT_TRUE(load.entries.empty());
    EXPECT_TRUE(load.detail.ends_with(c.detailEnd)) << load.detail;
    if (!c.movedAside) {
      EXPECT_TRUE(load.movedAsideTo.empty());
      EXPECT_EQ(filesIn(dir.path), files);
      if (c.failure == LoadFailure::None) {
        EXPECT_EQ(loadEntries(file, ListStore::Sms, "", 0).entries, c.sms);
        EXPECT_EQ(schemaOf(file), schemaOf(test::shippedDatabase()));  // the tables as shipped
      } else if (fs::is_regular_file(file)) {
        EXPECT_EQ(readFile(file), before);
      }
      continue;
    }
    EXPECT_EQ(load.movedAsideTo.filename().string().rfind("Voryx.sqlitedb.damaged-", 0), 0u);
    EXPECT_EQ(readFile(load.movedAsideTo), before);
    std::vector<fs::path> after = earlier;
    after.insert(after.end(), {load.movedAsideTo, load.movedAsideTo.string() + "-journal",
                               load.movedAsideTo.string() + ".pass-simsms"});
    std::sort(after.begin(), after.end());
    EXPECT_EQ(filesIn(dir.path), after);
    for (const fs::path& p : earlier) EXPECT_EQ(readFile(p), "earlier damaged file");
  }
}

// Runs `check` as an unprivileged user (uid and gid 65534) in a child process, since the
// tests run as root, whom file modes do not stop. True when the child's check held.
bool asNobody(const std::function<bool()>& check) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    const bool dropped = ::geteuid() != 0 || (::setgroups(0, nullptr) == 0 && ::setgid(65534) == 0 &&
                                              ::setuid(65534) == 0);
    ::_exit(dropped && check() ? 0 : 1);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

TEST(EntryListTest, AFileTheUserMayNotWriteStaysWhereItIs) {
  for (unsigned mode : {0000u, 0444u}) {
    SCOPED_TRACE(mode);
    TempDir dir;
    fs::permissions(dir.path, fs::perms(0711));  // the child may reach the file by name
    const fs::path file = dir / "Voryx.sqlitedb";
    fs::copy_file(test::shippedDatabase(), file);
    exec(file, "INSERT INTO sim VALUES (1,'Anna','111',1)");
    fs::permissions(file, fs::perms(mode));
    const std::string before = readFile(file);

    EXPECT_TRUE(asNobody([&] {
      ListLoad load = loadEntries(file, ListStore::Phonebook, "", 0);
      const bool held = load.failure == LoadFailure::Unreadable && load.detail == file.string() + ": permission denied";
      if (!held) std::fprintf(stderr, "failure %d: %s\n", static_cast<int>(load.failure), load.detail.c_str());
      return held;
    }));
    EXPECT_EQ(filesIn(dir.path), std::vector<fs::path>{file});
    EXPECT_EQ(test::modeOf(file), mode);
    EXPECT_EQ(readFile(file), before);
  }
}

TEST(EntryListTest, ScreenGivesUpOnALockAfterAboutASecondShellWaitsItOut) {
  TempDir dir;
  const fs::path db = dir / "Voryx.sqlitedb";
  fs::copy_file(test::shippedDatabase(), db);
  exec(db, "INSERT INTO sim VALUES (1,'before','1',0)");
  auto holder = Database::open(db);  // an exclusive lock from another connection
  ASSERT_TRUE(holder->exec("BEGIN EXCLUSIVE").ok());
  ASSERT_TRUE(holder->exec("INSERT INTO sim VALUES (2,'locked','2',0)").ok());

  const auto start = std::chrono::steady_clock::now();
  ListLoad load = loadEntries(db, ListStore::Phonebook, "", 0, kScreenBusy);
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(load.failure, LoadFailure::Busy);
  EXPECT_TRUE(load.movedAsideTo.empty());
  EXPECT_GE(waited, 900ms);
  EXPECT_LT(waited, 2000ms);

  // Released past the screen's bound, within the shell's.
  std::jthread releaser([&] {
    std::this_thread::sleep_for(1500ms);
    EXPECT_TRUE(holder->exec("COMMIT").ok());
  });
  load = loadEntries(db, ListStore::Phonebook, "", 0, kShellBusy);
  EXPECT_EQ(load.failure, LoadFailure::None);
  EXPECT_EQ(load.entries, (std::vector<SimEntry>{{1, "before", "1", 0}, {2, "locked", "2", 0}}));
}

TEST(ComparatorTest, OrdinaNameComparesUtf16Units) {
  struct Case { const char *a, *b; int sign; };
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

// By location the order is that of integers (3 before 12); both sorts keep ties in place.
TEST(ComparatorTest, SortEntriesIsStable) {
  std::vector<SimEntry> entries{
      {12, "b", "1", 0}, {3, "a", "2", 0}, {7, "b", "3", 0}, {1, "a", "4", 0}};
  sortEntries(entries, 1);
  EXPECT_EQ(entries, (std::vector<SimEntry>{
                         {3, "a", "2", 0}, {1, "a", "4", 0}, {12, "b", "1", 0}, {7, "b", "3", 0}}));
  sortEntries(entries, 0);
  EXPECT_EQ(entries, (std::vector<SimEntry>{
                         {1, "a", "4", 0}, {3, "a", "2", 0}, {7, "b", "3", 0}, {12, "b", "1", 0}}));
}

// Long messages as the list shows them: parts in any order, one stored twice, one missing,
// two senders with the same reference, a part marked deleted.
TEST(EntryListTest, JoinsTheRowsOfAMessageInParts) {
  const std::vector<SimEntry> rows = {{1, "b", "+39", 0}, {2, "solo", "+39", 1}, {3, "a", "+39", 0},
                                      {4, "x", "+44", 0}, {5, "a", "+39", 0},  {6, "y", "+44", 2},
                                      {9, "end", "+39", 0}};
  const MessageParts parts = {{1, {7, 3, 2}}, {3, {7, 3, 1}}, {5, {7, 3, 1}}, {9, {7, 3, 3}},
                              {4, {7, 3, 1}}, {6, {7, 3, 3}}};
  EXPECT_EQ(joinMessageParts(rows, parts),
            (std::vector<SimEntry>{{1, "abend (3 parts)", "+39", 0},
                                   {2, "solo", "+39", 1},
                                   {4, "x[part 2 of 3 missing]y (3 parts)", "+44", 2}}));
  EXPECT_EQ(joinMessageParts(rows, {}), rows);
}

}  // namespace
}  // namespace voryx
