// A write never lands on a SIM other than the one the list was read from, and a dry run
// sends no change: phonebook and SMS alike, judged by the virtual SIM's own decoding.
#include <algorithm>

#include "transfer/JobFixture.h"

namespace voryx::transfer {
namespace {

struct Store {
  const char* name;
  int tipo;
  ListStore store;
  const char* table;
};
constexpr Store kStores[] = {{"phonebook", 0, ListStore::Phonebook, "sim"},
                             {"sms", 1, ListStore::Sms, "simsms"}};

// The copy of a SIM with three entries (messages), one changed, one deleted, one added.
sim::SimCard threeEntries() {
  sim::SimCard card(10, 14, 10);
  card.writeEntryText(1, "Anna", "111");
  card.writeEntryText(2, "Bruno", "222");
  card.writeEntryText(3, "Carla", "333");
  for (const char* text : {"one", "two", "three"}) card.addMessage({sim::SmsStatus::StoSent, "111", "", text, false});
  return card;
}

int changeCommands(const std::vector<std::string>& log) {
  return static_cast<int>(std::count_if(log.begin(), log.end(), [](const std::string& l) {
    return l.starts_with("AT+CPBW=") || l.starts_with("AT+CMGW") || l.starts_with("AT+CMGD=");
  }));
}

class SimSwapTest : public JobFixture {
 protected:
  // Reads the SIM, marks the rows, then makes the copy one of another SIM (as after a swap).
  void readAndMark(const Store& st) {
    useSim(threeEntries());
    discardChanges = true;  // the marks of the case before
    ASSERT_EQ(read(st.tipo), JobOutcome::Done);
    const std::string t = st.table;
    exec("UPDATE " + t + " SET desc='Changed', operazione=3 WHERE entry=1");
    exec("UPDATE " + t + " SET operazione=2 WHERE entry=2");
    exec("INSERT INTO " + t + " VALUES (7,'Added','777',1)");
    before_ = rows(st.store);
  }
  void swapSims(const Store& st) {
    exec(std::string("UPDATE simcard SET iccid='89390100009999999990', imsi='222019999999999' WHERE store='") +
         st.table + "'");
  }
  std::vector<SimEntry> before_;
};

TEST_F(SimSwapTest, AnotherSimIsNeverWrittenUnlessTheListIsCopiedOntoIt) {
  for (const Store& st : kStores) {
    SCOPED_TRACE(st.name);
    // Another SIM: nothing sent, every mark kept, both SIMs named.
    readAndMark(st);
    swapSims(st);
    const sim::SimCard other = simNow();
    EXPECT_EQ(write(st.tipo), JobOutcome::OtherSim);
    EXPECT_EQ(changeCommands(engineLog_), 0);
    EXPECT_EQ(simNow(), other);
    EXPECT_EQ(rows(st.store), before_);
    EXPECT_EQ(host_.report.readFrom, "\u20269999990");
    EXPECT_EQ(host_.report.thisSim, "\u20264567895");

    // A dry run on the right SIM: the commands listed, none sent, nothing changed.
    readAndMark(st);
    dryRun = true;
    EXPECT_EQ(write(st.tipo), JobOutcome::Done);
    dryRun = false;
    EXPECT_EQ(changeCommands(engineLog_), 0);
    EXPECT_EQ(simNow(), threeEntries());
    EXPECT_EQ(rows(st.store), before_);
    std::vector<std::string> held;
    for (const auto& [line, wasHeld] : host_.report.commands) {
      if (wasHeld) held.push_back(line);
    }
    EXPECT_EQ(static_cast<int>(held.size()), st.store == ListStore::Sms ? 6 : 3)  // SMS: a delete, a store and a body each
        << ::testing::PrintToString(host_.report.commands);

    // Copied onto the other SIM: every row of the list (not the deleted one) is on it, in
    // step, and the copy is now that SIM's; its other locations are left alone.
    readAndMark(st);
    swapSims(st);
    toOtherSim = true;
    EXPECT_EQ(write(st.tipo), JobOutcome::Done);
    toOtherSim = false;
    EXPECT_TRUE(host_.report.copiedOnto);
    const sim::SimCard after = simNow();
    const std::vector<SimEntry> now = rows(st.store);
    EXPECT_EQ(now.size(), 3u);
    for (const SimEntry& e : now) {
      EXPECT_EQ(e.operazione, kMarkInStep);
      if (st.store == ListStore::Phonebook) {
        EXPECT_EQ(after.name(e.posizione), e.nome);
      } else {
        ASSERT_NE(after.message(e.posizione), nullptr);
        EXPECT_EQ(after.message(e.posizione)->text, e.nome);
      }
    }
    if (st.store == ListStore::Phonebook) {
      EXPECT_EQ(after.name(2), "Bruno");  // the deleted row's location: not the list's to erase
    } else {
      EXPECT_EQ(after.messages().size(), 6u);  // the three stored anew beside the SIM's own
    }
    EXPECT_EQ(write(st.tipo), JobOutcome::Done);  // the copy now belongs to this SIM
    EXPECT_EQ(changeCommands(engineLog_), 0);
  }
}

}  // namespace
}  // namespace voryx::transfer
