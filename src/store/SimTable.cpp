// One table of the copy (SimTable.h): its list, marks, identity and pass journal. One
// class, kept whole in one file.
#include "store/SimTable.h"

#include "base/AtomicFile.h"
#include "base/FileIo.h"
#include "base/Text.h"
#include "store/PassJournal.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <iterator>
#include <map>
#include <array>
#include <set>
#include <string>
#include <utility>


namespace voryx {
namespace {

namespace fs = std::filesystem;

struct TableSql {
  std::string_view name;
  // As resources/schema.sql has it (the shipped database is built from that file; a test
  // holds the two equal).
  std::string_view create;
};
constexpr TableSql kPhonebookTable{
    "sim", "CREATE TABLE sim (entry INTEGER UNIQUE, desc TEXT, number TEXT, operazione INTEGER)"};
constexpr TableSql kSmsTable{
    "simsms",
    "CREATE TABLE simsms (entry INTEGER UNIQUE, desc TEXT, number TEXT, operazione INTEGER)"};
// The other phonebook stores, in Phonebook's order after SM: made when first opened.
#define VORYX_BOOK_TABLE(name) \
  TableSql { name, "CREATE TABLE " name " (entry INTEGER UNIQUE, desc TEXT, number TEXT, operazione INTEGER)" }
constexpr std::array<TableSql, 6> kBookTables{kPhonebookTable,         VORYX_BOOK_TABLE("sim_on"),
                                              VORYX_BOOK_TABLE("sim_fd"),  VORYX_BOOK_TABLE("sim_me"),
                                              VORYX_BOOK_TABLE("sim_en"),  VORYX_BOOK_TABLE("sim_sdn")};
#undef VORYX_BOOK_TABLE

const TableSql& tableOf(ListStore store, Phonebook book = Phonebook::SM) {
  return store == ListStore::Sms ? kSmsTable : kBookTables[static_cast<std::size_t>(book)];
}
// The SIM each store was read from, and what it held at each location then.
constexpr TableSql kCardTable{
    "simcard", "CREATE TABLE simcard (store TEXT PRIMARY KEY, iccid TEXT, imsi TEXT)"};
// The pass journals the table has applied, by token (see applyJournal).
constexpr TableSql kPassTable{"simpass", "CREATE TABLE simpass (store TEXT PRIMARY KEY, token TEXT)"};
constexpr TableSql kSeenTable{
    "simseen",
    "CREATE TABLE simseen (store TEXT, entry INTEGER, desc TEXT, number TEXT, PRIMARY KEY (store, entry))"};

// Which part of a long message each SMS holds (SimEntry::part), by its index.
constexpr TableSql kPartsTable{
    "simparts", "CREATE TABLE simparts (entry INTEGER PRIMARY KEY, reference INTEGER, total INTEGER, part INTEGER)"};
// Each SMS row's message as the SIM holds it (MessageRecords), in hexadecimal.
constexpr TableSql kRecordsTable{"simpdu", "CREATE TABLE simpdu (entry INTEGER PRIMARY KEY, record TEXT)"};
// What each store's locations name (Locations), as its last read recorded: "mm" for
// ModemManager's numbers; no row, or "sim", for the SIM's indexes.
constexpr TableSql kLocationsTable{"simlocations",
                                   "CREATE TABLE simlocations (store TEXT PRIMARY KEY, way TEXT)"};

// The list statements, exactly as the program has always run them.
constexpr std::string_view kSimByEntry =
    "SELECT desc,number,entry,operazione FROM sim order by entry";
constexpr std::string_view kSimByDesc =
    "SELECT desc,number,entry,operazione FROM sim order by desc";
constexpr std::string_view kSimSearchByEntry =
    "SELECT desc,number,entry,operazione FROM sim  where desc like ? or number like ? "
    "order by entry";
constexpr std::string_view kSimSearchByDesc =
    "SELECT desc,number,entry,operazione FROM sim  where desc like ? or number like ? "
    "order by desc";
constexpr std::string_view kSmsByEntry =
    "SELECT desc,number,entry,operazione FROM simsms order by entry";

// Another phonebook store's statements are the SIM phonebook's on its own table.
std::string listStatement(ListStore store, std::string_view table, bool searching, int sortField) {
  if (store == ListStore::Sms) return std::string(kSmsByEntry);
  std::string sql(searching ? (sortField == 0 ? kSimSearchByEntry : kSimSearchByDesc)
                            : (sortField == 0 ? kSimByEntry : kSimByDesc));
  constexpr std::string_view kFrom = "FROM sim ";
  sql.replace(sql.find(kFrom), kFrom.size(), "FROM " + std::string(table) + " ");
  return sql;
}

// A row of a statement whose first columns are desc, number, entry, operazione: the list
// statements and the sweep read rows alike, so that "what the pass read" compares equal.
SimEntry entryOf(const Statement& s) {
  return SimEntry{s.columnInt(2), s.columnText(0), s.columnText(1), s.columnInt(3)};
}

bool bindOne(Statement& s, int index, std::int32_t value) { return s.bindInt(index, value); }
bool bindOne(Statement& s, int index, std::int64_t value) { return s.bindInt64(index, value); }
bool bindOne(Statement& s, int index, std::string_view value) { return s.bindText(index, value); }

// Binds `values` to parameters 1, 2, ... and steps the prepared statement to its end,
// handing each row to onRow; leaves it reset and without bindings for the next use.
template <class OnRow, class... Values>
Status steps(Database& db, Statement& stmt, OnRow&& onRow, const Values&... values) {
  struct Rewind {
    Statement& s;
    ~Rewind() {
      s.reset();
      s.clearBindings();
    }
  } rewind{stmt};
  int index = 0;
  if (!(bindOne(stmt, ++index, values) && ...)) return db.error(stmt.lastCode());
  while (true) {
    switch (stmt.step()) {
      case Statement::Step::Row:
        onRow(stmt);
        break;
      case Statement::Step::Done:
        return Ok{};
      default:
        return db.error(stmt.lastCode());
    }
  }
}

template <class OnRow, class... Values>
Status query(Database& db, std::string_view sql, OnRow&& onRow, const Values&... values) {
  auto stmt = db.prepare(sql);
  if (!stmt) return stmt.error();
  return steps(db, *stmt, onRow, values...);
}

template <class... Values>
Status run(Database& db, std::string_view sql, const Values&... values) {
  return query(
      db, sql, [](const Statement&) {}, values...);
}

// Runs `work` between BEGIN IMMEDIATE and COMMIT; any failure rolls everything back.
template <class Work>
Status inTransaction(Database& db, Work&& work) {
  Transaction transaction(db);
  if (!transaction.active()) return transaction.begun();
  if (Status done = work(); !done) return done;
  return transaction.commit();
}

// Creates the store's table when the file lacks it (a file of an older program, an empty
// file): the user's other table and every row in it stay as they are.
Status createTableIfMissing(Database& db, const TableSql& table) {
  bool present = false;
  auto look = [&] {
    return query(
        db, "SELECT 1 FROM sqlite_master WHERE type='table' AND name=? COLLATE NOCASE",
        [&](const Statement&) { present = true; }, table.name);
  };
  if (Status looked = look(); !looked || present) return looked;
  return inTransaction(db, [&]() -> Status {
    // Another program may have made it since the first look.
    if (Status looked = look(); !looked || present) return looked;
    return db.exec(table.create);
  });
}

}  // namespace

std::string shortSimName(const SimIdentity& sim) {
  const std::string& digits = sim.iccid.empty() ? sim.imsi : sim.iccid;
  if (digits.empty()) return {};
  constexpr std::size_t kShown = 7;
  return digits.size() <= kShown ? digits : "\u2026" + digits.substr(digits.size() - kShown);
}

SameSim sameSim(const SimIdentity& a, const SimIdentity& b) {
  if (!a.iccid.empty() && !b.iccid.empty()) return a.iccid == b.iccid ? SameSim::Yes : SameSim::No;
  if (!a.imsi.empty() && !b.imsi.empty()) return a.imsi == b.imsi ? SameSim::Yes : SameSim::No;
  return SameSim::Unknown;
}

SimTable::SimTable(Database db, ListStore store, Phonebook book, BusyPolicy busy)
    : db_(std::move(db)), store_(store), book_(store == ListStore::Sms ? Phonebook::SM : book), busy_(busy) {}

Result<SimTable> SimTable::open(const fs::path& file, ListStore store, BusyPolicy busy, Phonebook book) {
  auto db = Database::open(file);
  if (!db) return db.error();
  // SQLite's own busy handler: it sleeps in growing steps (1 ms up to 100 ms) until the
  // lock goes or the bound is spent, then the call answers SQLITE_BUSY.
  sqlite3_busy_timeout(db->handle(), static_cast<int>(busy.wait.count()));
  for (const TableSql* table : {&tableOf(store, book), &kCardTable, &kSeenTable, &kPassTable, &kPartsTable, &kRecordsTable,
                                &kLocationsTable}) {
    if (Status made = createTableIfMissing(*db, *table); !made) return made.error();
  }
  return SimTable(std::move(*db), store, book, busy);
}

Result<std::vector<SimEntry>> SimTable::list(std::string_view search, int sortField) {
  const bool searching = store_ == ListStore::Phonebook && !search.empty();
  const std::string sql = listStatement(store_, tableOf(store_, book_).name, searching, sortField);
  std::vector<SimEntry> rows;
  auto add = [&rows](const Statement& s) { rows.push_back(entryOf(s)); };
  const std::string pattern = "%" + std::string(search) + "%";
  Status read = searching ? query(db_, sql, add, pattern, pattern) : query(db_, sql, add);
  if (!read) return read.error();
  return rows;
}

Result<int> SimTable::countNumber(std::string_view number) {
  int count = 0;
  Status read = query(
      db_, "select count(*) from " + std::string(tableOf(store_, book_).name) + " where number=?",
      [&count](const Statement& s) { count = s.columnInt(0); }, number);
  if (!read) return read.error();
  return count;
}

Result<int> SimTable::countMarked() { return countMarkedIn(tableOf(store_, book_).name); }

Result<int> SimTable::countMarkedIn(std::string_view table) {
  int count = 0;
  Status read = query(
      db_, "SELECT count(*) FROM " + std::string(table) + " WHERE operazione<>0",
      [&count](const Statement& s) { count = s.columnInt(0); });
  if (!read) return read.error();
  return count;
}

Result<std::int64_t> SimTable::dataVersion() {
  std::int64_t version = 0;
  Status read = query(db_, "PRAGMA data_version",
                      [&version](const Statement& s) { version = s.columnInt(0); });
  if (!read) return read.error();
  return version;
}

Status SimTable::replaceAll(const std::vector<SimEntry>& rows, bool discardMarks) {
  return inTransaction(db_, [&] { return replaceRows(store_, book_, rows, discardMarks); });
}

Status SimTable::replaceBothStores(const std::vector<SimEntry>& rows, const std::vector<SimEntry>& otherRows,
                                   bool discardMarks, const MessageParts& otherParts,
                                   const std::map<Phonebook, std::vector<SimEntry>>& books,
                                   const MessageRecords& otherRecords) {
  const ListStore other = store_ == ListStore::Sms ? ListStore::Phonebook : ListStore::Sms;
  if (Status made = createTableIfMissing(db_, tableOf(other)); !made) return made;
  for (const auto& [book, bookRows] : books) {
    if (Status made = createTableIfMissing(db_, tableOf(ListStore::Phonebook, book)); !made) return made;
  }
  return inTransaction(db_, [&]() -> Status {
    if (Status replaced = replaceRows(store_, book_, rows, discardMarks); !replaced) return replaced;
    for (const auto& [book, bookRows] : books) {
      if (Status replaced = replaceRows(ListStore::Phonebook, book, bookRows, discardMarks); !replaced) return replaced;
    }
    return replaceRows(other, Phonebook::SM, otherRows, discardMarks, otherParts, otherRecords);
  });
}

Status SimTable::storeRead(const std::vector<SimEntry>& rows, const SimIdentity& sim, bool discardMarks,
                           const MessageParts& parts, const MessageRecords& records, Locations locations) {
  const std::string_view store = tableOf(store_, book_).name;
  return inTransaction(db_, [&]() -> Status {
    if (Status replaced = replaceRows(store_, book_, rows, discardMarks, parts, records); !replaced) return replaced;
    if (Status forgot = run(db_, "DELETE FROM simseen WHERE store=?", store); !forgot) return forgot;
    if (Status copied = run(db_,
                            "INSERT INTO simseen (store,entry,desc,number) SELECT ?,entry,desc,number "
                            "FROM " + std::string(store) + " WHERE entry IS NOT NULL",
                            store);
        !copied) {
      return copied;
    }
    if (Status way = run(db_, "INSERT OR REPLACE INTO simlocations (store,way) VALUES (?,?)", store,
                         std::string_view(locations == Locations::ModemManager ? "mm" : "sim"));
        !way) {
      return way;
    }
    return run(db_, "INSERT OR REPLACE INTO simcard (store,iccid,imsi) VALUES (?,?,?)", store,
               std::string_view(sim.iccid), std::string_view(sim.imsi));
  });
}

Result<Locations> SimTable::locations() {
  Locations way = Locations::SimIndexes;
  Status read = query(
      db_, "SELECT way FROM simlocations WHERE store=?",
      [&way](const Statement& s) { way = s.columnText(0) == "mm" ? Locations::ModemManager : Locations::SimIndexes; },
      tableOf(store_, book_).name);
  if (!read) return read.error();
  return way;
}

Result<MessageParts> SimTable::parts() {
  MessageParts parts;
  if (store_ != ListStore::Sms) return parts;
  Status read = query(db_, "SELECT entry,reference,total,part FROM simparts", [&parts](const Statement& s) {
    parts[s.columnInt(0)] = MessagePart{s.columnInt(1), s.columnInt(2), s.columnInt(3)};
  });
  if (!read) return read.error();
  return parts;
}

Result<MessageRecords> SimTable::records() {
  MessageRecords records;
  if (store_ != ListStore::Sms) return records;
  Status read = query(db_, "SELECT entry,record FROM simpdu", [&records](const Statement& s) {
    if (auto bytes = hexDecode(s.columnText(1)); bytes && !bytes->empty()) records[s.columnInt(0)] = std::move(*bytes);
  });
  if (!read) return read.error();
  return records;
}

Result<std::optional<SimIdentity>> SimTable::identity() {
  std::optional<SimIdentity> sim;
  Status read = query(
      db_, "SELECT iccid,imsi FROM simcard WHERE store=?",
      [&sim](const Statement& s) { sim = SimIdentity{s.columnText(0), s.columnText(1)}; },
      tableOf(store_, book_).name);
  if (!read) return read.error();
  return sim;
}

Result<std::map<std::int32_t, SeenEntry>> SimTable::seen() {
  std::map<std::int32_t, SeenEntry> held;
  Status read = query(
      db_, "SELECT entry,desc,number FROM simseen WHERE store=? AND entry IS NOT NULL",
      [&held](const Statement& s) { held[s.columnInt(0)] = SeenEntry{s.columnText(1), s.columnText(2)}; },
      tableOf(store_, book_).name);
  if (!read) return read.error();
  return held;
}

Status SimTable::replaceRows(ListStore store, Phonebook book, const std::vector<SimEntry>& rows,
                             bool discardMarks, const MessageParts& parts, const MessageRecords& records) {
  const std::string table(tableOf(store, book).name);
  if (!discardMarks) {
    // Counted inside the transaction: no other program can mark a row until COMMIT.
    Result<int> marked = countMarkedIn(table);
    if (!marked) return marked.error();
    if (*marked > 0) {
      return Error{Errc::Invalid, db_.file().string() + ": " + std::to_string(*marked) +
                                      " changes are not yet written to the SIM"};
    }
  }
  if (Status emptied = run(db_, "DELETE FROM " + table); !emptied) return emptied;
  const bool sms = store == ListStore::Sms;
  if (sms) {
    if (Status emptied = run(db_, "DELETE FROM simparts"); !emptied) return emptied;
    if (Status emptied = run(db_, "DELETE FROM simpdu"); !emptied) return emptied;
  }
  auto insert =
      db_.prepare("INSERT INTO " + table + " (entry,desc,number,operazione) VALUES (?,?,?,?)");
  if (!insert) return insert.error();
  auto insertPart = db_.prepare("INSERT INTO simparts (entry,reference,total,part) VALUES (?,?,?,?)");
  if (!insertPart) return insertPart.error();
  auto insertRecord = db_.prepare("INSERT INTO simpdu (entry,record) VALUES (?,?)");
  if (!insertRecord) return insertRecord.error();
  std::set<std::int32_t> stored;
  for (const SimEntry& row : rows) {
    if (!stored.insert(row.posizione).second) continue;
    Status inserted = steps(
        db_, *insert, [](const Statement&) {}, row.posizione, std::string_view(row.nome),
        std::string_view(row.telefono), row.operazione);
    auto part = parts.find(row.posizione);
    if (inserted && sms && part != parts.end()) {
      inserted = steps(db_, *insertPart, [](const Statement&) {}, row.posizione, part->second.reference,
                       part->second.total, part->second.part);
    }
    auto record = records.find(row.posizione);
    if (inserted && sms && record != records.end() && !record->second.empty()) {
      inserted = steps(db_, *insertRecord, [](const Statement&) {}, row.posizione,
                       std::string_view(hexUpper(record->second)));
    }
    if (!inserted) return inserted;
  }
  return Ok{};
}

Result<std::optional<std::int32_t>> SimTable::add(
    const SimEntry& entry,
    const std::function<std::optional<std::int32_t>(const std::vector<std::int32_t>&)>& choose) {
  const std::string table(tableOf(store_, book_).name);
  std::optional<std::int32_t> location;
  Status added = inTransaction(db_, [&]() -> Status {
    std::vector<std::int32_t> taken;
    Status read = query(db_, "SELECT entry FROM " + table + " WHERE entry IS NOT NULL",
                        [&taken](const Statement& s) { taken.push_back(s.columnInt(0)); });
    if (!read) return read;
    location = choose(taken);
    if (!location) return Ok{};
    // A new message is nothing the SIM held: no record of an earlier one goes with it.
    if (store_ == ListStore::Sms) {
      if (Status forgot = run(db_, "DELETE FROM simpdu WHERE entry=?", *location); !forgot) return forgot;
    }
    return run(db_, "INSERT INTO " + table + " (desc,number,entry,operazione) VALUES (?,?,?,?)",
               std::string_view(entry.nome), std::string_view(entry.telefono), *location,
               entry.operazione);
  });
  if (!added) return added.error();
  return location;
}

Status SimTable::change(const SimEntry& entry) {
  const std::string table(tableOf(store_, book_).name);
  return inTransaction(db_, [&]() -> Status {
    if (store_ == ListStore::Sms) {
      bool part = false;
      Status looked = query(db_, "SELECT 1 FROM simparts WHERE entry=?", [&part](const Statement&) { part = true; },
                            entry.posizione);
      if (!looked) return looked;
      if (part) return Error{Errc::Invalid, "A message in parts can be deleted, not changed."};
    }
    Status changed = run(db_, "UPDATE " + table + " SET desc=?,number=?,operazione=? WHERE entry=?",
                         std::string_view(entry.nome), std::string_view(entry.telefono),
                         entry.operazione, entry.posizione);
    if (!changed) return changed;
    if (db_.changes() == 0) {
      return Error{Errc::NotFound, db_.file().string() + ": no entry " +
                                       std::to_string(entry.posizione) + " in " + table};
    }
    return Ok{};
  });
}

Status SimTable::markDeleted(std::int32_t entry) {
  const std::string table(tableOf(store_, book_).name);
  return inTransaction(db_, [&]() -> Status {
    Status marked = run(db_, "UPDATE " + table + " SET operazione=2 WHERE entry=?", entry);
    if (!marked) return marked;
    if (db_.changes() == 0) {
      return Error{Errc::NotFound,
                   db_.file().string() + ": no entry " + std::to_string(entry) + " in " + table};
    }
    if (store_ != ListStore::Sms) return Ok{};
    // A part of a long message: the whole message goes, every part of it.
    return run(db_,
               "UPDATE simsms SET operazione=2 WHERE entry IN (SELECT p.entry FROM simparts p, simparts q, "
               "simsms s, simsms t WHERE q.entry=? AND p.reference=q.reference AND p.total=q.total "
               "AND s.entry=p.entry AND t.entry=q.entry AND s.number IS t.number)",
               entry);
  });
}

Status SimTable::markAllDeleted() {
  const std::string table(tableOf(store_, book_).name);
  return inTransaction(db_, [&] { return run(db_, "UPDATE " + table + " SET operazione=2"); });
}

Status SimTable::sweep(const std::vector<Confirmed>& confirmed,
                       const std::optional<SimIdentity>& copiedOnto, std::string_view token) {
  const std::string table(tableOf(store_, book_).name);
  const std::string_view store = tableOf(store_, book_).name;
  // What the SIM now holds where the pass wrote: the list shows it as the value a later
  // change replaces. A list copied onto another SIM forgets the first SIM's values.
  auto noteSeen = [&]() -> Status {
    if (copiedOnto) {
      if (Status forgot = run(db_, "DELETE FROM simseen WHERE store=?", store); !forgot) return forgot;
      Status moved = run(db_, "INSERT OR REPLACE INTO simcard (store,iccid,imsi) VALUES (?,?,?)", store,
                         std::string_view(copiedOnto->iccid), std::string_view(copiedOnto->imsi));
      if (!moved) return moved;
    }
    for (const Confirmed& c : confirmed) {
      Status noted =
          c.what == Confirmed::What::Erased
              ? run(db_, "DELETE FROM simseen WHERE store=? AND entry=?", store, c.sent.posizione)
              : run(db_, "INSERT OR REPLACE INTO simseen (store,entry,desc,number) VALUES (?,?,?,?)",
                    store, c.storedAt.value_or(c.sent.posizione), std::string_view(c.took.value_or(c.sent.nome)),
                    std::string_view(c.sent.telefono));
      if (!noted) return noted;
    }
    return Ok{};
  };
  struct Found {
    SimEntry row;
    std::int64_t rowid = 0;
  };
  // Rows are named by rowid once found: their `entry` changes while the sweep runs.
  auto rowAt = [&](std::int32_t entry, std::optional<Found>& found) {
    found.reset();
    return query(
        db_, "SELECT desc,number,entry,operazione,rowid FROM " + table + " WHERE entry=?",
        [&found](const Statement& s) {
          if (!found) found = Found{entryOf(s), s.columnInt64(4)};
        },
        entry);
  };
  auto setMark = [&](std::int64_t rowid, std::int32_t mark) {
    return run(db_, "UPDATE " + table + " SET operazione=? WHERE rowid=?", mark, rowid);
  };
  auto remove = [&](std::int64_t rowid) {
    return run(db_, "DELETE FROM " + table + " WHERE rowid=?", rowid);
  };

  return inTransaction(db_, [&]() -> Status {
    if (Status noted = noteSeen(); !noted) return noted;
    // Where the pass erased a message or stored one, no part of a long message is left,
    // unless what it stored is itself one (a part restored as the SIM held it).
    for (const Confirmed& c : confirmed) {
      if (store_ != ListStore::Sms) break;
      const std::int32_t at = c.what == Confirmed::What::Written ? c.storedAt.value_or(c.sent.posizione)
                                                                 : c.sent.posizione;
      if (Status forgot = run(db_, "DELETE FROM simparts WHERE entry=?", at); !forgot) return forgot;
    }
    for (const Confirmed& c : confirmed) {
      if (store_ != ListStore::Sms || c.what != Confirmed::What::Written || !c.part) continue;
      Status noted = run(db_, "INSERT OR REPLACE INTO simparts (entry,reference,total,part) VALUES (?,?,?,?)",
                         c.storedAt.value_or(c.sent.posizione), c.part->reference, c.part->total, c.part->part);
      if (!noted) return noted;
    }
    if (!token.empty()) {
      Status applied = run(db_, "INSERT OR REPLACE INTO simpass (store,token) VALUES (?,?)", store, token);
      if (!applied) return applied;
    }
    struct Move {
      std::int64_t rowid;
      std::int32_t to;
    };
    std::vector<Move> moves;
    std::set<std::int32_t> claimed;  // indexes the SIM reported as holding a message just stored
    std::optional<Found> found;
    for (const Confirmed& c : confirmed) {
      const bool written = c.what == Confirmed::What::Written;
      if (written && c.storedAt) claimed.insert(*c.storedAt);
      if (Status looked = rowAt(c.sent.posizione, found); !looked) return looked;
      if (!found) continue;
      const bool unchanged = found->row == c.sent;
      const std::int32_t mark = found->row.operazione;
      Status done = Ok{};
      if (written) {
        const std::int32_t now = unchanged ? kMarkInStep : mark == kMarkNew ? kMarkChanged : mark;
        if (now != mark) done = setMark(found->rowid, now);
        if (done && unchanged && c.took && *c.took != c.sent.nome) {
          done = run(db_, "UPDATE " + table + " SET desc=? WHERE rowid=?", std::string_view(*c.took),
                     found->rowid);
        }
        if (c.storedAt) moves.push_back({found->rowid, *c.storedAt});
      } else if (c.sent.operazione == kMarkDeleted) {
        if (unchanged) done = remove(found->rowid);
      } else if (c.sent.operazione == kMarkChanged) {
        if (mark == kMarkChanged) done = setMark(found->rowid, kMarkNew);
        if (mark == kMarkDeleted) done = remove(found->rowid);
      }
      if (!done) return done;
    }
    // Each index's message as the SIM now holds it: first where a message went, then where
    // one was stored. A message erased before its new copy could be stored keeps its record
    // for the row that still holds its text (its status, its sender).
    for (const Confirmed& c : confirmed) {
      if (store_ != ListStore::Sms) break;
      const bool gone = c.what == Confirmed::What::Written
                            ? c.storedAt && *c.storedAt != c.sent.posizione && !c.oldKept
                            : c.sent.operazione == kMarkDeleted;
      if (!gone) continue;
      if (Status forgot = run(db_, "DELETE FROM simpdu WHERE entry=?", c.sent.posizione); !forgot) return forgot;
    }
    for (const Confirmed& c : confirmed) {
      if (store_ != ListStore::Sms || c.what != Confirmed::What::Written || c.record.empty()) continue;
      Status noted = run(db_, "INSERT OR REPLACE INTO simpdu (entry,record) VALUES (?,?)",
                         c.storedAt.value_or(c.sent.posizione), std::string_view(hexUpper(c.record)));
      if (!noted) return noted;
    }
    if (claimed.empty()) return Ok{};

    // A row goes "above": to the first free entry above every entry of the table and every
    // claimed index, as a new row (its message is not on the SIM where the table said).
    const std::int32_t highestClaimed = *claimed.rbegin();
    auto moveAboveAsNew = [&](std::int64_t rowid) {
      return run(db_,
                 "UPDATE " + table + " SET entry=max(coalesce((SELECT max(entry) FROM " + table +
                     "),0),?)+1, operazione=1 WHERE rowid=?",
                 highestClaimed, rowid);
    };
    // 1. The moving rows step below every entry and every claimed index, which frees
    // their indexes (two rows may swap theirs).
    const std::int32_t lowestClaimed = *claimed.begin();
    for (const Move& m : moves) {
      Status freed = run(db_,
                         "UPDATE " + table + " SET entry=min(coalesce((SELECT min(entry) FROM " +
                             table + "),0),?,0)-1 WHERE rowid=?",
                         lowestClaimed, m.rowid);
      if (!freed) return freed;
    }
    // 2. A row left on a claimed index describes a message the SIM no longer has there.
    for (std::int32_t index : claimed) {
      if (Status looked = rowAt(index, found); !looked) return looked;
      if (!found) continue;
      Status cleared = found->row.operazione == kMarkDeleted ? remove(found->rowid)
                                                             : moveAboveAsNew(found->rowid);
      if (!cleared) return cleared;
    }
    // 3. The moving rows take the indexes the SIM stored them at. Only a modem that reports
    // one index twice leaves a row without its place: it goes above, to be written again.
    for (const Move& m : moves) {
      if (Status looked = rowAt(m.to, found); !looked) return looked;
      Status placed =
          found ? moveAboveAsNew(m.rowid)
                : run(db_, "UPDATE " + table + " SET entry=? WHERE rowid=?", m.to, m.rowid);
      if (!placed) return placed;
    }
    // 4. An old copy the SIM kept is a delete still to send, at its own index.
    for (const Confirmed& c : confirmed) {
      if (!c.oldKept || c.what != Confirmed::What::Written) continue;
      if (Status looked = rowAt(c.sent.posizione, found); !looked) return looked;
      if (found) continue;  // a row describes that index already
      std::string text = c.sent.nome;
      Status seenText = query(
          db_, "SELECT desc FROM simseen WHERE store=? AND entry=?",
          [&text](const Statement& s) { text = s.columnText(0); }, store, c.sent.posizione);
      if (!seenText) return seenText;
      Status pending = run(db_, "INSERT INTO " + table + " (entry,desc,number,operazione) VALUES (?,?,?,?)",
                           c.sent.posizione, std::string_view(text), std::string_view(c.sent.telefono),
                           kMarkDeleted);
      if (!pending) return pending;
    }
    return Ok{};
  });
}

}  // namespace voryx

namespace voryx {
namespace {

Error ioError(const std::filesystem::path& file, int code) {
  return Error{Errc::Io, file.string() + ": " + std::strerror(code)};
}

}  // namespace

std::filesystem::path SimTable::journalFile() const {
  std::filesystem::path file = db_.file();
  file += ".pass-" + std::string(tableOf(store_, book_).name);
  return file;
}

Status SimTable::journal(std::string_view token, const Confirmed& confirmed) {
  const std::filesystem::path file = journalFile();
  const bool start = journalToken_ != token;
  std::string text = start ? passJournalHead(token) : journalText_;
  text += passJournalLine(confirmed);
  // The whole journal is written anew with each line: a reader finds it as it was or
  // with the new line, never with a line cut short.
  Status written = writeFileAtomically(file, text, 0600);
  if (!written) {
    // Worded as this table's other file errors: "<file>: <reason>".
    const std::string& detail = written.error().detail;
    const std::size_t reason = detail.rfind(": ");
    return Error{Errc::Io, file.string() + ": " + (reason == std::string::npos ? detail : detail.substr(reason + 2))};
  }
  journalToken_ = std::string(token);
  journalText_ = std::move(text);
  return Ok{};
}

Status SimTable::applyJournal(std::vector<Confirmed>* unsettled) {
  const std::filesystem::path file = journalFile();
  auto text = readWholeFile(file);
  if (!text) return Ok{};  // none
  PassJournal journal = parsePassJournal(*text);
  const std::string& token = journal.token;
  const std::vector<Confirmed>& confirmed = journal.confirmed;
  bool applied = token.empty();  // a file without its first line holds nothing to apply
  if (!applied) {
    Status looked = query(
        db_, "SELECT 1 FROM simpass WHERE store=? AND token=?", [&applied](const Statement&) { applied = true; },
        tableOf(store_, book_).name, std::string_view(token));
    if (!looked) return looked;
  }
  if (!applied) {
    if (Status swept = sweep(confirmed, std::nullopt, token); !swept) return swept;
  }
  // The journal stays while the SIM has not been asked about what the pass was storing.
  if (!journal.unsettled.empty() && unsettled) {
    *unsettled = journal.unsettled;
    return Ok{};
  }
  if (!journal.unsettled.empty()) return Ok{};
  return settleJournal({});
}

Status SimTable::settleJournal(const std::vector<Confirmed>& found) {
  if (!found.empty()) {
    if (Status swept = sweep(found); !swept) return swept;
  }
  const std::filesystem::path file = journalFile();
  std::error_code ec;
  std::filesystem::remove(file, ec);
  if (ec) return ioError(file, ec.value());
  journalToken_.clear();
  journalText_.clear();
  return Ok{};
}

}  // namespace voryx
