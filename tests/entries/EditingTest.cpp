#include "entries/Editing.h"

#include <gtest/gtest.h>

#include "entries/DebugLog.h"
#include "store/TempDir.h"

namespace voryx::entries {
namespace {

struct LocationCase {
  std::vector<std::int32_t> taken;
  int capacity;
  std::optional<std::int32_t> chosen;
};
const LocationCase kLocations[] = {
    {{}, 250, 1},
    {{1, 2, 4}, 250, 3},
    {{3, 2}, 250, 1},
    {{1, 2, 3}, 250, 4},
    {{1, 2, 3}, 3, std::nullopt},  // full
    {{}, 0, 1},                    // never read: the first entry still gets a place
    {{1}, 0, std::nullopt},        // ... and the next one meets a full SIM
    {{2, 3}, 0, 1},                // a gap is a gap, whatever the capacity
    {{0, 1, 2}, 3, 3},             // index 0 (some modems' first SMS) is no location
    {{1, 1, 2}, 3, 3},             // a repeat takes one place
    {{1, 2, 300}, 250, 3},
};

TEST(EditingTest, ChoosesTheLowestFreeLocation) {
  for (const auto& c : kLocations) {
    EXPECT_EQ(freeLocation(c.taken, c.capacity), c.chosen)
        << testing::PrintToString(c.taken) << " of " << c.capacity;
  }
  std::vector<std::int32_t> all(250);
  for (int i = 0; i < 250; ++i) all[i] = 250 - i;
  EXPECT_EQ(freeLocation(all, 250), std::nullopt);
}

TEST(EditingTest, CleansNamesAndNumbers) {
  const EditTarget phonebook{{}, ListStore::Phonebook, 250, 14, kShellBusy};
  const EditTarget sms{{}, ListStore::Sms, 30, 14, kShellBusy};
  const std::string longText(200, 'x');
  struct Case {
    const EditTarget& target;
    std::string name, number, storedName, storedNumber;
  };
  const Case kCases[] = {
      {phonebook, "Anna", "+39 02-1234 abc", "Anna", "+39021234"},
      {phonebook, "Anna", "abc", "Anna", ""},
      {phonebook, "Alessandro Manzoni 1785", "*31#1;2,3", "Alessandro Man", "*31#1;2,3"},
      {phonebook, "Иван Петров-Водкин", "1", "Иван Петров", "1"},  // 81: 3 bytes + 11
      {phonebook, "[Pay] {€} now", "1", "[Pay] {€}", "1"},        // escape pairs whole
      {sms, longText, "+1 (555)", longText, "+1555"},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(cleanName(c.target, c.name), c.storedName) << c.name;
    EXPECT_EQ(cleanNumber(c.number), c.storedNumber) << c.number;
  }
}

class EditingDbTest : public test::ShippedDbTest {
 protected:
  void SetUp() override {
    ShippedDbTest::SetUp();
    exec("INSERT INTO sim VALUES (1,'Anna','111',0),(2,'Bruno','222',2),(4,'Dario','444',1)");
    exec("INSERT INTO simsms VALUES (1,'Ciao','333',0)");
  }
  EditTarget target(ListStore store = ListStore::Phonebook) { return {db_, store, 250, 14, kShellBusy}; }
};

// Every row counts as taken, also one marked for deletion; a change marks 3, also a row
// the SIM has not seen yet; each store's table on its own.
TEST_F(EditingDbTest, StoresWhatTheListWillShow) {
  auto added = addEntry(target(), "Elena Ferrante Napoli", "+39 081");
  ASSERT_EQ(added.outcome, EditOutcome::Stored);
  EXPECT_EQ(added.entry, (SimEntry{3, "Elena Ferrante", "+39081", kMarkNew}));
  auto changed = changeEntry(target(), 4, "Dario B", "4-4-4");
  EXPECT_EQ(changed.entry, (SimEntry{4, "Dario B", "444", kMarkChanged}));
  ASSERT_TRUE(deleteEntry(target(ListStore::Sms), 1).ok());
  EXPECT_EQ(rows(ListStore::Phonebook),
            (std::vector<SimEntry>{{1, "Anna", "111", 0}, {2, "Bruno", "222", 2},
                                   {3, "Elena Ferrante", "+39081", 1}, {4, "Dario B", "444", 3}}));
  EXPECT_EQ(rows(ListStore::Sms), (std::vector<SimEntry>{{1, "Ciao", "333", 2}}));

  auto sms = addEntry(target(ListStore::Sms), std::string(300, 'z'), "1");
  EXPECT_EQ(sms.entry, (SimEntry{2, std::string(300, 'z'), "1", kMarkNew}));
}

// Nothing is stored half-way, and each failure says why.
TEST_F(EditingDbTest, RefusalsChangeNothing) {
  EditTarget full = target();
  full.capacity = 4;
  exec("INSERT INTO sim VALUES (3,'Carla','3',0);");
  const auto withCarla = rows(ListStore::Phonebook);
  EXPECT_EQ(addEntry(full, "Zoe", "1").outcome, EditOutcome::SimFull);
  auto missing = changeEntry(target(), 9, "Zoe", "1");
  EXPECT_EQ(missing.outcome, EditOutcome::NotSaved);
  EXPECT_NE(missing.detail.find("no entry 9"), std::string::npos) << missing.detail;
  EXPECT_EQ(addEntry(target(), "\xC3(", "1").outcome, EditOutcome::NotSaved);
  EXPECT_FALSE(deleteEntry(target(), 9).ok());
  EXPECT_EQ(rows(ListStore::Phonebook), withCarla);

  // Locked by another program past the bound.
  auto other = Database::open(db_);
  ASSERT_TRUE(other->exec("BEGIN EXCLUSIVE").ok());
  EditTarget hurried = target();
  hurried.busy = BusyPolicy{std::chrono::milliseconds(50)};
  auto locked = addEntry(hurried, "Zoe", "1");
  EXPECT_EQ(locked.outcome, EditOutcome::NotSaved);
  EXPECT_FALSE(emptySim(db_, hurried.busy).ok());
  ASSERT_TRUE(other->exec("ROLLBACK").ok());
  EXPECT_EQ(rows(ListStore::Phonebook), withCarla);
}

TEST_F(EditingDbTest, EmptyingMarksEveryPhonebookRowAndSaysSoInTheLog) {
  DebugLog::setPath(dir_ / "Voryx.log");
  ASSERT_TRUE(emptySim(db_, kShellBusy).ok());
  DebugLog::setPath({});
  for (const auto& row : rows(ListStore::Phonebook)) EXPECT_EQ(row.operazione, kMarkDeleted);
  EXPECT_EQ(rows(ListStore::Sms)[0].operazione, 0);
  EXPECT_EQ(test::readFile(dir_ / "Voryx.log"), "start empty sim\n");
}

}  // namespace
}  // namespace voryx::entries
