#include "entries/Backup.h"

#include <algorithm>
#include <cctype>
#include <ctime>
#include <iterator>
#include <set>

#include <nlohmann/json.hpp>

#include "base/FileIo.h"
#include "base/AtomicFile.h"
#include "base/Text.h"
#include "codec/SimName.h"
#include "codec/SmsPdu.h"

namespace voryx::entries {
namespace fs = std::filesystem;
using nlohmann::json;

namespace {

constexpr int kVersion = 1;
constexpr std::uintmax_t kMaxBackupBytes = std::uintmax_t{16} << 20;
constexpr int kLargestLocation = 65535;

// Any of C0, DEL: a name or number never holds one.
bool hasControl(std::string_view text) {
  return std::any_of(text.begin(), text.end(), [](char c) {
    const auto b = static_cast<unsigned char>(c);
    return b < 0x20 || b == 0x7F;
  });
}

std::string upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

// The name as the SIM stores it: its most compact form, whole (no field is too short).
std::string nameBytes(std::string_view name) {
  return upper(codec::encodeSimName(name, static_cast<int>(name.size()) * 2 + 4));
}

// 27.005's message statuses, by the status byte EF_SMS keeps (1 read, 3 unread, 5 sent, 7
// unsent).
struct StatusName {
  int byte;
  std::string_view name;
};
constexpr StatusName kStatusNames[] = {{3, "REC UNREAD"}, {1, "REC READ"}, {7, "STO UNSENT"}, {5, "STO SENT"}};

// What parsing found wrong, for Error's detail.
struct Bad {
  std::string why;
};

const json& field(const json& object, const char* key, json::value_t type, const std::string& where) {
  static const json kNull;
  auto it = object.find(key);
  if (it == object.end()) return kNull;
  const bool number = type == json::value_t::number_integer;
  if (number ? !it->is_number_integer() : it->type() != type) throw Bad{where + ": \"" + key + "\" has the wrong type"};
  return *it;
}

std::string text(const json& object, const char* key, const std::string& where) {
  const json& value = field(object, key, json::value_t::string, where);
  return value.is_null() ? std::string() : value.get<std::string>();
}

int count(const json& object, const char* key, const std::string& where) {
  const json& value = field(object, key, json::value_t::number_integer, where);
  if (value.is_null()) return 0;
  const auto n = value.get<std::int64_t>();
  if (n < 0 || n > kLargestLocation) throw Bad{where + ": \"" + key + "\" is out of range"};
  return static_cast<int>(n);
}

int position(const json& row, const char* key, const std::string& where, std::set<int>& taken) {
  if (!row.contains(key)) throw Bad{where + ": no \"" + key + "\""};
  const int at = count(row, key, where);
  if (at < 1) throw Bad{where + ": \"" + key + "\" is out of range"};
  if (!taken.insert(at).second) throw Bad{where + ": " + key + " " + std::to_string(at) + " appears twice"};
  return at;
}

const json& listIn(const json& object, const char* key, const std::string& where) {
  static const json kEmpty = json::array();
  const json& list = field(object, key, json::value_t::array, where);
  return list.is_null() ? kEmpty : list;
}

SimBackup parse(const json& doc) {
  if (!doc.is_object() || !doc.contains("format") || doc["format"] != kBackupFormat) {
    throw Bad{"not a SIM backup (no \"format\": \"" + std::string(kBackupFormat) + "\")"};
  }
  if (!doc.contains("version") || !doc["version"].is_number_integer()) throw Bad{"no \"version\""};
  if (doc["version"].get<std::int64_t>() != kVersion) {
    throw Bad{"a backup of version " + doc["version"].dump() + ", which this program cannot read"};
  }
  SimBackup backup;
  const json& sim = field(doc, "sim", json::value_t::object, "the backup");
  if (!sim.is_null()) backup.sim = SimIdentity{text(sim, "iccid", "\"sim\""), text(sim, "imsi", "\"sim\"")};

  static const json kNoBooks = json::object();
  const json& found = field(doc, "phonebooks", json::value_t::object, "the backup");
  backup.hasPhonebook = !found.is_null();
  const json& books = found.is_null() ? kNoBooks : found;
  for (const auto& [store, book] : books.items()) {
    const std::string where = "phonebook " + store;
    const std::optional<Phonebook> kind = phonebookNamed(store);
    if (!kind || phonebookKind(*kind).code != store) {
      throw Bad{where + ": no such phonebook store (SM, ON, FD, ME, EN or SDN)"};
    }
    if (!book.is_object()) throw Bad{where + " is no object"};
    BookBackup read{count(book, "capacity", where), count(book, "nameLength", where), {}};
    std::set<int> taken;
    for (const json& row : listIn(book, "entries", where)) {
      if (!row.is_object()) throw Bad{where + ": an entry is no object"};
      const std::string at = where + ", entry " + std::to_string(read.entries.size() + 1);
      SimEntry entry;
      entry.posizione = position(row, "location", at, taken);
      entry.telefono = text(row, "number", at);
      if (row.contains("name")) {
        entry.nome = text(row, "name", at);
      } else if (row.contains("nameBytes")) {
        const std::string bytes = text(row, "nameBytes", at);
        if (bytes.size() % 2 != 0 || !std::all_of(bytes.begin(), bytes.end(), [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); })) {
          throw Bad{at + ": \"nameBytes\" is no hexadecimal text"};
        }
        entry.nome = codec::decodeSimName(bytes);
      } else {
        throw Bad{at + ": neither \"name\" nor \"nameBytes\""};
      }
      if (hasControl(entry.nome) || hasControl(entry.telefono)) {
        throw Bad{at + ": a control character in the name or number"};
      }
      read.entries.push_back(std::move(entry));
    }
    std::sort(read.entries.begin(), read.entries.end(),
              [](const SimEntry& x, const SimEntry& y) { return x.posizione < y.posizione; });
    if (*kind == Phonebook::SM) {
      backup.capacity = read.capacity;
      backup.nameLength = read.nameLength;
      backup.phonebook = std::move(read.entries);
    } else {
      backup.books[*kind] = std::move(read);
    }
  }

  const json& sms = field(doc, "sms", json::value_t::object, "the backup");
  if (!sms.is_null()) {
    // A named place: a temporary string argument would make g++ 14 take the list that
    // listIn returns for a dangling reference.
    const std::string place = "\"sms\"";
    backup.smsCapacity = count(sms, "capacity", place);
    std::set<int> taken;
    for (const json& row : listIn(sms, "messages", place)) {
      if (!row.is_object()) throw Bad{"\"sms\": a message is no object"};
      const std::string at = "message " + std::to_string(backup.sms.size() + 1);
      SimEntry message;
      message.posizione = position(row, "index", at, taken);
      message.nome = text(row, "text", at);
      message.telefono = text(row, "number", at);
      // A message may hold any character a read can give (a tab, a page break of the GSM
      // alphabet): the write sends such a text in PDU mode. Only NUL has no place in a text.
      if (message.nome.find('\0') != std::string::npos || hasControl(message.telefono)) {
        throw Bad{at + ": a control character in the text or number"};
      }
      if (const codec::SmsLength length = codec::smsLength(message.nome); length.used > length.holds) {
        throw Bad{at + ": longer than one message"};
      }
      if (row.contains("status") || row.contains("pdu")) {
        const std::string status = text(row, "status", at);
        auto known = std::find_if(std::begin(kStatusNames), std::end(kStatusNames),
                                  [&](const StatusName& n) { return n.name == status; });
        if (known == std::end(kStatusNames)) throw Bad{at + ": \"status\" is none of 27.005's"};
        const std::string pdu = text(row, "pdu", at);
        auto bytes = hexDecode(pdu);
        // EF_SMS holds 175 bytes beside its status byte.
        if (!bytes || bytes->size() > 175) throw Bad{at + ": \"pdu\" is no PDU in hexadecimal"};
        backup.smsRecords[message.posizione] = static_cast<char>(known->byte) + *bytes;
      }
      const json& part = field(row, "part", json::value_t::object, at);
      if (!part.is_null()) {
        const int total = count(part, "total", at), number = count(part, "part", at);
        if (total < 2 || total > 255 || number < 1 || number > total) throw Bad{at + ": \"part\" is out of range"};
        backup.smsParts[message.posizione] = MessagePart{count(part, "reference", at), total, number};
      }
      backup.sms.push_back(std::move(message));
    }
  }
  std::sort(backup.sms.begin(), backup.sms.end(),
            [](const SimEntry& a, const SimEntry& b) { return a.posizione < b.posizione; });
  return backup;
}

std::vector<SimEntry> entriesSeen(const std::map<std::int32_t, SeenEntry>& seen) {
  std::vector<SimEntry> rows;
  for (const auto& [at, entry] : seen) rows.push_back({at, entry.nome, entry.telefono, kMarkInStep});
  return rows;
}

}  // namespace

std::string backupJson(const SimBackup& backup, std::string_view written) {
  nlohmann::ordered_json doc = {{"format", kBackupFormat}, {"version", kVersion}, {"written", written}};
  if (backup.sim) doc["sim"] = {{"iccid", backup.sim->iccid}, {"imsi", backup.sim->imsi}};
  auto bookJson = [](const BookBackup& book) {
    nlohmann::ordered_json out = nlohmann::ordered_json::object();
    if (book.capacity > 0) out["capacity"] = book.capacity;
    if (book.nameLength > 0) out["nameLength"] = book.nameLength;
    nlohmann::ordered_json entries = nlohmann::ordered_json::array();
    for (const SimEntry& e : book.entries) {
      entries.push_back({{"location", e.posizione}, {"name", e.nome}, {"nameBytes", nameBytes(e.nome)},
                         {"number", e.telefono}});
    }
    out["entries"] = std::move(entries);
    return out;
  };
  if (backup.hasPhonebook) {
    doc["phonebooks"] = {{"SM", bookJson({backup.capacity, backup.nameLength, backup.phonebook})}};
    for (const auto& [book, content] : backup.books) doc["phonebooks"][std::string(phonebookKind(book).code)] = bookJson(content);
  }
  nlohmann::ordered_json sms = nlohmann::ordered_json::object();
  if (backup.smsCapacity > 0) sms["capacity"] = backup.smsCapacity;
  nlohmann::ordered_json messages = nlohmann::ordered_json::array();
  for (const SimEntry& m : backup.sms) {
    nlohmann::ordered_json message = {{"index", m.posizione}, {"number", m.telefono}, {"text", m.nome}};
    auto record = backup.smsRecords.find(m.posizione);
    const int byte = record == backup.smsRecords.end() || record->second.empty()
                         ? 0 : static_cast<unsigned char>(record->second[0]) & 0x07;
    auto known = std::find_if(std::begin(kStatusNames), std::end(kStatusNames),
                              [&](const StatusName& n) { return n.byte == byte; });
    if (known != std::end(kStatusNames)) {
      message["status"] = known->name;
      message["pdu"] = hexUpper(std::string_view(record->second).substr(1));
    }
    if (auto part = backup.smsParts.find(m.posizione); part != backup.smsParts.end()) {
      message["part"] = {{"reference", part->second.reference}, {"total", part->second.total},
                         {"part", part->second.part}};
    }
    messages.push_back(std::move(message));
  }
  sms["messages"] = std::move(messages);
  doc["sms"] = std::move(sms);
  // Invalid UTF-8 (a SIM's name the codec could not read) is replaced, never a failure.
  return doc.dump(1, '\t', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}

Result<SimBackup> parseBackupJson(std::string_view text) {
  try {
    return parse(json::parse(text));
  } catch (const Bad& bad) {
    return Error{Errc::Invalid, bad.why};
  } catch (const json::exception& e) {
    return Error{Errc::Invalid, std::string("not JSON (") + e.what() + ")"};
  }
}

namespace {

// The SMS store of the copy as its last read or write saw it, into `backup`; the SIM it
// was read from.
Result<std::optional<SimIdentity>> seenMessages(const fs::path& database, BusyPolicy busy, SimBackup& backup) {
  auto table = SimTable::open(database, ListStore::Sms, busy);
  if (!table) return table.error();
  auto sim = table->identity();
  if (!sim) return sim.error();
  auto seen = table->seen();
  if (!seen) return seen.error();
  backup.sms = entriesSeen(*seen);
  auto records = table->records();
  if (!records) return records.error();
  auto parts = table->parts();
  if (!parts) return parts.error();
  for (const SimEntry& m : backup.sms) {
    if (auto r = records->find(m.posizione); r != records->end()) backup.smsRecords.insert(*r);
    if (auto p = parts->find(m.posizione); p != parts->end()) backup.smsParts.insert(*p);
  }
  return *sim;
}

}  // namespace

Result<SimBackup> backupOfCopy(const fs::path& database, BusyPolicy busy) {
  SimBackup backup;
  std::optional<SimIdentity> sims[2];
  {
    auto table = SimTable::open(database, ListStore::Phonebook, busy);
    if (!table) return table.error();
    auto sim = table->identity();
    if (!sim) return sim.error();
    auto seen = table->seen();
    if (!seen) return seen.error();
    backup.phonebook = entriesSeen(*seen);
    sims[0] = *sim;
  }
  auto messagesSim = seenMessages(database, busy, backup);
  if (!messagesSim) return messagesSim.error();
  sims[1] = *messagesSim;
  if (!sims[0] && !sims[1]) {
    return Error{Errc::Invalid, "neither the phonebook nor the messages have been read from a SIM"};
  }
  if (sims[0] && sims[1] && sameSim(*sims[0], *sims[1]) == SameSim::No) {
    return Error{Errc::Invalid, "the phonebook and the messages were read from two different SIMs"};
  }
  backup.sim = sims[0] && sims[0]->known() ? sims[0] : sims[1];
  // The other stores that were read from this SIM.
  for (const PhonebookKind& kind : kPhonebooks) {
    if (kind.book == Phonebook::SM) continue;
    auto table = SimTable::open(database, ListStore::Phonebook, busy, kind.book);
    if (!table) return table.error();
    auto sim = table->identity();
    if (!sim) return sim.error();
    if (!*sim || (backup.sim && sameSim(**sim, *backup.sim) == SameSim::No)) continue;
    auto seen = table->seen();
    if (!seen) return seen.error();
    backup.books[kind.book].entries = entriesSeen(*seen);
  }
  return backup;
}

Result<SimBackup> messagesOfCopy(const fs::path& database, BusyPolicy busy) {
  SimBackup backup;
  backup.hasPhonebook = false;
  auto sim = seenMessages(database, busy, backup);
  if (!sim) return sim.error();
  if (!*sim) return Error{Errc::Invalid, "the messages have not been read from a SIM"};
  backup.sim = *sim;
  return backup;
}

Status writeBackup(const fs::path& file, const SimBackup& backup) {
  char stamp[32] = "";
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
  if (::gmtime_r(&now, &utc)) std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return writeFileAtomically(file, backupJson(backup, stamp), 0600);
}

std::vector<SimEntry> restoredRows(const std::vector<SimEntry>& backup, const std::map<std::int32_t, SeenEntry>& seen,
                                   const std::set<std::int32_t>& untouched) {
  std::vector<SimEntry> rows;
  std::set<std::int32_t> kept;
  for (const SimEntry& e : backup) {
    SimEntry row{e.posizione, e.nome, e.telefono, kMarkNew};
    if (auto on = seen.find(e.posizione); on != seen.end()) {
      row.operazione = on->second == SeenEntry{e.nome, e.telefono} ? kMarkInStep : kMarkChanged;
    }
    kept.insert(e.posizione);
    rows.push_back(std::move(row));
  }
  for (const auto& [at, entry] : seen) {
    if (!kept.contains(at)) {
      rows.push_back({at, entry.nome, entry.telefono, untouched.contains(at) ? kMarkInStep : kMarkDeleted});
    }
  }
  std::sort(rows.begin(), rows.end(), [](const SimEntry& a, const SimEntry& b) { return a.posizione < b.posizione; });
  return rows;
}

Result<BackupRestore> restoreBackup(const fs::path& file, const fs::path& database, int maxSIM, int maxSMS,
                                    bool discardMarks, BusyPolicy busy, const std::map<Phonebook, EntryRoom>& rooms) {
  auto read = readWholeFile(file, kMaxBackupBytes);
  if (!read && read.error().code == Errc::TooLarge) {
    return Error{Errc::TooLarge, file.string() + ": too large for a SIM backup"};
  }
  if (!read) return read.error();
  const std::string& body = *read;
  Result<SimBackup> parsed = parseBackupJson(body);
  if (!parsed) return Error{parsed.error().code, file.string() + ": " + parsed.error().detail};

  BackupRestore report;
  report.backup = std::move(*parsed);
  const SimBackup& backup = report.backup;
  if (maxSIM > 0 && !backup.phonebook.empty() && backup.phonebook.back().posizione > maxSIM) {
    return Error{Errc::TooLarge, "the backup holds location " + std::to_string(backup.phonebook.back().posizione) +
                                     ", and this SIM has " + std::to_string(maxSIM)};
  }
  if (maxSMS > 0 && backup.sms.size() > static_cast<std::size_t>(maxSMS)) {
    return Error{Errc::TooLarge, "the backup holds " + std::to_string(backup.sms.size()) +
                                     " messages, and this SIM has room for " + std::to_string(maxSMS)};
  }
  auto phonebook = SimTable::open(database, ListStore::Phonebook, busy);
  if (!phonebook) return phonebook.error();
  auto messages = SimTable::open(database, ListStore::Sms, busy);
  if (!messages) return messages.error();
  auto seenEntries = phonebook->seen();
  if (!seenEntries) return seenEntries.error();
  auto seenMessages = messages->seen();
  if (!seenMessages) return seenMessages.error();
  auto copySim = (backup.hasPhonebook ? &*phonebook : &*messages)->identity();
  if (!copySim) return copySim.error();
  report.copySim = *copySim;
  // A store's backup entries as they go in: what the SIM holds as it is stays as it is;
  // the rest as an edit would store it, or left out with the reason.
  auto admitted = [&](Phonebook book, const std::vector<SimEntry>& entries,
                      const std::map<std::int32_t, SeenEntry>& seen) {
    const auto found = rooms.find(book);
    const EntryRoom room = found == rooms.end() ? EntryRoom{} : found->second;
    std::vector<SimEntry> rows;
    std::set<std::int32_t> untouched;
    for (const SimEntry& e : entries) {
      if (auto on = seen.find(e.posizione); on != seen.end() && on->second == SeenEntry{e.nome, e.telefono}) {
        rows.push_back(e);
        continue;
      }
      Admitted in = admitEntry(room, e.nome, e.telefono);
      if (!in.refusal.empty()) {
        report.refused.push_back("phonebook " + std::string(phonebookKind(book).code) + ", location " +
                                 std::to_string(e.posizione) + ": " + in.refusal);
        untouched.insert(e.posizione);
        continue;
      }
      if (in.nameCut) ++report.namesCut;
      rows.push_back({e.posizione, std::move(in.name), std::move(in.number), e.operazione});
    }
    return restoredRows(rows, seen, untouched);
  };
  // A backup of the messages alone gives the phonebook its own rows back, marks and all.
  std::vector<SimEntry> entryRows;
  if (backup.hasPhonebook) {
    entryRows = admitted(Phonebook::SM, backup.phonebook, *seenEntries);
  } else {
    auto current = phonebook->list();
    if (!current) return current.error();
    entryRows = std::move(*current);
  }
  // The other stores that take writes, each over what its own last read saw.
  std::map<Phonebook, std::vector<SimEntry>> bookRows;
  for (const auto& [book, content] : backup.books) {
    if (!phonebookKind(book).writable) continue;
    auto table = SimTable::open(database, ListStore::Phonebook, busy, book);
    if (!table) return table.error();
    auto seen = table->seen();
    if (!seen) return seen.error();
    bookRows[book] = admitted(book, content.entries, *seen);
    report.booksRestored.push_back(book);
  }
  const std::vector<SimEntry> messageRows = restoredRows(backup.sms, *seenMessages);
  // A message the SIM holds as the backup has it stays as the SIM holds it; every other
  // one is to become what the backup kept of it (its status, its PDU, its part).
  auto parts = messages->parts();
  if (!parts) return parts.error();
  auto records = messages->records();
  if (!records) return records.error();
  MessageParts kept;
  MessageRecords bytes;
  for (const SimEntry& row : messageRows) {
    const bool inStep = row.operazione == kMarkInStep || row.operazione == kMarkDeleted;
    const MessageParts& partsFrom = inStep ? *parts : backup.smsParts;
    const MessageRecords& recordsFrom = inStep ? *records : backup.smsRecords;
    if (auto part = partsFrom.find(row.posizione); part != partsFrom.end()) kept.insert(*part);
    if (auto record = recordsFrom.find(row.posizione); record != recordsFrom.end()) bytes.insert(*record);
    if (!inStep && !backup.smsRecords.count(row.posizione)) ++report.messagesWithoutRecords;
  }
  if (Status replaced =
          phonebook->replaceBothStores(entryRows, messageRows, discardMarks, kept, bookRows, bytes);
      !replaced) {
    return replaced.error();
  }
  auto tally = [](const std::vector<SimEntry>& rows, int& marked, int& erased) {
    for (const SimEntry& r : rows) {
      if (r.operazione == kMarkDeleted) ++erased;
      else if (r.operazione != kMarkInStep) ++marked;
    }
  };
  if (backup.hasPhonebook) tally(entryRows, report.entriesMarked, report.entriesErased);
  tally(messageRows, report.messagesMarked, report.messagesErased);
  for (const auto& [book, rows] : bookRows) tally(rows, report.bookEntriesMarked, report.bookEntriesErased);
  return report;
}

}  // namespace voryx::entries
