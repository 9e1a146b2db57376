#include "simfiles/CardResult.h"

namespace voryx::simfiles {

CardResult judgeStatus(std::uint16_t sw) { return {sw == 0x9000 ? CardOutcome::Ok : CardOutcome::Other, sw, {}, {}}; }

std::string cardResultText(const CardResult&) { return {}; }

}  // namespace voryx::simfiles
