#pragma once
// The virtual modem's SIM-lock commands and the gate in front of the SIM's other
// commands. "+CPIN" (state, PIN, PUK and new PIN) always; the PIN tries left by the
// command the options name: "+CPINR" (the standard one), Huawei's "^CPIN?" or Quectel's
// "+QPINC". Pure apart from the lock they are given; the engine calls them.
//
//   AT+CPIN?            +CPIN: SIM PIN
//   AT+CPINR="SIM PIN"  +CPINR: SIM PIN,2,3
//   AT^CPIN?            ^CPIN: SIM PIN,2,10,2,10,3
//   AT+QPINC="SC"       +QPINC: "SC",2,10
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sim/ModemOptions.h"
#include "sim/PinLock.h"
#include "sim/AtCommand.h"

namespace voryx::sim {

// The SIM as the modem sees it at this command.
struct SimSlot {
  PinLock& lock;
  const ModemOptions& options;
  bool busy = false;  // still starting up
  const PinLock* pin2 = nullptr;  // its PIN2, for the tries left; none: always full
};

// What a lock command came to: information lines, then OK or an error.
struct LockAnswer {
  std::vector<std::string> lines;
  std::optional<int> cmeError;  // the "+CME ERROR" number; none: OK
  bool unlocked = false;        // the SIM took its PIN (or PUK and new PIN) just now
};

// Whether `name` ("+CPIN", "^CPIN", ...) is a lock command of a modem with `counter`.
bool isLockCommand(std::string_view name, PinCounter counter);
LockAnswer lockCommand(const AtCommand& cmd, SimSlot sim);

// The "+CME ERROR" number a SIM command (phonebook, messages, subscriber identity) meets
// instead of running: SIM not inserted (10), SIM busy (14), SIM PIN required (11), SIM PUK
// required (12). None when the SIM is ready.
std::optional<int> simGate(const SimSlot& sim);
// The same refusal among the message service's numbers (310, 314, 311, 316).
int messageErrorOf(int cmeError);

}  // namespace voryx::sim
