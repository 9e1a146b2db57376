#pragma once
// The SIM's state before every job's dialogue, and the unlock job. Right after the
// handshake a job asks for numbered errors ("AT+CMEE=1") and then "AT+CPIN?" once:
//   - READY: the dialogue goes on;
//   - SIM PIN: the user is asked once, through the host, with the tries left when the
//     modem tells them; the PIN is sent once and never again by itself, as a SIM blocks
//     after three wrong ones;
//   - SIM PUK, no SIM, a failed SIM, another lock ("PH-SIM PIN", ...): the user is told
//     what to do and the job ends before its dialogue;
//   - "SIM busy" (a SIM starting up, also right after it took its PIN): asked again every
//     second, up to the context's simBusyWait in all;
//   - "ERROR" or no answer at all: taken as ready, as some old modems lack the command
//     (the debug log says so).
// Parsers are pure and survive garbage; the rest runs on the job thread.
#include <optional>
#include <string>

#include "modem/Reply.h"
#include "transfer/JobHost.h"

namespace voryx::transfer {

class JobSession;

//   +CPIN: SIM PIN
struct SimState {
  enum class Kind { Ready, Pin, Puk, Other, Unknown };
  Kind kind = Kind::Unknown;  // Unknown: the reply has no "+CPIN:" line
  std::string name;           // as the modem named it ("PH-SIM PIN"), printable, bounded
};
SimState parseCpinRead(const modem::Reply& reply);

// The commands that tell the tries left, the standard one first; the makers' own are asked
// only when the standard one is refused.
enum class TriesCommand {
  Cpinr,   // AT+CPINR="SIM PIN"   +CPINR: SIM PIN,2,3
  Huawei,  // AT^CPIN?             ^CPIN: SIM PIN,2,10,2,10,3
  Quectel, // AT+QPINC="SC"        +QPINC: "SC",2,10
  Cpinc,   // AT+CPINC?            +CPINC: 2,3,10,10
};
struct CodeTries {
  std::optional<int> pin;
  std::optional<int> puk;
  std::optional<int> pin2;  // +CPINR only
};
CodeTries parseCodeTries(TriesCommand command, const modem::Reply& reply);

// What a host shows when it asks: "SIM PIN" and "Enter the SIM's PIN. 2 tries left ...".
std::string codeQuestionTitle(const CodeQuestion& question);
std::string codeQuestionText(const CodeQuestion& question);

// The check every job runs after its handshake (JobSession::open). True when the
// dialogue may go on; otherwise the user was told (or cancelled the PIN question) and
// the session's failure() says why.
bool checkSim(JobSession& s);

// Selects the job's phonebook store (AT+CPBS). The SIM phonebook is selected as it always
// was, whatever the modem answers. Another store the modem refuses ends the job (the user
// told, failure() StoreMissing). A write of a store that needs PIN2 (fixed dialling) asks
// the host for it once, with the tries left when the modem tells them (AT+CPINR="SIM
// PIN2"), and sends it once with the selection; a PIN2 not given or refused ends the job
// (SimNotReady). False when the job must end.
bool selectPhonebook(JobSession& s, Phonebook book, bool write);

// The same over a card reader: the card's CHV1 state; a PIN it needs is asked once through
// the host with the tries left and presented once (VERIFY). A blocked SIM stops the job.
bool checkCard(JobSession& s);

// The unlock job: for a SIM blocked after too many wrong PINs, asks the host for its PUK
// and a new PIN and sends both once ("AT+CPIN="<puk>","<new pin>""). Done when the SIM
// is unblocked, or was not blocked (the user is told either way); SimNotReady when the
// PUK was refused or not given.
JobReport unlockSIM(JobHost& host, const JobContext& context);

}  // namespace voryx::transfer
