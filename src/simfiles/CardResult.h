#pragma once
// What a SIM card's status word (SW1 SW2) means to a job, whichever way it reached us: a
// reader's APDU response or the modem's "+CRSM: sw1,sw2". The kinds are those the modem's
// replies come to (modem/Reply.h), so the jobs tell the user the same things either way.
#include <cstdint>
#include <optional>
#include <string>

namespace voryx::simfiles {

enum class CardOutcome {
  Ok,           // 9000, 91xx (a proactive command waits), 92xx (done after retries)
  WrongPin,     // 63Cx / 98 04 with tries left: the code was wrong, or one is needed
  Blocked,      // 6983 / 98 40: the code is blocked (the PUK unblocks it)
  NotFound,     // 6A82 / 94 04: no such file (or record: 6A83 / 94 02)
  NotAllowed,   // 6982 / 98 04 without tries: the security status is not satisfied
  WrongLength,  // 67xx, 6Cxx (exactLength says the right one)
  Removed,      // the card went (taken out, reader unplugged): a hang-up
  NoAnswer,     // nothing came back to the command (a modem that said nothing to AT+CRSM)
  Other,        // any other status word
};

struct CardResult {
  CardOutcome outcome = CardOutcome::Other;
  std::uint16_t sw = 0;               // as the card gave it; 0 when none came (Removed)
  std::optional<int> triesLeft;       // WrongPin, Blocked (0)
  std::optional<int> exactLength;     // WrongLength from 6Cxx
  bool ok() const { return outcome == CardOutcome::Ok; }
};

// The meaning of a status word of either class (A0: TS 51.011 §9.4; 00: TS 102 221 §10.2).
CardResult judgeStatus(std::uint16_t sw);
inline CardResult cardRemoved() { return {CardOutcome::Removed, 0, {}, {}}; }

// For the user: "the SIM refused: security status not satisfied (6982)", ... (string-table
// keys, looked up).
std::string cardResultText(const CardResult& result);

}  // namespace voryx::simfiles
