// The write journal's text: what goes in comes back, and a damaged or torn file gives
// only the records it holds whole.
#include "store/PassJournal.h"

#include <gtest/gtest.h>

namespace voryx {
namespace {

TEST(PassJournalTest, ReadsBackWholeRecordsOnly) {
  Confirmed kWritten = Confirmed::of({5, "Ciao \"tu\"\n", "+39 333", kMarkChanged}, Confirmed::What::Written);
  kWritten.storedAt = 7;
  kWritten.oldKept = true;
  kWritten.took = "Ciao";
  kWritten.record = std::string("\x05\x00\x01\xFF", 4);
  const Confirmed kErased = Confirmed::of({2, "", "", kMarkDeleted}, Confirmed::What::Erased);
  // About to be stored: the pass had not read the SIM's answer.
  Confirmed kPending = kWritten;
  kPending.pending = true;
  kPending.storedAt.reset();
  const std::string head = passJournalHead("t1");
  const std::string both = head + passJournalLine(kWritten) + passJournalLine(kErased);
  struct Case {
    const char* name;
    std::string text;
    const char* token;
    std::size_t records;
    std::size_t unsettled = 0;
  };
  const Case kCases[] = {
      {"whole", both, "t1", 2},
      {"torn last line", both.substr(0, both.size() - 3), "t1", 1},
      {"garbage line skipped", head + "{\"e\":1}\n\xff\xfe\n" + passJournalLine(kErased), "t1", 1},
      {"out of range entry", head + R"({"e":99999999999,"d":"","n":"","o":2,"w":0})" "\n", "t1", 0},
      {"no such kind of record", head + R"({"e":1,"d":"","n":"","o":2,"w":2})" "\n", "t1", 0},
      {"no head", passJournalLine(kWritten), "", 0},
      {"empty token", passJournalHead("") + passJournalLine(kWritten), "", 0},
      {"empty", "", "", 0},
      {"NUL bytes", std::string("{\"pass\":\"t\0\"}\n", 14), "", 0},
      {"stored, then its answer", head + passJournalLine(kPending) + passJournalLine(kWritten), "t1", 1},
      {"stored, no answer", head + passJournalLine(kErased) + passJournalLine(kPending), "t1", 1, 1},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    const PassJournal j = parsePassJournal(c.text);
    EXPECT_EQ(j.token, c.token);
    ASSERT_EQ(j.confirmed.size(), c.records);
    ASSERT_EQ(j.unsettled.size(), c.unsettled);
    if (c.unsettled == 1) {
      EXPECT_EQ(j.unsettled[0].sent, kPending.sent);
      EXPECT_EQ(j.unsettled[0].record, kPending.record);
      EXPECT_TRUE(j.unsettled[0].pending);
    }
    if (c.records == 2) {
      EXPECT_EQ(j.confirmed[0].sent, kWritten.sent);
      EXPECT_EQ(j.confirmed[0].storedAt, 7);
      EXPECT_TRUE(j.confirmed[0].oldKept);
      EXPECT_EQ(j.confirmed[0].took, "Ciao");
      EXPECT_EQ(j.confirmed[0].record, kWritten.record);
      EXPECT_EQ(j.confirmed[1].what, Confirmed::What::Erased);
      EXPECT_EQ(j.confirmed[1].storedAt, std::nullopt);
    }
  }
}

}  // namespace
}  // namespace voryx
