#include "entries/Editing.h"

#include <gtest/gtest.h>

#include "base/DebugLog.h"
#include "support/TempDir.h"

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
    {{}, 0, 1},                    // never read (capacity unknown): the first entry gets a place
    {{1}, 0, 2},                   // ... and so does the next one: no bound
    {{1, 2, 3, 250, 251}, 0, 4},
    {{2, 3}, 0, 1},                // a gap is a gap, whatever the capacity
    {{1, 2, 3}, 2, std::nullopt},  // more entries than the capacity: full
    {{0, 1, 2}, 3, 3},             // index 0 (some modems' first SMS) is no location
    {{1, 1, 2}, 3, 3},             // a repeat takes one place
    {{1, 2, 300}, 250, 3},
};

TEST(EditingTest, ChoosesTheLowestFreeLocation) {
  for (const auto& c : kLocations) {
    EXPECT_EQ(freeLocation(c.taken, c.capacity), c.chosen)
        << testing::PrintToString(c.taken) << " of " << c.capacity;
  }
}

TEST(EditingTest, CleansNames) {
  const EditTarget phonebook{{}, ListStore::Phonebook, 250, 14, kShellBusy};
  const EditTarget sms{{}, ListStore::Sms, 30, 14, kShellBusy};
  const std::string longText(200, 'x');
  struct Case {
    const EditTarget& target;
    std::string name, storedName;
  };
  const Case kCases[] = {
      {phonebook, "Anna", "Anna"},
      {phonebook, "Alessandro Manzoni 1785", "Alessandro Man"},
      {phonebook, "Иван Петров-Водкин", "Иван Петров"},  // 81: 3 bytes + 11
      {phonebook, "[Pay] {€} now", "[Pay] {€}"},        // escape pairs whole
      {sms, longText, longText},
      {sms, "Ciao\nA\tB", "Ciao\nA\tB"},  // a message keeps its lines
  };
  for (const auto& c : kCases) EXPECT_EQ(cleanName(c.target, c.name), c.storedName) << c.name;
}

// Typed, imported and restored names: a line break or tab becomes a blank, any other
// control character goes; every other character stays, also in text that is not UTF-8.
TEST(EditingTest, NamesLoseTheirControlCharacters) {
  const std::pair<std::string, std::string> kCases[] = {
      {"New\nLine", "New Line"},
      {"A\r\nB\rC\vD\fE", "A B C D E"},
      {"Tab\there\t", "Tab here "},
      {std::string("N\0U\0L", 5), "NUL"},
      {"\x1B[31mRed\x7F\x01", "[31mRed"},
      {"C1\xC2\x85next\xC2\x9B\xC2\x80", "C1 next"},              // NEL a blank, CSI and PAD go
      {"Line\xE2\x80\xA8Para\xE2\x80\xA9", "Line Para "},         // U+2028, U+2029
      {"Zoë\xC2\xA0€ — Иван 😀", "Zoë\xC2\xA0€ — Иван 😀"},          // NBSP, dash, emoji stay
      {"Ren\xE9\xC2", "Ren\xE9\xC2"},                               // not UTF-8: bytes stay
      {"\r\n", " "},
      {"", ""},
  };
  for (const auto& [text, clean] : kCases) EXPECT_EQ(withoutControlCharacters(text), clean) << testing::PrintToString(text);
}

// One message holds 160 characters of the GSM alphabet (the extension table's take two)
// or 70 UTF-16 units (a character outside the BMP takes two).
TEST(EditingTest, AMessageTextMustFitOneMessage) {
  auto times = [](std::string_view s, int n) {
    std::string out;
    for (int i = 0; i < n; ++i) out += s;
    return out;
  };
  struct Case {
    std::string text;
    std::string says;  // "" when the text fits
  };
  const Case kCases[] = {
      {"", ""},
      {times("a", 160), ""},
      {times("a", 161), "holds 160 characters when every character is of the GSM alphabet"},
      {times("€", 80), ""},
      {times("€", 79) + "ab", ""},
      {times("€", 80) + "a", "this text takes 161."},
      {times("[]{}^~|\\", 10), ""},
      {times("[]{}^~|\\", 10) + "@", "takes 161"},
      {times("Ж", 70), ""},
      {times("Ж", 71), "holds 70 characters when a character is outside the GSM alphabet"},
      {times("😀", 35), ""},
      {times("😀", 35) + "a", "takes 71"},
      {times("a", 69) + "Ж", ""},
      {times("a", 150) + "Ж", "takes 151"},
  };
  for (const auto& c : kCases) {
    const std::string refusal = messageTextRefusal(c.text);
    SCOPED_TRACE(c.text.substr(0, 24));
    if (c.says.empty()) {
      EXPECT_EQ(refusal, "");
    } else {
      EXPECT_NE(refusal.find(c.says), std::string::npos) << refusal;
    }
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

// A number as the user meant it, through add and through edit alike: separators go, the
// trunk "(0)" after a country code goes, "p" is the SIM's pause ","; whatever else the SIM
// cannot hold, and a number longer than the path takes, is refused naming why, and
// nothing changes.
TEST_F(EditingDbTest, TakesNumbersAsTheUserMeantThem) {
  const std::string digits21 = "123456789012345678901";
  constexpr int kRecordsWithExt1 = 20 + 20 * 10;  // what a read through the SIM's files learns
  struct Case {
    std::string typed;
    std::string stored;   // when taken
    std::string refusal;  // else what the refusal says
    int maxNumberLen = codec::kSimNumberDigits;
  };
  const Case kCases[] = {
      {"+49 (0) 30 12345678", "+493012345678", ""},
      {"+39 (0)2 12345678", "+390212345678", ""},  // Italy dials its 0 from abroad too
      {"0612345678p1", "0612345678,1", ""},
      {"0800-FLOWERS", "", "'F' cannot be stored in a SIM number."},
      {"0612 ext. 33", "", "'e' cannot be stored in a SIM number."},
      {"0612345678w1", "", "'w' cannot be stored in a SIM number: a SIM holds a pause (p), not a wait."},
      {"1;2", "", "';' cannot be stored in a SIM number: a SIM holds a pause (p), not a wait."},
      {"+", "", "A number that starts with '+' needs digits after it."},
      {"", "", ""},
      {"++39", "", "'+' cannot be stored in a SIM number other than at its start."},
      {"39+1", "", "'+' cannot be stored"},
      {"(0)30 12345678", "03012345678", ""},   // no country code before it: a digit
      {"+49 30 (0) 1", "+493001", ""},
      {"+39 (02) 123-45", "+390212345", ""},   // an area code in parentheses
      {"*31#", "*31#", ""},
      {"P", ",", ""},
      {"06 1234 ?", "", "'?' cannot be stored"},
      {"0612\xEF\xBC\x93", "", "'\xEF\xBC\x93' cannot be stored"},  // a full-width 3 is named whole
      {"\xE2\x80\x8E+39\xC2\xA0" "02\xE2\x80\x91" "1234 / 5.6\n", "+390212345" "6", ""},  // pasted: marks, NBSP, dashes
      {digits21, "", "The number has 21 digits; a number on this SIM holds 20."},
      {"+" + digits21.substr(1), "+" + digits21.substr(1), ""},  // 20 digits: "+" is none
      {digits21, digits21, "", kRecordsWithExt1},
  };
  const auto before = rows(ListStore::Phonebook);
  for (const Case& c : kCases) {
    SCOPED_TRACE(testing::PrintToString(c.typed));
    EditTarget t = target();
    t.maxNumberLen = c.maxNumberLen;
    const EditResult results[] = {addEntry(t, "Eva", c.typed), changeEntry(t, 1, "Anna", c.typed)};
    for (const EditResult& r : results) {
      if (c.refusal.empty()) {
        EXPECT_EQ(r.outcome, EditOutcome::Stored) << r.detail;
        EXPECT_EQ(r.entry.telefono, c.stored);
      } else {
        EXPECT_EQ(r.outcome, EditOutcome::Refused);
        EXPECT_TRUE(r.detail.starts_with(c.refusal)) << r.detail;
      }
    }
    if (!c.refusal.empty()) {
      EXPECT_EQ(rows(ListStore::Phonebook), before);
    }
    exec("DELETE FROM sim WHERE entry = 3");
    exec("UPDATE sim SET number = '111', operazione = 0 WHERE entry = 1");
  }
  // A message's number is the SMS store's own and keeps today's filter.
  EXPECT_EQ(addEntry(target(ListStore::Sms), "Ciao", "+1 (555) x").entry.telefono, "+1555");
}

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

  auto sms = addEntry(target(ListStore::Sms), std::string(160, 'z'), "1");
  EXPECT_EQ(sms.entry, (SimEntry{2, std::string(160, 'z'), "1", kMarkNew}));
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
  EXPECT_EQ(addEntry(target(), "\xC3(", "1").outcome, EditOutcome::Refused);
  EXPECT_FALSE(deleteEntry(target(), 9).ok());
  EXPECT_EQ(rows(ListStore::Phonebook), withCarla);
  const auto sms = rows(ListStore::Sms);
  auto tooLong = addEntry(target(ListStore::Sms), std::string(161, 'z'), "1");
  EXPECT_EQ(tooLong.outcome, EditOutcome::Refused);
  EXPECT_NE(tooLong.detail.find("160"), std::string::npos) << tooLong.detail;
  EXPECT_EQ(changeEntry(target(ListStore::Sms), 1, "Ж" + std::string(70, 'z'), "1").outcome, EditOutcome::Refused);
  EXPECT_EQ(rows(ListStore::Sms), sms);

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
