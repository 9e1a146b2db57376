// The phonebook write (saveSIM) and the SMS write (saveSMS), and the frame they share:
// the table's full list, the modem, one command (or a few) per marked entry with the
// reply check, and the sweep that clears the marks of what the SIM took. One frame and its
// two writes, kept whole in one file.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <random>
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

constexpr LineWording kWriteWording{
    "Write to SIM",
    "No modem could be opened; nothing was written.",
    "The modem did not answer; nothing was written.",
    "The connection to the modem was lost; the changes not yet written stay marked and "
    "will be sent again.",
    "The modem answers too slowly; the changes not yet written stay marked.",
    "The modem refused the character set; nothing was written.",
    "The card left the reader; the changes not yet written stay marked and will be sent "
    "again.",
    "ModemManager is holding this modem; it gets it back when the write ends",
    "this card reader is in use by another program; nothing was written. Close that program, or wait until "
    "it lets the card go, and try again.",
};
constexpr const char* kListUnreadable = "The local database could not be read; nothing was written.";
constexpr const char* kSweepFailed =
    "The SIM was written, but the local marks could not be cleared; the next write sends "
    "the same changes again.";
// The sweep failed, but the pass journal holds what the SIM took.
constexpr const char* kSweepPending =
    "The SIM was written, but the local marks could not be cleared now; the next read or "
    "write clears them first and sends nothing twice.";
constexpr const char* kJournalFailed =
    "What the SIM took could not be recorded; the write stopped.";
constexpr const char* kIntentFailed =
    "The message about to be stored could not be recorded first; the write stopped before "
    "sending it.";
constexpr const char* kStoppedAnswering =
    "The modem stopped answering; the changes not yet written stay marked and will be sent again.";
constexpr const char* kIdentityUnreadable =
    "The modem does not tell which SIM is in it, so it cannot be checked that this is the SIM "
    "the list was read from; the write goes on.";
constexpr const char* kTooLongKey = "Too long for a modem command, entry nr.";
constexpr const char* kOccupiedKey = "location %d on the SIM holds another entry; read first";
constexpr const char* kNumberTooLong =
    "location %d: the number has %d digits, and the modem's phonebook holds %d; it was not written";

// A token no other pass has: the journal's name for this one.
std::string passToken() {
  std::random_device random;
  const auto now = std::chrono::system_clock::now().time_since_epoch().count();
  return std::to_string(now) + "-" + std::to_string(random()) + std::to_string(random());
}

// The SIM in the modem against the one the list was read from, before any change command.
// False when the write must not go on: the dialogue ended, the table could not say, or
// another SIM is in and the context does not copy the list onto it (OtherSim, with both
// SIMs named in the report). `copyOnto` is that other SIM when the context copies;
// `readFromThis` says whether the table's last read is known to come from this very SIM.
bool checkIdentity(JobSession& s, SimTable& table, JobReport& report,
                   std::optional<SimIdentity>& copyOnto, bool& readFromThis) {
  readFromThis = false;
  auto recorded = table.identity();
  if (!recorded) {
    s.alert(kWriteWording.title, localized(kListUnreadable) + " (" + recorded.error().detail + ")");
    report.outcome = JobOutcome::DatabaseError;
    return false;
  }
  SimIdentity inserted;
  if (!askIdentity(s, inserted)) return false;
  const SimIdentity readFrom = recorded->value_or(SimIdentity{});
  if (!inserted.known()) {
    // Many older modems refuse both commands: the write goes on, and the user knows it was
    // not checked.
    if (readFrom.known()) s.alert(kWriteWording.title, localized(kIdentityUnreadable));
    return true;
  }
  const SameSim same = sameSim(readFrom, inserted);
  readFromThis = recorded->has_value() && same == SameSim::Yes;
  if (same != SameSim::No) return true;
  if (s.context().toOtherSim) {
    copyOnto = inserted;
    VORYX_LOG_IF(s.logging(), "copy onto other sim |%s| read from |%s|\n", inserted.iccid.c_str(),
                 readFrom.iccid.c_str());
    return true;
  }
  report.outcome = JobOutcome::OtherSim;
  report.readFrom = shortSimName(readFrom);
  report.thisSim = shortSimName(inserted);
  VORYX_LOG_IF(s.logging(), "other sim |%s| read from |%s|, nothing written\n",
               inserted.iccid.c_str(), readFrom.iccid.c_str());
  return false;
}

JobReport runWrite(const JobContext& context, const WritePass& pass, JobSession& s) {
  JobReport report;
  report.sms = pass.store == ListStore::Sms;
  VORYX_LOG_IF(s.logging(), "open baseband model |%s|\n", s.machine().c_str());

  // The whole table, the rows on display first (in the screen's order), then the rows a
  // search hid from the screen: none may stay unsent.
  auto table = SimTable::open(context.database, pass.store, kShellBusy, context.phonebook);
  // What an earlier pass left in its journal is the table's before anything is listed;
  // the messages it was storing when it ended wait for a look at the SIM.
  std::vector<Confirmed> unsettled;
  Status applied = table && !context.dryRun ? table->applyJournal(&unsettled) : Status(Ok{});
  auto listTable = [&]() -> Result<std::vector<SimEntry>> {
    if (!table) return table.error();
    if (!applied) return applied.error();
    auto shown = table->list(context.search, context.sortField);
    if (!shown || context.search.empty()) return shown;
    auto all = table->list("", context.sortField);
    if (!all) return all.error();
    std::set<std::int32_t> seen;
    for (const SimEntry& e : *shown) seen.insert(e.posizione);
    for (SimEntry& e : *all) {
      if (!seen.count(e.posizione)) shown->push_back(std::move(e));
    }
    return shown;
  };
  Result<std::vector<SimEntry>> list = listTable();
  if (!list) {
    s.alert(kWriteWording.title, localized(kListUnreadable) + " (" + list.error().detail + ")");
    report.outcome = JobOutcome::DatabaseError;
    return report;
  }
  if (!s.open()) {
    report.outcome = s.failure();
    return report;
  }
  std::optional<SimIdentity> copyOnto;
  bool readFromThis = false;
  PassScope scope;
  if (!pass.setUp(s, scope) || !checkIdentity(s, *table, report, copyOnto, readFromThis)) {
    if (report.outcome == JobOutcome::Done) report.outcome = s.failure();
    report.commands = s.commands();
    return report;
  }
  // A record takes a name in any of the SIM's forms: the most compact one is chosen.
  if (pass.store == ListStore::Phonebook) report.nameSets = scope.records ? kNameSetHex : s.nameSets();
  scope.checkEmpty = pass.store == ListStore::Phonebook && !copyOnto;
  if (scope.checkEmpty && readFromThis) {
    auto held = table->seen();
    if (held) {
      scope.listed.emplace();
      for (const auto& [location, seen] : *held) scope.listed->insert(location);
    }
  }
  // The messages an earlier pass was storing when it ended: the SIM tells which it holds,
  // and those are not sent again (a list copied onto another SIM leaves that for its own).
  if (!unsettled.empty() && pass.settle && !copyOnto && !context.dryRun) {
    std::vector<Confirmed> found;
    if (!pass.settle(s, scope, *list, unsettled, found)) {
      report.outcome = s.failure();
      return report;
    }
    Status settled = table->settleJournal(found);
    if (settled) {
      list = listTable();
      if (!list) settled = list.error();
    }
    if (!settled) {
      s.alert(kWriteWording.title, localized(kListUnreadable) + " (" + settled.error().detail + ")");
      report.outcome = JobOutcome::DatabaseError;
      return report;
    }
  }
  if (pass.store == ListStore::Sms) {
    auto held = table->records();
    if (held) scope.held = std::move(*held);
  }
  if (context.dryRun) s.holdChanges();

  std::vector<Confirmed> confirmed;
  // A list copied onto another SIM leaves out its deleted rows (that SIM's locations are
  // not the first SIM's: nothing is erased there); they go once the whole list is on it.
  std::vector<Confirmed> leftOut;
  std::string lastNumber;
  // The journal of this pass (a list copied onto another SIM keeps none: it is sent whole
  // again until it is all on that SIM).
  const bool journaling = !context.dryRun && !copyOnto;
  const std::string token = passToken();
  if (journaling) {
    scope.intend = [&](const Confirmed& intent) {
      Status recorded = table->journal(token, intent);
      if (!recorded) VORYX_LOG_IF(s.logging(), "journal |%s|\n", recorded.error().detail.c_str());
      return recorded.ok();
    };
  }
  report.marked = static_cast<int>(std::count_if(list->begin(), list->end(), [&](const SimEntry& e) {
    return copyOnto ? e.operazione != kMarkDeleted : e.operazione != kMarkInStep;
  }));
  int sent = 0;
  bool journaledAll = journaling;
  for (std::size_t i = 0; i < list->size() && report.outcome == JobOutcome::Done; ++i) {
    const SimEntry& entry = (*list)[i];
    SimEntry asSent = entry;
    if (copyOnto) {
      if (entry.operazione == kMarkDeleted) {
        leftOut.push_back(Confirmed::of(entry, Confirmed::What::Erased));
        continue;
      }
      // Every row goes, to its location; a message is stored anew (nothing of the other
      // SIM is deleted first).
      asSent.operazione = pass.store == ListStore::Sms ? kMarkNew : kMarkChanged;
    }
    if (asSent.operazione != kMarkInStep) s.step(++sent, report.marked);
    const std::size_t before = confirmed.size();
    const Verdict verdict = pass.entry(s, scope, asSent, static_cast<int>(i), lastNumber, confirmed);
    // The sweep matches a row by what the pass read from the table.
    for (std::size_t k = before; k < confirmed.size(); ++k) confirmed[k].sent = entry;
    Status recorded = Ok{};
    for (std::size_t k = before; journaling && recorded && k < confirmed.size(); ++k) {
      recorded = table->journal(token, confirmed[k]);
    }
    if (!recorded) {
      s.alert(kWriteWording.title, localized(kJournalFailed) + " (" + recorded.error().detail + ")");
      report.outcome = JobOutcome::DatabaseError;
      journaledAll = false;
      break;
    }
    switch (verdict) {
      case Verdict::Go:
        break;
      case Verdict::Ended:
        report.outcome = s.failure();
        break;
      case Verdict::Unrecorded:
        s.alert(kWriteWording.title, localized(kIntentFailed));
        report.outcome = JobOutcome::DatabaseError;
        journaledAll = false;
        break;
      case Verdict::TooLong:
        scope.skipped = localized(kTooLongKey) + " " + std::to_string(entry.posizione);
        [[fallthrough]];
      case Verdict::Skipped:
        // The row keeps its mark; the others are written all the same.
        report.retcode = 1;
        ++report.skipped;
        s.alert(pass.errorTitle, scope.skipped);
        VORYX_LOG_IF(s.logging(), "entry %d skipped: %s\n", entry.posizione, scope.skipped.c_str());
        break;
      case Verdict::NoReply:
        s.alert(pass.errorTitle, localized(kStoppedAnswering));
        VORYX_LOG_IF(s.logging(), "no reply to the write of |%s|\n", lastNumber.c_str());
        report.outcome = JobOutcome::NoReply;
        break;
      case Verdict::Occupied:
        report.retcode = 1;
        report.outcome = JobOutcome::WriteRefused;
        report.refusal = localized(kOccupiedKey);
        if (auto at = report.refusal.find("%d"); at != std::string::npos) {
          report.refusal.replace(at, 2, std::to_string(entry.posizione));
        }
        VORYX_LOG_IF(s.logging(), "location %d holds another entry, nothing written there\n",
                     entry.posizione);
        break;
      case Verdict::Refused:
        report.retcode = 1;
        report.outcome = JobOutcome::WriteRefused;
        if (!scope.refusal.empty()) {
          report.refusal = scope.refusal;
          break;
        }
        report.refusal = modem::refusalSentence(s.answer());
        modem::logRefusal(s.logging(), s.answer());
        break;
    }
  }
  s.close();
  if (report.outcome == JobOutcome::Done) report.retcode = 0;
  if (context.dryRun) {
    report.commands = s.commands();
    return report;
  }
  report.copiedOnto = copyOnto.has_value();
  if (copyOnto && report.outcome != JobOutcome::Done) {
    // Part of the list is on the other SIM, which is not yet the list's: every mark stays
    // (for the first SIM), and the next copy sends the whole list again.
    confirmed.clear();
  }
  const bool copied = copyOnto && report.outcome == JobOutcome::Done;
  if (copied) confirmed.insert(confirmed.end(), leftOut.begin(), leftOut.end());

  // Whatever ended the pass, what the SIM took is no longer a change to send.
  if (!confirmed.empty() || report.outcome == JobOutcome::Done) {
    Status swept = table->sweep(confirmed, copied ? copyOnto : std::nullopt, journaling ? token : "");
    if (!swept) {
      const bool pending = journaledAll && !confirmed.empty();
      s.alert(kWriteWording.title,
              localized(pending ? kSweepPending : kSweepFailed) + " (" + swept.error().detail + ")");
      report.outcome = JobOutcome::DatabaseError;
      report.marksPending = pending;
    } else if (journaling) {
      // Applied with its token: a journal left behind is recognised and only removed. A
      // message whose answer never came stays unsettled for the next pass to look for; one
      // the modem refused is known not to be on the SIM.
      if (report.outcome == JobOutcome::Done || report.outcome == JobOutcome::WriteRefused) {
        (void)table->settleJournal({});
      } else {
        (void)table->applyJournal();
      }
    }
  }
  // What is still to write, counted as `status` counts it.
  if (auto marked = table->countMarked()) report.unsent = *marked;
  if (copied) confirmed.resize(confirmed.size() - leftOut.size());  // not counted as sent
  report.confirmed = static_cast<int>(confirmed.size());
  for (const Confirmed& c : confirmed) {
    if (c.oldKept) ++report.oldKept;
    if (c.what == Confirmed::What::Erased) {
      report.deleted += c.sent.operazione == kMarkDeleted ? 1 : 0;
    } else {
      ++(c.sent.operazione == kMarkNew ? report.added : report.changed);
    }
  }
  return report;
}

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
  if (e.operazione == kMarkInStep) {
    s.progress("Analyzing phonebook entry nr.", e.posizione);
    return Verdict::Go;
  }
  if (e.operazione == kMarkDeleted) {
    s.progress("Deleting phonebook entry nr.", e.posizione);
    const std::string command = *JobSession::command("AT+CPBW=%d,\"\",129,\"\"\r", e.posizione);
    if (!s.exchange(command)) return Verdict::Ended;
    VORYX_LOG_IF(log, "contact %d deleted with cmd |%s|\n", index + 1, command.c_str());
    return takeAnswer(s, true, e, Confirmed::What::Erased, confirmed);
  }
  s.progress("Writing phonebook entry nr.", e.posizione);
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
  if (e.operazione == kMarkInStep) {
    s.progress("Analyzing sms entry nr.", e.posizione);
    return Verdict::Go;
  }
  const std::string erase = *JobSession::command("AT+CMGD=%d,0\r", e.posizione);
  if (e.operazione == kMarkDeleted) {
    s.progress("Deleting sms entry nr.", e.posizione);
    if (!s.exchange(erase)) return Verdict::Ended;
    VORYX_LOG_IF(log, "sms %d deleted with cmd |%s|\n", n, erase.c_str());
    return takeAnswer(s, false, e, Confirmed::What::Erased, confirmed);
  }
  s.progress("Writing sms entry nr.", e.posizione);
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

JobReport saveSMS(JobHost& host, const JobContext& context) {
  // Every SMS write is logged, and logging stays on afterwards.
  JobSession s(host, context, kWriteWording);
  s.startLogging();
  JobReport report = runWrite(context, context.viaRecords() ? kRecordsSmsPass : kSmsPass, s);
  report.quietWaited = s.quietWaited();
  readBack(host, context, report);
  report.createLog = true;
  return report;
}

}  // namespace voryx::transfer
