#include "simfiles/CardResult.h"

#include <cstdio>

#include "base/Localized.h"

namespace voryx::simfiles {

CardResult judgeStatus(std::uint16_t sw) {
  const int sw1 = sw >> 8, sw2 = sw & 0xFF;
  CardResult r{CardOutcome::Other, sw, {}, {}};
  if (sw == 0x9000 || sw1 == 0x91 || sw1 == 0x92) {
    r.outcome = CardOutcome::Ok;
  } else if (sw1 == 0x63 && (sw2 & 0xF0) == 0xC0) {
    r.outcome = (sw2 & 0x0F) == 0 ? CardOutcome::Blocked : CardOutcome::WrongPin;
    r.triesLeft = sw2 & 0x0F;
  } else if (sw == 0x6983 || sw == 0x9840) {
    r.outcome = CardOutcome::Blocked;
    r.triesLeft = 0;
  } else if (sw == 0x6982 || sw == 0x9804) {
    r.outcome = CardOutcome::NotAllowed;
  } else if (sw == 0x6A82 || sw == 0x6A83 || sw == 0x9404 || sw == 0x9402) {
    r.outcome = CardOutcome::NotFound;
  } else if (sw1 == 0x67 || sw1 == 0x6C) {
    r.outcome = CardOutcome::WrongLength;
    if (sw1 == 0x6C) r.exactLength = sw2 == 0 ? 256 : sw2;
  }
  return r;
}

std::string cardResultText(const CardResult& result) {
  const char* key = nullptr;
  switch (result.outcome) {
    case CardOutcome::Ok: key = "the SIM took it"; break;
    case CardOutcome::WrongPin: key = "the SIM asks for its PIN"; break;
    case CardOutcome::Blocked: key = "the SIM's PIN is blocked; its PUK unblocks it"; break;
    case CardOutcome::NotFound: key = "the SIM has no such file or record"; break;
    case CardOutcome::NotAllowed: key = "the SIM refused: security status not satisfied (the PIN is needed)"; break;
    case CardOutcome::WrongLength: key = "the SIM refused the length"; break;
    case CardOutcome::Removed: key = "the card left the reader"; break;
    case CardOutcome::NoAnswer: key = "the modem did not answer"; break;
    case CardOutcome::Other: key = "the SIM refused"; break;
  }
  std::string text = localized(key);
  if (result.sw != 0) {
    char code[8];
    std::snprintf(code, sizeof code, "%04X", result.sw);
    text += std::string(" (") + code + ")";
  }
  return text;
}

}  // namespace voryx::simfiles
