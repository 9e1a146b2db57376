#include "store/SimTable.h"

#include <gtest/gtest.h>

#include <functional>

#include "support/TempDir.h"

namespace voryx {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using What = Confirmed::What;

std::string tableName(ListStore store) { return store == ListStore::Sms ? "simsms" : "sim"; }

class SimTableTest : public test::ShippedDbTest {
 protected:
  SimTable open(ListStore store, BusyPolicy busy = kShellBusy) {
    auto table = SimTable::open(db_, store, busy);
    EXPECT_TRUE(table.ok()) << table.error().detail;
    return std::move(table).value();
  }
};

// The phonebook is searched and sorted; the SMS list ignores search and sort.
TEST_F(SimTableTest, ListSearchesAndOrdersThePhonebook) {
  exec(
      "INSERT INTO sim (entry,desc,number,operazione) VALUES "
      "(1,'Zanna','+39021234',0),(2,'GIANNI','333',1),(3,'Bob','444',2),"
      "(4,'50% off','555',3),(5,'a_b','666',0),(6,'\xC3\x80nna','777',0),"
      "(7,'AxB','888',0),(8,'anna','999',0)");
  exec("INSERT INTO simsms (entry,desc,number,operazione) VALUES (9,'b text','+39333',0),(2,'a text',NULL,NULL),(5,NULL,'123',1)");
  struct Case { const char* search; int sortField; std::vector<int> expected; ListStore store = ListStore::Phonebook; };
  const Case cases[] = {
      {"", 0, {1, 2, 3, 4, 5, 6, 7, 8}},
      {"", 1, {4, 7, 3, 2, 1, 5, 8, 6}},  // byte order: digits, upper case, lower, non-ASCII
      {"an", 0, {1, 2, 8}},               // either letter case, in that order of letters
      {"AN", 1, {2, 1, 8}},
      {"21", 0, {1}},       // the number matches too
      {"a%i", 0, {2}},      // % in the text is a wildcard
      {"a_b", 0, {5, 7}},   // so is _
      {"\xC3\xA0", 0, {}},  // letter case of non-ASCII letters is not folded
      {"zzz", 1, {2, 5, 9}, ListStore::Sms},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.search) + " sort " + std::to_string(c.sortField));
    auto rows = open(c.store).list(c.search, c.sortField);
    ASSERT_TRUE(rows.ok()) << rows.error().detail;
    std::vector<int> positions;
    for (const auto& e : *rows) positions.push_back(e.posizione);
    EXPECT_EQ(positions, c.expected);
  }
  // NULLs read empty.
  EXPECT_EQ(rows(ListStore::Sms),
            (std::vector<SimEntry>{{2, "a text", "", 0}, {5, "", "123", 1}, {9, "b text", "+39333", 0}}));
}

TEST_F(SimTableTest, ReplaceAllStoresWholeOrNothing) {
  struct Case {
    const char* name;
    const char* setUp;  // SQL run first
    std::vector<SimEntry> rows;
    bool discardMarks;
    std::optional<Errc> error;
    std::vector<SimEntry> after;
  };
  const std::vector<SimEntry> old{{1, "old", "1", 0}, {4, "kept", "4", 3}};
  const Case cases[] = {
      {"a repeated entry is skipped", "", {{1, "A", "1", 0}, {2, "B", "2", 0}, {1, "C", "3", 0}},
       true, std::nullopt, {{1, "A", "1", 0}, {2, "B", "2", 0}}},
      {"marked rows refuse the replacement", "", {{2, "B", "2", 0}}, false, Errc::Invalid, old},
      {"a row the database refuses",
       "CREATE TRIGGER refuse BEFORE INSERT ON sim WHEN new.desc='boom' "
       "BEGIN SELECT RAISE(ABORT,'refused'); END",
       {{2, "B", "2", 0}, {3, "boom", "3", 0}}, true, Errc::Invalid, old},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    exec("DELETE FROM sim");
    exec("INSERT INTO sim VALUES (1,'old','1',0),(4,'kept','4',3)");
    exec("DROP TRIGGER IF EXISTS refuse");
    if (*c.setUp) exec(c.setUp);
    Status done = open(ListStore::Phonebook).replaceAll(c.rows, c.discardMarks);
    EXPECT_EQ(done.ok() ? std::nullopt : std::optional(done.error().code), c.error)
        << (done.ok() ? "" : done.error().detail);
    EXPECT_EQ(rows(ListStore::Phonebook), c.after);
  }
}

TEST_F(SimTableTest, EditsMarkRowsAndCountTheMarks) {
  SimTable table = open(ListStore::Sms);
  auto marked = [&] { return *table.countMarked(); };
  EXPECT_EQ(marked(), 0);
  exec("INSERT INTO simsms VALUES (5,'Bob','5',0)");
  // add: the location chosen from every row's, in the same transaction.
  std::vector<std::int32_t> seen;
  auto pick3 = [&seen](const std::vector<std::int32_t>& taken) {
    seen = taken;
    return std::optional<std::int32_t>(3);
  };
  EXPECT_EQ(*table.add({0, "Anna", "123", kMarkNew}, pick3), 3);
  EXPECT_EQ(seen, std::vector<std::int32_t>{5});
  EXPECT_EQ(*table.add({0, "Nobody", "1", kMarkNew}, [](auto&) { return std::nullopt; }), std::nullopt);
  ASSERT_TRUE(table.change({3, "Anna B", "124", kMarkChanged}).ok());
  EXPECT_EQ(table.change({4, "Nobody", "1", kMarkChanged}).error().code, Errc::NotFound);
  EXPECT_EQ(rows(ListStore::Sms),
            (std::vector<SimEntry>{{3, "Anna B", "124", 3}, {5, "Bob", "5", 0}}));
  EXPECT_EQ(marked(), 1);
  ASSERT_TRUE(table.markDeleted(5).ok());
  EXPECT_EQ(marked(), 2);
  EXPECT_EQ(table.markDeleted(9).error().code, Errc::NotFound);
  ASSERT_TRUE(table.markAllDeleted().ok());
  EXPECT_EQ(rows(ListStore::Sms),
            (std::vector<SimEntry>{{3, "Anna B", "124", 2}, {5, "Bob", "5", 2}}));
  EXPECT_TRUE(rows(ListStore::Phonebook).empty());  // the other store's table is not touched
}

Confirmed written(SimEntry sent, std::optional<std::int32_t> storedAt = std::nullopt) {
  Confirmed c = Confirmed::of(std::move(sent), What::Written);
  c.storedAt = storedAt;
  return c;
}
Confirmed erased(SimEntry sent) { return Confirmed::of(std::move(sent), What::Erased); }
Confirmed cut(SimEntry sent, std::string took) {  // written; the SIM holds the name as `took`
  Confirmed c = written(std::move(sent));
  c.took = std::move(took);
  return c;
}

TEST_F(SimTableTest, SweepAppliesWhatThePassConfirmed) {
  struct Case {
    const char* name;
    ListStore store;
    const char* now;  // the table when the sweep runs: another program may have changed it
    std::vector<Confirmed> confirmed;
    std::vector<SimEntry> after;
  };
  const auto pb = ListStore::Phonebook;
  const auto sms = ListStore::Sms;
  // Rows: (entry, desc, number, operazione).
  const Case cases[] = {
      {"written, unchanged: in step", pb, "(1,'Ann','1',1),(2,'Bob','2',3),(3,'Cy','3',0)",
       {written({1, "Ann", "1", 1}), written({2, "Bob", "2", 3})},
       {{1, "Ann", "1", 0}, {2, "Bob", "2", 0}, {3, "Cy", "3", 0}}},
      {"written, changed since: the mark stays, a new row becomes changed", pb,
       "(1,'Ann B','1',1),(2,'Bob','9',3),(3,'Cy','3',2)",
       {written({1, "Ann", "1", 1}), written({2, "Bob", "2", 3}), written({3, "Cy", "3", 3})},
       {{1, "Ann B", "1", 3}, {2, "Bob", "9", 3}, {3, "Cy", "3", 2}}},
      {"written, the SIM holds less of the name: the row takes it, unless changed since", pb,
       "(1,'Annabella','1',1),(2,'Bob B','2',3)", {cut({1, "Annabella", "1", 1}, "Anna"), cut({2, "Bob", "2", 3}, "Bo")},
       {{1, "Anna", "1", 0}, {2, "Bob B", "2", 3}}},
      {"erased: removed when unchanged, else kept", pb, "(1,'Ann','1',2),(2,'Bob','2',3)",
       {erased({1, "Ann", "1", 2}), erased({2, "Bob", "2", 2})}, {{2, "Bob", "2", 3}}},
      {"a row gone: nothing; NULL reads as empty", pb, "(2,NULL,NULL,1),(5,'Eve','5',1)",
       {written({1, "Ann", "1", 1}), written({2, "", "", 1})},
       {{2, "", "", 0}, {5, "Eve", "5", 1}}},
      {"written at storedAt: the row moves there", sms, "(4,'hi','+39',1),(6,'yo','+40',3)",
       {written({4, "hi", "+39", 1}, 7), written({6, "yo", "+40", 3}, 6)},
       {{6, "yo", "+40", 0}, {7, "hi", "+39", 0}}},
      {"written at storedAt, changed since: moves all the same", sms, "(4,'hi!','+39',1)",
       {written({4, "hi", "+39", 1}, 2)}, {{2, "hi!", "+39", 3}}},
      {"two rows swap indexes", sms, "(1,'a','1',3),(2,'b','2',3)",
       {written({1, "a", "1", 3}, 2), written({2, "b", "2", 3}, 1)},
       {{1, "b", "2", 0}, {2, "a", "1", 0}}},
      {"old message erased, new one not stored", sms, "(3,'x','3',3),(4,'y','4',2),(5,'z','5',1)",
       {erased({3, "x", "3", 3}), erased({4, "y", "4", 3}), erased({5, "z", "5", 3})},
       {{3, "x", "3", 1}, {5, "z", "5", 1}}},
      {"an unconfirmed row on a storedAt index goes above every entry, as new", sms,
       "(5,'old','5',0),(9,'new','9',1),(12,'other','12',3)", {written({9, "new", "9", 1}, 5)},
       {{5, "new", "9", 0}, {12, "other", "12", 3}, {13, "old", "5", 1}}},
      {"an unconfirmed row on a storedAt index, marked deleted, goes", sms,
       "(5,'gone','5',2),(9,'new','9',1)", {written({9, "new", "9", 1}, 5)}, {{5, "new", "9", 0}}},
      {"one index reported twice: the second row goes above, as new", sms,
       "(1,'a','1',1),(2,'b','2',1)", {written({1, "a", "1", 1}, 7), written({2, "b", "2", 1}, 7)},
       {{7, "a", "1", 0}, {8, "b", "2", 1}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    exec("DELETE FROM " + tableName(c.store));
    exec("INSERT INTO " + tableName(c.store) + " VALUES " + c.now);
    Status swept = open(c.store).sweep(c.confirmed);
    ASSERT_TRUE(swept.ok()) << swept.error().detail;
    EXPECT_EQ(rows(c.store), c.after);
  }
}

// A message in parts is deleted whole and never edited; what a write erased or stored, and
// a restore, leave no part behind.
TEST_F(SimTableTest, AMessageInPartsGoesWhole) {
  SimTable table = open(ListStore::Sms);
  const SimIdentity sim{"89390100001234567895", ""};
  ASSERT_TRUE(table.storeRead({{1, "a", "+39", 0}, {2, "b", "+39", 0}, {3, "c", "+44", 0}, {4, "d", "+39", 0}}, sim,
                              false, {{1, {7, 2, 1}}, {2, {7, 2, 2}}, {3, {7, 2, 1}}})
                  .ok());
  EXPECT_EQ(table.change({2, "edited", "+39", kMarkChanged}).error().code, Errc::Invalid);
  EXPECT_TRUE(table.change({4, "edited", "+39", kMarkChanged}).ok());
  ASSERT_TRUE(table.markDeleted(2).ok());
  EXPECT_EQ(rows(ListStore::Sms), (std::vector<SimEntry>{{1, "a", "+39", 2}, {2, "b", "+39", 2}, {3, "c", "+44", 0},
                                                         {4, "edited", "+39", 3}}));
  ASSERT_TRUE(table.sweep({erased({1, "a", "+39", 2})}).ok());
  EXPECT_EQ(*table.parts(), (MessageParts{{2, {7, 2, 2}}, {3, {7, 2, 1}}}));
  ASSERT_TRUE(table.sweep({written({4, "edited", "+39", 3}, 3)}).ok());  // stored where part 3 was
  EXPECT_EQ(*table.parts(), (MessageParts{{2, {7, 2, 2}}}));
  ASSERT_TRUE(table.replaceAll({{2, "b", "+39", 0}}, true).ok());
  EXPECT_TRUE(table.parts()->empty());
  EXPECT_TRUE(open(ListStore::Phonebook).parts()->empty());
}

TEST_F(SimTableTest, ChangesMeetALockAtTheStartAndChangeNothing) {
  exec("INSERT INTO sim VALUES (1,'Anna','111',1),(2,'Bob','222',0)");
  const std::vector<SimEntry> before = rows(ListStore::Phonebook);
  const std::pair<const char*, std::function<Status(SimTable&)>> changes[] = {
      {"replaceAll", [](SimTable& t) { return t.replaceAll({{7, "x", "7", 0}}, true); }},
      {"change", [](SimTable& t) { return t.change({1, "Anna", "111", 3}); }},
      {"add", [](SimTable& t) -> Status {
         auto added = t.add({0, "Zoe", "1", 1}, [](auto&) { return std::optional<std::int32_t>(3); });
         if (!added) return added.error();
         return Ok{};
       }},
      {"markDeleted", [](SimTable& t) { return t.markDeleted(2); }},
      {"markAllDeleted", [](SimTable& t) { return t.markAllDeleted(); }},
      {"sweep", [](SimTable& t) { return t.sweep({written({1, "Anna", "111", 1})}); }},
  };
  // A writer's lock stops BEGIN IMMEDIATE; a reader's lock lets it through but holds up
  // the COMMIT. Either way the change fails whole.
  for (const char* hold : {"BEGIN IMMEDIATE", "BEGIN"}) {
    auto holder = Database::open(db_);
    ASSERT_TRUE(holder->exec(hold).ok());
    ASSERT_TRUE(holder->exec("SELECT count(*) FROM sim").ok());
    SimTable table = open(ListStore::Phonebook, BusyPolicy{100ms});
    for (const auto& [name, change] : changes) {
      SCOPED_TRACE(std::string(hold) + ": " + name);
      Status done = change(table);
      ASSERT_FALSE(done.ok());
      EXPECT_EQ(done.error().code, Errc::Busy) << done.error().detail;
    }
    EXPECT_EQ(*table.list(), before);  // readers do not stop readers
    ASSERT_TRUE(holder->exec("ROLLBACK").ok());
    EXPECT_EQ(rows(ListStore::Phonebook), before);
  }
}

// A read records its SIM and what the SIM held; a restore or an edit changes neither; a
// write's sweep keeps what the SIM now holds, and a list copied onto another SIM belongs to
// that SIM afterwards.
TEST_F(SimTableTest, TheCopyKnowsItsSimAndWhatItHeld) {
  const SimIdentity a{"89390100001234567895", "222015550001234"}, b{"89390100009999999990", ""};
  using Seen = std::map<std::int32_t, SeenEntry>;
  SimTable table = open(ListStore::Phonebook);
  EXPECT_EQ(*table.identity(), std::nullopt);  // a database no read has recorded a SIM in
  ASSERT_TRUE(table.storeRead({{1, "Ann", "1", 0}, {2, "Bob", "2", 0}}, a, false).ok());
  EXPECT_EQ(*table.identity(), a);
  EXPECT_EQ(*open(ListStore::Sms).identity(), std::nullopt);  // each store its own
  ASSERT_TRUE(table.change({2, "Bea", "22", 3}).ok());
  ASSERT_TRUE(table.replaceAll({{1, "Ann", "1", 3}, {2, "Bea", "22", 3}, {3, "Cy", "3", 3}}, true).ok());
  EXPECT_EQ(*table.identity(), a);
  EXPECT_EQ(*table.seen(), (Seen{{1, {"Ann", "1"}}, {2, {"Bob", "2"}}}));

  ASSERT_TRUE(table.sweep({written({2, "Bea", "22", 3}), written({3, "Cy", "3", 3}), erased({1, "Ann", "1", 3})}).ok());
  EXPECT_EQ(*table.seen(), (Seen{{2, {"Bea", "22"}}, {3, {"Cy", "3"}}}));
  ASSERT_TRUE(table.sweep({written({3, "Cy", "3", 0})}, b).ok());
  EXPECT_EQ(*table.identity(), b);
  EXPECT_EQ(*table.seen(), (Seen{{3, {"Cy", "3"}}}));

  struct Case { SimIdentity x, y; SameSim same; };
  const Case kSame[] = {
      {a, a, SameSim::Yes},
      {a, b, SameSim::No},
      {a, {"", "222015550001234"}, SameSim::Yes},   // by the IMSI when one lacks the ICCID
      {a, {"", "222019999999999"}, SameSim::No},
      {b, {"", "222015550001234"}, SameSim::Unknown},
      {{}, a, SameSim::Unknown},
  };
  for (const Case& c : kSame) EXPECT_EQ(sameSim(c.x, c.y), c.same) << c.x.iccid << " " << c.y.iccid << c.y.imsi;
  EXPECT_EQ(shortSimName(a), "\u20264567895");
  EXPECT_EQ(shortSimName({"", "123456"}), "123456");
  EXPECT_EQ(shortSimName({}), "");
}

// Each phonebook store is a table of its own: rows, marks, search, identity, what the SIM
// held and the pass journal; the SIM phonebook stays in `sim`.
TEST_F(SimTableTest, EachPhonebookStoreKeepsItsOwnTable) {
  const SimIdentity a{"89390100001234567895", "222015550001234"};
  auto fd = SimTable::open(db_, ListStore::Phonebook, kShellBusy, Phonebook::FD);
  ASSERT_TRUE(fd.ok());
  ASSERT_TRUE(fd->storeRead({{1, "Casa", "0212", 0}, {2, "Mamma", "333", 0}}, a, false).ok());
  ASSERT_TRUE(fd->change({2, "Mamma", "334", 3}).ok());
  auto sm = SimTable::open(db_, ListStore::Phonebook, kShellBusy, Phonebook::SM);
  ASSERT_TRUE(sm.ok());
  EXPECT_TRUE(sm->list()->empty());
  EXPECT_EQ(*sm->countMarked(), 0);
  EXPECT_EQ(*sm->identity(), std::nullopt);
  EXPECT_EQ(*fd->countMarked(), 1);
  EXPECT_EQ(*fd->identity(), a);
  EXPECT_EQ(fd->list("mam", 1)->size(), 1u);
  EXPECT_EQ(fd->book(), Phonebook::FD);
  // Its table's name, which the database keeps; a read of the SIM phonebook leaves it.
  EXPECT_EQ(test::queryText(db_, "SELECT count(*) FROM sim_fd"), "2");
  ASSERT_TRUE(sm->storeRead({{1, "Ann", "1", 0}}, a, false).ok());
  EXPECT_EQ(test::queryText(db_, "SELECT count(*) FROM sim_fd WHERE operazione=3"), "1");
  ASSERT_TRUE(fd->journal("t1", written({2, "Mamma", "334", 3})).ok());
  EXPECT_TRUE(fs::exists(db_.string() + ".pass-sim_fd"));
  ASSERT_TRUE(fd->applyJournal().ok());
  EXPECT_EQ(*fd->countMarked(), 0);
  EXPECT_EQ(*sm->countMarked(), 0);
}

}  // namespace
}  // namespace voryx
