#pragma once
// Which SIM is in the modem: asked by every read (the copy records it) and by every write
// before its first change command (a write never lands on a SIM the copy was not read
// from).
#include "store/SimTable.h"
#include "transfer/JobSession.h"

namespace voryx::transfer {

// Asks the ICCID (AT+CCID, then the makers' forms AT+ICCID, AT^ICCID, AT+QCCID, each only
// while the one before was refused or unreadable) and the IMSI (AT+CIMI). Either stays
// empty when the modem refuses it or gives nothing readable; false only when the dialogue
// ended (the line broke, the modem is too slow: failure() says which).
bool askIdentity(JobSession& s, SimIdentity& sim);

// "This is not the SIM the list was read from (read from …4567895, this SIM is …1234560)."
// for a write that ended OtherSim; the shell and the screen each add what to do.
std::string otherSimMessage(const JobReport& report);

}  // namespace voryx::transfer
