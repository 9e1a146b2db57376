// The virtual SIM's PIN lock as a client meets it: the state, the tries left by each
// maker's command, three wrong PINs, the PUK, and the SIM's other commands refused
// meanwhile.
#include <gtest/gtest.h>

#include "sim/ModemEngine.h"

using namespace voryx::sim;

namespace {

struct Session {
  explicit Session(ModemOptions options = {}) : engine(sim, log, options) {
    sim.pinLock() = *PinLock::make("1234", "12345678");
    at("ATE0");
  }
  std::string at(std::string_view command) {
    std::string out;
    for (const auto& o : engine.feed(std::string(command) + "\r")) out += o.bytes();
    return out;
  }
  void play(const std::vector<std::pair<std::string, std::string>>& dialogue) {
    for (const auto& [command, reply] : dialogue) EXPECT_EQ(at(command), reply) << command;
  }

  SimCard sim = SimCard::demo();
  std::vector<std::string> log;
  ModemEngine engine;
};

std::string ok(std::string lines = {}) { return lines + "\r\nOK\r\n"; }

TEST(SimLockTest, ThreeWrongPinsBlockTheSimUntilItsPuk) {
  Session s;
  s.play({
      {"AT+CPIN?", ok("\r\n+CPIN: SIM PIN\r\n")},
      {"AT+CPBR=1", "\r\nERROR\r\n"},
      {"AT+CMEE=1;+CPBR=1", "\r\n+CME ERROR: 11\r\n"},
      {"AT+CPMS?", "\r\n+CMS ERROR: 311\r\n"},
      {"AT+CMGF=1", ok()},  // a setting of the modem, not of the SIM
      {"AT+CPINR=\"SIM PIN\"", ok("\r\n+CPINR: SIM PIN,3,3\r\n")},
      {"AT+CPIN=\"0000\"", "\r\n+CME ERROR: 16\r\n"},
      {"AT+CPINR=\"SIM*\"", ok("\r\n+CPINR: SIM PIN,2,3\r\n\r\n+CPINR: SIM PUK,10,10\r\n\r\n+CPINR: SIM PIN2,3,3\r\n"
                              "\r\n+CPINR: SIM PUK2,10,10\r\n")},
      {"AT+CMEE=2;+CPIN=\"1111\"", "\r\n+CME ERROR: incorrect password\r\n"},
      {"AT+CPIN=1111", "\r\n+CME ERROR: incorrect password\r\n"},
      {"AT+CPIN?", ok("\r\n+CPIN: SIM PUK\r\n")},
      {"AT+CPBR=1", "\r\n+CME ERROR: SIM PUK required\r\n"},
      {"AT+CPIN=\"1234\"", "\r\n+CME ERROR: SIM PUK required\r\n"},  // the PIN is no longer asked
      {"AT+CPIN=\"12345678\",\"12\"", "\r\n+CME ERROR: incorrect password\r\n"},  // no PIN: no PUK try spent
      {"AT+CPIN=\"87654321\",\"4321\"", "\r\n+CME ERROR: incorrect password\r\n"},
      {"AT+CPINR=\"SIM PUK\"", ok("\r\n+CPINR: SIM PUK,9,10\r\n")},
      // The SIM says it is ready on its own, after the result.
      {"AT+CPIN=\"12345678\",\"4321\"", ok() + "\r\n+CPIN: READY\r\n"},
      {"AT+CPIN?", ok("\r\n+CPIN: READY\r\n")},
      {"AT+CPIN=\"4321\"", "\r\n+CME ERROR: operation not allowed\r\n"},
      {"AT+CPBS?", ok("\r\n+CPBS: \"SM\",36,250\r\n")},
  });
  EXPECT_TRUE(s.engine.takeUnlocked());
  EXPECT_FALSE(s.engine.takeUnlocked());
  // Powered up again, the SIM asks for its new PIN.
  s.sim.pinLock().powerUp();
  s.play({{"AT+CPIN?", ok("\r\n+CPIN: SIM PIN\r\n")}, {"AT+CPIN=\"4321\"", ok() + "\r\n+CPIN: READY\r\n"}});
}

// Each maker's way to tell the tries left; the others' commands are unknown to it.
TEST(SimLockTest, TellsTheTriesLeftAsItsMakerDoes) {
  struct Case {
    PinCounter counter;
    std::vector<std::pair<std::string, std::string>> dialogue;
  };
  const std::string kUnknown = "\r\n+CME ERROR: 4\r\n";
  const Case kCases[] = {
      {PinCounter::Huawei,
       {{"AT+CPIN=\"9999\"", "\r\n+CME ERROR: 16\r\n"},
        {"AT^CPIN?", ok("\r\n^CPIN: SIM PIN,2,10,2,10,3\r\n")},
        {"AT+CPINR=\"SIM PIN\"", kUnknown},
        {"AT^CPIN=\"1234\";^CPIN?", ok("\r\n^CPIN: READY,,10,3,10,3\r\n") + "\r\n+CPIN: READY\r\n"}}},
      {PinCounter::Quectel,
       {{"AT+QPINC=\"SC\"", ok("\r\n+QPINC: \"SC\",3,10\r\n")},
        {"AT+QPINC?", ok("\r\n+QPINC: \"SC\",3,10\r\n\r\n+QPINC: \"P2\",3,10\r\n")},
        {"AT+QPINC=\"XX\"", "\r\n+CME ERROR: 50\r\n"},
        {"AT^CPIN?", "\r\nERROR\r\n"}}},
      {PinCounter::None, {{"AT+CPINR=\"SIM PIN\"", kUnknown}, {"AT+QPINC=\"SC\"", kUnknown}}},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(static_cast<int>(c.counter));
    ModemOptions options;
    options.pinCounter = c.counter;
    Session s(options);
    s.at("AT+CMEE=1");
    s.play(c.dialogue);
  }
}

// No SIM, or a SIM still starting up: every SIM command says so, in both families.
TEST(SimLockTest, MissingOrBusySimRefusesItsCommands) {
  ModemOptions noSim;
  noSim.noSim = true;
  Session missing(noSim);
  missing.play({{"AT+CMEE=1;+CPIN?", "\r\n+CME ERROR: 10\r\n"},
                {"AT+CPINR", "\r\n+CME ERROR: 10\r\n"},
                {"AT+CMEE=2;+CPBS=\"SM\"", "\r\n+CME ERROR: SIM not inserted\r\n"},
                {"AT+CMGL=\"ALL\"", "\r\n+CMS ERROR: SIM not inserted\r\n"},
                {"AT+CGMI", ok("\r\nVoryx\r\n")}});
  Session busy;
  busy.engine.setSimBusy(true);
  busy.play({{"AT+CMEE=2;+CPIN?", "\r\n+CME ERROR: SIM busy\r\n"}, {"AT+CMGD=1", "\r\n+CMS ERROR: SIM busy\r\n"}});
  busy.engine.setSimBusy(false);
  busy.play({{"AT+CPIN?", ok("\r\n+CPIN: SIM PIN\r\n")}});
}

}  // namespace
