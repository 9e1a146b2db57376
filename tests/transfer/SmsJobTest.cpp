// The SMS read against the virtual modem, and the runner's choice of job.
#include "transfer/JobFixture.h"

namespace voryx::transfer {
namespace {

using sim::SmsStatus;

// The same store read in the listing styles that differ: NUL filler after the first
// message, a sender's name in UCS2 hex among numbers in hex, the headers of +CSDH=1.
TEST_P(ReplyRuleTest, SmsReadRunsAloneAndStoresEveryMessageAsSent) {
  struct Style {
    const char* name;
    sim::ModemOptions options;
    CharsetPreference charset;
    std::string listSet;  // the set the listing is asked in
  };
  sim::ModemOptions hexNumbers;
  hexNumbers.charsets.hexNumbers = true;
  const Style kStyles[] = {
      {"plain", {}, {}, "UTF-8"},
      {"NUL filler", {.faults = {.nulBytes = true}}, {}, "UTF-8"},
      {"UCS2, numbers and names in hex", hexNumbers, {.forced = std::nullopt, .ucs2First = true}, "UCS2"},
  };
  for (const Style& style : kStyles) {
    SCOPED_TRACE(style.name);
    sim::SimCard card = smallSim(5);
    card.setMessage(1, {SmsStatus::StoUnsent, "+3331234567", "", "Hello", false, {}});
    // A received message: its header carries a time stamp with a comma inside the quotes.
    card.setMessage(2, {SmsStatus::RecRead, "+39333999", "24/05/01,10:15:00+08", "Ciao, a presto", false, {}});
    card.setMessage(3, {SmsStatus::StoSent, "0612", "", "First line\n\nSecond line", false, {}});
    card.setMessage(4, {SmsStatus::RecRead, "+7916", "24/05/03,09:05:30+12", "Привет! Как дела?", true, {}});
    card.setMessage(5, {SmsStatus::RecRead, "SMART", "24/05/04,08:00:00+08", "Promo", false, {}});
    useSim(card, style.options);
    exec("DELETE FROM simsms");
    insert("simsms", {9, "Only local", "1", kMarkInStep});
    charset = style.charset;
    host_ = RecordingHost{};
    auto line = std::make_unique<testing::EngineLine>(*card_, options_);
    JobContext c = context();
    c.device.line = line.get();

    // tipoDisplay 1 is the SMS read; while it runs no other job starts.
    TransferRunner runner(host_);
    EXPECT_FALSE(runner.loadSIM(2, c));  // names no store
    ASSERT_TRUE(runner.loadSIM(1, c));
    EXPECT_FALSE(runner.loadSIM(0, c));
    EXPECT_FALSE(runner.save(0, c));
    runner.wait();
    EXPECT_FALSE(runner.running());
    EXPECT_EQ(host_.report.outcome, JobOutcome::Done);
    EXPECT_EQ(host_.ends, std::vector<std::string>{"endLoadSIM"});

    EXPECT_EQ(rows(ListStore::Sms),
              (std::vector<SimEntry>{{1, "Hello", "+3331234567", kMarkInStep},
                                     {2, "Ciao, a presto", "+39333999", kMarkInStep},
                                     {3, "First line\n\nSecond line", "0612", kMarkInStep},
                                     {4, "Привет! Как дела?", "+7916", kMarkInStep},
                                     {5, "Promo", "SMART", kMarkInStep}}));
    ASSERT_TRUE(host_.report.maxSMS);
    EXPECT_EQ(host_.report.maxSMS->value, 10);
    EXPECT_EQ(host_.captions, std::vector<std::string>{"Your SIM has a total entry of  10"});
    EXPECT_TRUE(host_.report.createLog);  // every SMS job is logged
    engineLog_ = line->commandLog();
    EXPECT_EQ(commandsAfterHandshake(),
              (std::vector<std::string>{"AT V1E0", "AT+CPMS=\"SM\",\"SM\"", "AT+CMGF=1", "AT+CSCS=?",
                                        "AT+CSCS=\"" + style.listSet + "\"", "AT+CMGL=\"ALL\"",
                                        // each message as the SIM holds it: status, PDU
                                        "AT+CMGF=0", "AT+CMGL=4", "AT+CMGF=1", "AT+CCID", "AT+CIMI"}));
  }
}

// A message sent in parts: each part stays its own SIM record and row, with its place in
// the message, whether the modem's text mode shows it as hex (a PDU-mode listing then
// tells the rest), or the SIM's records are read; the list joins them.
TEST_F(JobFixture, MessagesInPartsAreReadAsPartsAndListedWhole) {
  sim::SimCard card = smallSim(5);
  // 8-bit reference 0x2A, 7-bit text, parts out of order; the 16-bit reference 0x1234 in
  // UCS2, its part 2 missing; an ordinary message between them.
  card.setMessage(1, {SmsStatus::RecRead, "+3912", "24/05/04,08:00:02+08", "wor", false, std::string({0, 3, 0x2A, 2, 2})});
  card.setMessage(2, {SmsStatus::RecRead, "+3912", "24/05/04,08:00:01+08", "Hello ", false, std::string({0, 3, 0x2A, 2, 1})});
  card.setMessage(3, {SmsStatus::RecRead, "+3912", "24/05/04,08:00:03+08", "Single", false, {}});
  card.setMessage(4, {SmsStatus::RecRead, "+7916", "24/05/04,08:00:04+08", "Привет ", true,
                      std::string({8, 4, 0x12, 0x34, 3, 1})});
  card.setMessage(5, {SmsStatus::RecRead, "+7916", "24/05/04,08:00:05+08", "мир", true,
                      std::string({8, 4, 0x12, 0x34, 3, 3})});
  sim::ModemOptions hexNumbers;
  hexNumbers.charsets.hexNumbers = true;
  struct Style {
    const char* name;
    sim::ModemOptions options;
    CharsetPreference charset;
    bool records;
  };
  const Style kStyles[] = {
      {"text mode", {}, {}, false},
      {"text mode, UCS2", hexNumbers, {.forced = std::nullopt, .ucs2First = true}, false},
      {"records", {}, {}, true},
  };
  for (const Style& style : kStyles) {
    SCOPED_TRACE(style.name);
    useSim(card, style.options);
    charset = style.charset;
    records = style.records;
    discardChanges = true;
    ASSERT_EQ(read(1), JobOutcome::Done);
    auto table = SimTable::open(database_, ListStore::Sms);
    EXPECT_EQ(*table->list(), (std::vector<SimEntry>{{1, "wor", "+3912", 0},
                                                     {2, "Hello ", "+3912", 0},
                                                     {3, "Single", "+3912", 0},
                                                     {4, "Привет ", "+7916", 0},
                                                     {5, "мир", "+7916", 0}}));
    EXPECT_EQ(*table->parts(), (MessageParts{{1, {0x2A, 2, 2}}, {2, {0x2A, 2, 1}}, {4, {0x1234, 3, 1}},
                                             {5, {0x1234, 3, 3}}}));
    EXPECT_EQ(rows(ListStore::Sms), (std::vector<SimEntry>{{1, "Hello wor (2 parts)", "+3912", 0},
                                                           {3, "Single", "+3912", 0},
                                                           {4, "Привет [part 2 of 3 missing]мир (3 parts)", "+7916", 0}}));
    EXPECT_EQ(commandCount("AT+CMGL=4"), style.records ? 0 : 1);
  }
}

// A modem without PDU mode: a message that only PDU mode carries as it is (a received one,
// edited) is refused and keeps its mark; nothing that is no message reaches the SIM.
TEST_F(JobFixture, AModemWithoutPduModeStoresNothingItCannotCarry) {
  sim::SimCard card = smallSim(5);
  card.setMessage(1, {SmsStatus::RecRead, "+3933312", "24/05/04,08:00:00+08", "Ciao", false, {}});
  sim::ModemOptions textOnly;
  textOnly.textModeOnly = true;
  useSim(card, textOnly);
  discardChanges = true;
  ASSERT_EQ(read(1), JobOutcome::Done);
  exec("UPDATE simsms SET desc='Ciao, again', operazione=3 WHERE entry=1");
  useSim(simNow(), textOnly);
  EXPECT_EQ(write(1), JobOutcome::WriteRefused);
  EXPECT_EQ(commandCount("AT+CMGW"), 0);  // the PDU's hexadecimal never goes as a text
  EXPECT_EQ(simNow(), card);
  EXPECT_EQ(marks(ListStore::Sms), std::vector<int>{kMarkChanged});
  EXPECT_TRUE(test::listIsSim(database_, ListStore::Sms, simNow()));
}

// A message from a sender's name keeps the name when it is written back (changed, or
// added anew): it goes in PDU mode as an alphanumeric address, never as no number at all.
TEST_F(JobFixture, SmsWriteKeepsASendersName) {
  sim::SimCard card = smallSim(5);
  card.setMessage(1, {SmsStatus::RecRead, "SMART", "24/05/04,08:00:00+08", "Promo", false, {}});
  useSim(card);
  discardChanges = true;
  ASSERT_EQ(read(1), JobOutcome::Done);
  exec("UPDATE simsms SET desc='Promo 2', operazione=3 WHERE entry=1");
  insert("simsms", {2, "Saldo 5€", "Vodafone", kMarkNew});
  ASSERT_EQ(write(1), JobOutcome::Done);
  std::vector<std::string> held;
  const sim::SimCard after = simNow();
  for (const auto& [index, m] : after.messages()) held.push_back(m.number + "|" + m.text);
  std::sort(held.begin(), held.end());
  EXPECT_EQ(held, (std::vector<std::string>{"SMART|Promo 2", "Vodafone|Saldo 5€"}));
  // A received message stays received, from its sender, at its time.
  for (const auto& [index, m] : after.messages()) {
    if (m.number != "SMART") continue;
    EXPECT_EQ(m.status, SmsStatus::RecRead);
    EXPECT_EQ(m.timestamp, "24/05/04,08:00:00+08");
  }
  EXPECT_EQ(commandCount("AT+CMGF=0"), 2);
  EXPECT_TRUE(test::listIsSim(database_, ListStore::Sms, after));
}

}  // namespace
}  // namespace voryx::transfer
