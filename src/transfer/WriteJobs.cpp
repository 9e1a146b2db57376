// The phonebook write (saveSIM) and the SMS write (saveSMS) over the modem's commands:
// one command (or a few) per marked entry with the reply check. The frame they run in
// (runWrite) is the records path's too, in WritePass.cpp.
#include <algorithm>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "base/Localized.h"
#include "base/DebugLog.h"
#include "base/Text.h"
#include "modem/ErrorText.h"
#include "modem/Traffic.h"
#include "store/SimTable.h"
#include "codec/Charset.h"
#include "codec/GsmAlphabet.h"
#include "transfer/JobSession.h"
#include "transfer/Listings.h"
#include "transfer/MessagingJobs.h"
#include "transfer/SimIdentity.h"
#include "transfer/RecordJobs.h"
#include "codec/SimName.h"
#include "transfer/SimRecords.h"
#include "transfer/SimState.h"
#include "codec/SmsPdu.h"
#include "transfer/TransferJobs.h"
#include "transfer/WritePass.h"

namespace voryx::transfer {

using namespace codec;
namespace {

using modem::ReplyKind;

constexpr const char* kNumberTooLong =
    "location %d: the number has %d digits, and the modem's phonebook holds %d; it was not written";

// The reply to an entry's command: logged, judged, and recorded when the SIM took it.
Verdict takeAnswer(JobSession& s, bool logAnswer, const SimEntry& e, Confirmed::What what,
                   std::vector<Confirmed>& confirmed) {
  if (logAnswer) modem::logAnswer(s.logging(), s.reply());
  const Verdict v = verdictOf(s.answer());
  if (v == Verdict::Go) confirmed.push_back(Confirmed::of(e, what));
  return v;
}

// ---- phonebook ----

bool phonebookSetUp(JobSession& s, PassScope&) {
  return s.exchange(kVerboseNoEcho, true) && selectPhonebook(s, s.context().phonebook, true) &&
         s.negotiateCharset(CharsetUse::Phonebook);
}

// AT+CPBR=n before a new entry: Go when the location is empty, or holds just what the entry
// would put there (a pass whose marks could not be cleared sent it already); Occupied
// when it holds something else.
Verdict checkEmpty(JobSession& s, const SimEntry& e, const std::string& number,
                   const std::string& name) {
  // +CPBR: 4,"0212",129,"5A6F65"
  const std::string command = *JobSession::command("AT+CPBR=%d\r", e.posizione);
  if (!s.exchange(command, true)) return Verdict::Ended;
  if (s.answer().kind == ReplyKind::NotFound) return Verdict::Go;  // "not found": empty
  if (s.answer().kind != ReplyKind::Ok) return verdictOf(s.answer());
  const Charset cs = *s.charset();
  for (const PhonebookRow& row : parseCpbrListing(s.reply())) {
    if (row.location != e.posizione) continue;
    const bool same = filterNumber(decodeNumber(row.listedNumber, cs), false) == number &&
                      decodeName(row.name, cs) == decodeName(name, cs);
    return same ? Verdict::Go : Verdict::Occupied;
  }
  return Verdict::Go;
}

// Without HEX, each name goes in the set that stores it best (nameSetFor); the line
// switches to it (AT+CSCS) when it talks in another. A set the user chose (forced from
// the shell, or the setup screen's "Use UCS2") is kept; under HEX every name has its most
// compact form already. False when the dialogue ended.
bool useSetFor(JobSession& s, std::string_view name) {
  for (int attempt = 0; attempt < 3; ++attempt) {
    const Charset now = *s.charset();
    if (now == Charset::Hex || s.context().charset.forced || s.context().charset.ucs2First) return true;
    const Charset best =
        nameSetFor(name, [&s](Charset cs) { return s.mayUse(cs); }, now);
    if (best == now) return true;
    if (!s.switchCharset(best)) return false;
    if (*s.charset() == best) return true;
    // Refused: chosen again without it.
  }
  return true;
}

Verdict phonebookEntry(JobSession& s, PassScope& scope, const SimEntry& e, int index,
                       std::string& lastNumber, std::vector<Confirmed>& confirmed) {
  const int log = s.logging();
  if (e.operazione == kMarkDeleted) {
    const std::string command = *JobSession::command("AT+CPBW=%d,\"\",129,\"\"\r", e.posizione);
    if (!s.exchange(command)) return Verdict::Ended;
    VORYX_LOG_IF(log, "contact %d deleted with cmd |%s|\n", index + 1, command.c_str());
    return takeAnswer(s, true, e, Confirmed::What::Erased, confirmed);
  }
  lastNumber = filterNumber(e.telefono, false);
  // Longer than the modem's phonebook holds (a row from before the limit was known): the
  // modem would refuse it and hold back every entry after it.
  const int maxDigits = s.context().maxNumberLen;
  if (maxDigits > 0 && static_cast<int>(lastNumber.size()) > maxDigits) {
    scope.skipped = localized(kNumberTooLong);
    for (const int value : {e.posizione, static_cast<int>(lastNumber.size()), maxDigits}) {
      if (auto at = scope.skipped.find("%d"); at != std::string::npos) scope.skipped.replace(at, 2, std::to_string(value));
    }
    return Verdict::Skipped;
  }
  if (!useSetFor(s, e.nome)) return Verdict::Ended;
  // Numbers go as they are in every set: the modem converts no number field.
  const Charset cs = *s.charset();
  const std::string name = encodeName(e.nome, cs, s.context().maxSIMLen, s.codecLog());
  auto command = JobSession::command("AT+CPBW=%d,\"%s\",%d,\"%s\"\r", e.posizione,
                                     lastNumber.c_str(), numberType(e.telefono), name.c_str());
  if (!command) return Verdict::TooLong;
  if (e.operazione == kMarkNew && scope.checkEmpty &&
      !(scope.listed && !scope.listed->count(e.posizione))) {
    if (const Verdict v = checkEmpty(s, e, lastNumber, name); v != Verdict::Go) return v;
  }
  if (!s.exchange(*command)) return Verdict::Ended;
  VORYX_LOG_IF(log, "contact %d insert or modiied with cmd |%s|\n", index + 1, command->c_str());
  const Verdict v = takeAnswer(s, true, e, Confirmed::What::Written, confirmed);
  // The row takes the name as the SIM has it: cut, or with "?" for what the set lacks.
  if (v == Verdict::Go) {
    if (std::string took = decodeName(name, cs); took != e.nome) confirmed.back().took = std::move(took);
  }
  return v;
}

// ---- SMS ----

bool smsSetUp(JobSession& s, PassScope&) {
  return s.exchange(kVerboseNoEcho, true) && s.exchange("AT+CPMS=\"SM\",\"SM\"\r", true) &&
         s.exchange("AT+CMGF=1\r", true) && s.negotiateCharset(CharsetUse::SmsWrite);
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

// "AT+CMGW" with its header line, the prompt, then the body ended by Ctrl-Z. The body
// goes only after the prompt (to a modem still in command mode it would be a command
// line); the reply to the body is the one that counts, and it names the index the modem
// stored the message at, which the row takes.
Verdict storeMessage(JobSession& s, int n, const std::string& command, const std::string& body,
                     std::optional<std::int32_t>& storedAt) {
  const int log = s.logging();
  if (!s.exchange(command)) return Verdict::Ended;
  VORYX_LOG_IF(log, "start sms %d insert or modiied with cmd |%s|\n", n, command.c_str());
  if (s.answer().kind != ReplyKind::Prompt) {
    return s.answer().kind == ReplyKind::Incomplete ? Verdict::NoReply : Verdict::Refused;
  }
  if (!s.readMore()) return Verdict::Ended;
  VORYX_LOG_IF(log, "read |%s|%.*s|\n", command.c_str(), static_cast<int>(s.reply().size()),
               s.reply().data());
  const std::string line = body + "\x1a\r";
  if (!s.sendRaw(line) || !s.readMore(true)) return Verdict::Ended;
  VORYX_LOG_IF(log, "read |%s|%.*s|\n", line.c_str(), static_cast<int>(s.reply().size()),
               s.reply().data());
  const Verdict v = verdictOf(s.answer());
  if (v != Verdict::Go) return v;
  // Stored, but where is unknown: the row cannot follow its message, so the entry counts
  // as not taken.
  auto index = parseCmgwWrite(s.reply());
  if (!index) return Verdict::Refused;
  storedAt = *index;
  return Verdict::Go;
}

// 27.005's "memory full": the message store has no room for another message.
bool storeFull(const modem::Reply& answer) {
  return answer.errorSource == modem::ErrorSource::Messages && answer.errorCode == 322;
}

// A message stored whole as the record says (status byte, service centre, TPDU): PDU mode
// with its <stat>, then text mode again. `full`: the store refused it for want of room.
Verdict storeRecord(JobSession& s, int n, const std::string& record, std::optional<std::int32_t>& storedAt,
                    bool& full) {
  const int smsc = record.size() > 1 ? static_cast<unsigned char>(record[1]) : 0;
  const int tpdu = static_cast<int>(record.size()) - 2 - smsc;
  auto command = JobSession::command("AT+CMGW=%d,%d\r", tpdu, statOfStatusByte(record.empty() ? 5 : record[0]));
  const std::string hex = hexUpper(std::string_view(record).substr(1));
  if (!command || tpdu < 1 || hex.size() + 2 >= kCommandBufSize) return Verdict::TooLong;
  if (!s.exchange("AT+CMGF=0\r", true)) return Verdict::Ended;
  // A modem without PDU mode would take the PDU's hexadecimal for a message's text:
  // nothing is sent, and the row keeps its mark.
  if (s.answer().kind != ReplyKind::Ok) return verdictOf(s.answer());
  const Verdict v = storeMessage(s, n, *command, hex, storedAt);
  if (v == Verdict::Ended) return v;
  full = v == Verdict::Refused && storeFull(s.answer());
  return s.exchange("AT+CMGF=1\r", true) ? v : Verdict::Ended;
}

Verdict smsEntry(JobSession& s, PassScope& scope, const SimEntry& e, int index,
                 std::string& lastNumber, std::vector<Confirmed>& confirmed) {
  const int log = s.logging();
  const int n = index + 1;
  const std::string erase = *JobSession::command("AT+CMGD=%d,0\r", e.posizione);
  if (e.operazione == kMarkDeleted) {
    if (!s.exchange(erase)) return Verdict::Ended;
    VORYX_LOG_IF(log, "sms %d deleted with cmd |%s|\n", n, erase.c_str());
    return takeAnswer(s, false, e, Confirmed::What::Erased, confirmed);
  }
  // One stored message holds 160 septets (70 UTF-16 units): a longer text (an old row, a
  // restore) is stored cut, and the row then holds what the SIM has.
  const std::string text = oneMessageText(e.nome);
  std::optional<std::string> took;
  if (text != e.nome) took = text;
  // A sender's name ("SMART") goes as an alphanumeric address, which only PDU mode carries.
  const bool named = isAlphanumericSender(e.telefono);
  lastNumber = named ? e.telefono : filterNumber(e.telefono, false);
  const int type = named ? kAlphanumericType : numberType(e.telefono);
  // What the SIM knew of the message goes on: its status (a draft stays a draft, a received
  // message received, with its sender and time), and, while the row is as it was read or
  // restored, the very bytes (a part's header included).
  auto held = scope.held.find(e.posizione);
  const std::string like = held == scope.held.end() ? std::string() : held->second;
  const std::string record = messageRecord(e.telefono, type, text, like);
  const int stat = statOfStatusByte(record[0]);
  const bool asHeld = !like.empty() && record == std::string_view(like).substr(0, record.size()) && like.size() > 1;
  // Text mode carries a stored message's text in the set the job agreed (GSM or IRA) when
  // the set carries it unchanged; anything else goes whole in PDU mode.
  std::optional<std::string> body;
  if (s.charset() && !named && !asHeld && stat >= 2) body = encodeMessageText(text, *s.charset());
  std::optional<std::string> header;
  if (body) {
    header = JobSession::command("AT+CMGW=\"%s\",%d,\"%s\"\r", lastNumber.c_str(), type, statName(stat));
    if (!header) return Verdict::TooLong;
  }
  bool full = false;
  auto store = [&](std::optional<std::int32_t>& at) {
    if (!body) return storeRecord(s, n, record, at, full);
    const Verdict v = storeMessage(s, n, *header, lineBreaksAsReturns(*body), at);
    full = v == Verdict::Refused && storeFull(s.answer());
    return v;
  };
  // Recorded before it is sent: a pass that ends before the answer is read leaves the next
  // one to look for it on the SIM instead of storing it twice.
  Confirmed stored = Confirmed::of(e, Confirmed::What::Written);
  stored.took = took;
  stored.record = record;
  if (auto content = decodeSmsRecord(record)) stored.part = content->part;
  if (scope.intend) {
    Confirmed intent = stored;
    intent.pending = true;
    if (!scope.intend(intent)) return Verdict::Unrecorded;
  }
  std::optional<std::int32_t> storedAt;
  Verdict v = store(storedAt);
  if (v == Verdict::Refused && e.operazione == kMarkChanged && full) {
    // A full store takes the new copy only once the old one is gone: the old one goes
    // first, and a store that fails then leaves the row new, with its text.
    VORYX_LOG_IF(log, "sms store full: sms %d deleted first with cmd |%s|\n", n, erase.c_str());
    if (!s.exchange(erase)) return Verdict::Ended;
    if (s.answer().kind != ReplyKind::Ok) return verdictOf(s.answer());
    v = store(storedAt);
    if (v != Verdict::Go) {
      confirmed.push_back(Confirmed::of(e, Confirmed::What::Erased));
      return v;
    }
    stored.storedAt = storedAt;
    confirmed.push_back(stored);
    return Verdict::Go;
  }
  if (v != Verdict::Go) return v;  // the old copy, if any, stays; so does the row's mark
  stored.storedAt = storedAt;
  // A changed message: the new copy is on the SIM; now the old one goes. Until the SIM
  // confirms that, the old copy stays a delete to send (oldKept).
  stored.oldKept = e.operazione == kMarkChanged;
  confirmed.push_back(stored);
  if (e.operazione != kMarkChanged) return Verdict::Go;
  if (!s.exchange(erase)) return Verdict::Ended;
  VORYX_LOG_IF(log, "sms %d deleted for mod with cmd |%s|\n", n, erase.c_str());
  if (s.answer().kind == ReplyKind::Ok) confirmed.back().oldKept = false;
  return Verdict::Go;
}

// The messages on the SIM, for settling an earlier pass's unsettled ones: listed in PDU
// mode, which shows every message whole (a part's text, a sender's name), else in text mode.
bool smsSettle(JobSession& s, PassScope&, const std::vector<SimEntry>& table,
               const std::vector<Confirmed>& unsettled, std::vector<Confirmed>& found) {
  VORYX_LOG_IF(s.logging(), "sms: %d unsettled by the last pass, looked for on the sim\n",
               static_cast<int>(unsettled.size()));
  std::map<int, std::pair<std::string, std::string>> held;
  if (!s.exchange("AT+CMGF=0\r", true)) return false;
  bool listed = false;
  if (s.answer().kind == ReplyKind::Ok) {
    if (!s.exchange("AT+CMGL=4\r", true)) return false;
    if (s.answer().kind == ReplyKind::Ok) {
      listed = true;
      for (const PduRow& row : parsePduCmglListing(s.reply())) {
        const std::string record =
            static_cast<char>(statusByteOfStat(row.status)) + hexDecode(row.pdu).value_or(std::string());
        if (auto message = decodeSmsRecord(record)) held[row.index] = {message->text, message->number};
      }
    }
  }
  if (!s.exchange("AT+CMGF=1\r", true)) return false;
  if (!listed) {
    if (!s.exchange("AT+CMGL=\"ALL\"\r", true)) return false;
    const Charset cs = s.charset().value_or(Charset::Gsm);
    for (const SmsRow& row : parseCmglListing(s.reply())) {
      held[row.index] = {decodeMessageText(row.text, cs),
                         numberWithPlus(decodeSender(row.listedNumber, row.type, cs), row.type)};
    }
  }
  found = settledMessages(unsettled, held, table);
  return true;
}

constexpr WritePass kPhonebookPass{ListStore::Phonebook, "Error writing phonebook",
                                   phonebookSetUp, phonebookEntry, true, nullptr};
constexpr WritePass kSmsPass{ListStore::Sms, "Error writing sms", smsSetUp, smsEntry, false, smsSettle};

}  // namespace

std::vector<Confirmed> settledMessages(const std::vector<Confirmed>& unsettled,
                                       const std::map<int, std::pair<std::string, std::string>>& held,
                                       const std::vector<SimEntry>& table) {
  std::set<int> taken;
  for (const SimEntry& row : table) {
    auto at = held.find(row.posizione);
    if (row.operazione == kMarkInStep && at != held.end() && at->second.first == row.nome) taken.insert(row.posizione);
  }
  std::vector<Confirmed> found;
  for (const Confirmed& c : unsettled) {
    const std::string& text = c.took ? *c.took : c.sent.nome;
    // The records path names the record it chose: only that one can hold it.
    for (const auto& [index, message] : held) {
      if (taken.count(index) || (c.storedAt && *c.storedAt != index)) continue;
      if (message.first != text || !sameParty(message.second, c.sent.telefono)) continue;
      Confirmed settled = c;
      settled.pending = false;
      settled.storedAt = index;
      settled.oldKept = c.sent.operazione == kMarkChanged && index != c.sent.posizione && held.count(c.sent.posizione);
      found.push_back(std::move(settled));
      taken.insert(index);
      break;
    }
  }
  return found;
}

std::string leftoversMessage(const JobReport& report) {
  if (report.leftovers <= 0) return {};
  const bool one = report.leftovers == 1;
  std::string text = localized(
      report.sms ? (one ? "SIM %s also holds a message that was not in the list; it is now shown."
                        : "SIM %s also holds %d messages that were not in the list; they are now shown.")
                 : (one ? "SIM %s also holds an entry that was not in the list; it is now shown."
                        : "SIM %s also holds %d entries that were not in the list; they are now shown."));
  if (auto at = text.find("%s"); at != std::string::npos) text.replace(at, 2, report.thisSim);
  if (auto at = text.find("%d"); at != std::string::npos) text.replace(at, 2, std::to_string(report.leftovers));
  return text;
}

std::string oldCopiesKeptMessage(int count) {
  if (count == 1) {
    return localized("The old copy of a changed message could not be deleted and stays on the "
                     "SIM; the next write deletes it.");
  }
  return localized("Old copies of changed messages could not be deleted and stay on the SIM; "
                   "the next write deletes them:") +
         " " + std::to_string(count);
}

namespace {

// After a list was copied whole onto another SIM: that SIM is read back, so that what it
// held beside the list (at locations the list lacks) shows as rows in step, and the list
// is that SIM. The user hears how many such rows there are.
void readBack(JobHost& host, const JobContext& context, JobReport& report) {
  if (!report.copiedOnto || report.outcome != JobOutcome::Done) return;
  const ListStore store = report.sms ? ListStore::Sms : ListStore::Phonebook;
  auto table = SimTable::open(context.database, store, kShellBusy, context.phonebook);
  auto copied = table ? table->list() : Result<std::vector<SimEntry>>(table.error());
  JobContext again = context;
  again.toOtherSim = false;
  again.discardChanges = false;  // every row is in step after the copy; a change made since stays
  const JobReport read = report.sms ? loadSMS(host, again) : loadSIM1(host, again);
  if (read.maxSIM) report.maxSIM = read.maxSIM;
  if (read.maxSIMLen) report.maxSIMLen = read.maxSIMLen;
  if (read.maxSMS) report.maxSMS = read.maxSMS;
  if (read.outcome != JobOutcome::Done || !copied) return;
  auto sim = table->identity();
  report.leftovers = std::max(0, read.rows - static_cast<int>(copied->size()));
  if (sim && *sim) report.thisSim = shortSimName(**sim);
}

}  // namespace

JobReport saveSIM(JobHost& host, const JobContext& context) {
  JobSession s(host, context, kWriteWording);
  const PhonebookKind& kind = phonebookKind(context.phonebook);
  if (!kind.writable) {
    s.alert(kWriteWording.title, localized(kind.title) + " (" + std::string(kind.code) + "): " +
                                     localized("the SIM's own numbers, which can be read but not written."));
    JobReport report;
    report.outcome = JobOutcome::StoreMissing;
    return report;
  }
  if (context.viaRecords() && context.phonebook != Phonebook::SM) return recordsLackStore(s, context.phonebook);
  JobReport report = runWrite(context, context.viaRecords() ? kRecordsPhonebookPass : kPhonebookPass, s);
  report.quietWaited = s.quietWaited();
  readBack(host, context, report);
  return report;
}

JobReport saveSMS(JobHost& host, const JobContext& given) {
  // ModemManager's messaging when it offers it: the modem is not borrowed.
  JobContext context = given;
  if (!context.messaging) context.messaging = messagingModem(context);
  // Every SMS write is logged, and logging stays on afterwards.
  JobSession s(host, context, kWriteWording);
  s.startLogging();
  JobReport report = runWrite(context,
                              context.messaging      ? kMessagingSmsPass
                              : context.viaRecords() ? kRecordsSmsPass
                                                     : kSmsPass,
                              s);
  report.quietWaited = s.quietWaited();
  readBack(host, context, report);
  report.createLog = true;
  return report;
}

}  // namespace voryx::transfer
