#include "store/Database.h"

#include <climits>

namespace voryx {
namespace {

Errc errcOf(int code) {
  switch (code & 0xff) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return Errc::Busy;
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
      return Errc::Corrupt;
    case SQLITE_CANTOPEN:
      return Errc::NotFound;
    case SQLITE_ERROR:
    case SQLITE_RANGE:
    case SQLITE_MISUSE:
      return Errc::Invalid;
    default:
      return Errc::Io;
  }
}

Error errorOf(sqlite3* db, int code, std::string_view what) {
  std::string detail(what);
  detail += ": ";
  detail += db ? sqlite3_errmsg(db) : sqlite3_errstr(code);
  return Error{errcOf(code), std::move(detail)};
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

std::string Statement::errorMessage() const {
  return sqlite3_errmsg(sqlite3_db_handle(stmt_.get()));
}

Result<Database> Database::open(const std::filesystem::path& file) {
  sqlite3* raw = nullptr;
  int rc = sqlite3_open_v2(file.c_str(), &raw, SQLITE_OPEN_READWRITE, nullptr);
  Database db(raw);  // owns the handle also when opening failed
  if (rc != SQLITE_OK) return errorOf(raw, rc, "cannot open " + file.string());
  return db;
}

Result<Statement> Database::prepare(std::string_view sql) {
  if (sql.size() > INT_MAX) return Error{Errc::TooLarge, "statement too long"};
  sqlite3_stmt* raw = nullptr;
  const char* tail = nullptr;
  int rc = sqlite3_prepare_v2(db_.get(), sql.data(), static_cast<int>(sql.size()), &raw, &tail);
  Statement stmt(raw);
  if (rc != SQLITE_OK) return errorOf(db_.get(), rc, "cannot prepare \"" + std::string(sql) + "\"");
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
        return errorOf(db_.get(), stmt->lastCode(), "cannot run \"" + std::string(sql) + "\"");
    }
  }
}

Transaction::Transaction(Database& db) : db_(db) { active_ = db_.exec("BEGIN").ok(); }

Transaction::~Transaction() {
  if (active_) db_.exec("ROLLBACK");
}

Status Transaction::commit() {
  if (!active_) return Error{Errc::Io, "no open transaction"};
  Status s = db_.exec("COMMIT");
  // A failed COMMIT may have rolled back on its own; then nothing is left to undo.
  active_ = !s && sqlite3_get_autocommit(db_.handle()) == 0;
  return s;
}

}  // namespace voryx
