// The write journal's text: what goes in comes back, and a damaged or torn file gives
// only the records it holds whole.
#include "store/PassJournal.h"

#include <gtest/gtest.h>

namespace voryx {
namespace {

TEST(PassJournalTest, ReadsBackWholeRecordsOnly) {
  const Confirmed kWritten{{5, "Ciao \"tu\"\n", "+39 333", kMarkChanged}, Confirmed::What::Written, 7, true,
                           "Ciao"};
  const Confirmed kErased{{2, "", "", kMarkDeleted}, Confirmed::What::Erased, std::nullopt, false, std::nullopt};
  const std::string head = passJournalHead("t1");
  const std::string both = head + passJournalLine(kWritten) + passJournalLine(kErased);
  struct Case {
    const char* name;
    std::string text;
    const char* token;
    std::size_t records;
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
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    const PassJournal j = parsePassJournal(c.text);
    EXPECT_EQ(j.token, c.token);
    ASSERT_EQ(j.confirmed.size(), c.records);
    if (c.records == 2) {
      EXPECT_EQ(j.confirmed[0].sent, kWritten.sent);
      EXPECT_EQ(j.confirmed[0].storedAt, 7);
      EXPECT_TRUE(j.confirmed[0].oldKept);
      EXPECT_EQ(j.confirmed[0].took, "Ciao");
      EXPECT_EQ(j.confirmed[1].what, Confirmed::What::Erased);
      EXPECT_EQ(j.confirmed[1].storedAt, std::nullopt);
    }
  }
}

}  // namespace
}  // namespace voryx
