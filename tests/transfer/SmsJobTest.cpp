// The SMS read and write against the virtual modem, and the runner's choice of job.
#include "transfer/JobFixture.h"

namespace voryx::transfer {
namespace {

using sim::SmsStatus;

TEST_F(JobFixture, SmsReadRunsAloneAndStoresEveryMessageAsSent) {
  sim::SimCard card = smallSim(5);
  card.setMessage(1, {SmsStatus::StoUnsent, "+3331234567", "", "Hello", false});
  // A received message: its header carries a time stamp with a comma inside the quotes.
  card.setMessage(2, {SmsStatus::RecRead, "+39333999", "24/05/01,10:15:00+08", "Ciao, a presto", false});
  card.setMessage(3, {SmsStatus::StoSent, "0612", "", "First line\n\nSecond line", false});
  card.setMessage(4, {SmsStatus::RecRead, "+7916", "24/05/03,09:05:30+12", "Привет! Как дела?", true});
  startModem(card);
  insert("simsms", {9, "Only local", "1", kMarkNew});

  // tipoDisplay 1 is the SMS read; while it runs no other job starts.
  TransferRunner runner(host_);
  EXPECT_FALSE(runner.loadSIM(2, context()));  // names no store
  ASSERT_TRUE(runner.loadSIM(1, context()));
  EXPECT_FALSE(runner.loadSIM(0, context()));
  EXPECT_FALSE(runner.save(0, context()));
  runner.wait();
  EXPECT_FALSE(runner.running());
  EXPECT_EQ(host_.outcome, JobOutcome::Done);
  EXPECT_EQ(host_.ends, std::vector<std::string>{"endLoadSIM"});

  EXPECT_EQ(rows(ListStore::Sms),
            (std::vector<SimEntry>{{1, "Hello", "+3331234567", kMarkInStep},
                                   {2, "Ciao, a presto", "+39333999", kMarkInStep},
                                   {3, "First line\n\nSecond line", "0612", kMarkInStep},
                                   {4, "Привет! Как дела?", "+7916", kMarkInStep}}));
  EXPECT_EQ(host_.maxSMS, 10);
  EXPECT_EQ(preferences_->value(kPrefMaxSMS), 10);
  EXPECT_EQ(host_.captions, std::vector<std::string>{"Your SIM has a total entry of  10"});
  EXPECT_EQ(host_.createLog, 1);  // every SMS job is logged
  EXPECT_EQ(commandsAfterHandshake(),
            (std::vector<std::string>{"AT V1E0", "AT+CPMS=\"SM\",\"SM\"", "AT+CMGF=1",
                                      "AT+CSCS=\"UTF-8\"", "AT+CMGL=\"ALL\""}));
}

TEST_F(JobFixture, SmsWriteStoresEveryTextUnchanged) {
  sim::SimCard card = smallSim(5);
  card.setMessage(5, {SmsStatus::StoSent, "333", "", "Old text", false});
  card.setMessage(9, {SmsStatus::StoSent, "9", "", "gone", false});
  startModem(card);
  insert("simsms", {4, "Hello", "+39 333 1234567", kMarkNew});
  insert("simsms", {5, "Changed", "333", kMarkChanged});
  insert("simsms", {6, "Grüße ä @ home", "+4930", kMarkNew});      // GSM, "@" is 00
  insert("simsms", {7, "Привет", "+7495", kMarkNew});              // UCS2
  insert("simsms", {8, "Line one\nLine two", "12", kMarkNew});
  insert("simsms", {9, "gone", "", kMarkDeleted});
  insert("simsms", {10, "As it is", "1", kMarkInStep});
  // Cut to what one message holds (160 GSM characters), so the modem takes it; the
  // stored text stays whole.
  insert("simsms", {11, std::string(200, 'x'), "1", kMarkNew});

  EXPECT_EQ(write(2), JobOutcome::Done);  // any store but the phonebook is the SMS store
  EXPECT_EQ(host_.retcode, 0);

  const std::vector<std::string> log = commandsAfterHandshake();
  ASSERT_GE(log.size(), 6u);
  EXPECT_EQ(std::vector<std::string>(log.begin(), log.begin() + 6),
            (std::vector<std::string>{"AT V1E0", "AT+CPMS=\"SM\",\"SM\"", "AT+CMGF=1",
                                      "AT+CSCS=\"GSM\"", "AT+CMGW=\"393331234567\",145,\"STO SENT\"",
                                      "> Hello"}));
  auto at = [&log](const std::string& line) { return std::find(log.begin(), log.end(), line); };
  EXPECT_EQ(at("AT+CMGD=5,0") + 1, at("AT+CMGW=\"333\",129,\"STO SENT\""));
  EXPECT_NE(at("AT+CMGD=9,0"), log.end());
  EXPECT_NE(at("> " + std::string(160, 'x')), log.end());
  // The UCS2 text went in PDU mode, and text mode came back after it.
  const auto pduMode = at("AT+CMGF=0");
  ASSERT_NE(pduMode, log.end());
  EXPECT_NE(std::find(pduMode, log.end(), "AT+CMGF=1"), log.end());
  EXPECT_EQ(host_.labels, (std::vector<std::string>{
                              "Writing sms entry nr. 4", "Writing sms entry nr. 5",
                              "Writing sms entry nr. 6", "Writing sms entry nr. 7",
                              "Writing sms entry nr. 8", "Deleting sms entry nr. 9",
                              "Analyzing sms entry nr. 6", "Writing sms entry nr. 11"}));

  std::vector<std::string> texts;
  const sim::SimCard after = modem().sim();
  for (const auto& [index, m] : after.messages()) {
    texts.push_back(m.text);
    EXPECT_EQ(m.status, SmsStatus::StoSent) << m.text;
    EXPECT_EQ(m.ucs2, m.text == "Привет") << m.text;
  }
  std::sort(texts.begin(), texts.end());
  EXPECT_EQ(texts, (std::vector<std::string>{"Changed", "Grüße ä @ home", "Hello",
                                             "Line one\nLine two", std::string(160, 'x'), "Привет"}));
  EXPECT_EQ(host_.createLog, 1);
  EXPECT_NE(DebugLog::contents().find("start sms 1 insert or modiied with cmd |AT+CMGW="), std::string::npos);
  EXPECT_EQ(marks(ListStore::Sms), std::vector<int>(7, kMarkInStep));
  EXPECT_EQ(rows(ListStore::Sms).back().nome, std::string(200, 'x'));
}

}  // namespace
}  // namespace voryx::transfer
