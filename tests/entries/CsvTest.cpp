#include "entries/Csv.h"

#include <filesystem>

#include <gtest/gtest.h>

#include "entries/Editing.h"
#include "support/TempDir.h"

namespace voryx::entries {
namespace {

TEST(CsvTest, WritesOneLineAnEntry) {
  EXPECT_EQ(csvText({{3, "Anna", "+123", 0}, {1, "Bob", "555", 2}, {7, "Carl", "", 1}}),
            "Anna;+123\nBob;555\nCarl;\n");
  // A line break the SIM holds in a name cannot break the file's lines.
  EXPECT_EQ(csvText({{1, "New\nLine", "1\r", 0}}), "New Line;1 \n");
}

TEST(CsvTest, ReadsWholeLinesAndSkipsWhatIsNoRecord) {
  const std::string longName(140, 'x');
  std::string twelveBad;
  for (int i = 0; i < 12; ++i) twelveBad += "bad\n";
  struct Case {
    std::string text;
    std::vector<SimEntry> rows;
    int lines, skipped;
    std::vector<int> skippedLines;
  };
  const Case kCases[] = {
      {"Name;Number;Type\nAnna;+123\n\nno separator\nA;b;c\nBob;555",
       {{1, "Anna", "+123", 3}, {2, "Bob", "555", 3}}, 6, 3, {1, 4, 5}},
      {"Anna;1\r\nBob;2\r\n", {{1, "Anna", "1", 3}, {2, "Bob", "2", 3}}, 2, 0, {}},
      {"Ren\xE9;1\nZo\xC3\xAB;2\n", {{1, "René", "1", 3}, {2, "Zoë", "2", 3}}, 2, 0, {}},  // Latin-1, UTF-8
      {longName + ";+391234567\n", {{1, longName, "+391234567", 3}}, 1, 0, {}},           // 152 bytes, whole
      {"\xEF\xBB\xBF" "Anna;1\n\xEF\xBB\xBF" "Bob;2\n", {{1, "Anna", "1", 3}, {2, "Bob", "2", 3}}, 2, 0, {}},  // marks
      // A name with ";" splits at the last one, a number with ";" at the first.
      {"Semi;colon;123\nAnna;1;2\nMany;semi;colons;\n;Lead;4\n",
       {{1, "Semi;colon", "123", 3}, {2, "Anna", "1;2", 3}, {3, "Many;semi;colons", "", 3}, {4, ";Lead", "4", 3}}, 4, 0, {}},
      {"A;b;1;2\n", {{1, "A;b;1", "2", 3}}, 1, 0, {}},  // both hold ";": no rule can tell
      {"Semi;colon;+39 02 1\nName;+39 02 1\n", {{1, "Name", "+39 02 1", 3}}, 2, 1, {1}},
      // Control characters: blanks for tabs and line breaks, the rest dropped.
      {std::string("Tab\tName;1\rX\nN\0ul;\0" "2\nA\x85" "B;3\n", 27),
       {{1, "Tab Name", "1 X", 3}, {2, "Nul", "2", 3}, {3, "A B", "3", 3}}, 3, 0, {}},
      {std::string("\xFF\xFE;a;b\0\n \t\x01 \r\n;\n", 16), {{1, "", "", 3}}, 3, 1, {1}},  // blanks pass
      {twelveBad, {}, 12, 12, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}},
      {"", {}, 0, 0, {}},
      {"\n", {}, 1, 0, {}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(testing::PrintToString(c.text.substr(0, 30)));
    const CsvRecords r = parseCsv(c.text);
    EXPECT_EQ(r.rows, c.rows);
    EXPECT_EQ(r.lines, c.lines);
    EXPECT_EQ(r.skipped, c.skipped);
    EXPECT_EQ(r.skippedLines, c.skippedLines);
  }
}

TEST(CsvTest, NamesTheLinesItCouldNotReadAndTheEntriesThatCannotComeBack) {
  const std::vector<int> ten = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  EXPECT_EQ(skippedLinesText(0, {}), "");
  EXPECT_EQ(skippedLinesText(1, {17}), "1 line could not be read: 17");
  EXPECT_EQ(skippedLinesText(2, {17, 31}), "2 lines could not be read: 17, 31");
  EXPECT_EQ(skippedLinesText(11, ten), "11 lines could not be read: 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, …");
  RestoreReport r;
  EXPECT_EQ(refusedLinesText(r), "");
  r.refused = 11;
  r.refusedLines = {{4, "'F' cannot be stored in a SIM number."}, {9, "why"}};
  r.namesCut = 1;
  r.cutLines = {2};
  EXPECT_EQ(refusedLinesText(r),
            "11 lines could not be taken: 4 ('F' cannot be stored in a SIM number.), 9 (why), …\n"
            "1 name was cut to what the SIM holds: 2");

  EXPECT_EQ(entriesNotRestorable({{1, "Semi;colon", "1", 0}, {2, "Anna", "1;2", 0}, {3, "", "", 0}}), 0);
  EXPECT_EQ(entriesNotRestorable({{1, "A;b", "1;2", 0}, {2, "New\nLine", "1", 0}, {3, "End;", "1", 0}}), 3);
  EXPECT_EQ(notRestorableText(0), "");
  EXPECT_EQ(notRestorableText(1).substr(0, 36), "1 entry cannot come back from the fi");
}

class CsvDbTest : public test::ShippedDbTest {
 protected:
  void SetUp() override {
    ShippedDbTest::SetUp();
    exec("INSERT INTO sim VALUES (1,'Old','111',0),(5,'Edited','555',3),(6,'Gone','6',2)");
  }
  std::filesystem::path csv_ = dir_ / "Documents" / "Voryx.csv";
  EditTarget phonebook(int maxSIM, int maxSIMLen = 14) {
    return {db_, ListStore::Phonebook, maxSIM, maxSIMLen, kShellBusy};
  }
};

// What the export writes (into a folder it makes), the restore gives back whole, in an
// empty table, in the file's order from location 1, every row marked changed; byte for
// byte when exported again. Names of every script, from any location, with any mark.
TEST_F(CsvDbTest, FortyFourEntriesComeBackAsTheyWent) {
  const std::vector<std::pair<std::string, std::string>> typed = {
      {"Semi;colon", "+39021234"},   {"Anna", "+3902 p123"},         {"New\nLine", "2"},
      {"Tab\tName", "3"},             {std::string("Nul\0Byte", 8), "4"}, {"\"Quoted\" Name", "5"},
      {"O'Brien, \"Pat\"", "6"},      {"Иван Петров", "+79161234567"}, {"😀 Emoji 👍🏽", "7"},
      {"", "555"},                   {"No number", ""},               {";Leading", "8"},
      {"Many ; semi ; colons", "*31#"}, {"Comma, Name", "+1,2,3"},     {" spaces around ", "9"},
      {"Zoë Ångström", "10"},        {"山田太郎", "0312"},             {"Γιώργος", "+30691"},
      {"עברית", "11"},                {"€uro [x] {y} ^~|\\", "12"},    {"\xC2\xA0nbsp", "13"},
      {"Line\r\nBreak", "#21#"},
  };
  std::vector<SimEntry> stored;
  const EditTarget wide = phonebook(250, 200);
  for (const auto& [name, number] : typed) {
    const auto k = static_cast<std::int32_t>(stored.size());
    stored.push_back({90 - 2 * k, cleanName(wide, name), *cleanNumber(number), k % 4});
  }
  while (stored.size() < 44) {
    const auto k = static_cast<std::int32_t>(stored.size());
    stored.push_back({90 - 2 * k, "Person " + std::to_string(k), "+3933" + std::to_string(1000 + k), k % 4});
  }
  EXPECT_EQ(stored[2].nome, "New Line");
  EXPECT_EQ(stored[4].nome, "NulByte");
  EXPECT_EQ(entriesNotRestorable(stored), 0);

  exec("DELETE FROM sim");
  ASSERT_TRUE(exportCsv(csv_, stored).ok());
  const std::string first = test::readFile(csv_);
  auto report = restoreCsv(csv_, wide);
  ASSERT_TRUE(report.ok()) << report.error().detail;
  EXPECT_EQ(report->restored, 44);
  EXPECT_EQ(report->skipped, 0);
  for (std::size_t i = 0; i < stored.size(); ++i) {
    stored[i] = {static_cast<std::int32_t>(i + 1), stored[i].nome, stored[i].telefono, kMarkChanged};
  }
  EXPECT_EQ(rows(), stored);
  ASSERT_TRUE(exportCsv(csv_, rows()).ok());
  EXPECT_EQ(test::readFile(csv_), first);
}

TEST_F(CsvDbTest, RestoreIsAllOrNothing) {
  const auto before = rows();
  auto restore = [&](const std::string& text, int maxSIM) {
    test::writeFile(csv_.parent_path() / "in.csv", text);
    return restoreCsv(csv_.parent_path() / "in.csv", phonebook(maxSIM));
  };
  std::filesystem::create_directories(csv_.parent_path());
  EXPECT_EQ(restoreCsv(csv_, phonebook(250)).error().code, Errc::NotFound);  // no file: nothing changes
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
  EXPECT_EQ(restore("A;1\nB;2\nC;3\n", 3)->leftOut, 0);  // as many as it has: all go
  // A number the SIM cannot hold keeps its line out, named with the reason, and takes no
  // location (nor a place within the capacity); a name too long is cut, its line named.
  auto refused = restore("A;1\nFlowers;0800-FLOWERS\nB;+49 (0) 30 1\nA name longer than that;2\nPause;1p2\n", 4);
  ASSERT_TRUE(refused.ok());
  EXPECT_EQ(refused->restored, 4);
  EXPECT_EQ(refused->leftOut, 0);
  EXPECT_EQ(refusedLinesText(*refused), "1 line could not be taken: 2 ('F' cannot be stored in a SIM number.)\n"
                                        "1 name was cut to what the SIM holds: 4");
  EXPECT_EQ(rows(), (std::vector<SimEntry>{{1, "A", "1", kMarkChanged}, {2, "B", "+49301", kMarkChanged},
                                           {3, "A name longer ", "2", kMarkChanged}, {4, "Pause", "1,2", kMarkChanged}}));
  // A header alone: the table is emptied, as any restore replaces it.
  EXPECT_EQ(restore("Name;Number;Type\n", 3)->skippedLines, std::vector<int>{1});
  EXPECT_TRUE(rows().empty());
}

TEST_F(CsvDbTest, AFailedExportLeavesTheOldFile) {
  ASSERT_TRUE(exportCsv(csv_, {{1, "Anna", "1", 0}}).ok());
  Status failed = Ok{};
  {
    test::FileSizeLimit limit(3);  // as a full disk would: it binds root too
    failed = exportCsv(csv_, {{1, "Bob", "2", 0}});
  }
  ASSERT_FALSE(failed.ok());
  EXPECT_NE(failed.error().detail.find(csv_.string()), std::string::npos) << failed.error().detail;
  EXPECT_EQ(test::readFile(csv_), "Anna;1\n");
  EXPECT_EQ(test::filesIn(csv_.parent_path()), std::vector<std::filesystem::path>{csv_});
}

}  // namespace
}  // namespace voryx::entries
