#pragma once
// The modem's restricted SIM access (27.007 §8.18) on the virtual SIM's files:
//   AT+CRSM=178,28474,5,4,28,,"3F007F10"   ->   +CRSM: 144,0,"4A6F65FFFF..."
#include <optional>
#include <string>
#include <vector>

#include "sim/CardFiles.h"
#include "sim/AtCommand.h"

namespace voryx::sim {

// Whether the command changes the SIM (UPDATE BINARY 214, UPDATE RECORD 220): such a
// command counts as one of the modem's writes, for the faults.
bool crsmWrites(const std::vector<AtArg>& args);
// The "+CRSM:" line of the answer; none when the arguments are not of the command's form
// (the modem answers +CME ERROR: 50). `changed` is set when the SIM took an update.
std::optional<std::string> crsmAnswer(CardFiles& files, const std::vector<AtArg>& args, bool& changed);

}  // namespace voryx::sim
