// The phonebook read (loadSIM1) and the SMS read (loadSMS), and the frame they share:
// the local table, the modem, the job's dialogue, then one transaction that replaces
// the table.
#include <algorithm>
#include <climits>
#include <optional>
#include <string>
#include <vector>

#include "base/Text.h"
#include "base/Localized.h"
#include "base/DebugLog.h"
#include "modem/ErrorText.h"
#include "modem/Traffic.h"
#include "store/SimTable.h"
#include "codec/Charset.h"
#include "codec/GsmAlphabet.h"
#include "transfer/JobSession.h"
#include "transfer/Listings.h"
#include "transfer/MessagingJobs.h"
#include "transfer/RecordJobs.h"
#include "transfer/SimIdentity.h"
#include "codec/SimName.h"
#include "transfer/SimRecords.h"
#include "transfer/SimState.h"
#include "transfer/TransferJobs.h"

namespace voryx::transfer {

using namespace codec;
namespace {

using modem::ReplyKind;

constexpr LineWording kReadWording{
    "Read from SIM",
    "No modem could be opened; the local list was kept.",
    "The modem did not answer; the local list was kept.",
    "The connection to the modem was lost; the local list was kept.",
    "The modem answers too slowly; the local list was kept.",
    "The modem refused the character set; the local list was kept.",
    "The card left the reader; the local list was kept.",
    "ModemManager is holding this modem; it gets it back when the read ends",
    "this card reader is in use by another program; the local list was kept. Close that program, or wait "
    "until it lets the card go, and try again.",
    "Through ModemManager's messaging: the modem stays ModemManager's, calls and data go on",
};
constexpr const char* kListingFailed = "The SIM could not be listed; the local list was kept.";
constexpr const char* kDatabaseFailed =
    "The local database could not be written; the local list was kept.";
constexpr const char* kUnsentKey = "changes not yet written to the SIM would be lost; the local "
                                   "list was kept.";
constexpr const char* kCaptionKey = "Your SIM has a total entry of ";
constexpr const char* kPhoneCaptionKey = "Places in the phone's memory:";
constexpr const char* kProgressKey = "Reading phonebook entry nr.";
// When the capacity reply cannot be read, the listing asks this far.
constexpr int kUnknownCapacity = 9999;

// The listing is usable when it ended in OK and fit the buffer. Otherwise the user is
// told and the table stays as it is.
bool listingUsable(JobSession& s) {
  if (s.answer().kind != ReplyKind::Ok || s.replyTruncated()) {
    std::string message = localized(kListingFailed);
    // The modem's reason, when it gave one: the SIM's own trouble is often behind it.
    if (s.answer().errorSource != modem::ErrorSource::None) message += " " + modem::refusalSentence(s.answer());
    modem::logRefusal(s.logging(), s.answer());
    s.alert(kReadWording.title, message);
    return false;
  }
  return true;
}

// Modem text is taken as UTF-8; what is not UTF-8 becomes U+FFFD, never stored raw.
std::string asUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char32_t c : utf8ToCodePoints(text)) appendUtf8(out, c);
  return out;
}

void databaseFailed(JobSession& s, const Error& error) {
  s.alert(kReadWording.title, localized(kDatabaseFailed) + " (" + error.detail + ")");
}

// The frame of both reads. `dialogue` runs on the open, handshaken line and fills the
// rows; anything but Done leaves the table alone.
template <class Dialogue>
JobReport runRead(JobSession& s, ListStore store, Dialogue&& dialogue) {
  JobReport report;
  auto table = SimTable::open(s.context().database, store, kShellBusy, s.context().phonebook);
  if (!table) {
    databaseFailed(s, table.error());
    report.outcome = JobOutcome::DatabaseError;
    return report;
  }
  // A write whose marks could not be cleared left its journal: the table takes it first,
  // so that its changes are not counted as unsent.
  std::vector<Confirmed> unsettled;  // the read lists the whole SIM: they are settled by it
  if (Status applied = table->applyJournal(&unsettled); !applied) {
    databaseFailed(s, applied.error());
    report.outcome = JobOutcome::DatabaseError;
    return report;
  }
  // Changes not yet written would be lost: refused before the modem is touched (and
  // again when the table is replaced, for changes made meanwhile).
  if (!s.context().discardChanges) {
    auto marked = table->countMarked();
    if (marked && *marked > 0) {
      s.alert(kReadWording.title, std::to_string(*marked) + " " + localized(kUnsentKey));
      report.outcome = JobOutcome::UnsentChanges;
      return report;
    }
  }
  if (!s.open()) {
    report.outcome = s.failure();
    return report;
  }
  std::vector<SimEntry> rows;
  int steps = 0;  // the listing's pieces (the walk below shows its rows, by location)
  report.outcome = dialogue(s, report, rows, steps);
  // The copy records which SIM it was read from; a write checks it.
  SimIdentity sim;
  if (report.outcome == JobOutcome::Done && !askIdentity(s, sim)) report.outcome = s.failure();
  s.close();
  if (report.outcome != JobOutcome::Done) return report;

  // Each row the listing gave, named by its location on the SIM. The record-by-record
  // reads showed theirs as they went (steps 0).
  if (steps > 0) {
    for (std::size_t i = 0; i < rows.size(); ++i) {
      s.progress(kProgressKey, rows[i].posizione);
      s.step(static_cast<int>(i + 1), static_cast<int>(rows.size()));
    }
  }
  Status stored = table->storeRead(rows, sim, s.context().discardChanges, s.messageParts(), s.messageRecords(),
                                   s.context().messaging ? Locations::ModemManager : Locations::SimIndexes);
  if (stored && !unsettled.empty()) stored = table->settleJournal({});
  if (!stored) {
    auto marked = table->countMarked();
    if (!s.context().discardChanges && marked && *marked > 0) {
      s.alert(kReadWording.title, localized("Changes were made while the SIM was read; the "
                                            "local list was kept."));
      report.outcome = JobOutcome::UnsentChanges;
    } else {
      databaseFailed(s, stored.error());
      report.outcome = JobOutcome::DatabaseError;
    }
    return report;
  }
  report.rows = static_cast<int>(rows.size());
  return report;
}

// A capacity the modem reported goes into the report and the caption. A reply without
// the expected text leaves the listing to ask for 9999 locations, in memory only; a
// reply with the text but no readable number changes nothing.
// `caption`: the text before the number ("Places on the SIM:").
std::optional<Capacity> learnCapacity(JobSession& s, bool found, std::optional<int> value,
                                      const char* caption = kCaptionKey) {
  if (!found) return Capacity{kUnknownCapacity, false};
  if (!value) return std::nullopt;
  s.caption(caption, *value);
  return Capacity{*value, true};
}

JobOutcome phonebookDialogue(JobSession& s, JobReport& report, std::vector<SimEntry>& rows,
                             int& steps) {
  if (!s.exchange(kVerboseNoEcho, true)) return s.failure();
  // Which stores the modem offers, for the setup screen's choice.
  if (!s.exchange("AT+CPBS=?\r", true)) return s.failure();
  if (s.answer().kind == ReplyKind::Ok) report.phonebooks = parseCpbsTest(s.reply());
  if (!selectPhonebook(s, s.context().phonebook, false) || !s.negotiateCharset(CharsetUse::Phonebook)) {
    return s.failure();
  }
  const Charset cs = *s.charset();
  report.nameSets = s.nameSets();

  const std::string_view rangeCommand = "AT+CPBR=?\r";
  modem::logSend(s.logging(), rangeCommand);
  if (!s.exchange(rangeCommand)) return s.failure();
  // Some modems drop the first command after switching the character set.
  if (s.reply().empty() && !s.exchange(rangeCommand)) return s.failure();
  modem::logReceiveLen(s.logging(), s.reply().size(), s.reply());
  int maxSIM = s.context().maxSIM;
  if (!s.reply().empty()) {
    CpbrRange range = parseCpbrTest(s.reply());
    // The phone's own memory is not the SIM: its caption says so.
    report.maxSIM = learnCapacity(s, range.found, range.maxSIM,
                                  s.context().phonebook == Phonebook::ME ? kPhoneCaptionKey : kCaptionKey);
    if (report.maxSIM) maxSIM = report.maxSIM->value;
    // A length of 0 would cut every name to nothing at the next write: not taken.
    if (range.maxSIM && range.maxSIMLen && *range.maxSIMLen > 0) report.maxSIMLen = *range.maxSIMLen;
    // The modem's own limit for a number; one that gives none (or 0) gets the SIM's 20
    // digits, so that a limit learned from another modem does not stay.
    report.maxNumberLen = range.maxNumberLen && *range.maxNumberLen > 0 ? *range.maxNumberLen : kSimNumberDigits;
  }

  const std::string listCommand = *JobSession::command("AT+CPBR=1,%d\r", maxSIM);
  modem::logSend(s.logging(), listCommand);
  s.showBytesReceived(true);
  const bool answered = s.exchange(listCommand);
  s.showBytesReceived(false);
  if (!answered) return s.failure();
  modem::logBuffer(s.logging(), s.reply());
  steps = countPieces(s.reply());
  modem::logElements(s.logging(), steps);
  // An empty phonebook: modems that answer an empty range with "not found" hold no
  // entry, and the local table must say so rather than keep rows the SIM no longer has.
  if (s.answer().kind == ReplyKind::NotFound) return JobOutcome::Done;
  if (s.answer().kind == ReplyKind::Error) {
    // The write button goes off until a read succeeds.
    report.maxSIM = Capacity{0, true};
  }
  if (!listingUsable(s)) return JobOutcome::ListingFailed;

  std::vector<PhonebookRow> listed = parseCpbrListing(s.reply());
  VORYX_LOG_IF(s.logging(), "entries parsed |%d|\n", static_cast<int>(listed.size()));
  const CodecLog log = s.codecLog();
  for (const PhonebookRow& row : listed) {
    rows.push_back({row.location, decodeName(row.name, cs, log),
                    numberWithPlus(decodeNumber(row.listedNumber, cs), row.type), kMarkInStep});
  }
  return JobOutcome::Done;
}

// The records of one listing piece, as support reads them: the piece, where its header's
// fields lie, and what was taken from it.
void logSmsPiece(JobSession& s, int i, std::string_view piece, const std::vector<SmsRow>& listed) {
  const int log = s.logging();
  const auto position = [](std::size_t at) { return at == std::string_view::npos ? INT_MAX : static_cast<int>(at); };
  VORYX_LOG_IF(log, "elemento %d |%.*s|\n", i, static_cast<int>(piece.size()), piece.data());
  const std::size_t header = piece.find("+CMGL:");
  VORYX_LOG_IF(log, "range1 %d\n", position(header));
  if (header == std::string_view::npos) return;
  const std::size_t comma = piece.find(',', header);
  VORYX_LOG_IF(log, "range2 %d\n", position(comma));
  if (comma == std::string_view::npos) return;
  const std::optional<int> index = leadingInt(piece.substr(header + 6, comma - header - 6));
  auto row = std::find_if(listed.begin(), listed.end(), [&](const SmsRow& r) { return index == r.index; });
  if (row == listed.end()) return;
  VORYX_LOG_IF(log, "posizione |%d|\n", row->index);
  VORYX_LOG_IF(log, "telefono |%s|\n", asUtf8(row->listedNumber).c_str());
  VORYX_LOG_IF(log, "nome |%s|\n", asUtf8(row->text).c_str());
  VORYX_LOG_IF(log, "tipo |%s|\n", row->type.c_str());
}

// Each message as the SIM holds it: the store listed once more in PDU mode, which gives
// every message's status and PDU (kept with the rows, so that a write or a backup keeps
// what the SIM knows of a message), and the parts of long messages, which a text-mode
// listing shows as the hexadecimal of their user data (their coding, text and place in
// their message). Then text mode is set again. A modem without PDU mode leaves the rows
// as they were listed, with the status the text listing gave. False when the dialogue
// must end.
bool readMessageRecords(JobSession& s, std::vector<SimEntry>& rows) {
  VORYX_LOG_IF(s.logging(), "sms records: listing in PDU mode\n");
  if (!s.exchange("AT+CMGF=0\r", true)) return false;
  if (s.answer().kind != ReplyKind::Ok) return true;
  const std::string_view listCommand = "AT+CMGL=4\r";
  modem::logSend(s.logging(), listCommand);
  if (!s.exchange(listCommand)) return false;
  modem::logBuffer(s.logging(), s.reply());
  if (s.answer().kind == ReplyKind::Ok) {
    for (const PduRow& listed : parsePduCmglListing(s.reply())) {
      auto row = std::find_if(rows.begin(), rows.end(), [&](const SimEntry& r) { return r.posizione == listed.index; });
      if (row == rows.end()) continue;
      const std::string record =
          static_cast<char>(statusByteOfStat(listed.status)) + hexDecode(listed.pdu).value_or(std::string());
      const std::optional<SmsContent> message = decodeSmsRecord(record);
      if (!message) continue;
      s.messageRecords()[listed.index] = record.substr(0, message->length);
      if (!message->part) continue;
      VORYX_LOG_IF(s.logging(), "sms %d: part %d of %d, reference %d\n", listed.index, message->part->part,
                   message->part->total, message->part->reference);
      row->nome = message->text;
      s.messageParts()[listed.index] = *message->part;
    }
  }
  return s.exchange("AT+CMGF=1\r", true);
}

JobOutcome smsDialogue(JobSession& s, JobReport& report, std::vector<SimEntry>& rows, int& steps) {
  if (!s.exchange(kVerboseNoEcho, true) || !s.exchange("AT+CPMS=\"SM\",\"SM\"\r", true)) {
    return s.failure();
  }
  if (!s.reply().empty()) {
    CpmsStore store = parseCpmsRead(s.reply());
    report.maxSMS = learnCapacity(s, store.found, store.maxSMS);
  }
  if (!s.exchange("AT+CMGF=1\r", true) || !s.negotiateCharset(CharsetUse::SmsRead)) {
    return s.failure();
  }
  const Charset cs = *s.charset();

  const std::string_view listCommand = "AT+CMGL=\"ALL\"\r";
  modem::logSend(s.logging(), listCommand);
  s.showBytesReceived(true);
  const bool answered = s.exchange(listCommand);
  s.showBytesReceived(false);
  if (!answered) return s.failure();
  modem::logBuffer(s.logging(), s.reply());
  const int pieces = countPieces(s.reply());
  modem::logElements(s.logging(), pieces);
  if (!listingUsable(s)) return JobOutcome::ListingFailed;

  // Every piece but the last (the final result) is one step of the walk.
  steps = pieces - 1;
  std::vector<SmsRow> listed = parseCmglListing(s.reply());
  std::string_view rest = s.reply();
  for (int i = 0; i < steps; ++i) {
    const std::size_t end = rest.find("\r\n\r\n");
    logSmsPiece(s, i, rest.substr(0, end), listed);
    rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 4);
  }
  VORYX_LOG_IF(s.logging(), "entries parsed |%d|\n", static_cast<int>(listed.size()));
  for (const SmsRow& row : listed) {
    rows.push_back({row.index, decodeMessageText(row.text, cs),
                    numberWithPlus(decodeSender(row.listedNumber, row.type, cs), row.type), kMarkInStep});
    if (auto status = statOfName(row.status)) {
      s.messageRecords()[row.index] = std::string(1, static_cast<char>(statusByteOfStat(*status)));
    }
  }
  if (!listed.empty() && !readMessageRecords(s, rows)) return s.failure();
  return JobOutcome::Done;
}

}  // namespace

JobReport loadSIM1(JobHost& host, const JobContext& context) {
  JobSession s(host, context, kReadWording);
  if (context.viaRecords() && context.phonebook != Phonebook::SM) return recordsLackStore(s, context.phonebook);
  JobReport report =
      runRead(s, ListStore::Phonebook, context.viaRecords() ? recordsPhonebookDialogue : phonebookDialogue);
  report.quietWaited = s.quietWaited();
  return report;
}

JobReport loadSMS(JobHost& host, const JobContext& given) {
  // ModemManager's messaging when it offers it: the modem is not borrowed.
  JobContext context = given;
  if (!context.messaging) context.messaging = messagingModem(context);
  // Every SMS read is logged, and logging stays on afterwards.
  JobSession s(host, context, kReadWording);
  s.startLogging();
  VORYX_LOG_IF(s.logging(), "sms %s", s.machine().c_str());
  JobReport report = runRead(s, ListStore::Sms,
                             context.messaging   ? messagingSmsDialogue
                             : context.viaRecords() ? recordsSmsDialogue
                                                    : smsDialogue);
  report.createLog = true;
  report.quietWaited = s.quietWaited();
  return report;
}

}  // namespace voryx::transfer
