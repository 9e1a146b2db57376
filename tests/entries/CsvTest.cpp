#include "entries/Csv.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "store/TempDir.h"

namespace voryx::entries {
namespace {

TEST(CsvTest, WritesOneLineAnEntry) {
  EXPECT_EQ(csvText({{3, "Anna", "+123", 0}, {1, "Bob", "555", 2}, {7, "Carl", "", 1}}),
            "Anna;+123\nBob;555\nCarl;\n");
}

TEST(CsvTest, ReadsWholeLinesAndSkipsWhatIsNoRecord) {
  const std::string longName(140, 'x');
  struct Case {
    std::string text;
    std::vector<SimEntry> rows;
    int lines, skipped;
  };
  const Case kCases[] = {
      {"Name;Number;Type\nAnna;+123\n\nno separator\nA;b;c\nBob;555", {{1, "Anna", "+123", 3}, {2, "Bob", "555", 3}}, 6, 4},
      {"Anna;1\r\nBob;2\r\n", {{1, "Anna", "1", 3}, {2, "Bob", "2", 3}}, 2, 0},
      {"Ren\xE9;1\nZo\xC3\xAB;2\n", {{1, "René", "1", 3}, {2, "Zoë", "2", 3}}, 2, 0},  // Latin-1, UTF-8
      {longName + ";+391234567\n", {{1, longName, "+391234567", 3}}, 1, 0},           // 152 bytes, whole
      {"", {}, 0, 0},
      {"\n", {}, 1, 1},
  };
  for (const auto& c : kCases) {
    const CsvRecords r = parseCsv(c.text);
    EXPECT_EQ(r.rows, c.rows) << c.text.substr(0, 30);
    EXPECT_EQ(r.lines, c.lines) << c.text.substr(0, 30);
    EXPECT_EQ(r.skipped, c.skipped) << c.text.substr(0, 30);
  }
}

class CsvDbTest : public test::ShippedDbTest {
 protected:
  void SetUp() override {
    ShippedDbTest::SetUp();
    exec("INSERT INTO sim VALUES (1,'Old','111',0),(5,'Edited','555',3),(6,'Gone','6',2)");
  }
  std::filesystem::path csv_ = dir_ / "Documents" / "Voryx.csv";
};

TEST_F(CsvDbTest, NamesOfEveryScriptSurviveARoundTrip) {
  const std::vector<SimEntry> shown = {{4, "Иван Петров", "+79161234567", 0}, {2, "Γιώργος", "+30691", 1},
                                       {9, "山田太郎", "0312", 3},              {1, "Hélène Dubois", "", 2}};
  ASSERT_TRUE(exportCsv(csv_, shown).ok());  // the missing folder is made
  auto report = restoreCsv(csv_, db_, 250);
  ASSERT_TRUE(report.ok()) << report.error().detail;
  EXPECT_EQ(report->restored, 4);
  std::vector<SimEntry> expected;
  for (std::size_t i = 0; i < shown.size(); ++i) {
    expected.push_back({static_cast<std::int32_t>(i + 1), shown[i].nome, shown[i].telefono, kMarkChanged});
  }
  EXPECT_EQ(rows(), expected);
}

TEST_F(CsvDbTest, RestoreIsAllOrNothing) {
  const auto before = rows();
  auto restore = [&](const std::string& text, int maxSIM) {
    test::writeFile(csv_.parent_path() / "in.csv", text);
    return restoreCsv(csv_.parent_path() / "in.csv", db_, maxSIM);
  };
  std::filesystem::create_directories(csv_.parent_path());
  EXPECT_EQ(restoreCsv(csv_, db_, 250).error().code, Errc::NotFound);  // no file: nothing changes
  EXPECT_EQ(restore("", 250)->restored, 0);                          // no line: nothing changes
  EXPECT_EQ(rows(), before);

  // An insert that fails half-way (a trigger stands in for a full disk): every row and
  // mark stays.
  exec("CREATE TRIGGER boom BEFORE INSERT ON sim WHEN NEW.desc='Boom' BEGIN SELECT RAISE(ABORT, 'boom'); END");
  EXPECT_FALSE(restore("Anna;1\nBoom;2\nCarl;3\n", 250).ok());
  EXPECT_EQ(rows(), before);
  exec("DROP TRIGGER boom");

  // More records than the SIM has locations: the rest is left out and counted.
  auto capped = restore("A;1\nB;2\nC;3\nD;4\n", 3);
  ASSERT_TRUE(capped.ok());
  EXPECT_EQ(capped->leftOut, 1);
  EXPECT_EQ(rows().back(), (SimEntry{3, "C", "3", kMarkChanged}));
  // A header alone: the table is emptied, as any restore replaces it.
  EXPECT_EQ(restore("Name;Number;Type\n", 3)->skipped, 1);
  EXPECT_TRUE(rows().empty());
}

TEST_F(CsvDbTest, AFailedExportLeavesTheOldFile) {
  ASSERT_TRUE(exportCsv(csv_, {{1, "Anna", "1", 0}}).ok());
  if (::geteuid() == 0) GTEST_SKIP() << "root writes into a read-only folder";
  ::chmod(csv_.parent_path().c_str(), 0500);
  const Status failed = exportCsv(csv_, {{1, "Bob", "2", 0}});
  ::chmod(csv_.parent_path().c_str(), 0700);
  ASSERT_FALSE(failed.ok());
  EXPECT_NE(failed.error().detail.find(csv_.parent_path().string()), std::string::npos) << failed.error().detail;
  EXPECT_EQ(test::readFile(csv_), "Anna;1\n");
}

}  // namespace
}  // namespace voryx::entries
