// The CSV file from the main screen's tool sheet, as the page drives it.
#include <gtest/gtest.h>

#include <chrono>

#include "ui/Screens.h"

namespace voryx {
namespace {

// A path as the questions show it: it may wrap after each "/" only.
std::string breakable(const std::filesystem::path& path) {
  std::string out;
  for (char c : path.string()) out += c == '/' ? std::string("/\u200B") : std::string(1, c);
  return out;
}

// Export the list on display, view it (a download), restore the file over the table.
TEST(CommandsTest, ExportAndRestoreGoThroughTheCsvFile) {
  TempHome home;
  // A name and a number both holding ";": no reading of the line can split it back.
  home.exec("INSERT INTO sim VALUES (1,'Anna','111',0),(2,'Bruno','222',2),(3,'A;b','1;2',0)");
  ASSERT_TRUE(Preferences(home.paths.preferences).store(kPrefMaxSIM, 250));
  Screens s(home);
  ASSERT_EQ(s.ui.tap("tool").status, 200);
  s.answer(4);  // Export to file
  auto alert = s.ui.snapshot()["alerts"].back();
  EXPECT_EQ(alert["title"], "File Voryx.csv create into " + breakable(home.paths.exportDir));
  EXPECT_TRUE(alert["message"].get<std::string>().starts_with("1 entry cannot come back from the file")) << alert;
  EXPECT_EQ(alert["buttons"], json({"No", "Yes"}));
  const auto file = home.paths.exportDir / "Voryx.csv";
  s.answer(1);
  ASSERT_FALSE(s.ui.snapshot()["openURL"].empty());
  const std::string url = s.ui.snapshot()["openURL"].back()["url"];
  ASSERT_TRUE(url.starts_with("/api/files/"));
  auto served = s.ui.ui.port().file(url.substr(std::string("/api/files/").size()));
  ASSERT_TRUE(served.has_value());
  EXPECT_EQ(served->name, "Voryx.csv");
  EXPECT_EQ(served->data, "Anna;111\nBruno;222\nA;b;1;2\n");
  // The same list as vCards (their content is the vCard writer's).
  ASSERT_EQ(s.ui.tap("tool").status, 200);
  s.answer(7);  // Export to vCard
  EXPECT_EQ(s.ui.answer("Yes")["title"], "File Voryx.vcf create into " + breakable(home.paths.exportDir));
  const std::string cards = s.ui.snapshot()["openURL"].back()["url"];
  EXPECT_EQ(s.ui.ui.port().file(cards.substr(std::string("/api/files/").size()))->name, "Voryx.vcf");

  test::writeFile(file, "\xEF\xBB\xBFName;Number;Type\nЗоя;+7 1\nUgo;2\n");
  ASSERT_EQ(s.ui.tap("tool").status, 200);
  s.answer(5);  // Restore from file
  EXPECT_EQ(s.actionType(), 8);
  // The question names the file it reads.
  EXPECT_EQ(s.ui.snapshot()["alerts"].back()["message"], breakable(file) + "\nPlease confirm action");
  s.answer(1);
  EXPECT_EQ(s.ui.snapshot()["overlays"]["98"]["caption"], "Please wait...");
  s.ui.advance(0.1);
  auto snap = s.ui.snapshot();
  EXPECT_TRUE(snap["overlays"].empty());
  ASSERT_EQ(snap["alerts"].size(), 1u);
  EXPECT_EQ(snap["alerts"][0]["message"], "1 line could not be read: 1");
  EXPECT_EQ(rowLabels(snap["navigation"][0]), json({{"1", "Зоя", "+71", "cyan"}, {"2", "Ugo", "2", "cyan"}}));
  s.ui.answer("Ok");

  // Another program holds the database: the restore gives up after the screen's bound
  // (about a second, not the shell's ten) with its alert, and the table stays.
  test::writeFile(file, "Vera;3\n");
  auto other = Database::open(home.paths.database());
  ASSERT_TRUE(other->exec("BEGIN EXCLUSIVE").ok());
  ASSERT_EQ(s.ui.tap("tool").status, 200);
  s.answer(5);
  const auto start = std::chrono::steady_clock::now();
  s.answer(1);
  s.ui.advance(0.1);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(8));  // generous: a slow machine
  snap = s.ui.snapshot();
  bool said = false;  // the list's reload then says the database is in use, too
  for (const auto& a : snap["alerts"]) said = said || a["message"].get<std::string>().starts_with("Nothing was restored:");
  EXPECT_TRUE(said) << snap["alerts"];
  EXPECT_TRUE(snap["overlays"].empty());
  ASSERT_TRUE(other->exec("ROLLBACK").ok());
  EXPECT_EQ(stored(home, ListStore::Phonebook).size(), 2u);
}

}  // namespace
}  // namespace voryx
