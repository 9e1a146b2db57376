// The phonebook write (saveSIM) and the SMS write (saveSMS), and the frame they share:
// the table's full list, the modem, one command (or a few) per marked entry with the
// reply check, and the sweep that clears the marks after a complete pass.
#include <sqlite3.h>

#include <string>

#include "base/Localized.h"
#include "entries/DebugLog.h"
#include "modem/Traffic.h"
#include "store/Database.h"
#include "store/EntryList.h"
#include "transfer/GsmAlphabet.h"
#include "transfer/JobSession.h"
#include "transfer/Listings.h"
#include "transfer/SimName.h"
#include "transfer/SmsPdu.h"
#include "transfer/TransferJobs.h"

namespace voryx::transfer {
namespace {

constexpr LineWording kWriteWording{
    "Write to SIM",
    "No modem could be opened; nothing was written.",
    "The modem did not answer; nothing was written.",
    "The connection to the modem was lost; the changes stay marked and will be sent again.",
};
constexpr const char* kListUnreadable = "The local database could not be read; nothing was written.";
constexpr const char* kSweepFailed =
    "The SIM was written, but the local marks could not be cleared; the next write sends "
    "the same changes again.";
constexpr const char* kTooLongKey = "Too long for a modem command, entry nr.";
constexpr int kBusyTimeoutMs = 10000;
// Message texts longer than this are cut before they are sent (the stored text stays).
constexpr std::size_t kSmsTextLimit = 170;
// One stored message holds 160 characters of the GSM alphabet; a modem refuses a longer
// text-mode message, and that refusal would stop every later pass at the same entry.
// (A UCS2 message holds 70 units; the PDU encoder cuts it there.)
constexpr std::size_t kGsmCharsPerMessage = 160;

// What one entry of a pass came to.
struct EntryResult {
  enum Kind {
    InStep,    // nothing to send
    Answered,  // `reply` is the reply to check
    Refused,   // a command did not fit its buffer; nothing was sent for the entry
    LineLost,  // the line broke (the user has been told)
  } kind;
  std::string reply;
};

struct WritePass {
  ListStore store;
  const char* table;       // "sim" / "simsms"
  const char* errorTitle;  // the alert title of a write error
  bool (*setUp)(JobSession&);
  // One entry: `index` counts from 0 in the list; `lastNumber` is the filtered number of
  // the latest write command prepared in this pass (the no-reply alert names it).
  EntryResult (*entry)(JobSession&, const SimEntry&, int index, std::string& lastNumber);
  bool logAnswer;  // "answer |%s|\n" after every reply checked
};

// Clears the marks after a complete pass: rows marked deleted go, the rest are in step.
bool sweep(const JobContext& context, const char* table) {
  auto db = Database::open(context.database);
  if (!db) return false;
  sqlite3_busy_timeout(db->handle(), kBusyTimeoutMs);
  Transaction transaction(*db);
  return transaction.active() &&
         db->exec(std::string("DELETE from ") + table + " WHERE operazione=2") &&
         db->exec(std::string("UPDATE ") + table + " SET operazione=0") && transaction.commit();
}

JobOutcome runWrite(JobHost& host, const JobContext& context, const WritePass& pass) {
  JobSession s(host, context, kWriteWording);
  VORYX_LOG_IF(s.logging(), "open baseband model |%s|\n", s.machine().c_str());

  // The whole table in the screen's order: a search that narrows the screen's list must
  // not hide marked rows from the pass, or the sweep would clear marks never sent.
  ListLoad list = loadEntries(context.database, pass.store, "", context.sortField);
  if (list.failure != LoadFailure::None) {
    s.alert(kListUnreadable);
    return JobOutcome::DatabaseError;
  }
  if (!s.open()) return JobOutcome::NoModem;
  if (!pass.setUp(s)) return JobOutcome::NoModem;

  std::string lastNumber;
  for (std::size_t i = 0; i < list.entries.size(); ++i) {
    const SimEntry& entry = list.entries[i];
    EntryResult result = pass.entry(s, entry, static_cast<int>(i), lastNumber);
    switch (result.kind) {
      case EntryResult::InStep:
        continue;
      case EntryResult::LineLost:
        return JobOutcome::NoModem;
      case EntryResult::Refused:
        host.retcode = 1;
        s.alert(pass.errorTitle, localized(kTooLongKey) + " " + std::to_string(entry.posizione));
        return JobOutcome::WriteRefused;
      case EntryResult::Answered:
        break;
    }
    if (result.reply.empty()) {
      s.alert(pass.errorTitle, lastNumber);
      return JobOutcome::NoReply;
    }
    if (pass.logAnswer) modem::logAnswer(s.logging(), result.reply);
    if (!endsWithOk(result.reply)) {
      host.retcode = 1;
      return JobOutcome::WriteRefused;
    }
  }

  s.close();
  host.retcode = 0;
  if (!sweep(context, pass.table)) {
    s.alert(kSweepFailed);
    return JobOutcome::DatabaseError;
  }
  return JobOutcome::Done;
}

// ---- phonebook ----

bool phonebookSetUp(JobSession& s) {
  return s.exchange("AT+CSCS=\"HEX\"\r") && s.exchange("AT V1E0\r", true) &&
         s.exchange("AT+CPBS=\"SM\"\r", true);
}

EntryResult phonebookEntry(JobSession& s, const SimEntry& e, int index, std::string& lastNumber) {
  const int log = s.logging();
  if (e.operazione == kMarkInStep) {
    s.progress("Analyzing phonebook entry nr.", index);
    return {EntryResult::InStep, {}};
  }
  if (e.operazione == kMarkDeleted) {
    s.progress("Deleting phonebook entry nr.", index);
    const std::string command = *JobSession::command("AT+CPBW=%d,\"\",129,\"\"\r", e.posizione);
    if (!s.exchange(command)) return {EntryResult::LineLost, {}};
    VORYX_LOG_IF(log, "contact %d deleted with cmd |%s|\n", index + 1, command.c_str());
    return {EntryResult::Answered, std::string(s.reply())};
  }
  s.progress("Writing phonebook entry nr.", index);
  lastNumber = filterNumber(e.telefono, false);
  const std::string name = encodeSimName(e.nome, s.host().maxSIMLen.load(), s.codecLog());
  auto command = JobSession::command("AT+CPBW=%d,\"%s\",%d,\"%s\"\r", e.posizione,
                                     lastNumber.c_str(), numberType(e.telefono), name.c_str());
  if (!command) return {EntryResult::Refused, {}};
  if (!s.exchange(*command)) return {EntryResult::LineLost, {}};
  VORYX_LOG_IF(log, "contact %d insert or modiied with cmd |%s|\n", index + 1, command->c_str());
  return {EntryResult::Answered, std::string(s.reply())};
}

// ---- SMS ----

bool smsSetUp(JobSession& s) {
  return s.exchange("AT V1E0\r", true) && s.exchange("AT+CPMS=\"SM\",\"SM\"\r", true) &&
         s.exchange("AT+CMGF=1\r", true) && s.exchange("AT+CSCS=\"GSM\"\r");
}

// The first `limit` characters of a UTF-8 text (never cutting inside one).
std::string firstCharacters(std::string_view utf8, std::size_t limit) {
  std::size_t count = 0;
  for (std::size_t i = 0; i < utf8.size(); ++i) {
    if ((static_cast<unsigned char>(utf8[i]) & 0xC0) != 0x80 && count++ == limit) {
      return std::string(utf8.substr(0, i));
    }
  }
  return std::string(utf8);
}

// At the text prompt a carriage return starts the message's next line; a line feed is
// not taken as one. Every line break of the text goes as a single carriage return.
std::string lineBreaksAsReturns(std::string_view septets) {
  std::string out;
  out.reserve(septets.size());
  for (std::size_t i = 0; i < septets.size(); ++i) {
    if (septets[i] == '\r' && i + 1 < septets.size() && septets[i + 1] == '\n') continue;
    out += septets[i] == '\n' ? '\r' : septets[i];
  }
  return out;
}

// "AT+CMGW" with its header line, the prompt, then the body ended by Ctrl-Z; the reply to
// the body is the one that counts.
EntryResult storeMessage(JobSession& s, int n, const std::string& command,
                         const std::string& body) {
  const int log = s.logging();
  if (!s.exchange(command)) return {EntryResult::LineLost, {}};
  VORYX_LOG_IF(log, "start sms %d insert or modiied with cmd |%s|\n", n, command.c_str());
  if (!s.readMore()) return {EntryResult::LineLost, {}};
  VORYX_LOG_IF(log, "read |%s|%.*s|\n", command.c_str(), static_cast<int>(s.reply().size()),
               s.reply().data());
  const std::string line = body + "\x1a\r";
  if (!s.sendRaw(line) || !s.readMore()) return {EntryResult::LineLost, {}};
  VORYX_LOG_IF(log, "read |%s|%.*s|\n", line.c_str(), static_cast<int>(s.reply().size()),
               s.reply().data());
  return {EntryResult::Answered, std::string(s.reply())};
}

EntryResult smsEntry(JobSession& s, const SimEntry& e, int index, std::string& lastNumber) {
  const int log = s.logging();
  const int n = index + 1;
  if (e.operazione == kMarkInStep) {
    s.progress("Analyzing sms entry nr.", index);
    return {EntryResult::InStep, {}};
  }
  const std::string erase = *JobSession::command("AT+CMGD=%d,0\r", e.posizione);
  if (e.operazione == kMarkDeleted) {
    s.progress("Deleting sms entry nr.", e.posizione);
    if (!s.exchange(erase)) return {EntryResult::LineLost, {}};
    VORYX_LOG_IF(log, "sms %d deleted with cmd |%s|\n", n, erase.c_str());
    return {EntryResult::Answered, std::string(s.reply())};
  }
  if (e.operazione == kMarkChanged) {
    // A changed message is stored anew; the old one goes first.
    if (!s.exchange(erase)) return {EntryResult::LineLost, {}};
    VORYX_LOG_IF(log, "sms %d deleted for mod with cmd |%s|\n", n, erase.c_str());
  }
  s.progress("Writing sms entry nr.", e.posizione);
  const std::string text = firstCharacters(e.nome, kSmsTextLimit);
  lastNumber = filterNumber(e.telefono, false);
  const int type = numberType(e.telefono);

  if (!needsPduMode(text)) {
    auto command = JobSession::command("AT+CMGW=\"%s\",%d,\"STO SENT\"\r", lastNumber.c_str(), type);
    if (!command) return {EntryResult::Refused, {}};
    const std::string oneMessage = firstCharacters(text, kGsmCharsPerMessage);
    return storeMessage(s, n, *command, lineBreaksAsReturns(*encodeGsmText(oneMessage)));
  }
  // Characters the GSM alphabet lacks (or that would end the text entry): the message
  // goes as UCS2 in PDU mode, stored as sent (3) like the text-mode writes, and the line
  // is put back in text mode.
  SubmitPdu pdu = encodeSubmitPdu(lastNumber, type, text);
  auto command = JobSession::command("AT+CMGW=%d,3\r", pdu.tpduLength);
  if (!command || pdu.hex.size() + 2 >= kCommandBufSize) return {EntryResult::Refused, {}};
  if (!s.exchange("AT+CMGF=0\r", true)) return {EntryResult::LineLost, {}};
  EntryResult result = storeMessage(s, n, *command, pdu.hex);
  if (result.kind == EntryResult::Answered && !s.exchange("AT+CMGF=1\r", true)) {
    return {EntryResult::LineLost, {}};
  }
  return result;
}

constexpr WritePass kPhonebookPass{ListStore::Phonebook, "sim", "Error writing phonebook",
                                   phonebookSetUp, phonebookEntry, true};
constexpr WritePass kSmsPass{ListStore::Sms, "simsms", "Error writing sms", smsSetUp, smsEntry,
                             false};

}  // namespace

JobOutcome saveSIM(JobHost& host, const JobContext& context) {
  return runWrite(host, context, kPhonebookPass);
}

JobOutcome saveSMS(JobHost& host, const JobContext& context) {
  // Every SMS write is logged, and logging stays on afterwards.
  host.createLog = 1;
  return runWrite(host, context, kSmsPass);
}

}  // namespace voryx::transfer
