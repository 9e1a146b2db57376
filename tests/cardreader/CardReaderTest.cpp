// What only a card in a reader does: its PIN asked with the tries the card tells, a card
// taken out in the middle of a read, a card that wants its Le from the answer, and what
// the independent judge (pyscard, decoding the records on its own) reads after a write.
#include <gtest/gtest.h>

#include <PCSC/winscard.h>
#include <PCSC/wintypes.h>

#include <signal.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

#include "app/RunVoryx.h"
#include "transfer/JobFixture.h"

namespace voryx::transfer {
namespace {

constexpr const char* kPin = "2468";

sim::SimCard cardWithThree() {
  sim::SimCard card(10, 14, 10);
  card.writeEntryText(1, "Anna", "+3902111");
  card.writeEntryText(2, "Иван", "555");
  card.writeEntryText(5, "Carla", "12345678901234567890");
  card.setMessage(1, {sim::SmsStatus::RecRead, "+3933312", "26/01/02,10:00:00+04", "Ciao [€]", false, {}});
  return card;
}

class CardReaderTest : public JobFixture, public ::testing::WithParamInterface<bool> {
 protected:
  void SetUp() override {
    JobFixture::SetUp();
    records = true;
  }
  bool usim() const { return GetParam(); }
};

TEST_P(CardReaderTest, PinAskedWithTheCardsTriesAndSentOnce) {
  struct Case {
    const char* name;
    int wrongBefore;
    std::vector<std::string> codes;
    JobOutcome outcome;
    std::vector<std::optional<int>> asked;
    int triesAfter;
  };
  const Case kCases[] = {
      {"right PIN", 0, {kPin}, JobOutcome::Done, {3}, 3},
      {"wrong PIN", 1, {"1357"}, JobOutcome::SimNotReady, {2}, 1},
      {"last try", 2, {"1357"}, JobOutcome::SimNotReady, {1}, 0},
      {"cancelled", 0, {}, JobOutcome::SimNotReady, {3}, 3},
      {"blocked", 3, {}, JobOutcome::SimNotReady, {}, 0},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    exec("DELETE FROM sim");
    sim::SimCard card = cardWithThree();
    card.pinLock() = *sim::PinLock::make(kPin);
    for (int i = 0; i < c.wrongBefore; ++i) card.pinLock().enterPin("0000");
    useCard(card, {}, usim());
    codes = c.codes;
    EXPECT_EQ(read(0), c.outcome) << (host_.alerts.empty() ? "" : host_.alerts.back());
    std::vector<std::optional<int>> asked;
    for (const CodeQuestion& q : host_.questions) asked.push_back(q.triesLeft);
    EXPECT_EQ(asked, c.asked);
    EXPECT_EQ(simNow().pinLock().pinTries(), c.triesAfter);
    EXPECT_EQ(rows(ListStore::Phonebook).size(), c.outcome == JobOutcome::Done ? 3u : 0u);
  }
}

// A card taken out at its k-th READ RECORD ends the read as a hang-up and leaves the list
// as it was; a card that answers 6Cxx first is read all the same.
TEST_P(CardReaderTest, CardTakenOutMidReadAndLengthAskedBack) {
  insert("sim", {9, "Kept", "999", kMarkInStep});
  for (int k : {1, 4}) {
    SCOPED_TRACE(k);
    useCard(cardWithThree(), {.t1 = false, .faults = {}, .removeAtRead = k}, usim());
    EXPECT_EQ(read(0), JobOutcome::NoModem);
    EXPECT_EQ(rows(ListStore::Phonebook), (std::vector<SimEntry>{{9, "Kept", "999", kMarkInStep}}));
  }
  useCard(cardWithThree(), {.t1 = false, .faults = {}, .removeAtRead = 0, .wrongLength = true}, usim());
  ASSERT_EQ(read(0), JobOutcome::Done);
  EXPECT_EQ(rows(ListStore::Phonebook).size(), 3u);
  EXPECT_EQ(rows(ListStore::Phonebook).back().telefono, "12345678901234567890");
}

// The judge reads the records through the reader on its own and decodes them from the
// standards, not with Voryx's code: it agrees with what the write left.
TEST_P(CardReaderTest, TheJudgeReadsWhatTheWriteLeft) {
  useCard(cardWithThree(), {}, usim());
  ASSERT_EQ(read(0), JobOutcome::Done);
  exec("UPDATE sim SET desc = 'Zoë', number = '+391234567890123456789012', operazione = 3 WHERE entry = 1");
  exec("UPDATE sim SET operazione = 2 WHERE entry = 2");
  insert("sim", {7, "日本", "*31#", kMarkNew});
  ASSERT_EQ(write(0), JobOutcome::Done);
  ASSERT_EQ(read(1), JobOutcome::Done);
  insert("simsms", {2, "Привет", "+4420", kMarkNew});
  ASSERT_EQ(write(1), JobOutcome::Done);
  takeCardOut();  // the judge takes the reader
  const sim::SimCard after = reader_->sim();
  EXPECT_TRUE(test::listIsSim(database_, ListStore::Phonebook, after));
  EXPECT_TRUE(test::listIsSim(database_, ListStore::Sms, after));
  sim::VirtualCard judged{after, {}, usim()};
  std::string error;
  ASSERT_TRUE(judged.insert(sim::VirtualCard::kFirstPort, &error)) << error;
  ASSERT_TRUE(waitForCard(true));
  const std::string command = std::string("/usr/bin/python3 ") + VORYX_SOURCE_DIR + "/tests/cardreader/judge.py \"" +
                              sim::VirtualCard::readerName(sim::VirtualCard::kFirstPort) + "\"";
  FILE* pipe = popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string out;
  char buffer[512];
  while (std::fgets(buffer, sizeof buffer, pipe)) out += buffer;
  EXPECT_EQ(pclose(pipe), 0) << out;
  EXPECT_EQ(out,
            "adn 1 Zoë +391234567890123456789012\n"
            "adn 5 Carla 12345678901234567890\n"
            "adn 7 日本 *31#\n"
            "sms 1 1 +3933312 Ciao [€]\n"
            "sms 2 5 +4420 Привет\n");
  judged.remove();
}

// Another program that holds the card for itself, as a PC/SC program of our own does
// here: the job names the reader, says it is in use, and changes nothing; once the card is
// let go, the write goes through.
TEST_P(CardReaderTest, ACardAnotherProgramHoldsIsNamedInUse) {
  struct Holder {
    SCARDCONTEXT context = 0;
    SCARDHANDLE card = 0;
    LONG rv = SCARD_E_NO_SERVICE;
    Holder(const std::string& reader, DWORD mode) {
      if (SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &context) != SCARD_S_SUCCESS) return;
      DWORD protocol = 0;
      rv = SCardConnect(context, reader.c_str(), mode, SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1, &card, &protocol);
    }
    ~Holder() {
      if (rv == SCARD_S_SUCCESS) SCardDisconnect(card, SCARD_LEAVE_CARD);
      if (context != 0) SCardReleaseContext(context);
    }
  };
  const std::string reader = sim::VirtualCard::readerName(sim::VirtualCard::kFirstPort);
  const std::string kAdvice = " Close that program, or wait until it lets the card go, and try again.";
  struct Case {
    const char* name;
    DWORD mode;  // how the other program holds the card: alone, or shared while Voryx wants it alone
    bool write;
    std::string alert;
  };
  const Case kCases[] = {
      {"read, held alone", SCARD_SHARE_EXCLUSIVE, false,
       "Read from SIM|" + reader + ": this card reader is in use by another program; the local list was kept." + kAdvice},
      {"write, held shared", SCARD_SHARE_SHARED, true,
       "Write to SIM|" + reader + ": this card reader is in use by another program; nothing was written." + kAdvice},
  };
  useCard(cardWithThree(), {}, usim());
  ASSERT_EQ(read(0), JobOutcome::Done);
  exec("UPDATE sim SET operazione = 2 WHERE entry = 2");
  const std::vector<SimEntry> before = rows(ListStore::Phonebook);
  discardChanges = true;  // the read is refused for the reader, not for the mark
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    Holder other(reader, c.mode);
    ASSERT_EQ(other.rv, SCARD_S_SUCCESS);
    EXPECT_EQ(c.write ? write(0) : read(0), JobOutcome::NoModem);
    EXPECT_EQ(host_.alerts, std::vector<std::string>{c.alert});
    EXPECT_EQ(rows(ListStore::Phonebook), before);
  }
  EXPECT_EQ(write(0), JobOutcome::Done);
  EXPECT_TRUE(reader_->sim().isEmpty(2));
}

// A write killed (SIGKILL, or the SIGTERM of a shutdown) after the card took a message's
// record and before its answer was read: the next write reads that record first and
// writes nothing twice, and the list is the card. The shell, as a user runs it.
TEST_P(CardReaderTest, AWriteKilledMidMessageWritesNothingTwice) {
  const std::string name = sim::VirtualCard::readerName(sim::VirtualCard::kFirstPort);
  for (const int signal : {SIGKILL, SIGTERM}) {
    SCOPED_TRACE(signal == SIGKILL ? "SIGKILL" : "SIGTERM");
    takeCardOut();
    test::TempDir home;
    std::atomic<pid_t> victim{0};
    std::atomic<bool> killed{false};
    reader_ = std::make_unique<sim::VirtualCard>(cardWithThree(), sim::CardOptions{}, usim());
    // On the card's thread, once the record holds the message and before the card answers.
    reader_->setOnChange([&](const sim::SimCard& now) {
      const bool stored = std::any_of(now.messages().begin(), now.messages().end(),
                                      [](const auto& m) { return m.second.text == "Probe two"; });
      if (!stored || killed) return;
      for (int i = 0; i < 5000 && victim == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds{1});
      killed = ::kill(victim, signal) == 0;
    });
    std::string error;
    ASSERT_TRUE(reader_->insert(sim::VirtualCard::kFirstPort, &error)) << error;
    ASSERT_TRUE(waitForCard(true));
    EXPECT_EQ(test::runVoryx(home, {"read", "--sms", "--reader", name, "-q"}).status, 0);
    EXPECT_EQ(test::runVoryx(home, {"add", "--sms", "Probe two", "555"}).status, 0);
    test::Started write(home, {"write", "--sms", "--reader", name, "-q"}, {});
    victim = write.pid();
    EXPECT_EQ(write.wait().status, -1);  // ended by the signal
    EXPECT_TRUE(killed);
    const test::Ran again = test::runVoryx(home, {"write", "--sms", "--reader", name, "-q"});
    EXPECT_EQ(again.status, 0) << again.err;
    const sim::SimCard after = reader_->sim();
    std::vector<std::string> texts;
    for (const auto& [index, m] : after.messages()) texts.push_back(m.text);
    EXPECT_EQ(texts, (std::vector<std::string>{"Ciao [€]", "Probe two"}));
    EXPECT_TRUE(test::listIsSim(home / "data" / "Voryx.sqlitedb", ListStore::Sms, after));
  }
}

INSTANTIATE_TEST_SUITE_P(Profiles, CardReaderTest, ::testing::Values(false, true),
                         [](const auto& p) { return p.param ? "Usim" : "Sim"; });

}  // namespace
}  // namespace voryx::transfer
