// Reads and writes over the SIM's files: EF_ADN (with EF_EXT1) for the phonebook, EF_SMS
// for the messages. The frames are the command path's (runRead, runWrite): the same
// table, journal, identity check and sweep; only the dialogue differs.
#include "transfer/RecordJobs.h"

#include <algorithm>
#include <cstdio>

#include "base/Text.h"
#include "base/Localized.h"
#include "base/DebugLog.h"
#include "codec/SimName.h"
#include "transfer/SimRecords.h"
#include "codec/SmsPdu.h"
#include "transfer/WritePass.h"

namespace voryx::transfer {

using namespace codec;
namespace {

using simfiles::CardOutcome;
using simfiles::CardResult;
using simfiles::FileInfo;
using simfiles::FilePath;

constexpr const char* kListingFailed = "The SIM could not be listed; the local list was kept.";
constexpr const char* kNoPhonebook = "The SIM has no phonebook file:";
constexpr const char* kNoMessages = "The SIM has no message file:";
constexpr const char* kCaptionKey = "Your SIM has a total entry of ";
constexpr const char* kProgressKey = "Reading phonebook entry nr.";
constexpr const char* kSmsProgressKey = "Reading sms entry nr.";
constexpr const char* kBeyond = "location %d is beyond the SIM's phonebook";
constexpr const char* kNumberUnfit =
    "the number of location %d does not fit the SIM's records (too many digits for its extension "
    "records, or a character a SIM number cannot hold)";
constexpr const char* kStoreFull = "the SIM's message store is full";

constexpr CardResult kOk{CardOutcome::Ok, 0x9000, {}, {}};

FilePath under(FilePath df, std::uint16_t id) {
  df.push_back(id);
  return df;
}

bool linear(const FileInfo& info) {
  return info.structure != FileInfo::Structure::Transparent && info.recordLength > 0 && info.records > 0;
}

std::string withLocation(const char* key, int location) {
  std::string text = localized(key);
  if (auto at = text.find("%d"); at != std::string::npos) text.replace(at, 2, std::to_string(location));
  return text;
}

CardResult select(JobSession& s, RecordBook&, RecordFile& file) { return s.files()->select(file.path, file.info); }

CardResult ensureSelected(JobSession& s, RecordBook&, const RecordFile& file) {
  if (s.files()->selected() == file.path) return kOk;
  FileInfo info;
  return s.files()->select(file.path, info);
}

CardResult readRecord(JobSession& s, RecordBook& book, const RecordFile& file, int n, std::string& bytes) {
  CardResult r = ensureSelected(s, book, file);
  if (r.ok()) r = s.files()->readRecord(n, file.info.recordLength, bytes);
  return r;
}

// A record update, or in a dry run the note of one.
CardResult updateRecord(JobSession& s, RecordBook& book, const RecordFile& file, int n,
                        const std::string& bytes) {
  char id[8];
  std::snprintf(id, sizeof id, "%04X", file.path.empty() ? 0 : file.path.back());
  if (s.holding()) {
    s.noteHeld("UPDATE RECORD " + std::string(id) + " " + std::to_string(n) + " " + hexUpper(bytes));
    return kOk;
  }
  CardResult r = ensureSelected(s, book, file);
  if (r.ok()) r = s.files()->updateRecord(n, bytes);
  VORYX_LOG_IF(s.logging(), "update record |%s| %d |%s| %04X\n", id, n, hexUpper(bytes).c_str(), r.sw);
  return r;
}

// Where the phonebook lies. 27.007's "SM" on a USIM is the global phonebook (DF_PHONEBOOK
// under DF_TELECOM), else the application's own (under ADF.USIM), each named by its EF_PBR;
// on a SIM, and on a UICC without either, EF_ADN under DF_TELECOM. Ok with book.adn
// filled; Removed when the card went; else why no file was found.
CardResult locatePhonebook(JobSession& s, RecordBook& book) {
  simfiles::SimFiles& files = *s.files();
  std::vector<FilePath> books;
  if (files.usim()) {
    books.push_back({simfiles::kMf, simfiles::kDfTelecom, simfiles::kDfPhonebook});
    books.push_back({simfiles::kMf, simfiles::kAdfUsim, simfiles::kDfPhonebook});
  }
  for (const FilePath& df : books) {
    RecordFile pbr{under(df, simfiles::kEfPbr), {}};
    CardResult r = select(s, book, pbr);
    if (r.outcome == CardOutcome::Removed) return r;
    if (!r.ok() || !linear(pbr.info)) continue;
    std::vector<std::string> records;
    for (int n = 1; n <= pbr.info.records; ++n) {
      std::string bytes;
      r = files.readRecord(n, pbr.info.recordLength, bytes);
      if (r.outcome == CardOutcome::Removed) return r;
      if (r.ok()) records.push_back(std::move(bytes));
    }
    for (const PbrSet& set : parsePbr(records)) {
      RecordFile adn{under(df, set.adn), {}};
      r = select(s, book, adn);
      if (r.outcome == CardOutcome::Removed) return r;
      if (!r.ok() || !linear(adn.info)) continue;
      std::optional<RecordFile> ext;
      if (set.ext1) {
        RecordFile e{under(df, *set.ext1), {}};
        r = select(s, book, e);
        if (r.outcome == CardOutcome::Removed) return r;
        if (r.ok() && linear(e.info)) ext = e;
      }
      book.adn.push_back(adn);
      book.ext1.push_back(ext);
    }
    if (!book.adn.empty()) return kOk;
  }
  RecordFile adn{{simfiles::kMf, simfiles::kDfTelecom, simfiles::kEfAdn}, {}};
  CardResult r = select(s, book, adn);
  if (!r.ok()) return r;
  if (!linear(adn.info)) return {CardOutcome::NotFound, r.sw, {}, {}};
  RecordFile ext{{simfiles::kMf, simfiles::kDfTelecom, simfiles::kEfExt1}, {}};
  CardResult e = select(s, book, ext);
  if (e.outcome == CardOutcome::Removed) return e;
  book.adn.push_back(adn);
  book.ext1.push_back(e.ok() && linear(ext.info) ? std::optional<RecordFile>(ext) : std::nullopt);
  return kOk;
}

// EF_SMS: under ADF.USIM on a USIM, under DF_TELECOM on a SIM (and many UICCs keep both).
CardResult locateMessages(JobSession& s, RecordBook& book) {
  std::vector<FilePath> paths;
  if (s.files()->usim()) paths.push_back({simfiles::kMf, simfiles::kAdfUsim, simfiles::kEfSms});
  paths.push_back({simfiles::kMf, simfiles::kDfTelecom, simfiles::kEfSms});
  CardResult r = kOk;
  for (const FilePath& path : paths) {
    book.sms = {path, {}};
    r = select(s, book, book.sms);
    if (r.outcome == CardOutcome::Removed) return r;
    if (r.ok() && linear(book.sms.info)) return r;
    if (r.ok()) r = {CardOutcome::NotFound, r.sw, {}, {}};
  }
  return r;
}

// Extension records, read once each, for the decoder.
ExtensionReader extensionsOf(JobSession& s, RecordBook& book, std::size_t part) {
  return [&s, &book, part](int n) -> std::string {
    if (part >= book.ext1.size() || !book.ext1[part] || n < 1 || n > book.ext1[part]->info.records) return {};
    std::string bytes;
    return readRecord(s, book, *book.ext1[part], n, bytes).ok() ? bytes : std::string();
  };
}

// The free and used records of each part's EF_EXT1.
CardResult scanExtensions(JobSession& s, RecordBook& book) {
  book.freeExt.assign(book.adn.size(), {});
  book.extInUse.assign(book.adn.size(), false);
  for (std::size_t i = 0; i < book.adn.size(); ++i) {
    if (!book.ext1[i]) continue;
    for (int n = 1; n <= book.ext1[i]->info.records; ++n) {
      std::string bytes;
      CardResult r = readRecord(s, book, *book.ext1[i], n, bytes);
      if (r.outcome == CardOutcome::Removed) return r;
      if (!r.ok()) continue;
      if (isFreeExt1(bytes)) {
        book.freeExt[i].push_back(n);
      } else {
        book.extInUse[i] = true;
      }
    }
  }
  return kOk;
}

// The part of the phonebook a location falls in, and its record there.
std::optional<std::pair<std::size_t, int>> partOf(const RecordBook& book, int location) {
  int first = 1;
  for (std::size_t i = 0; i < book.adn.size(); ++i) {
    const int count = book.adn[i].info.records;
    if (location >= first && location < first + count) return std::pair{i, location - first + 1};
    first += count;
  }
  return std::nullopt;
}

JobOutcome listingFailed(JobSession& s, const CardResult& r) {
  if (s.cardEnded(r)) return s.failure();
  s.alert("Read from SIM", localized(kListingFailed) + " " + simfiles::cardResultText(r));
  return JobOutcome::ListingFailed;
}

// ---- write ----

Verdict judged(JobSession& s, PassScope& scope, const CardResult& r) {
  if (r.ok()) return Verdict::Go;
  if (s.cardEnded(r)) return Verdict::Ended;
  if (r.outcome == CardOutcome::NoAnswer) return Verdict::NoReply;
  scope.refusal = simfiles::cardResultText(r);
  VORYX_LOG_IF(s.logging(), "card refused |%04X| %s\n", r.sw, scope.refusal.c_str());
  return Verdict::Refused;
}

bool phonebookSetUp(JobSession& s, PassScope& scope) {
  auto book = std::make_shared<RecordBook>();
  CardResult r = locatePhonebook(s, *book);
  if (r.ok()) r = scanExtensions(s, *book);
  if (s.cardEnded(r)) return false;
  if (!r.ok()) {
    s.simNotReady();
    s.alert("Write to SIM", localized(kNoPhonebook) + " " + simfiles::cardResultText(r));
    return false;
  }
  scope.records = std::move(book);
  return true;
}

Verdict phonebookEntry(JobSession& s, PassScope& scope, const SimEntry& e, int index,
                       std::string& lastNumber, std::vector<Confirmed>& confirmed) {
  RecordBook& book = *scope.records;
  if (e.operazione == kMarkInStep) {
    s.progress("Analyzing phonebook entry nr.", e.posizione);
    return Verdict::Go;
  }
  const auto at = partOf(book, e.posizione);
  if (!at) {
    scope.refusal = withLocation(kBeyond, e.posizione);
    return Verdict::Refused;
  }
  const auto [part, n] = *at;
  const RecordFile& adn = book.adn[part];
  const int length = adn.info.recordLength;
  const ExtensionReader extension = extensionsOf(s, book, part);
  // What the record holds now, where it matters: a new entry goes only onto an empty
  // location (unless the last read of this SIM listed it empty), and a number that goes on
  // in EF_EXT1 frees its extension records when it goes or changes.
  const bool checkEmpty = e.operazione == kMarkNew && scope.checkEmpty &&
                          !(scope.listed && !scope.listed->count(e.posizione));
  std::string old;
  std::vector<int> oldChain;
  if (checkEmpty || book.extInUse[part]) {
    if (Verdict v = judged(s, scope, readRecord(s, book, adn, n, old)); v != Verdict::Go) return v;
    if (book.extInUse[part]) oldChain = adnExtensions(old, extension);
  }
  auto freeChain = [&, part = part] {  // a copy: older compilers cannot capture a binding
    for (int k : oldChain) {
      if (updateRecord(s, book, *book.ext1[part], k, freeExt1Record()).ok()) book.freeExt[part].push_back(k);
    }
  };

  if (e.operazione == kMarkDeleted) {
    s.progress("Deleting phonebook entry nr.", e.posizione);
    const Verdict v = judged(s, scope, updateRecord(s, book, adn, n, emptyAdnRecord(length)));
    if (v != Verdict::Go) return v;
    freeChain();
    confirmed.push_back(Confirmed::of(e, Confirmed::What::Erased));
    return Verdict::Go;
  }
  s.progress("Writing phonebook entry nr.", e.posizione);
  lastNumber = filterNumber(e.telefono, false);
  auto encoded = encodeAdn(e.nome, e.telefono, length, book.freeExt[part], s.codecLog());
  if (!encoded) {
    scope.skipped = withLocation(kNumberUnfit, e.posizione);
    return Verdict::Skipped;
  }
  if (checkEmpty && !isEmptyAdn(old)) {
    // A pass whose marks could not be cleared may have put this very entry there.
    auto held = decodeAdn(old, extension);
    const bool same = held && held->name == encoded->took &&
                      filterNumber(held->number, true) == filterNumber(e.telefono, true);
    if (!same) return Verdict::Occupied;
  }
  // The extension records first, then the record that points at them; the old chain goes
  // only once the new record is in.
  for (const auto& [k, bytes] : encoded->extensions) {
    if (Verdict v = judged(s, scope, updateRecord(s, book, *book.ext1[part], k, bytes)); v != Verdict::Go) return v;
    std::erase(book.freeExt[part], k);
    book.extInUse[part] = true;
  }
  if (Verdict v = judged(s, scope, updateRecord(s, book, adn, n, encoded->record)); v != Verdict::Go) return v;
  freeChain();
  VORYX_LOG_IF(s.logging(), "contact %d written to record %d\n", index + 1, n);
  confirmed.push_back(Confirmed::of(e, Confirmed::What::Written));
  if (encoded->took != e.nome) confirmed.back().took = encoded->took;
  return Verdict::Go;
}

bool smsSetUp(JobSession& s, PassScope& scope) {
  auto book = std::make_shared<RecordBook>();
  CardResult r = locateMessages(s, *book);
  if (s.cardEnded(r)) return false;
  if (!r.ok()) {
    s.simNotReady();
    s.alert("Write to SIM", localized(kNoMessages) + " " + simfiles::cardResultText(r));
    return false;
  }
  scope.records = std::move(book);
  return true;
}

// The first free record of EF_SMS that this pass has not filled; the store is scanned at
// the first new message.
CardResult freeMessageRecord(JobSession& s, RecordBook& book, std::optional<int>& found) {
  if (!book.freeSms) {
    std::vector<int> free;
    for (int n = 1; n <= book.sms.info.records; ++n) {
      std::string bytes;
      CardResult r = readRecord(s, book, book.sms, n, bytes);
      if (!r.ok()) return r;
      if (!bytes.empty() && (static_cast<unsigned char>(bytes[0]) & 1) == 0) free.push_back(n);
    }
    book.freeSms = std::move(free);
  }
  if (!book.freeSms->empty()) {
    found = book.freeSms->front();
    book.freeSms->erase(book.freeSms->begin());
  }
  return kOk;
}

Verdict smsEntry(JobSession& s, PassScope& scope, const SimEntry& e, int /*index*/,
                 std::string& lastNumber, std::vector<Confirmed>& confirmed) {
  RecordBook& book = *scope.records;
  const int length = book.sms.info.recordLength;
  if (e.operazione == kMarkInStep) {
    s.progress("Analyzing sms entry nr.", e.posizione);
    return Verdict::Go;
  }
  if (e.operazione == kMarkDeleted) {
    s.progress("Deleting sms entry nr.", e.posizione);
    const Verdict v = judged(s, scope, updateRecord(s, book, book.sms, e.posizione, freeSmsRecord(length)));
    if (v == Verdict::Go) confirmed.push_back(Confirmed::of(e, Confirmed::What::Erased));
    return v;
  }
  s.progress("Writing sms entry nr.", e.posizione);
  const std::string text = oneMessageText(e.nome);
  const bool named = isAlphanumericSender(e.telefono);
  lastNumber = named ? e.telefono : filterNumber(e.telefono, false);
  const int type = named ? kAlphanumericType : numberType(e.telefono);
  // The record keeps what the SIM knew of the message (its status, a received one's sender
  // and time, a part's header): see messageRecord.
  auto held = scope.held.find(e.posizione);
  const std::string message = messageRecord(e.telefono, type, text, held == scope.held.end() ? "" : held->second);
  if (message.size() > static_cast<std::size_t>(length)) return Verdict::TooLong;
  std::string record = message;
  record.resize(static_cast<std::size_t>(length), '\xFF');
  // A changed message is written over its own record (nothing to delete first); a new one
  // goes to a free record.
  std::optional<int> target;
  if (e.operazione == kMarkChanged) {
    target = e.posizione;
  } else if (Verdict v = judged(s, scope, freeMessageRecord(s, book, target)); v != Verdict::Go) {
    return v;
  }
  if (!target) {
    scope.refusal = localized(kStoreFull);
    return Verdict::Refused;
  }
  Confirmed stored = Confirmed::of(e, Confirmed::What::Written);
  stored.storedAt = *target;
  stored.record = message;
  if (text != e.nome) stored.took = text;
  if (auto content = decodeSmsRecord(message)) stored.part = content->part;
  // Recorded, with its record, before it is written: a pass that ends before the card's
  // answer leaves the next one to read that record instead of writing the message twice.
  if (scope.intend) {
    Confirmed intent = stored;
    intent.pending = true;
    if (!scope.intend(intent)) return Verdict::Unrecorded;
  }
  const Verdict v = judged(s, scope, updateRecord(s, book, book.sms, *target, record));
  if (v != Verdict::Go) return v;
  confirmed.push_back(std::move(stored));
  return Verdict::Go;
}

// An earlier pass's unsettled messages: each named the record it chose, which is read.
bool smsSettle(JobSession& s, PassScope& scope, const std::vector<SimEntry>& table,
               const std::vector<Confirmed>& unsettled, std::vector<Confirmed>& found) {
  RecordBook& book = *scope.records;
  std::map<int, std::pair<std::string, std::string>> held;
  for (const Confirmed& c : unsettled) {
    for (int n : {c.storedAt.value_or(0), c.sent.posizione}) {
      if (n < 1 || n > book.sms.info.records || held.count(n)) continue;
      std::string bytes;
      CardResult r = readRecord(s, book, book.sms, n, bytes);
      if (s.cardEnded(r)) return false;
      if (auto message = r.ok() ? decodeSmsRecord(bytes) : std::nullopt) held[n] = {message->text, message->number};
    }
  }
  found = settledMessages(unsettled, held, table);
  return true;
}

}  // namespace

const WritePass kRecordsPhonebookPass{ListStore::Phonebook, "Error writing phonebook",
                                      phonebookSetUp, phonebookEntry, false, nullptr};
const WritePass kRecordsSmsPass{ListStore::Sms, "Error writing sms", smsSetUp, smsEntry, false, smsSettle};

JobOutcome recordsPhonebookDialogue(JobSession& s, JobReport& report, std::vector<SimEntry>& rows,
                                    int& steps) {
  steps = 0;  // the progress is shown record by record
  RecordBook book;
  CardResult r = locatePhonebook(s, book);
  if (!r.ok()) {
    if (r.outcome != CardOutcome::Removed) report.maxSIM = Capacity{0, true};
    return listingFailed(s, r);
  }
  int total = 0;
  int length = book.adn.front().info.recordLength;
  for (const RecordFile& f : book.adn) {
    total += f.info.records;
    length = std::min(length, f.info.recordLength);
  }
  VORYX_LOG_IF(s.logging(), "phonebook files |%d| records |%d| of |%d| bytes via %s\n",
               static_cast<int>(book.adn.size()), total, length, s.files()->describe().c_str());
  report.maxSIM = Capacity{total, true};
  s.caption(kCaptionKey, total);
  // The name field is what the record leaves beside the number: known exactly.
  if (length > kAdnNumberBytes) report.maxSIMLen = length - kAdnNumberBytes;
  report.nameSets = kNameSetHex;
  // A number goes on in EF_EXT1 records of 20 digits each, when every part has the file:
  // as many as it holds, up to the longest chain a read follows.
  int extensions = kMaxExtensionChain;
  for (const std::optional<RecordFile>& ext : book.ext1) extensions = std::min(extensions, ext ? ext->info.records : 0);
  report.maxNumberLen = kDigitsPerRecord * (1 + std::max(extensions, 0));
  const CodecLog log = s.codecLog();
  int location = 0;
  for (std::size_t part = 0; part < book.adn.size(); ++part) {
    const ExtensionReader extension = extensionsOf(s, book, part);
    for (int n = 1; n <= book.adn[part].info.records; ++n) {
      ++location;
      std::string bytes;
      r = readRecord(s, book, book.adn[part], n, bytes);
      if (!r.ok()) return listingFailed(s, r);
      s.progress(kProgressKey, location);
      s.step(location, total);
      if (auto entry = decodeAdn(bytes, extension, log)) {
        rows.push_back({location, entry->name, entry->number, kMarkInStep});
      }
    }
  }
  VORYX_LOG_IF(s.logging(), "entries parsed |%d|\n", static_cast<int>(rows.size()));
  return JobOutcome::Done;
}

JobOutcome recordsSmsDialogue(JobSession& s, JobReport& report, std::vector<SimEntry>& rows,
                              int& steps) {
  steps = 0;
  RecordBook book;
  CardResult r = locateMessages(s, book);
  if (!r.ok()) return listingFailed(s, r);
  const int total = book.sms.info.records;
  report.maxSMS = Capacity{total, true};
  s.caption(kCaptionKey, total);
  for (int n = 1; n <= total; ++n) {
    std::string bytes;
    r = readRecord(s, book, book.sms, n, bytes);
    if (!r.ok()) return listingFailed(s, r);
    s.progress(kSmsProgressKey, n);
    s.step(n, total);
    auto message = decodeSmsRecord(bytes);
    if (message) {
      rows.push_back({n, message->text, message->number, kMarkInStep});
      if (message->part) s.messageParts()[n] = *message->part;
      s.messageRecords()[n] = bytes.substr(0, message->length);
    } else if (!bytes.empty() && (static_cast<unsigned char>(bytes[0]) & 1) != 0) {
      VORYX_LOG_IF(s.logging(), "sms record %d unreadable |%s|\n", n, hexUpper(bytes).c_str());
    }
  }
  VORYX_LOG_IF(s.logging(), "entries parsed |%d|\n", static_cast<int>(rows.size()));
  return JobOutcome::Done;
}

JobReport recordsLackStore(JobSession& s, Phonebook book) {
  const PhonebookKind& kind = phonebookKind(book);
  s.alert(s.wording().title, localized("Through the SIM's files Voryx reaches the SIM phonebook only; use the modem's "
                                       "phonebook commands for this one:") +
                                 " " + localized(kind.title) + " (" + std::string(kind.code) + ").");
  JobReport report;
  report.outcome = JobOutcome::StoreMissing;
  return report;
}

}  // namespace voryx::transfer
