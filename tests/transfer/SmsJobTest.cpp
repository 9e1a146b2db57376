// The SMS read against the virtual modem, and the runner's choice of job.
#include "transfer/JobFixture.h"

namespace voryx::transfer {
namespace {

using sim::SmsStatus;

// The same store read in the listing styles that differ: NUL filler after the first
// message, a sender's name in UCS2 hex among numbers in hex, the headers of +CSDH=1.
TEST_F(JobFixture, SmsReadRunsAloneAndStoresEveryMessageAsSent) {
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
    card.setMessage(1, {SmsStatus::StoUnsent, "+3331234567", "", "Hello", false});
    // A received message: its header carries a time stamp with a comma inside the quotes.
    card.setMessage(2, {SmsStatus::RecRead, "+39333999", "24/05/01,10:15:00+08", "Ciao, a presto", false});
    card.setMessage(3, {SmsStatus::StoSent, "0612", "", "First line\n\nSecond line", false});
    card.setMessage(4, {SmsStatus::RecRead, "+7916", "24/05/03,09:05:30+12", "Привет! Как дела?", true});
    card.setMessage(5, {SmsStatus::RecRead, "SMART", "24/05/04,08:00:00+08", "Promo", false});
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
                                        "AT+CSCS=\"" + style.listSet + "\"", "AT+CMGL=\"ALL\"", "AT+CCID",
                                        "AT+CIMI"}));
  }
}

// A message from a sender's name keeps the name when it is written back (changed, or
// added anew): it goes in PDU mode as an alphanumeric address, never as no number at all.
TEST_F(JobFixture, SmsWriteKeepsASendersName) {
  sim::SimCard card = smallSim(5);
  card.setMessage(1, {SmsStatus::RecRead, "SMART", "24/05/04,08:00:00+08", "Promo", false});
  useSim(card);
  discardChanges = true;
  ASSERT_EQ(read(1), JobOutcome::Done);
  exec("UPDATE simsms SET desc='Promo 2', operazione=3 WHERE entry=1");
  insert("simsms", {2, "Saldo 5€", "Vodafone", kMarkNew});
  ASSERT_EQ(write(1), JobOutcome::Done);
  std::vector<std::string> held;
  const sim::SimCard after = simNow();
  for (const auto& [index, m] : after.messages()) held.push_back(m.number + "|" + m.text);
  EXPECT_EQ(held, (std::vector<std::string>{"SMART|Promo 2", "Vodafone|Saldo 5€"}));
  EXPECT_EQ(commandCount("AT+CMGF=0"), 2);
}

}  // namespace
}  // namespace voryx::transfer
