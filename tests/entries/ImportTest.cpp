#include "entries/Import.h"

#include <gtest/gtest.h>

#include "base/DebugLog.h"
#include "entries/ContactPlan.h"
#include "support/TempDir.h"

namespace voryx::entries {
namespace {

Person person(std::string first, std::string last, std::string org, std::vector<Phone> phones) {
  Person p;
  p.first = std::move(first);
  p.last = std::move(last);
  p.organization = std::move(org);
  p.phones = std::move(phones);
  return p;
}

TEST(ImportTest, NamesFollowTheChosenOrder) {
  struct Case {
    Person p;
    int lastFirst;
    std::string imported, picked;  // composeName with and without the organization
  };
  const Case kCases[] = {
      {person("Aaa", "Bbb", "", {}), 0, "Aaa Bbb", "Aaa Bbb"},
      {person("Aaa", "Bbb", "", {}), 1, "Bbb Aaa", "Bbb Aaa"},
      {person("", "Bbb", "", {}), 0, "Bbb", "Bbb"},
      {person("", "", "Ccc", {}), 0, "Ccc", ""},
      {person("", "", "", {}), 1, "", ""},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(composeName(c.p, c.lastFirst, true), c.imported);
    EXPECT_EQ(composeName(c.p, c.lastFirst, false), c.picked);
  }
}

TEST(ImportTest, SimEntriesBecomePersons) {
  struct Case {
    std::string name;
    int lastFirst;
    std::string first, middle, last;
  };
  const Case kCases[] = {
      {"Alpha, Beta Gamma", 0, "Beta", "Gamma", "Alpha"},
      {"Beta Gamma Alpha", 0, "Beta", "Gamma", "Alpha"},
      {"Alpha Gamma Beta", 1, "Beta", "Gamma", "Alpha"},
      {"Anna", 0, "Anna", "", ""},
      {"Anna Maria Rossi Bianchi", 0, "Anna", "Rossi", "Bianchi"},  // the word before the last
      {"  Rossi ,  Anna  ", 0, "Anna", "", "Rossi"},
  };
  for (const auto& c : kCases) {
    const Person p = personFromEntry({7, c.name, "+39021234", 0}, c.lastFirst);
    EXPECT_EQ((std::vector<std::string>{p.first, p.middle, p.last}),
              (std::vector<std::string>{c.first, c.middle, c.last}))
        << c.name;
    ASSERT_EQ(p.phones.size(), 1u);
    EXPECT_EQ(p.phones[0].label, "main");
    EXPECT_EQ(p.phones[0].number, "+39021234");
  }
}

class ImportDbTest : public test::ShippedDbTest {
 protected:
  ImportReport run(const std::vector<Person>& persons, int maxSIM, int lastFirst = 0) {
    ImportOptions o;
    o.maxSIM = maxSIM;
    o.lastFirst = lastFirst;
    return importAll(db_, persons, o);
  }
};

// The import adds the plan's entries: a person with several numbers gets their type
// suffixes after a name cut to make room for them, a number on the list (in its national
// or international form) is not added again, names lose their control characters, a
// number the SIM cannot hold is skipped with its reason. The cursor only moves forward;
// the SIM-full stop comes when a row finds no free location.
TEST_F(ImportDbTest, FillsFreeLocationsFromACursor) {
  exec("INSERT INTO sim VALUES (1,'Alessandro M/W','+39021111111',0),(2,'Old2','222',2),(4,'BEA','3331234567',0)");
  const std::vector<Person> book = {
      person("Alessandro", "Manzoni Milano", "",
             {{"mobile", "+39 (02) 123-4567"}, {"home", "06 7654321"}, {"work", "0800-FLOWERS"},
              {"work", "02 1111111"}}),
      person("Bea", "", "", {{"mobile", "+39 333 1234567"}}),
      person("", "", "", {{"", "999"}}),           // nobody: skipped
      person("", "", "\x01\x02", {{"", "998"}}),  // control characters only: nobody
      person("", "", "ACME\nInc", {{"work", "555"}, {"", "556"}}),  // a line break is a blank
  };
  const std::vector<SimEntry> before = rows();
  auto report = run(book, 10);
  EXPECT_EQ(report.end, ImportReport::End::Done);
  EXPECT_EQ(report.duplicates, 2);
  EXPECT_EQ(report.nameless, 2);
  EXPECT_EQ(importNotes(report),
            "Alessandro Manzoni Milano: 0800-FLOWERS: 'F' cannot be stored in a SIM number.\n"
            "1 name was cut to what the SIM holds.");
  EXPECT_EQ(report.added, (std::vector<SimEntry>{{3, "Alessandro M/M", "+39021234567", 1},
                                                 {5, "Alessandro M/H", "067654321", 1},
                                                 {6, "ACME Inc/W", "555", 1},
                                                 {7, "ACME Inc/O", "556", 1}}));
  std::vector<BookToSimPlan::Entry> added;
  for (const SimEntry& e : report.added) added.push_back({e.nome, e.telefono, e.posizione});
  EXPECT_EQ(planBookToSim(book, before, EntryRoom{}, 10, 0).fits, added);
  EXPECT_EQ(rows().size(), 7u);

  // 1 to 7 used: 8 with capacity 8, then full; the rest is not imported.
  report = run({person("Zoe", "", "", {{"", "700"}, {"", "701"}})}, 8);
  EXPECT_EQ(report.end, ImportReport::End::SimFull);
  EXPECT_EQ(report.added, (std::vector<SimEntry>{{8, "Zoe/O", "700", 1}}));
  // Never read (capacity 0): nothing, and the SIM-full stop at the first number to add.
  report = run({person("", "", "", {{"", "800"}}), person("Ugo", "", "", {{"", "801"}})}, 0);
  EXPECT_EQ(report.end, ImportReport::End::SimFull);
  EXPECT_TRUE(report.added.empty());
  EXPECT_EQ(rows().size(), 8u);
}

// A database that cannot be written stops the import with the reason; nothing is stored.
TEST_F(ImportDbTest, ADatabaseFailureStopsAndSaysWhy) {
  auto other = Database::open(db_);
  ASSERT_TRUE(other->exec("BEGIN EXCLUSIVE").ok());
  ImportOptions o;
  o.maxSIM = 10;
  o.busy = BusyPolicy{std::chrono::milliseconds(50)};
  auto report = importAll(db_, {person("Ugo", "", "", {{"", "1"}, {"", "2"}})}, o);
  EXPECT_EQ(report.end, ImportReport::End::DatabaseError);
  EXPECT_FALSE(report.detail.empty());
  ASSERT_TRUE(other->exec("ROLLBACK").ok());
  EXPECT_TRUE(rows().empty());
  report = importAll(dir_ / "missing.sqlitedb", {person("Ugo", "", "", {{"", "1"}})}, o);
  EXPECT_EQ(report.end, ImportReport::End::DatabaseError);
}

TEST_F(ImportDbTest, LogsWhatItDoesWhenLoggingIsOn) {
  DebugLog::setPath(dir_ / "Voryx.log");
  ImportOptions o;
  o.maxSIM = 10;
  o.createLog = 1;
  exec("INSERT INTO sim VALUES (1,'Old','111',0)");
  importAll(db_, {person("Aaa", "", "", {{"mobile", "111"}, {"mobile", "2 2"}})}, o);
  DebugLog::setPath({});
  EXPECT_EQ(test::readFile(dir_ / "Voryx.log"),
            "start import all\ncontact |0|\nlastname |Aaa|\nfirstName |nill|\n"
            "startcoding with contactLastFirst |Aaa|\ntelefono |111|\ntelefono gia' nel db\n"
            "telefono |22|\ninserisco in posizione |2|\npreparo statement, rc |0| \n"
            "valorizzo nome, rc |0|   lunghezza 5\nvalorizzo tel, rc |0|   lunghezza 2\n"
            "inserisco in posizione, rc |101|\n");
}

}  // namespace
}  // namespace voryx::entries
