// The SIM's state before a job's dialogue: the PIN asked once and sent once, a blocked,
// missing or busy SIM told, and the PIN never in the debug log.
#include <gtest/gtest.h>

#include "modem/Reply.h"
#include "transfer/JobFixture.h"
#include "transfer/SimState.h"

namespace voryx::transfer {
namespace {

using namespace std::chrono_literals;
using Kind = SimState::Kind;

constexpr const char* kPin = "2468";
const std::string kNoRetry = " Voryx never tries a PIN again by itself: check it before the next try.";
const std::string kBlocked =
    "The SIM is blocked after too many wrong PINs. Unblock it with its PUK (printed on the card the SIM came "
    "on): \"voryx unlock\" in a terminal, or a phone.";

// Three entries whose numbers hold no PIN digits in a row.
sim::SimCard lockedSim(int wrongPins = 0) {
  sim::SimCard card(10, 14, 10);
  card.writeEntryText(1, "Anna", "+3902111");
  card.writeEntryText(2, "Bruno", "555");
  card.writeEntryText(5, "Carla", "556");
  card.pinLock() = *sim::PinLock::make(kPin);
  for (int i = 0; i < wrongPins; ++i) card.pinLock().enterPin("0000");
  return card;
}

class PinTest : public JobFixture {
 protected:
  void SetUp() override {
    JobFixture::SetUp();
    insert("sim", {9, "Kept", "999", kMarkInStep});
    createLog = 1;
    ASSERT_TRUE(DebugLog::start());
  }
  std::vector<std::optional<int>> triesAsked() const {
    std::vector<std::optional<int>> out;
    for (const CodeQuestion& q : host_.questions) out.push_back(q.triesLeft);
    return out;
  }
};

// Over the real line: each case is one phonebook read.
TEST_F(PinTest, AsksOnceSendsOnceAndTellsWhatToDo) {
  struct Case {
    const char* name;
    sim::SimCard card;
    sim::ModemOptions options;
    std::vector<std::string> codes;         // the user's answers
    std::chrono::milliseconds busyWait;
    JobOutcome outcome;
    std::vector<std::optional<int>> asked;  // the tries left each question showed
    int pinsSent;
    std::vector<std::string> alerts;
  };
  const Case kCases[] = {
      // Busy right after power-up, and again after taking its PIN.
      {"right PIN", lockedSim(), {.faults = {}, .simBusy = 1200ms}, {kPin}, 10s, JobOutcome::Done, {3}, 1, {}},
      {"wrong PIN", lockedSim(), {}, {"1357"}, 10s, JobOutcome::SimNotReady, {3}, 1,
       {"Read from SIM|The SIM refused the PIN. 2 tries left before the SIM is blocked." + kNoRetry}},
      {"cancelled", lockedSim(), {}, {}, 10s, JobOutcome::SimNotReady, {3}, 0, {}},
      {"blocked", lockedSim(3), {}, {}, 10s, JobOutcome::SimNotReady, {}, 0, {"Read from SIM|" + kBlocked}},
      {"no SIM", lockedSim(), {.faults = {}, .noSim = true}, {}, 10s, JobOutcome::SimNotReady, {}, 0,
       {"Read from SIM|There is no SIM in the modem. Insert the SIM (with the modem off) and try again."}},
      {"busy for good", sim::SimCard(10, 14, 10), {.faults = {}, .simBusy = 3600s}, {}, 2s, JobOutcome::SimNotReady,
       {}, 0, {"Read from SIM|The SIM is busy (it may still be starting). Wait a few seconds and try again."}},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    startModem(c.card, c.options);
    codes = c.codes;
    simBusyWait = c.busyWait;
    const std::vector<SimEntry> before = rows(ListStore::Phonebook);
    const auto started = std::chrono::steady_clock::now();

    EXPECT_EQ(read(0), c.outcome);

    EXPECT_EQ(triesAsked(), c.asked);
    EXPECT_EQ(commandCount("AT+CPIN=\""), c.pinsSent);
    EXPECT_EQ(host_.alerts, c.alerts);
    if (c.outcome == JobOutcome::Done) {
      EXPECT_EQ(rows(ListStore::Phonebook).size(), 3u);
    } else {  // nothing read, the table as it was
      EXPECT_EQ(rows(ListStore::Phonebook), before);
      EXPECT_EQ(commandCount("AT+CPBR"), 0);
    }
    if (c.busyWait == 2s) {  // bounded: the wait, one more question and the handshake
      EXPECT_LT(std::chrono::steady_clock::now() - started, 5s);
    }
  }
  // The PIN went to the modem, never to the debug log, not even in an echo.
  const std::string log = DebugLog::contents();
  EXPECT_EQ(log.find(kPin), std::string::npos);
  EXPECT_EQ(log.find("1357"), std::string::npos);
  EXPECT_NE(log.find("send |AT+CPIN=\"****\"\r|"), std::string::npos);
  EXPECT_NE(log.find("sim busy, asked again in 1000 ms"), std::string::npos);
  EXPECT_NE(log.find("refused |+CME ERROR: 16| The SIM refused the code"), std::string::npos);
}

// The tries left, from each maker's command when the standard one is refused; on the
// virtual clock. A PIN that is no PIN is not sent, and the last try says the SIM is blocked.
TEST_F(PinTest, TriesLeftFromEachMakersCommand) {
  struct Case {
    sim::PinCounter counter;
    int wrongBefore;
    std::string code;
    std::optional<int> asked;
    std::string alert;
  };
  const Case kCases[] = {
      {sim::PinCounter::Cpinr, 0, "1357", 3, "The SIM refused the PIN. 2 tries left before the SIM is blocked." + kNoRetry},
      {sim::PinCounter::Huawei, 1, "1357", 2, "The SIM refused the PIN. 1 try left before the SIM is blocked." + kNoRetry},
      {sim::PinCounter::Quectel, 2, "1357", 1, "The SIM refused the PIN and is now blocked. " + kBlocked},
      {sim::PinCounter::None, 0, "1357", std::nullopt, "The SIM refused the PIN." + kNoRetry},
      {sim::PinCounter::Cpinr, 0, "12a4", 3, "A PIN has 4 to 8 digits; nothing was sent to the SIM."},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.code + " " + std::to_string(static_cast<int>(c.counter)));
    useSim(lockedSim(c.wrongBefore), {.faults = {}, .pinCounter = c.counter});
    codes = {c.code};
    EXPECT_EQ(read(0), JobOutcome::SimNotReady);
    EXPECT_EQ(triesAsked(), std::vector<std::optional<int>>{c.asked});
    EXPECT_EQ(host_.alerts, std::vector<std::string>{"Read from SIM|" + c.alert});
    EXPECT_EQ(commandCount("AT+CPIN=\""), c.code == "12a4" ? 0 : 1);
  }
}

// The replies as modems print them, garbage included: what the check takes from them.
TEST(SimStateTest, ReadsTheStateAndTheTriesLeft) {
  struct State {
    std::string reply;
    Kind kind;
    std::string name;
  };
  const State kStates[] = {
      {"+CPIN: READY\r\n\r\nOK", Kind::Ready, "READY"},
      {"+CPIN:SIM PIN\r\nOK", Kind::Pin, "SIM PIN"},
      {"+CPIN: \"SIM PUK\"\r\nOK", Kind::Puk, "SIM PUK"},
      {"+CPIN: PH-SIM PIN\r\nOK", Kind::Other, "PH-SIM PIN"},
      {"+CPIN: sim pin2\r\nOK", Kind::Other, "SIM PIN2"},
      {"+CPIN: \x01\xff" + std::string(100, 'Z') + "\r\nOK", Kind::Other, "??" + std::string(30, 'Z')},
      {"+CPIN:\r\nOK", Kind::Unknown, ""},
      {"OK", Kind::Unknown, ""},
      {"+CPINR: SIM PIN,3\r\nOK", Kind::Unknown, ""},
  };
  for (const State& s : kStates) {
    SCOPED_TRACE(s.reply);
    const SimState state = parseCpinRead(modem::classify(s.reply));
    EXPECT_EQ(state.kind, s.kind);
    EXPECT_EQ(state.name, s.name);
  }
  struct Tries {
    TriesCommand command;
    std::string reply;
    std::optional<int> pin, puk;
  };
  const Tries kTries[] = {
      {TriesCommand::Cpinr, "+CPINR: SIM PIN,2,3\r\n+CPINR: SIM PUK,10,10\r\nOK", 2, 10},
      {TriesCommand::Cpinr, "+CPINR: \"SIM PIN\", 1 ,3\r\nOK", 1, {}},
      {TriesCommand::Cpinr, "+CPINR: SIM PIN2,3,3\r\nOK", {}, {}},
      {TriesCommand::Cpinr, "+CPINR: SIM PIN,x\r\n+CPINR: SIM PIN\r\nOK", {}, {}},
      {TriesCommand::Cpinr, "+CPINR: SIM PIN,99999999999\r\nOK", {}, {}},
      {TriesCommand::Huawei, "^CPIN: SIM PIN,3,10,3,10,3\r\nOK", 3, 10},
      {TriesCommand::Huawei, "^CPIN: READY,,9,2,10,3\r\nOK", 2, 9},
      {TriesCommand::Huawei, "^CPIN: SIM PIN,3\r\nOK", {}, {}},
      {TriesCommand::Quectel, "+QPINC: \"SC\",1,10\r\n+QPINC: \"P2\",3,10\r\nOK", 1, 10},
      {TriesCommand::Quectel, "+QPINC: \"P2\",3,10\r\nOK", {}, {}},
      {TriesCommand::Cpinc, "+CPINC: 2,3,10,10\r\nOK", 2, 10},
      {TriesCommand::Cpinc, "+CPINC: 2,3\r\nOK", {}, {}},
      {TriesCommand::Cpinc, std::string("+CPINC: 2\0,3,10,10\r\nOK", 23), {}, 10},
  };
  for (const Tries& t : kTries) {
    SCOPED_TRACE(t.reply);
    const CodeTries found = parseCodeTries(t.command, modem::classify(t.reply));
    EXPECT_EQ(found.pin, t.pin);
    EXPECT_EQ(found.puk, t.puk);
  }
}

}  // namespace
}  // namespace voryx::transfer
