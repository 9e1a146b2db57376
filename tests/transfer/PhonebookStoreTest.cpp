// The phonebook stores beside the SIM phonebook: each read into its own table, fixed
// dialling written only with PIN2 (asked once, sent once, never in the debug log), the
// SIM's own stores never written, and a store the modem or the way in lacks refused.
#include "transfer/JobFixture.h"
#include "transfer/Listings.h"

namespace voryx::transfer {
namespace {

TEST(PhonebookStoreTest, ListsTheStoresAModemOffers) {
  using Codes = std::optional<std::vector<std::string>>;
  const std::pair<const char*, Codes> kReplies[] = {
      {"\r\n+CPBS: (\"SM\",\"FD\",\"ON\")\r\n\r\nOK\r\n", std::vector<std::string>{"SM", "FD", "ON"}},
      {"+CPBS: \"sm\",\"ME\", \"SM\"\r\nOK\r\n", std::vector<std::string>{"SM", "ME"}},  // no parentheses
      {"+CPBS: (\"SM\",\"\",\"TOOLONG\",\"F1\",\"SDN\")\r\n", std::vector<std::string>{"SM", "SDN"}},
      {"+CPBS: (\"SM\",\"FD\r\nOK\r\n", std::vector<std::string>{"SM"}},  // cut short
      {"+CPBS: ()\r\nOK\r\n", std::vector<std::string>{}},
      {"OK\r\n", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& [reply, codes] : kReplies) EXPECT_EQ(parseCpbsTest(reply), codes) << reply;
  EXPECT_EQ(phonebookList({"SM", "XX", "fd", "ON"}), "SM,FD,ON");
  EXPECT_EQ(phonebooksIn("SM,,FD,sm,junk,SDN"), (std::vector<Phonebook>{Phonebook::SM, Phonebook::FD, Phonebook::SDN}));
  EXPECT_EQ(phonebookKey("maxSIM", Phonebook::SM), "maxSIM");
  EXPECT_EQ(phonebookKey("maxSIM", Phonebook::FD), "maxSIM.FD");
}

class PhonebookStoreJobTest : public JobFixture {
 protected:
  void SetUp() override {
    JobFixture::SetUp();
    insert("sim", {9, "Kept", "999", kMarkNew});
  }
  // What the SIM's store holds, as rows in step.
  std::vector<SimEntry> simRows(std::string_view book) const {
    std::vector<SimEntry> out;
    const sim::SimCard card = simNow();
    for (int loc = 1; loc <= card.locations(book); ++loc) {
      if (auto e = card.entry(loc, book)) out.push_back({loc, e->name, e->number, kMarkInStep});
    }
    return out;
  }
};

// Each store into its table, the SIM phonebook's own table left alone.
TEST_F(PhonebookStoreJobTest, EachStoreIsReadIntoItsOwnTable) {
  useSim(sim::SimCard::demo());
  for (Phonebook book : {Phonebook::ON, Phonebook::FD, Phonebook::ME, Phonebook::EN, Phonebook::SDN}) {
    const std::string code(phonebookKind(book).code);
    SCOPED_TRACE(code);
    phonebook = book;
    ASSERT_EQ(read(0), JobOutcome::Done);
    EXPECT_EQ(rows(ListStore::Phonebook, book), simRows(code));
    ASSERT_TRUE(host_.report.maxSIM);
    EXPECT_EQ(host_.report.maxSIM->value, simNow().locations(code));
    // The phone's own memory is not called the SIM's.
    ASSERT_FALSE(host_.captions.empty());
    EXPECT_EQ(host_.captions.back(), (book == Phonebook::ME ? "Places in the phone's memory: " : "Your SIM has a total entry of  ") +
                                         std::to_string(simNow().locations(code)));
    EXPECT_EQ(host_.report.phonebooks, (std::vector<std::string>{"SM", "ON", "FD", "ME", "EN", "SDN"}));
    EXPECT_EQ(commandCount("AT+CPBS=\"" + code + "\""), 1);
  }
  EXPECT_EQ(rows(ListStore::Phonebook), (std::vector<SimEntry>{{9, "Kept", "999", kMarkNew}}));
  // A write of one store sends only its own marks.
  phonebook = Phonebook::ON;
  exec("UPDATE sim_on SET desc='Lavoro', operazione=3 WHERE entry=2");
  ASSERT_EQ(write(0), JobOutcome::Done);
  EXPECT_EQ(host_.report.confirmed, 1);
  EXPECT_EQ(simNow().entry(2, "ON")->name, "Lavoro");
  EXPECT_EQ(marks(ListStore::Phonebook), std::vector<int>{kMarkNew});
}

TEST_F(PhonebookStoreJobTest, FixedDiallingIsWrittenOnlyWithPin2) {
  struct Case {
    const char* name;
    std::vector<std::string> codes;  // the user's answers
    int wrongBefore;                 // PIN2 tries the card lost before
    JobOutcome outcome;
    std::vector<std::string> alerts;
    int pin2Sent;
  };
  const std::string kTitle = "Write to SIM|";
  const Case kCases[] = {
      {"right PIN2", {"0000"}, 1, JobOutcome::Done, {}, 1},
      {"wrong PIN2", {"1111"}, 0, JobOutcome::SimNotReady,
       {kTitle + "The SIM refused PIN2; nothing was written. 2 tries left before PIN2 is blocked. Voryx never tries a "
                 "PIN again by itself: check it before the next try."},
       1},
      {"last try wrong", {"1111"}, 2, JobOutcome::SimNotReady,
       {kTitle + "The SIM refused PIN2 and PIN2 is now blocked: its PUK2 unblocks it, with a phone."}, 1},
      {"cancelled", {}, 0, JobOutcome::SimNotReady,
       {kTitle + "Fixed dialling is written only with the SIM's PIN2; nothing was written."}, 0},
      {"not a PIN2", {"12ab"}, 0, JobOutcome::SimNotReady,
       {kTitle + "A PIN2 has 4 to 8 digits; nothing was sent to the SIM."}, 0},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    sim::SimCard card = sim::SimCard::demo();
    for (int i = 0; i < c.wrongBefore; ++i) {
      card.pin2Lock().powerUp();
      card.pin2Lock().enterPin("9999");
    }
    useSim(card);
    createLog = 1;
    ASSERT_TRUE(DebugLog::start());
    phonebook = Phonebook::FD;
    discardChanges = true;  // the mark the case before left
    ASSERT_EQ(read(0), JobOutcome::Done);
    exec("INSERT INTO sim_fd (entry,desc,number,operazione) VALUES (3,'Ufficio','+390298765432',1)");
    codes = c.codes;
    EXPECT_EQ(write(0), c.outcome);
    EXPECT_EQ(host_.alerts, c.alerts);
    ASSERT_EQ(host_.questions.size(), 1u);
    EXPECT_EQ(host_.questions[0].code, CodeQuestion::Code::Pin2);
    EXPECT_EQ(host_.questions[0].triesLeft, 3 - c.wrongBefore);
    EXPECT_EQ(commandCount("AT+CPBS=\"FD\","), c.pin2Sent);
    EXPECT_EQ(simNow().entry(3, "FD").has_value(), c.outcome == JobOutcome::Done);
    EXPECT_EQ(marks(ListStore::Phonebook, Phonebook::FD),
              (std::vector<int>{kMarkInStep, kMarkInStep, c.outcome == JobOutcome::Done ? kMarkInStep : kMarkNew}));
    for (const std::string& code : c.codes) {
      EXPECT_EQ(DebugLog::contents().find("\"" + code + "\""), std::string::npos) << DebugLog::contents();
    }
    codes.clear();
  }
}

// Refused before anything is sent: the SIM's own stores, and the other stores over the
// SIM's files; a store the modem lacks is told after it refused the selection.
TEST_F(PhonebookStoreJobTest, RefusesWhatCannotBeReachedOrWritten) {
  struct Case {
    const char* name;
    Phonebook book;
    bool write;
    bool records;
    bool cardHasBooks;
    std::string alert;
    bool modemAsked;
  };
  const Case kCases[] = {
      {"EN written", Phonebook::EN, true, false, true,
       "Write to SIM|Emergency numbers (EN): the SIM's own numbers, which can be read but not written.", false},
      {"SDN written", Phonebook::SDN, true, false, true,
       "Write to SIM|Service numbers (SDN): the SIM's own numbers, which can be read but not written.", false},
      {"FD over records", Phonebook::FD, false, true, true,
       "Read from SIM|Through the SIM's files Voryx reaches the SIM phonebook only; use the modem's phonebook "
       "commands for this one: Fixed dialling (FD).",
       false},
      {"ON read, not on this modem", Phonebook::ON, false, false, false,
       "Read from SIM|The modem has no such phonebook: Own numbers (ON).", true},
      {"ME written, not on this modem", Phonebook::ME, true, false, false,
       "Write to SIM|The modem has no such phonebook: Phone memory (ME).", true},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    useSim(c.cardHasBooks ? sim::SimCard::demo() : smallSim());
    phonebook = c.book;
    records = c.records;
    EXPECT_EQ(c.write ? write(0) : read(0), JobOutcome::StoreMissing);
    EXPECT_EQ(host_.alerts, std::vector<std::string>{c.alert});
    EXPECT_EQ(!commandLog().empty(), c.modemAsked);
    EXPECT_EQ(commandCount("AT+CPBR"), 0);
    EXPECT_EQ(commandCount("AT+CPBW"), 0);
  }
}

}  // namespace
}  // namespace voryx::transfer
