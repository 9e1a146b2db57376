#pragma once
// RAII over sqlite3. Every sqlite3* and sqlite3_stmt* has exactly one owning object.
// No long-lived connection: each operation opens the file, works and lets the Database
// go. (Draft interface: the store owner completes it; callers rely on the names below.)
#include <sqlite3.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

#include "base/Result.h"

namespace voryx {

class Statement {
 public:
  // Step results told apart as the list loading needs them.
  enum class Step { Row, Done, Busy, Corrupt, Error };

  Step step();
  bool bindText(int index, std::string_view utf8);  // transient copy
  bool bindInt(int index, std::int32_t value);
  void reset();
  void clearBindings();
  std::string columnText(int column) const;         // NULL reads as ""
  std::int32_t columnInt(int column) const;
  int lastCode() const;                              // sqlite result code of the last call

 private:
  friend class Database;
  struct Finalize { void operator()(sqlite3_stmt* s) const { sqlite3_finalize(s); } };
  std::unique_ptr<sqlite3_stmt, Finalize> stmt_;
  int lastCode_ = SQLITE_OK;
};

class Database {
 public:
  // Opens an existing file for reading and writing; a missing file is an error (the
  // program never creates tables: start-up copies the shipped database).
  static Result<Database> open(const std::filesystem::path& file);

  Result<Statement> prepare(std::string_view sql);
  Status exec(std::string_view sql);  // one statement, stepped to its end
  sqlite3* handle() const { return db_.get(); }

 private:
  struct Close { void operator()(sqlite3* d) const { sqlite3_close(d); } };
  std::unique_ptr<sqlite3, Close> db_;
};

// Rolls back in its destructor unless commit() ran.
class Transaction {
 public:
  explicit Transaction(Database& db);
  ~Transaction();
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;
  Status commit();
  bool active() const { return active_; }

 private:
  Database& db_;
  bool active_ = false;
};

}  // namespace voryx
