// The phonebook and messages through the SIM's files, on a SIM and on a USIM: what reaches
// the records (checked through the SIM's own decoding and a fresh read through the
// phonebook commands), and what a pass that stops keeps marked. Built twice: here over
// AT+CRSM on the virtual modem's engine (virtual clock), and in tests/cardreader over the
// virtual card in pcscd's virtual reader (T=0 and T=1).
#include "sim/CardFiles.h"
#include "transfer/JobFixture.h"

namespace voryx::transfer {
namespace {

using sim::SmsStatus;

std::vector<std::pair<int, std::string>> names(const sim::SimCard& card) {
  std::vector<std::pair<int, std::string>> out;
  for (int loc = 1; loc <= card.locations(); ++loc) {
    if (!card.isEmpty(loc)) out.emplace_back(loc, card.name(loc));
  }
  return out;
}

struct Transport {
  const char* name;
  bool usim;
  bool reader;  // the virtual card in the reader, else AT+CRSM
  bool t1 = false;
};

class RecordJobTest : public JobFixture, public ::testing::WithParamInterface<Transport> {
 protected:
  void SetUp() override {
    JobFixture::SetUp();
    records = true;
  }
  // The SIM the next jobs reach, with these faults.
  void use(sim::SimCard card, sim::Faults faults = {}) {
    if (GetParam().reader) {
      useCard(std::move(card), sim::CardOptions{.t1 = GetParam().t1, .faults = faults}, GetParam().usim);
      return;
    }
    sim::ModemOptions o;
    o.usim = GetParam().usim;
    o.faults = faults;
    useSim(std::move(card), o);
  }
  int updates() const { return GetParam().reader ? reader_->commandCount(0xDC) : commandCount("AT+CRSM=220"); }
};

// Every name form and numbers of 0 to 40 digits (the 21st on in EF_EXT1) are read as the
// phonebook commands read them, written so that the SIM's own decoding agrees, and read
// back the same; messages likewise, a changed one over its own record.
TEST_P(RecordJobTest, ReadsAndWritesEveryFormAndLongNumbers) {
  sim::SimCard card = smallSim(12);
  card.writeEntryText(1, "Anna", "+39021234");
  card.writeEntryText(2, "Иван", "555");
  card.writeEntryText(3, "Old", "123");
  card.setMessage(1, {SmsStatus::RecRead, "SMART", "26/01/02,10:00:00+04", "Grüße", false, {}});
  card.setMessage(2, {SmsStatus::StoSent, "+3933312", "", "Привет", true, {}});
  use(card);
  ASSERT_EQ(read(0), JobOutcome::Done);
  EXPECT_EQ(host_.report.maxSIM->value, 12);
  EXPECT_EQ(host_.report.maxSIMLen, 14);
  EXPECT_EQ(host_.report.maxNumberLen, 20 + 20 * sim::SimCard::kExtensionRecords);  // EF_EXT1 holds the rest
  const std::vector<SimEntry> listed = rows(ListStore::Phonebook);
  ASSERT_EQ(read(1), JobOutcome::Done);
  EXPECT_EQ(rows(ListStore::Sms), (std::vector<SimEntry>{{1, "Grüße", "SMART", 0}, {2, "Привет", "+3933312", 0}}));
  records = false;
  ASSERT_EQ(read(0), JobOutcome::Done);
  EXPECT_EQ(rows(ListStore::Phonebook), listed);  // the commands' read agrees
  records = true;

  const std::string digits40 = "1234567890123456789012345678901234567890";
  struct Row {
    SimEntry local;
    std::string number;  // as the SIM gives it back
  };
  const Row kRows[] = {
      {{1, "Zoë", "+39 02 1234", kMarkChanged}, "+39021234"},
      {{3, "", "", kMarkDeleted}, ""},
      {{4, "日本", "+" + digits40, kMarkNew}, "+" + digits40},
      {{5, "Ωж", "123456789012345678901", kMarkNew}, "123456789012345678901"},
      {{6, "€uro [x]", "*31#", kMarkNew}, "*31#"},
      {{7, "Γιώργος Παπαδόπουλος", "", kMarkNew}, ""},
      {{2, "Pausa", "0612345678,1", kMarkChanged}, "0612345678,1"},  // the pause: BCD digit C
  };
  for (const Row& r : kRows) {
    exec("DELETE FROM sim WHERE entry = " + std::to_string(r.local.posizione));
    insert("sim", r.local);
  }
  insert("simsms", {3, "New one", "+4420", kMarkNew});
  exec("UPDATE simsms SET desc = 'Changed', operazione = 3 WHERE entry = 2");
  ASSERT_EQ(write(0), JobOutcome::Done);
  EXPECT_EQ(host_.report.confirmed, 7);
  ASSERT_EQ(write(1), JobOutcome::Done);
  const sim::SimCard after = simNow();
  EXPECT_TRUE(after.isEmpty(3));
  EXPECT_EQ(after.name(1), "Zoë");
  EXPECT_EQ(after.name(4), "日本");
  EXPECT_EQ(after.number(2), "0612345678,1");  // the SIM's own decoding of the record
  EXPECT_EQ(after.message(2)->text, "Changed");
  EXPECT_EQ(after.message(3)->text, "New one");
  // The name keeps what the field holds; the row takes it.
  const std::string cut = rows(ListStore::Phonebook).back().nome;
  EXPECT_TRUE(std::string("Γιώργος Παπαδόπουλος").starts_with(cut)) << cut;
  std::vector<SimEntry> expected = rows(ListStore::Phonebook);
  for (SimEntry& e : expected) {
    for (const Row& r : kRows) {
      if (r.local.posizione == e.posizione) e.telefono = r.number;
    }
  }
  ASSERT_EQ(read(0), JobOutcome::Done);
  EXPECT_EQ(rows(ListStore::Phonebook), expected);
  // The number was cut to 20 digits where only EF_EXT1 held the rest: the old extension
  // records go free when a shorter number replaces a long one.
  exec("UPDATE sim SET number = '1', operazione = 3 WHERE entry IN (4, 5)");
  ASSERT_EQ(write(0), JobOutcome::Done);
  for (int n = 1; n <= sim::SimCard::kExtensionRecords; ++n) EXPECT_NE(simNow().extension(n)[0], '\x02') << n;
}

// A pass stopped at its k-th record update (the modem refuses it, says nothing, hangs up)
// keeps exactly the marks the SIM did not take; the next clean write leaves the SIM as
// the table says.
TEST_P(RecordJobTest, PassStoppedAtAnyUpdateKeepsTheMarksNotTaken) {
  struct Faulted {
    const char* name;
    sim::Faults (*at)(int k);
    JobOutcome outcome;
  };
  const Faulted kFaults[] = {
      {"error", [](int k) { return sim::Faults{.errorAtWrite = k}; }, JobOutcome::WriteRefused},
      {"mute", [](int k) { return sim::Faults{.muteAtWrite = k}; }, JobOutcome::NoReply},
      {"hang-up", [](int k) { return sim::Faults{.hangupAtWrite = k}; }, JobOutcome::NoModem},
  };
  const std::vector<SimEntry> kTable = {{1, "Alt2", "1", kMarkChanged}, {2, "Bob", "2", kMarkDeleted},
                                        {3, "Cid", "3", kMarkInStep}, {4, "Dan", "4", kMarkNew}};
  for (const Faulted& f : kFaults) {
    for (int k = 1; k <= 3; ++k) {
      SCOPED_TRACE(std::string(f.name) + " at update " + std::to_string(k));
      exec("DELETE FROM sim");
      sim::SimCard card = smallSim(6);
      card.writeEntryText(1, "Alt", "1");
      card.writeEntryText(2, "Bob", "2");
      card.writeEntryText(3, "Cid", "3");
      for (const SimEntry& e : kTable) insert("sim", e);
      if (GetParam().reader && f.outcome == JobOutcome::NoReply) continue;  // a card is never mute
      use(card, f.at(k));
      EXPECT_EQ(write(0), f.outcome) << (host_.alerts.empty() ? "" : host_.alerts.back());
      const sim::SimCard after = simNow();
      // Every row in step is what the SIM holds there; what the SIM took is in step.
      for (const SimEntry& e : rows(ListStore::Phonebook)) {
        if (e.operazione == kMarkInStep) {
          EXPECT_EQ(after.name(e.posizione), e.nome);
        }
      }
      EXPECT_EQ(static_cast<int>(rows(ListStore::Phonebook).size()), k > 2 ? 3 : 4);
      use(after);
      ASSERT_EQ(write(0), JobOutcome::Done);
      std::vector<std::pair<int, std::string>> listed;
      for (const SimEntry& e : rows(ListStore::Phonebook)) {
        EXPECT_EQ(e.operazione, kMarkInStep);
        listed.emplace_back(e.posizione, e.nome);
      }
      EXPECT_EQ(names(simNow()), listed);
    }
  }
}

// The identity comes from EF_ICCID: another SIM stops the write before any update; a dry
// run lists the updates and makes none; a modem without AT+CRSM is told in words.
TEST_P(RecordJobTest, AnotherSimADryRunAndAModemWithoutRecordAccess) {
  sim::SimCard card = smallSim(6);
  card.writeEntryText(1, "Alt", "1");
  use(card);
  ASSERT_EQ(read(0), JobOutcome::Done);
  exec("UPDATE sim SET desc = 'New', operazione = 3 WHERE entry = 1");

  dryRun = true;
  EXPECT_EQ(write(0), JobOutcome::Done);
  dryRun = false;
  EXPECT_EQ(simNow().name(1), "Alt");
  ASSERT_FALSE(host_.report.commands.empty());
  EXPECT_TRUE(host_.report.commands.back().first.starts_with("UPDATE RECORD ")) << host_.report.commands.back().first;
  EXPECT_TRUE(host_.report.commands.back().second);

  sim::SimCard other = card;
  other.giveFreshIdentity();
  use(other);
  EXPECT_EQ(write(0), JobOutcome::OtherSim);
  EXPECT_EQ(updates(), 0);
  EXPECT_EQ(marks(ListStore::Phonebook), std::vector<int>{kMarkChanged});

  if (GetParam().reader) return;
  useSim(card, [usim = GetParam().usim] {
    sim::ModemOptions o;
    o.usim = usim;
    o.faults.crsmError = true;
    return o;
  }());
  EXPECT_EQ(write(0), JobOutcome::SimNotReady);
  ASSERT_FALSE(host_.alerts.empty());
  EXPECT_NE(host_.alerts.back().find("phonebook file"), std::string::npos) << host_.alerts.back();
  EXPECT_EQ(marks(ListStore::Phonebook), std::vector<int>{kMarkChanged});
}

#ifdef VORYX_CARD_READER
INSTANTIATE_TEST_SUITE_P(Reader, RecordJobTest,
                         ::testing::Values(Transport{"SimT0", false, true}, Transport{"UsimT0", true, true},
                                           Transport{"UsimT1", true, true, true}),
                         [](const auto& p) { return p.param.name; });
#else
INSTANTIATE_TEST_SUITE_P(Crsm, RecordJobTest,
                         ::testing::Values(Transport{"Sim", false, false}, Transport{"Usim", true, false}),
                         [](const auto& p) { return p.param.name; });
#endif

}  // namespace
}  // namespace voryx::transfer
