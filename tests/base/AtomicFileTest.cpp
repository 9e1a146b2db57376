#include "base/AtomicFile.h"

#include <sys/resource.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <optional>

#include "store/TempDir.h"

namespace voryx {
namespace {

namespace fs = std::filesystem;
using test::readFile;
using test::writeFile;

std::vector<std::string> namesIn(const fs::path& dir) {
  std::vector<std::string> out;
  for (const auto& e : fs::directory_iterator(dir)) out.push_back(e.path().filename().string());
  std::sort(out.begin(), out.end());
  return out;
}

TEST(AtomicFileTest, WritesContentAndModeAndNoReplaceKeepsAnExistingFile) {
  test::TempDir dir;
  const fs::path file = dir / "sim.txt";
  ASSERT_TRUE(writeFileAtomically(file, "first", 0600).ok());
  EXPECT_EQ(readFile(file), "first");
  EXPECT_EQ(test::modeOf(file), 0600u);
  ASSERT_TRUE(writeFileAtomically(file, std::string(200000, 'x'), 0644).ok());  // replaced
  EXPECT_EQ(readFile(file), std::string(200000, 'x'));
  EXPECT_EQ(test::modeOf(file), 0644u);

  auto created = createFileAtomically(file, "other", 0600);
  ASSERT_TRUE(created.ok());
  EXPECT_FALSE(*created);
  EXPECT_EQ(readFile(file), std::string(200000, 'x'));
  created = createFileAtomically(dir / "db", "", 0600);
  ASSERT_TRUE(created.ok());
  EXPECT_TRUE(*created);
  EXPECT_EQ(readFile(dir / "db"), "");
  EXPECT_EQ(namesIn(dir.path), (std::vector<std::string>{"db", "sim.txt"}));  // no temporary
}

// A write past RLIMIT_FSIZE fails with EFBIG (SIGXFSZ ignored): a full disk, as root sees it.
struct FileSizeLimit {
  explicit FileSizeLimit(rlim_t bytes) {
    ::getrlimit(RLIMIT_FSIZE, &saved);
    rlimit limit = saved;
    limit.rlim_cur = bytes;
    ::setrlimit(RLIMIT_FSIZE, &limit);
    previous = std::signal(SIGXFSZ, SIG_IGN);
  }
  ~FileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);
  }
  rlimit saved{};
  void (*previous)(int) = nullptr;
};

TEST(AtomicFileTest, AFailureLeavesTheOldFileAndNoTemporary) {
  struct Case {
    const char* target;  // in a folder that holds "old" and "taken/inside"
    bool diskFull;
    const char* detail;  // "{}" stands for the folder
  };
  const Case cases[] = {
      {"no/such/file", false, "cannot create a file in {}/no/such: No such file or directory"},
      {"taken", false, "cannot write {}/taken: Is a directory"},
      {"old", true, "cannot write {}/old: File too large"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.target);
    test::TempDir dir;
    writeFile(dir / "old", "previous");
    fs::create_directory(dir / "taken");
    writeFile(dir / "taken" / "inside", "x");
    std::optional<FileSizeLimit> limit;
    if (c.diskFull) limit.emplace(4096);
    Status done = writeFileAtomically(dir / c.target, std::string(8192, 'n'), 0600);
    limit.reset();
    ASSERT_FALSE(done.ok());
    std::string expected = c.detail;
    expected.replace(expected.find("{}"), 2, dir.path.string());
    EXPECT_EQ(done.error().detail, expected);
    EXPECT_EQ(readFile(dir / "old"), "previous");
    EXPECT_EQ(namesIn(dir.path), (std::vector<std::string>{"old", "taken"}));  // no temporary
  }
}

}  // namespace
}  // namespace voryx
