#pragma once
// A fresh folder under /tmp for one test, removed with everything in it afterwards; and
// small whole-file helpers.
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "store/Database.h"
#include "store/SimTable.h"

namespace voryx::test {

struct TempDir {
  TempDir() = default;
  TempDir(const TempDir&) = delete;
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
  }
  std::filesystem::path operator/(const std::string& name) const { return path / name; }

  std::filesystem::path path = [] {
    char pattern[] = "/tmp/voryx-test-XXXXXX";
    return std::filesystem::path(::mkdtemp(pattern));
  }();
};

inline std::string readFile(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void writeFile(const std::filesystem::path& p, const std::string& bytes) {
  std::ofstream(p, std::ios::binary | std::ios::trunc) << bytes;
}

// A write past RLIMIT_FSIZE fails with EFBIG (SIGXFSZ ignored): a full disk, as root sees it.
struct FileSizeLimit {
  explicit FileSizeLimit(rlim_t bytes) : previous(std::signal(SIGXFSZ, SIG_IGN)) {
    ::getrlimit(RLIMIT_FSIZE, &saved);
    const rlimit limit{bytes, saved.rlim_max};
    ::setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~FileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);
  }
  void (*previous)(int);
  rlimit saved{};
};

inline unsigned modeOf(const std::filesystem::path& p) {
  struct stat st {};
  ::stat(p.c_str(), &st);
  return st.st_mode & 07777;
}

// What a folder holds, sorted: a stray temporary or a file moved aside shows here.
inline std::vector<std::filesystem::path> filesIn(const std::filesystem::path& dir) {
  std::vector<std::filesystem::path> out;
  for (const auto& e : std::filesystem::directory_iterator(dir)) out.push_back(e.path());
  std::sort(out.begin(), out.end());
  return out;
}

// The database the build generates from resources/schema.sql.
inline std::filesystem::path shippedDatabase() {
  return std::filesystem::path(VORYX_BINARY_DIR) / "resources" / "Voryx.sqlitedb";
}

// Runs one statement on its own connection to `file`.
inline void exec(const std::filesystem::path& file, const std::string& sql) {
  auto done = Database::open(file)->exec(sql);
  ASSERT_TRUE(done.ok()) << done.error().detail;
}

// The first column of the first row a query answers, as text ("" when there is none).
inline std::string queryText(const std::filesystem::path& file, const std::string& sql) {
  auto db = Database::open(file);
  auto stmt = db->prepare(sql);
  EXPECT_TRUE(stmt.ok()) << stmt.error().detail;
  return stmt.ok() && stmt->step() == Statement::Step::Row ? stmt->columnText(0) : "";
}

// A test with a copy of the shipped database of its own.
class ShippedDbTest : public ::testing::Test {
 protected:
  void SetUp() override { std::filesystem::copy_file(shippedDatabase(), db_); }
  void exec(const std::string& sql) { test::exec(db_, sql); }
  // The rows of one store's table, by location.
  std::vector<SimEntry> rows(ListStore store = ListStore::Phonebook) {
    auto list = SimTable::open(db_, store).value().list();
    EXPECT_TRUE(list.ok()) << list.error().detail;
    return list.ok() ? *list : std::vector<SimEntry>{};
  }

  TempDir dir_;
  std::filesystem::path db_ = dir_ / "Voryx.sqlitedb";
};

}  // namespace voryx::test
