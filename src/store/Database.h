#pragma once
// RAII over sqlite3. Every sqlite3* and sqlite3_stmt* has exactly one owning object.
// No long-lived connection: a connection lives for one task (a list load, a job) and goes
// with it. A Database and its Statements belong to one thread at a time; a Statement must
// not outlive the Database that prepared it. No busy timeout is set here: a locked file
// answers Busy at once unless the owner sets one (SimTable sets its policy's bound).
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
  // Step results told apart as the list loading needs them. Busy also covers a lock
  // held by another connection of this process (SQLITE_LOCKED); Corrupt also covers a
  // file that is not a database at all (SQLITE_NOTADB).
  enum class Step { Row, Done, Busy, Corrupt, Error };

  Step step();
  // Parameters are 1-based. Text is bound as a transient UTF-8 copy, so the argument
  // need not outlive the call. False when the index is out of range, the text is longer
  // than the connection allows, or memory ran out.
  bool bindText(int index, std::string_view utf8);
  bool bindInt(int index, std::int32_t value);
  bool bindInt64(int index, std::int64_t value);
  // Makes the statement ready to step again from the start; bindings are kept.
  void reset();
  void clearBindings();
  // Columns are 0-based, read from the current row. NULL text reads as "", NULL
  // integers as 0.
  std::string columnText(int column) const;
  std::int32_t columnInt(int column) const;
  std::int64_t columnInt64(int column) const;
  int lastCode() const { return lastCode_; }  // sqlite result code of the last call
  std::string errorMessage() const;           // the connection's text for that code

 private:
  friend class Database;
  struct Finalize {
    void operator()(sqlite3_stmt* s) const { sqlite3_finalize(s); }
  };
  explicit Statement(sqlite3_stmt* stmt) : stmt_(stmt) {}
  std::unique_ptr<sqlite3_stmt, Finalize> stmt_;
  int lastCode_ = SQLITE_OK;
};

class Database {
 public:
  // Opens an existing file for reading and writing; a missing file is an error and no
  // file is created (start-up copies the shipped database). A file that is not a
  // database opens; its first statement then fails. A file SQLite could open only for
  // reading is refused, so that no change is ever lost at its first write.
  // Errors (detail "<file>: <reason>", the reason from errno where the system gave one,
  // "permission denied" for EACCES/EPERM):
  //   NotFound  the file is missing (its folder exists)
  //   Io        it cannot be opened, or not for writing (permission, read-only file
  //             system, missing folder, ...)
  static Result<Database> open(const std::filesystem::path& file);

  // Prepares the first statement of sql. Errors: Busy (the schema could not be read
  // because another connection holds the file locked), Corrupt (damaged file or not a
  // database), Invalid (bad SQL, missing table or column), Io.
  Result<Statement> prepare(std::string_view sql);
  // One statement without parameters, stepped to its end (rows are dropped). Errors as
  // prepare, and Busy / Corrupt / Io from the steps.
  Status exec(std::string_view sql);
  // The error of a call on this connection (or one of its statements) that answered
  // `code`: Busy, Corrupt, Invalid or Io, detail "<file>: <reason>".
  Error error(int code) const;
  // Rows changed by the latest INSERT, UPDATE or DELETE on this connection.
  int changes() const { return sqlite3_changes(db_.get()); }
  sqlite3* handle() const { return db_.get(); }
  const std::filesystem::path& file() const { return file_; }

 private:
  struct Close {
    // close_v2: the handle goes once the last statement is finalized, whatever the
    // order of destruction.
    void operator()(sqlite3* d) const { sqlite3_close_v2(d); }
  };
  Database(sqlite3* db, std::filesystem::path file) : db_(db), file_(std::move(file)) {}
  std::unique_ptr<sqlite3, Close> db_;
  std::filesystem::path file_;
};

// Opens a write transaction ("BEGIN IMMEDIATE", so that another connection's lock is met
// here, where nothing has changed yet, rather than at COMMIT) and rolls it back in its
// destructor unless commit() ran. active() is false when BEGIN failed (for instance
// Busy); begun() then holds the error and commit() fails too.
class Transaction {
 public:
  explicit Transaction(Database& db);
  ~Transaction();
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;
  // Errors: Busy when another connection still reads the file (the transaction stays
  // open and commit() may be tried again), else as Database::exec.
  Status commit();
  bool active() const { return active_; }
  const Status& begun() const { return begun_; }

 private:
  Database& db_;
  Status begun_;
  bool active_ = false;
};

}  // namespace voryx
