#pragma once
// A fresh folder under /tmp for one test, removed with everything in it afterwards; and
// small whole-file helpers.
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

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

inline unsigned modeOf(const std::filesystem::path& p) {
  struct stat st {};
  ::stat(p.c_str(), &st);
  return st.st_mode & 07777;
}

// The database the build generates from resources/schema.sql.
inline std::filesystem::path shippedDatabase() {
  return std::filesystem::path(VORYX_BINARY_DIR) / "resources" / "Voryx.sqlitedb";
}

}  // namespace voryx::test
