#pragma once
// The SIM's messages through ModemManager's Messaging interface, when ModemManager manages
// the modem: nothing is borrowed, calls and mobile data go on. The frames are the other
// paths' (runRead, runWrite): the same table, pass journal, identity check (the modem's Sim
// object) and sweep; only the dialogue differs.
//
// A row's location is ModemManager's number for the message (/org/freedesktop/ModemManager1/
// SMS/<n>), not the SIM's index, which ModemManager does not show; a long message received
// in parts is one message there, with its parts' text joined. ModemManager creates a
// message only as one to send: it is stored on the SIM as a draft (STO UNSENT), so a new
// row becomes a draft, and a changed received or sent message cannot be stored as it was:
// its row keeps its mark, and the user is told.
#include <optional>
#include <vector>

#include "modem/ModemManager.h"
#include "store/SimEntry.h"
#include "transfer/JobHost.h"
#include "transfer/JobSession.h"

namespace voryx::transfer {

// The modem whose messages the SMS jobs reach through ModemManager: the one ModemManager
// manages for the context's device (with no device, the first candidate port's), when it
// offers the Messaging interface. None when the context borrows the modem (borrowModem),
// reads the SIM's files, talks to a card reader or an in-process line, or ModemManager
// does not run or offer it.
std::optional<modem::ManagedModem> messagingModem(const JobContext& context);

// The read dialogue of runRead through ModemManager: the messages it keeps on the SIM ("sm").
JobOutcome messagingSmsDialogue(JobSession& s, JobReport& report, std::vector<SimEntry>& rows, int& steps);

// The ModemManager state of a message as the status byte of the SIM's record (27.005's
// <stat> as a status byte: 1 received, 5 sent, 7 a draft).
int statusByteOfMessage(std::uint32_t state, std::uint32_t pduType);

}  // namespace voryx::transfer
