#include "store/Database.h"

#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstring>
#include <system_error>

namespace voryx {
namespace {

namespace fs = std::filesystem;

Errc errcOf(int code) {
  switch (code & 0xff) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return Errc::Busy;
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
      return Errc::Corrupt;
    case SQLITE_ERROR:
    case SQLITE_RANGE:
    case SQLITE_MISUSE:
    case SQLITE_CONSTRAINT:
    case SQLITE_MISMATCH:
      return Errc::Invalid;
    case SQLITE_TOOBIG:
      return Errc::TooLarge;
    default:
      return Errc::Io;
  }
}

// An errno as a user reads it after a file name: "permission denied" for both ways the
// system refuses access, else the system's text starting in lower case.
std::string reasonOf(int err) {
  if (err == EACCES || err == EPERM) return "permission denied";
  std::string text = std::strerror(err);
  if (!text.empty()) text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
  return text;
}

// The reason of a failed call: for a file that could not be opened or read, the system's
// errno (SQLite's own text, "unable to open database file", does not say why), else
// SQLite's message.
std::string reasonOf(sqlite3* db, int code) {
  const int primary = code & 0xff;
  if (db && (primary == SQLITE_CANTOPEN || primary == SQLITE_IOERR)) {
    if (int err = sqlite3_system_errno(db)) return reasonOf(err);
  }
  return db ? sqlite3_errmsg(db) : sqlite3_errstr(code);
}

// A statement text is worth showing only when the statement itself is at fault.
Error naming(Error e, std::string_view sql) {
  if (e.code == Errc::Invalid) e.detail += " (in \"" + std::string(sql) + "\")";
  return e;
}

}  // namespace

Statement::Step Statement::step() {
  lastCode_ = sqlite3_step(stmt_.get());
  switch (lastCode_ & 0xff) {
    case SQLITE_ROW:
      return Step::Row;
    case SQLITE_DONE:
      return Step::Done;
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return Step::Busy;
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
      return Step::Corrupt;
    default:
      return Step::Error;
  }
}

bool Statement::bindText(int index, std::string_view utf8) {
  // A zero-length view may carry a null data pointer, which sqlite would bind as NULL.
  static constexpr char kEmpty[] = "";
  const char* data = utf8.empty() ? kEmpty : utf8.data();
  lastCode_ = sqlite3_bind_text64(stmt_.get(), index, data, utf8.size(), SQLITE_TRANSIENT,
                                  SQLITE_UTF8);
  return lastCode_ == SQLITE_OK;
}

bool Statement::bindInt(int index, std::int32_t value) {
  lastCode_ = sqlite3_bind_int(stmt_.get(), index, value);
  return lastCode_ == SQLITE_OK;
}

bool Statement::bindInt64(int index, std::int64_t value) {
  lastCode_ = sqlite3_bind_int64(stmt_.get(), index, value);
  return lastCode_ == SQLITE_OK;
}

void Statement::reset() { lastCode_ = sqlite3_reset(stmt_.get()); }

void Statement::clearBindings() { lastCode_ = sqlite3_clear_bindings(stmt_.get()); }

std::string Statement::columnText(int column) const {
  const unsigned char* text = sqlite3_column_text(stmt_.get(), column);
  if (!text) return {};
  int size = sqlite3_column_bytes(stmt_.get(), column);
  return std::string(reinterpret_cast<const char*>(text), static_cast<std::size_t>(size));
}

std::int32_t Statement::columnInt(int column) const {
  return sqlite3_column_int(stmt_.get(), column);
}

std::int64_t Statement::columnInt64(int column) const {
  return sqlite3_column_int64(stmt_.get(), column);
}

std::string Statement::errorMessage() const {
  return sqlite3_errmsg(sqlite3_db_handle(stmt_.get()));
}

Result<Database> Database::open(const fs::path& file) {
  sqlite3* raw = nullptr;
  int rc = sqlite3_open_v2(file.c_str(), &raw, SQLITE_OPEN_READWRITE, nullptr);
  Database db(raw, file);  // owns the handle also when opening failed
  if (rc != SQLITE_OK) {
    if (raw && sqlite3_system_errno(raw) == ENOENT) {
      const fs::path dir = file.parent_path().empty() ? fs::path(".") : file.parent_path();
      std::error_code ec;
      if (fs::is_directory(dir, ec)) return Error{Errc::NotFound, file.string() + ": no such file"};
    }
    return db.error(rc);
  }
  // SQLite falls back to reading only when the file cannot be opened for writing, and
  // would tell so only at the first change.
  if (sqlite3_db_readonly(raw, "main") == 1) {
    const int err = ::access(file.c_str(), W_OK) == 0 ? 0 : errno;
    return Error{Errc::Io,
                 file.string() + ": " + (err ? reasonOf(err) : "opened for reading only")};
  }
  return db;
}

Error Database::error(int code) const {
  return Error{errcOf(code), file_.string() + ": " + reasonOf(db_.get(), code)};
}

Result<Statement> Database::prepare(std::string_view sql) {
  if (sql.size() > INT_MAX) return Error{Errc::TooLarge, "statement too long"};
  sqlite3_stmt* raw = nullptr;
  const char* tail = nullptr;
  int rc = sqlite3_prepare_v2(db_.get(), sql.data(), static_cast<int>(sql.size()), &raw, &tail);
  Statement stmt(raw);
  if (rc != SQLITE_OK) return naming(error(rc), sql);
  if (!raw) return Error{Errc::Invalid, "empty statement"};
  // One statement at a time: a second one would otherwise be dropped without a word.
  const std::string_view rest(tail, static_cast<std::size_t>(sql.data() + sql.size() - tail));
  if (rest.find_first_not_of(" \t\r\n;") != std::string_view::npos) {
    return Error{Errc::Invalid, "more than one statement in \"" + std::string(sql) + "\""};
  }
  return stmt;
}

Status Database::exec(std::string_view sql) {
  auto stmt = prepare(sql);
  if (!stmt) return stmt.error();
  while (true) {
    switch (stmt->step()) {
      case Statement::Step::Row:
        continue;
      case Statement::Step::Done:
        return Ok{};
      default:
        return naming(error(stmt->lastCode()), sql);
    }
  }
}

Transaction::Transaction(Database& db) : db_(db), begun_(db_.exec("BEGIN IMMEDIATE")) {
  active_ = begun_.ok();
}

Transaction::~Transaction() {
  if (active_) db_.exec("ROLLBACK");
}

Status Transaction::commit() {
  if (!active_) return begun_.ok() ? Error{Errc::Io, "no open transaction"} : begun_.error();
  Status s = db_.exec("COMMIT");
  // A failed COMMIT may have rolled back on its own; then nothing is left to undo.
  active_ = !s && sqlite3_get_autocommit(db_.handle()) == 0;
  return s;
}

}  // namespace voryx
