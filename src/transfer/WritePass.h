#pragma once
// The parts of a write pass that the phonebook and message writes share, whichever way
// they reach the SIM (the modem's commands in WriteJobs.cpp, the SIM's records in
// RecordJobs.cpp): what one entry came to, what the pass knows of the SIM, and the pass's
// own set-up and entry step. Internal to transfer/.
#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "modem/Reply.h"
#include "store/SimTable.h"
#include "transfer/JobSession.h"

namespace voryx::transfer {

// What one entry of a pass came to.
enum class Verdict {
  Go,       // nothing to send, or the SIM took it: on to the next entry
  NoReply,  // the modem said nothing to the entry's command
  Refused,  // the modem answered with something other than OK
  TooLong,  // a command did not fit its buffer; nothing was sent for the entry
  Occupied, // a new entry's location holds another entry on the SIM; nothing was sent
  Ended,    // the dialogue ended: the line broke or the modem is too slow (user told)
};

inline Verdict verdictOf(const modem::Reply& answer) {
  switch (answer.kind) {
    case modem::ReplyKind::Ok: return Verdict::Go;
    case modem::ReplyKind::Incomplete: return Verdict::NoReply;
    default: return Verdict::Refused;
  }
}

struct RecordBook;  // RecordJobs.h: the files a records pass writes

// What the pass knows of the SIM before it sends anything.
struct PassScope {
  // A new phonebook entry goes only to a location the SIM reports empty (AT+CPBR=n first)
  // unless `listed` says so: the last read of this very SIM listed it empty, and no write
  // since put anything there. Off when a list is copied onto another SIM (the user asked
  // for its locations to be overwritten).
  bool checkEmpty = false;
  std::optional<std::set<std::int32_t>> listed;  // the locations that SIM holds, per the table
  std::shared_ptr<RecordBook> records;           // a records pass: its files
  // Refused by the card (records access): what its status word means, for the user; empty
  // when the modem's reply says it.
  std::string refusal;
};

struct WritePass {
  ListStore store;
  const char* errorTitle;  // the alert title of a write error
  // After the session opened, before the identity check: the line's (or the files')
  // set-up. False when the dialogue ended or the SIM offers no such store (user told).
  bool (*setUp)(JobSession&, PassScope&);
  // One entry: `index` counts from 0 in the list; `lastNumber` is the filtered number of
  // the latest write command prepared in this pass (the no-reply alert names it). What
  // the SIM took goes into `confirmed` as soon as the modem said OK.
  Verdict (*entry)(JobSession&, PassScope&, const SimEntry&, int index,
                   std::string& lastNumber, std::vector<Confirmed>& confirmed);
  bool logAnswer;  // "answer |%s|\n" after every reply checked
};

// The passes over the SIM's records (RecordJobs.cpp).
extern const WritePass kRecordsPhonebookPass;
extern const WritePass kRecordsSmsPass;

}  // namespace voryx::transfer
