#pragma once
// The parts of a write pass that the phonebook and message writes share, whichever way
// they reach the SIM (the modem's commands in WriteJobs.cpp, the SIM's records in
// RecordJobs.cpp): what one entry came to, what the pass knows of the SIM, and the pass's
// own set-up and entry step, and the driver that runs a pass (WritePass.cpp). Internal to
// transfer/.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <map>
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
  Unrecorded,  // the pass journal could not record the message about to be stored: nothing
               // was sent for it
  Skipped,  // the path cannot store the entry as it is (PassScope::skipped says why): it
            // keeps its mark, and the pass goes on with the others
};

inline Verdict verdictOf(const modem::Reply& answer) {
  switch (answer.kind) {
    case modem::ReplyKind::Ok: return Verdict::Go;
    case modem::ReplyKind::Incomplete: return Verdict::NoReply;
    default: return Verdict::Refused;
  }
}

struct RecordBook;  // RecordJobs.h: the files a records pass writes
struct MessagingBook;  // MessagingJobs.cpp: ModemManager's messages a pass works on

// What the pass knows of the SIM before it sends anything.
struct PassScope {
  // A new phonebook entry goes only to a location the SIM reports empty (AT+CPBR=n first)
  // unless `listed` says so: the last read of this very SIM listed it empty, and no write
  // since put anything there. Off when a list is copied onto another SIM (the user asked
  // for its locations to be overwritten).
  bool checkEmpty = false;
  std::optional<std::set<std::int32_t>> listed;  // the locations that SIM holds, per the table
  std::shared_ptr<RecordBook> records;           // a records pass: its files
  std::shared_ptr<MessagingBook> messaging;      // a pass through ModemManager: its messages
  // Refused by the card (records access): what its status word means, for the user; empty
  // when the modem's reply says it.
  std::string refusal;
  // Why the latest Skipped entry could not be stored, for the user.
  std::string skipped;
  // SMS: each row's message as the table knows it (SimTable::records), by the row's index.
  MessageRecords held;
  // SMS: records a message in the pass journal before it is sent (Confirmed::pending);
  // false when the journal could not take it. Empty when the pass keeps no journal.
  std::function<bool(const Confirmed&)> intend;
};

struct WritePass {
  ListStore store;
  const char* errorTitle;  // the alert title of a write error
  // After the session opened, before the identity check: the line's (or the files')
  // set-up. False when the dialogue ended or the SIM offers no such store (user told).
  bool (*setUp)(JobSession&, PassScope&);
  // One entry marked new, changed or deleted (the driver shows each row's progress line,
  // and sends nothing for a row in step): `index` counts from 0 in the list;
  // `lastNumber` is the filtered number of the latest write command prepared in this pass (the no-reply alert names it). What
  // the SIM took goes into `confirmed` as soon as the modem said OK.
  Verdict (*entry)(JobSession&, PassScope&, const SimEntry&, int index,
                   std::string& lastNumber, std::vector<Confirmed>& confirmed);
  bool logAnswer;  // "answer |%s|\n" after every reply checked
  // SMS: what the SIM holds of the messages an earlier pass was storing when it ended
  // before the SIM's answer (`unsettled`, from the journal): each one found goes into
  // `found`, written at the index (record) it was found at. `table` is the list as the
  // pass read it (rows in step at an index explain the message there). False when the
  // dialogue ended. Null for the phonebook, whose writes go to fixed locations.
  bool (*settle)(JobSession&, PassScope&, const std::vector<SimEntry>& table,
                 const std::vector<Confirmed>& unsettled, std::vector<Confirmed>& found);
  // SMS: what the pass's locations name; a table read the other way is not written.
  Locations locations = Locations::SimIndexes;
};

// Of the messages `unsettled`, those `held` (index: text and number, as the SIM holds them)
// shows: each at an index no row of `table` in step explains and no other found one took;
// a changed row's old copy is kept (oldKept) while its index still holds a message.
std::vector<Confirmed> settledMessages(const std::vector<Confirmed>& unsettled,
                                       const std::map<int, std::pair<std::string, std::string>>& held,
                                       const std::vector<SimEntry>& table);

// The alert texts of a write's session (its title heads the write's own alerts too).
extern const LineWording kWriteWording;

// One write pass over the whole table: the list, the line and its set-up, the SIM's
// identity, the journals, one entry step per marked row, and the sweep of the marks of
// what the SIM took. Reports how it ended and what it sent.
JobReport runWrite(const JobContext& context, const WritePass& pass, JobSession& s);

// The passes over the SIM's records (RecordJobs.cpp).
extern const WritePass kRecordsPhonebookPass;
extern const WritePass kRecordsSmsPass;
// The message pass through ModemManager's Messaging interface (MessagingJobs.cpp).
extern const WritePass kMessagingSmsPass;

}  // namespace voryx::transfer
