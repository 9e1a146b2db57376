#include "base/AtomicFile.h"

#include <sys/resource.h>

#include <gtest/gtest.h>

#include <csignal>
#include <optional>

#include "support/TempDir.h"

namespace voryx {
namespace {

namespace fs = std::filesystem;
using test::filesIn;
using test::readFile;
using test::writeFile;

TEST(AtomicFileTest, WritesContentAndModeAndNoReplaceKeepsAnExistingFile) {
  test::TempDir dir;
  const fs::path file = dir / "sim.txt";
  const std::string big(200000, 'x');
  using Write = std::pair<std::string, unsigned>;
  for (const auto& [data, mode] : {Write{"first", 0600}, Write{big, 0644}}) {  // the second replaces
    ASSERT_TRUE(writeFileAtomically(file, data, mode).ok());
    EXPECT_EQ(readFile(file), data);
    EXPECT_EQ(test::modeOf(file), mode);
  }
  EXPECT_EQ(createFileAtomically(file, "other", 0600).value(), false);
  EXPECT_EQ(readFile(file), big);
  EXPECT_EQ(createFileAtomically(dir / "db", "", 0600).value(), true);
  EXPECT_EQ(filesIn(dir.path), (std::vector<fs::path>{dir / "db", file}));  // no temporary
}

TEST(AtomicFileTest, AFailureLeavesTheOldFileAndNoTemporary) {
  struct Case {
    const char* target;  // in a folder that holds "old" and "taken/inside"
    bool diskFull;
    const char* detailBefore;  // the folder's name comes between
    const char* detailAfter;
  };
  const Case cases[] = {
      {"no/such/file", false, "cannot create a file in ", "/no/such: No such file or directory"},
      {"taken", false, "cannot write ", "/taken: Is a directory"},
      {"old", true, "cannot write ", "/old: File too large"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.target);
    test::TempDir dir;
    writeFile(dir / "old", "previous");
    fs::create_directory(dir / "taken");
    writeFile(dir / "taken" / "inside", "x");
    std::optional<test::FileSizeLimit> limit;
    if (c.diskFull) limit.emplace(4096);
    Status done = writeFileAtomically(dir / c.target, std::string(8192, 'n'), 0600);
    limit.reset();
    ASSERT_FALSE(done.ok());
    EXPECT_EQ(done.error().detail, c.detailBefore + dir.path.string() + c.detailAfter);
    EXPECT_EQ(readFile(dir / "old"), "previous");
    EXPECT_EQ(filesIn(dir.path), (std::vector<fs::path>{dir / "old", dir / "taken"}));  // no temporary
  }
}

}  // namespace
}  // namespace voryx
