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
  for (const char* text : {"one", "two", "three"}) card.addMessage({sim::SmsStatus::StoSent, "111", "", text, false, {}});
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
  void readAndMark(const Store& st, sim::ModemOptions options = {}) {
    useSim(threeEntries(), options);
    discardChanges = true;  // the marks of the case before
    ASSERT_EQ(read(st.tipo), JobOutcome::Done);
    const std::string t = st.table;
    exec("UPDATE " + t + " SET desc='Changed', operazione=3 WHERE entry=1");
    exec("UPDATE " + t + " SET operazione=2 WHERE entry=2");
    exec("INSERT INTO " + t + " VALUES (7,'Added','777',1)");
    before_ = rows(st.store);
  }
  // Another SIM in the modem: the same entries, another ICCID and IMSI.
  void swapSims() {
    sim::SimCard other = simNow();
    ASSERT_TRUE(other.setIdentity("89390100009999999990", "222019999999999"));
    useSim(other);
  }
  std::vector<SimEntry> before_;
};

TEST_F(SimSwapTest, AnotherSimIsNeverWrittenUnlessTheListIsCopiedOntoIt) {
  for (const Store& st : kStores) {
    SCOPED_TRACE(st.name);
    // Another SIM: nothing sent, every mark kept, both SIMs named.
    readAndMark(st);
    swapSims();
    const sim::SimCard other = simNow();
    EXPECT_EQ(write(st.tipo), JobOutcome::OtherSim);
    EXPECT_EQ(changeCommands(engineLog_), 0);
    EXPECT_EQ(simNow(), other);
    EXPECT_EQ(rows(st.store), before_);
    EXPECT_EQ(host_.report.readFrom, "\u20264567895");
    EXPECT_EQ(host_.report.thisSim, "\u20269999990");

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
    // step, and the copy is now that SIM's; its other locations are left alone, read back
    // and shown: the list is that SIM.
    readAndMark(st);
    swapSims();
    toOtherSim = true;
    EXPECT_EQ(write(st.tipo), JobOutcome::Done);
    toOtherSim = false;
    EXPECT_TRUE(host_.report.copiedOnto);
    // Its own: the phonebook's location 2 ("Bruno", the deleted row's location: not the
    // list's to erase), and the three messages it held beside the three stored anew.
    const int own = st.store == ListStore::Sms ? 3 : 1;
    EXPECT_EQ(host_.report.leftovers, own);
    EXPECT_EQ(rows(st.store).size(), 3u + own);
    EXPECT_EQ(host_.report.thisSim, "\u20269999990");
    expectListIsSim(st.store);
    if (st.store == ListStore::Phonebook) {
      EXPECT_EQ(simNow().name(2), "Bruno");
    }
    EXPECT_EQ(write(st.tipo), JobOutcome::Done);  // the copy now belongs to this SIM
    EXPECT_EQ(changeCommands(engineLog_), 0);
  }
}

// A modem that refuses both AT+CCID and AT+CIMI cannot tell one SIM from another: the write
// goes on as it did before SIMs were told apart, and says so when the copy was read from
// a SIM that told its identity.
TEST_F(SimSwapTest, AWriteGoesOnWhenTheModemDoesNotTellTheSim) {
  sim::ModemOptions refuses;
  refuses.noIdentity = true;
  for (const Store& st : kStores) {
    for (const bool readWithIdentity : {false, true}) {
      SCOPED_TRACE(std::string(st.name) + (readWithIdentity ? ", read where it was told" : ", never told"));
      readAndMark(st, readWithIdentity ? sim::ModemOptions{} : refuses);
      useSim(simNow(), refuses);
      EXPECT_EQ(write(st.tipo), JobOutcome::Done);
      EXPECT_EQ(changeCommands(engineLog_), st.store == ListStore::Sms ? 4 : 3);  // SMS: a changed one is deleted and stored
      EXPECT_EQ(rows(st.store).size(), 3u);
      if (st.store == ListStore::Phonebook) {
        EXPECT_EQ(held(simNow(), st.store), (Held{{1, "Changed"}, {3, "Carla"}, {7, "Added"}}));
      }
      expectListIsSim(st.store);
      EXPECT_EQ(host_.alerts.size(), readWithIdentity ? 1u : 0u) << ::testing::PrintToString(host_.alerts);
    }
  }
}

}  // namespace
}  // namespace voryx::transfer
