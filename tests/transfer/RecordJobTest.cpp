// The phonebook and messages through the SIM's files, on a SIM and on a USIM: what reaches
// the records (checked through the SIM's own decoding and a fresh read through the
// phonebook commands), and what a pass that stops keeps marked. Built twice: here over
// AT+CRSM on the virtual modem's engine (virtual clock), and in tests/cardreader over the
// virtual card in pcscd's virtual reader (T=0 and T=1).
#include <map>
#include <set>

#include "sim/CardFiles.h"
#include "sim/Text.h"
#include "support/NameFields.h"
#include "transfer/JobFixture.h"

namespace voryx::transfer {
namespace {

using sim::SmsStatus;

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
  // The SIM's own decoding of the records agrees (the pause of "0612345678,1" included).
  EXPECT_TRUE(test::listIsSim(database_, ListStore::Phonebook, simNow()));
  EXPECT_TRUE(test::listIsSim(database_, ListStore::Sms, simNow()));
  EXPECT_EQ(simNow().message(3)->text, "New one");
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

// Names as the SIM holds them, FF bytes inside the name included, come back exactly
// through the records, and through the phonebook listing in HEX and in UCS2; written
// back the same way, the SIM holds them as they were.
TEST_P(RecordJobTest, ReadsNamesAsTheSimHoldsThem) {
  sim::SimCard card = smallSim(24);
  std::vector<SimEntry> expected;
  Held onSim;
  for (const test::NameField& f : test::kNameFields) {
    if (!f.inRecord) continue;
    const int location = static_cast<int>(expected.size()) + 1;
    ASSERT_TRUE(card.writeEntry(location, sim::fromHex(f.hex).value(), "555", 129)) << f.hex;
    expected.push_back({location, std::string(f.name), "555", kMarkInStep});
    onSim.emplace_back(location, f.name);
  }
  discardChanges = true;
  const std::optional<codec::Charset> kWays[] = {std::nullopt, codec::Charset::Hex, codec::Charset::Ucs2};
  for (const std::optional<codec::Charset>& way : kWays) {
    SCOPED_TRACE(way ? codec::charsetName(*way) : "records");
    if (way && GetParam().reader) continue;
    records = !way;
    charset = {.forced = way};
    use(card);
    ASSERT_EQ(read(0), JobOutcome::Done);
    EXPECT_EQ(rows(ListStore::Phonebook), expected);
    exec("UPDATE sim SET operazione = 3");
    ASSERT_EQ(write(0), JobOutcome::Done);
    EXPECT_EQ(host_.report.confirmed, static_cast<int>(onSim.size()));
    EXPECT_EQ(held(simNow(), ListStore::Phonebook), onSim);
  }
}

// A pass stopped at its k-th record update (refused, the modem mute, the card or modem
// gone, or the record written and its answer lost) keeps exactly the marks the SIM did not
// take; the next clean write leaves the SIM as the list says, and no message is ever
// written twice, for the next write reads the record the lost one chose.
TEST_P(RecordJobTest, PassStoppedAtAnyUpdateKeepsTheMarksNotTaken) {
  struct Faulted {
    const char* name;
    sim::Faults (*at)(int k);
    JobOutcome outcome;  // of the phonebook's pass (a message pass just does not end)
    const char* stores;  // "phonebook sms": the stores it stops
  };
  const Faulted kFaults[] = {
      {"error", [](int k) { return sim::Faults{.errorAtWrite = k}; }, JobOutcome::WriteRefused, "phonebook sms"},
      {"mute", [](int k) { return sim::Faults{.muteAtWrite = k}; }, JobOutcome::NoReply, "phonebook"},
      {"hang-up", [](int k) { return sim::Faults{.hangupAtWrite = k}; }, JobOutcome::NoModem, "phonebook sms"},
      {"answer lost", [](int k) { return sim::Faults{.lostAtWrite = k}; }, JobOutcome::NoModem, "sms"},
  };
  // Phonebook updates: 1 record 1, 2 record 2 (erased), 3 record 4. Message updates:
  // 1 record 1 (erased), 2 record 2 (the changed message over its own record), 3 the first
  // free record for "C".
  const std::vector<SimEntry> kPhonebook = {{1, "Alt2", "1", kMarkChanged}, {2, "Bob", "2", kMarkDeleted},
                                            {3, "Cid", "3", kMarkInStep}, {4, "Dan", "4", kMarkNew}};
  const std::vector<SimEntry> kSms = {
      {1, "B", "1", kMarkDeleted}, {2, "new A", "2", kMarkChanged}, {3, "D", "3", kMarkInStep}, {7, "C", "7", kMarkNew}};
  for (const bool sms : {false, true}) {
    const ListStore store = sms ? ListStore::Sms : ListStore::Phonebook;
    for (const Faulted& f : kFaults) {
      if (std::string_view(f.stores).find(sms ? "sms" : "phonebook") == std::string_view::npos) continue;
      if (GetParam().reader && f.outcome == JobOutcome::NoReply) continue;  // a card is never mute
      for (int k = 1; k <= 3; ++k) {
        SCOPED_TRACE(std::string(sms ? "SMS " : "phonebook ") + f.name + " at update " + std::to_string(k));
        exec(sms ? "DELETE FROM simsms" : "DELETE FROM sim");
        exec("DELETE FROM simpdu");
        for (const SimEntry& e : sms ? kSms : kPhonebook) insert(sms ? "simsms" : "sim", e);
        use(sms ? holding(store, {{1, "B"}, {2, "old A"}, {3, "D"}}, 6)
                : holding(store, {{1, "Alt"}, {2, "Bob"}, {3, "Cid"}}, 6),
            f.at(k));
        const JobOutcome outcome = write(sms ? 1 : 0);
        if (sms) {
          EXPECT_NE(outcome, JobOutcome::Done);
        } else {
          EXPECT_EQ(outcome, f.outcome) << (host_.alerts.empty() ? "" : host_.alerts.back());
          EXPECT_EQ(rows(store).size(), k > 2 ? 3u : 4u);
        }
        EXPECT_TRUE(test::listIsSim(database_, store, simNow()));

        use(simNow());
        ASSERT_EQ(write(sms ? 1 : 0), JobOutcome::Done);
        expectListIsSim(store);
        if (sms) {
          std::multiset<std::string> texts;
          for (const auto& [index, text] : held(simNow(), store)) texts.insert(text);
          EXPECT_EQ(texts, (std::multiset<std::string>{"C", "D", "new A"}));
        }
      }
    }
  }
}

// A message keeps what the SIM knows of it when its text changes: a draft stays a draft, a
// sent one sent, a received one received (read or not) with its sender and time; and a
// message the list copies onto another SIM goes byte for byte, a part of a long message
// with its header. Through the records, and through the modem's message commands.
TEST_P(RecordJobTest, MessagesKeepTheirStatusSenderAndTime) {
  sim::SimCard card = smallSim(6);
  card.setMessage(1, {SmsStatus::RecUnread, "+3933312", "26/01/02,10:00:00+04", "Unread", false, {}});
  card.setMessage(2, {SmsStatus::RecRead, "SMART", "26/01/03,11:30:00+04", "Read", false, {}});
  card.setMessage(3, {SmsStatus::StoUnsent, "+4420", "", "Draft", false, {}});
  card.setMessage(4, {SmsStatus::StoSent, "555", "", "Sent", false, {}});
  card.setMessage(5, {SmsStatus::RecRead, "+3947", "26/01/04,09:00:01+04", "Part one ", false, std::string("\x00\x03\x07\x02\x01", 5)});
  for (const bool viaCommands : {false, true}) {
    if (viaCommands && GetParam().reader) continue;
    SCOPED_TRACE(viaCommands ? "the modem's commands" : "the records");
    records = !viaCommands;
    use(card);
    discardChanges = true;
    ASSERT_EQ(read(1), JobOutcome::Done);
    exec("UPDATE simsms SET desc = desc || ', edited', operazione = 3 WHERE entry <= 4");
    ASSERT_EQ(write(1), JobOutcome::Done);
    const sim::SimCard after = simNow();
    std::map<std::string, sim::SmsRecord> byText;
    for (const auto& [index, m] : after.messages()) byText[m.text] = m;
    ASSERT_EQ(byText.size(), 5u);
    for (const auto& [index, m] : card.messages()) {
      SCOPED_TRACE(m.text);
      const bool part = !m.header.empty();
      const sim::SmsRecord& now = byText[part ? m.text : m.text + ", edited"];
      // A text-mode listing marks an unread message read on the SIM itself (27.005).
      const bool listedRead = viaCommands && m.status == SmsStatus::RecUnread;
      EXPECT_EQ(now.status, listedRead ? SmsStatus::RecRead : m.status);
      EXPECT_EQ(now.number, m.number);
      EXPECT_EQ(now.timestamp, m.timestamp);
      EXPECT_EQ(now.header, m.header);
    }
    EXPECT_TRUE(test::listIsSim(database_, ListStore::Sms, after));

    // Onto another SIM, unchanged: each message as the first SIM held it.
    sim::SimCard other = smallSim(6);
    other.giveFreshIdentity();
    use(other);
    toOtherSim = true;
    ASSERT_EQ(write(1), JobOutcome::Done);
    toOtherSim = false;
    std::vector<sim::SmsRecord> copied, original;
    const sim::SimCard onOther = simNow();
    for (const auto& [index, m] : onOther.messages()) copied.push_back(m);
    for (const auto& [index, m] : after.messages()) original.push_back(m);
    EXPECT_EQ(copied, original);
    EXPECT_TRUE(test::listIsSim(database_, ListStore::Sms, onOther));
  }
}

// An entry the way to the SIM cannot store (more digits than the modem's phonebook holds,
// or than the records and their extension records hold) is skipped with a message and
// keeps its mark; the entries after it are written all the same.
TEST_P(RecordJobTest, AnEntryThePathCannotStoreIsSkippedAndTheRestWritten) {
  for (const bool viaCommands : {false, true}) {
    if (viaCommands && GetParam().reader) continue;
    SCOPED_TRACE(viaCommands ? "the modem's commands" : "the records");
    records = !viaCommands;
    maxNumberLen = viaCommands ? 20 : 0;
    exec("DELETE FROM sim");
    const std::string tooLong(viaCommands ? 21 : 240, '7');  // records: 20 + 10 extension records of 20
    insert("sim", {1, "Long", tooLong, kMarkNew});
    insert("sim", {2, "Fine", "0612", kMarkNew});
    use(smallSim(6));
    EXPECT_EQ(write(0), JobOutcome::Done);
    EXPECT_EQ(host_.report.skipped, 1);
    ASSERT_FALSE(host_.alerts.empty());
    EXPECT_NE(host_.alerts.front().find("location 1"), std::string::npos) << host_.alerts.front();
    EXPECT_EQ(marks(ListStore::Phonebook), (std::vector<int>{kMarkNew, kMarkInStep}));
    EXPECT_EQ(simNow().name(2), "Fine");
    EXPECT_TRUE(simNow().isEmpty(1));
    EXPECT_TRUE(test::listIsSim(database_, ListStore::Phonebook, simNow()));
  }
  maxNumberLen = 0;
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
