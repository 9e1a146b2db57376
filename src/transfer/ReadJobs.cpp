// The phonebook read (loadSIM1) and the SMS read (loadSMS), and the frame they share:
// the local database, the modem, the job's dialogue, then one transaction that
// replaces the table.
#include <sqlite3.h>

#include <atomic>
#include <optional>
#include <string>
#include <vector>

#include "entries/DebugLog.h"
#include "modem/Traffic.h"
#include "store/Database.h"
#include "store/Preferences.h"
#include "store/SimEntry.h"
#include "transfer/GsmAlphabet.h"
#include "transfer/JobSession.h"
#include "transfer/Listings.h"
#include "transfer/SimName.h"
#include "transfer/TransferJobs.h"

namespace voryx::transfer {
namespace {

constexpr LineWording kReadWording{
    "Read from SIM",
    "No modem could be opened; the local list was kept.",
    "The modem did not answer; the local list was kept.",
    "The connection to the modem was lost; the local list was kept.",
};
constexpr const char* kListingFailed = "The SIM could not be listed; the local list was kept.";
constexpr const char* kDatabaseFailed =
    "The local database could not be written; the local list was kept.";
constexpr const char* kCaptionKey = "Your SIM has a total entry of ";
constexpr const char* kProgressKey = "Reading phonebook entry nr.";
// When the capacity reply cannot be read, the listing asks this far.
constexpr int kUnknownCapacity = 9999;
// The job's connection waits this long for a lock before it gives up.
constexpr int kBusyTimeoutMs = 10000;

struct ListedRow {
  int entry = 0;
  std::string desc;
  std::string number;
};

// The listing is usable when something came, it fit the buffer and it does not end in
// an error. Otherwise the user is told and the table stays as it is.
bool listingUsable(JobSession& s) {
  if (s.reply().empty() || s.replyTruncated() || hasError(s.reply())) {
    s.alert(kListingFailed);
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

// Replaces the table with `rows` in one transaction: either every row is stored or the
// table stays as it was. A row whose location repeats an earlier one is skipped.
JobOutcome storeRows(JobSession& s, Database& db, const char* table,
                     const std::vector<ListedRow>& rows) {
  const std::string del = std::string("DELETE from ") + table;
  const std::string ins =
      std::string("INSERT INTO ") + table + " (entry,desc,number,operazione) VALUES(?,?,?,?)";
  Transaction transaction(db);
  auto insert = db.prepare(ins);
  if (!transaction.active() || !db.exec(del) || !insert) {
    s.alert(kDatabaseFailed);
    return JobOutcome::DatabaseError;
  }
  for (std::size_t i = 0; i < rows.size(); ++i) {
    s.progress(kProgressKey, static_cast<int>(i));
    insert->bindInt(1, rows[i].entry);
    insert->bindText(2, rows[i].desc);
    insert->bindText(3, rows[i].number);
    insert->bindInt(4, kMarkInStep);
    Statement::Step step = insert->step();
    bool duplicate = (insert->lastCode() & 0xff) == SQLITE_CONSTRAINT;
    insert->reset();
    insert->clearBindings();
    if (step != Statement::Step::Done && !duplicate) {
      s.alert(kDatabaseFailed);
      return JobOutcome::DatabaseError;
    }
  }
  if (!transaction.commit()) {
    s.alert(kDatabaseFailed);
    return JobOutcome::DatabaseError;
  }
  return JobOutcome::Done;
}

// The frame of both reads. `dialogue` runs on the open, handshaken line and fills the
// rows; anything but Done leaves the table alone.
template <class Dialogue>
JobOutcome runRead(JobSession& s, const char* table, Dialogue&& dialogue) {
  auto db = Database::open(s.context().database);
  if (!db) {
    s.alert(kDatabaseFailed);
    return JobOutcome::DatabaseError;
  }
  sqlite3_busy_timeout(db->handle(), kBusyTimeoutMs);
  if (!s.open()) return JobOutcome::NoModem;
  std::vector<ListedRow> rows;
  JobOutcome outcome = dialogue(s, rows);
  s.close();
  if (outcome != JobOutcome::Done) return outcome;
  return storeRows(s, *db, table, rows);
}

// A capacity the modem reported goes into the host's field, the caption and the
// preferences. A reply without the expected text leaves the listing to ask for 9999
// locations, in memory only; a reply with the text but no readable number changes nothing.
void learnCapacity(JobSession& s, std::atomic<int>& field, const char* key, bool found,
                   std::optional<int> value) {
  if (!found) {
    field = kUnknownCapacity;
    return;
  }
  if (!value) return;
  field = *value;
  s.caption(kCaptionKey, *value);
  s.context().preferences.store(key, *value);
}

JobOutcome phonebookDialogue(JobSession& s, std::vector<ListedRow>& rows) {
  JobHost& host = s.host();
  Preferences& prefs = s.context().preferences;
  if (!s.exchange("AT V1E0\r", true) || !s.exchange("AT+CPBS=\"SM\"\r", true) ||
      !s.exchange("AT+CSCS=\"HEX\"\r")) {
    return JobOutcome::NoModem;
  }

  const std::string_view rangeCommand = "AT+CPBR=?\r";
  modem::logSend(s.logging(), rangeCommand);
  if (!s.exchange(rangeCommand)) return JobOutcome::NoModem;
  // Some modems drop the first command after switching the character set.
  if (s.reply().empty() && !s.exchange(rangeCommand)) return JobOutcome::NoModem;
  modem::logReceiveLen(s.logging(), s.reply().size(), s.reply());
  if (!s.reply().empty()) {
    CpbrRange range = parseCpbrTest(s.reply());
    learnCapacity(s, host.maxSIM, kPrefMaxSIM, range.found, range.maxSIM);
    if (range.maxSIM && range.maxSIMLen) {
      host.maxSIMLen = *range.maxSIMLen;
      prefs.store(kPrefMaxSIMLen, *range.maxSIMLen);
    }
  }

  const std::string listCommand = *JobSession::command("AT+CPBR=1,%d\r", host.maxSIM.load());
  modem::logSend(s.logging(), listCommand);
  if (!s.exchange(listCommand)) return JobOutcome::NoModem;
  modem::logBuffer(s.logging(), s.reply());
  // An empty phonebook: modems that answer an empty range with "not found" hold no
  // entry, and the local table must say so rather than keep rows the SIM no longer has.
  if (isNotFound(s.reply())) return JobOutcome::Done;
  if (hasError(s.reply())) {
    // The write button goes off until a read succeeds.
    host.maxSIM = 0;
    prefs.store(kPrefMaxSIM, 0);
  }
  if (!listingUsable(s)) return JobOutcome::ListingFailed;

  std::vector<PhonebookRow> listed = parseCpbrListing(s.reply());
  modem::logElements(s.logging(), static_cast<int>(listed.size()));
  const CodecLog log = s.codecLog();
  for (const PhonebookRow& row : listed) {
    rows.push_back({row.location, decodeSimName(row.nameHex, log), asUtf8(row.number)});
  }
  return JobOutcome::Done;
}

JobOutcome smsDialogue(JobSession& s, std::vector<ListedRow>& rows) {
  JobHost& host = s.host();
  if (!s.exchange("AT V1E0\r", true) || !s.exchange("AT+CPMS=\"SM\",\"SM\"\r", true)) {
    return JobOutcome::NoModem;
  }
  if (!s.reply().empty()) {
    CpmsStore store = parseCpmsRead(s.reply());
    learnCapacity(s, host.maxSMS, kPrefMaxSMS, store.found, store.maxSMS);
  }
  if (!s.exchange("AT+CMGF=1\r", true) || !s.exchange("AT+CSCS=\"UTF-8\"\r")) {
    return JobOutcome::NoModem;
  }

  const std::string_view listCommand = "AT+CMGL=\"ALL\"\r";
  modem::logSend(s.logging(), listCommand);
  if (!s.exchange(listCommand)) return JobOutcome::NoModem;
  modem::logBuffer(s.logging(), s.reply());
  if (!listingUsable(s)) return JobOutcome::ListingFailed;

  std::vector<SmsRow> listed = parseCmglListing(s.reply());
  modem::logElements(s.logging(), static_cast<int>(listed.size()));
  for (const SmsRow& row : listed) {
    ListedRow stored{row.index, asUtf8(row.text), asUtf8(row.number)};
    VORYX_LOG_IF(s.logging(), "posizione |%d|\n", stored.entry);
    VORYX_LOG_IF(s.logging(), "telefono |%s|\n", stored.number.c_str());
    VORYX_LOG_IF(s.logging(), "nome |%s|\n", stored.desc.c_str());
    rows.push_back(std::move(stored));
  }
  return JobOutcome::Done;
}

}  // namespace

JobOutcome loadSIM1(JobHost& host, const JobContext& context) {
  JobSession s(host, context, kReadWording);
  return runRead(s, "sim", phonebookDialogue);
}

JobOutcome loadSMS(JobHost& host, const JobContext& context) {
  // Every SMS read is logged, and logging stays on afterwards.
  host.createLog = 1;
  JobSession s(host, context, kReadWording);
  VORYX_LOG_IF(s.logging(), "sms %s", s.machine().c_str());
  return runRead(s, "simsms", smsDialogue);
}

}  // namespace voryx::transfer
