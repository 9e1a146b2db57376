#include "sim/SimLock.h"

#include <array>

namespace voryx::sim {
namespace {

using Form = AtCommand::Form;
using State = PinLock::State;

// The counters of PIN2 and PUK2 when the slot has no PIN2 lock: full.
constexpr int kPin2Tries = PinLock::kPinTries;
constexpr int kPuk2Tries = PinLock::kPukTries;

LockAnswer refuse(int code) {
  LockAnswer a;
  a.cmeError = code;
  return a;
}

std::string stateName(State state) {
  switch (state) {
    case State::Ready: return "READY";
    case State::Pin: return "SIM PIN";
    case State::Puk: return "SIM PUK";
  }
  return "READY";
}

// "*" stands for any run of characters; the rest must match as it stands (upper case).
bool globMatch(std::string_view pattern, std::string_view text) {
  const std::size_t star = pattern.find('*');
  if (star == std::string_view::npos) return pattern == text;
  if (!text.starts_with(pattern.substr(0, star))) return false;
  const std::string_view rest = pattern.substr(star + 1);
  for (std::size_t at = star; at <= text.size(); ++at) {
    if (globMatch(rest, text.substr(at))) return true;
  }
  return false;
}

std::string upper(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
  return out;
}

// AT+CPIN="<pin>" or AT+CPIN="<puk>","<new pin>", by the state the SIM is in.
LockAnswer enterCode(const std::vector<AtArg>& args, PinLock& lock) {
  if (args.empty() || args.size() > 2) return refuse(50);
  PinLock::Verdict verdict = PinLock::Verdict::NotAsked;
  switch (lock.state()) {
    case State::Ready:
      return refuse(3);
    case State::Pin:
      if (args.size() != 1) return refuse(3);
      verdict = lock.enterPin(args[0].text);
      break;
    case State::Puk:
      if (args.size() != 2) return refuse(12);
      verdict = lock.enterPuk(args[0].text, args[1].text);
      break;
  }
  if (verdict != PinLock::Verdict::Accepted) return refuse(16);
  LockAnswer a;
  a.unlocked = true;
  return a;
}

LockAnswer cpinr(const AtCommand& cmd, const std::vector<AtArg>& args, const PinLock& lock, const PinLock* pin2) {
  if (cmd.form == Form::Read || args.size() > 1) return refuse(50);
  const std::string pattern = args.empty() ? "*" : upper(args[0].text);
  struct Counter {
    std::string_view code;
    int left, full;
  };
  const std::array<Counter, 4> counters{{{"SIM PIN", lock.pinTries(), PinLock::kPinTries},
                                         {"SIM PUK", lock.pukTries(), PinLock::kPukTries},
                                         {"SIM PIN2", pin2 ? pin2->pinTries() : kPin2Tries, kPin2Tries},
                                         {"SIM PUK2", pin2 ? pin2->pukTries() : kPuk2Tries, kPuk2Tries}}};
  LockAnswer a;
  for (const Counter& c : counters) {
    if (globMatch(pattern, c.code)) {
      a.lines.push_back("+CPINR: " + std::string(c.code) + "," + std::to_string(c.left) + "," +
                        std::to_string(c.full));
    }
  }
  return a;
}

// ^CPIN: <code>,[<times>],<puk_times>,<pin_times>,<puk2_times>,<pin2_times>; <times> is
// the count for the code asked for, empty when none is.
LockAnswer huaweiCpin(const AtCommand& cmd, const std::vector<AtArg>& args, PinLock& lock) {
  if (cmd.form == Form::Set) return enterCode(args, lock);
  if (cmd.form != Form::Read) return refuse(50);
  const State state = lock.state();
  const std::string times = state == State::Pin   ? std::to_string(lock.pinTries())
                            : state == State::Puk ? std::to_string(lock.pukTries())
                                                  : "";
  LockAnswer a;
  a.lines.push_back("^CPIN: " + stateName(state) + "," + times + "," + std::to_string(lock.pukTries()) + "," +
                    std::to_string(lock.pinTries()) + "," + std::to_string(kPuk2Tries) + "," +
                    std::to_string(kPin2Tries));
  return a;
}

// +QPINC: "SC",<pin counter>,<puk counter> (and "P2" for PIN2).
LockAnswer quectelQpinc(const AtCommand& cmd, const std::vector<AtArg>& args, const PinLock& lock) {
  const std::string sc = "+QPINC: \"SC\"," + std::to_string(lock.pinTries()) + "," + std::to_string(lock.pukTries());
  const std::string p2 = "+QPINC: \"P2\"," + std::to_string(kPin2Tries) + "," + std::to_string(kPuk2Tries);
  LockAnswer a;
  if (cmd.form == Form::Read) {
    a.lines = {sc, p2};
    return a;
  }
  if (cmd.form != Form::Set || args.size() != 1) return refuse(50);
  const std::string facility = upper(args[0].text);
  if (facility != "SC" && facility != "P2") return refuse(50);
  a.lines.push_back(facility == "SC" ? sc : p2);
  return a;
}

}  // namespace

bool isLockCommand(std::string_view name, PinCounter counter) {
  return name == "+CPIN" || (name == "+CPINR" && counter == PinCounter::Cpinr) ||
         (name == "^CPIN" && counter == PinCounter::Huawei) ||
         (name == "+QPINC" && counter == PinCounter::Quectel);
}

LockAnswer lockCommand(const AtCommand& cmd, SimSlot sim) {
  if (cmd.form == Form::Test) return {};
  if (sim.options.noSim) return refuse(10);
  if (sim.busy) return refuse(14);
  const auto args = cmd.form == Form::Set ? splitArgs(cmd.args) : std::optional<std::vector<AtArg>>(std::in_place);
  if (!args) return refuse(50);
  if (cmd.name == "+CPINR") return cpinr(cmd, *args, sim.lock, sim.pin2);
  if (cmd.name == "^CPIN") return huaweiCpin(cmd, *args, sim.lock);
  if (cmd.name == "+QPINC") return quectelQpinc(cmd, *args, sim.lock);
  // +CPIN
  if (cmd.form == Form::Read) {
    LockAnswer a;
    a.lines.push_back("+CPIN: " + stateName(sim.lock.state()));
    return a;
  }
  if (cmd.form != Form::Set) return refuse(50);
  return enterCode(*args, sim.lock);
}

std::optional<int> simGate(const SimSlot& sim) {
  if (sim.options.noSim) return 10;
  if (sim.busy) return 14;
  switch (sim.lock.state()) {
    case State::Ready: return std::nullopt;
    case State::Pin: return 11;
    case State::Puk: return 12;
  }
  return std::nullopt;
}

int messageErrorOf(int cmeError) {
  switch (cmeError) {
    case 10: return 310;
    case 11: return 311;
    case 12: return 316;
    case 14: return 314;
    default: return 500;
  }
}

}  // namespace voryx::sim
