#include "ui/RootViewController.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "ui/Screens.h"

namespace voryx {
namespace {

std::vector<std::string> names(const json& screen) {
  std::vector<std::string> out;
  for (const auto& row : screen["rows"]) out.push_back(row["labels"][1]);
  return out;
}

void storePreference(const Paths& paths, const char* key, int value) {
  Preferences prefs(paths.preferences);
  ASSERT_TRUE(prefs.store(key, value));
}

TEST(RootViewControllerTest, EmptyDatabaseShowsNoRowsAndEachAppearanceReadsTheSettings) {
  TempHome home;
  storePreference(home.paths, kPrefMaxSIM, 250);
  UiHarness ui(home.paths);
  auto snap = ui.snapshot();
  EXPECT_EQ(snap["navigation"][0]["title"], "Vorx (0,250)");  // the appearance's title
  EXPECT_TRUE(snap["navigation"][0]["rows"].empty());
  EXPECT_EQ(snap["navigation"][0]["empty"], "No entries. Read from SIM to copy the SIM's phonebook here.");
  EXPECT_TRUE(snap["alerts"].empty());
  for (double x : {10.0, 160.0, 300.0}) EXPECT_TRUE(ui.touch(x, 2).consumed);
  EXPECT_EQ(ui.screen()["scrollTo"], nullptr);  // nothing to scroll to
  int len = 0;
  ui.onMain([&] { len = ui.ui.root().maxSIMLen; });
  EXPECT_EQ(len, 14);  // the default
  storePreference(home.paths, kPrefMaxSIMLen, 20);
  storePreference(home.paths, kPrefMaxSIM, 100);
  ui.onMain([&] {
    ui.ui.root().viewDidAppear();
    len = ui.ui.root().maxSIMLen;
  });
  EXPECT_EQ(len, 20);
  EXPECT_EQ(ui.screen()["title"], "Vorx (0,100)");
  EXPECT_EQ(ui.cancelSearch().status, 200);
  EXPECT_EQ(ui.screen()["title"], "Vorx (0/100)");  // the load's title
}

// A row's mark is in its colour and in a word beside it (none in step with the SIM), in
// the language of the screen; the legend opens the how-to where the marks are explained.
TEST(RootViewControllerTest, ScreenHasItsButtonsAndRowsInTheColoursAndWordsOfTheirMarks) {
  TempHome home;
  home.exec(
      "INSERT INTO sim VALUES (1,'Anna','+39021234',0),(2,'Bruno','555',1),"
      "(3,'Carla','556',2),(12,'Dario','557',3),(20,'Elena',NULL,5);");
  home.exec("INSERT INTO simsms VALUES (1,'Ciao','333',1),(2,'Hello','444',2),(3,'Hey','555',3)");
  Screens s(home);
  UiHarness& ui = s.ui;
  auto screen = ui.screen();
  EXPECT_EQ(screen["left"]["title"], "Setup");
  EXPECT_EQ(screen["right"]["title"], "How to");
  EXPECT_EQ(screen["toolbar"][0], json({{"id", "leggi"}, {"title", "Read from SIM"}, {"enabled", true}}));
  EXPECT_EQ(screen["toolbar"][3]["title"], "Write to SIM");
  EXPECT_EQ(screen["banner"]["text"], "Voryx");
  EXPECT_EQ(screen["rows"][0], json({{"id", "row:0"}, {"labels", {"1", "Anna", "+39021234"}}, {"colors", "gray"},
                                     {"mark", nullptr}, {"highlight", false}}));
  EXPECT_EQ(screen["rows"][4]["labels"], json({"20", "Elena", ""}));
  struct Case {
    const char* language;
    int store;  // 0 the phonebook, 1 the messages
    std::vector<std::pair<json, json>> rows;  // colours, mark
  };
  const Case kCases[] = {
      {"en", 0, {{"gray", nullptr}, {"green", "new"}, {"red", "deleted"}, {"cyan", "changed"}, {"gray", nullptr}}},
      {"it", 0, {{"gray", nullptr}, {"green", "nuova"}, {"red", "eliminata"}, {"cyan", "modificata"}, {"gray", nullptr}}},
      {"it", 1, {{"green", "nuovo"}, {"red", "eliminato"}, {"cyan", "modificato"}}},  // a message's own words
      {"en", 1, {{"green", "new"}, {"red", "deleted"}, {"cyan", "changed"}}},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(std::string(c.language) + " " + std::to_string(c.store));
    ui.ui.setLanguage(c.language);
    ui.showStore(c.store);
    screen = ui.screen();
    ASSERT_EQ(screen["rows"].size(), c.rows.size());
    for (std::size_t i = 0; i < c.rows.size(); ++i) {
      EXPECT_EQ(screen["rows"][i]["colors"], c.rows[i].first) << i;
      EXPECT_EQ(screen["rows"][i]["mark"], c.rows[i].second) << i;
    }
  }
  ui.showStore(0);
  EXPECT_EQ(ui.screen()["legend"], json({{"id", "legend"}, {"title", "What the colours mean"}}));
  ASSERT_EQ(ui.tap("legend").status, 200);
  EXPECT_EQ(ui.screen()["frame"]["url"], "/howto/#marks");
  ASSERT_EQ(ui.tap("back").status, 200);
  EXPECT_EQ(ui.tap("row:5").status, 409);
  EXPECT_EQ(ui.tap("row:x").status, 400);
  EXPECT_EQ(ui.tap("row:4").status, 200);
}

// The title area names the SIM the store on display was read from, as `voryx list` does,
// and nothing when no read recorded one (the name itself is the store tests').
TEST(RootViewControllerTest, TitleAreaNamesTheSimOfTheStoreOnDisplay) {
  struct Case {
    const char* simcard;  // rows of the table simcard
    json phonebook, sms;  // the subtitle on each store
  };
  const Case kCases[] = {
      {"", nullptr, nullptr},
      {"('sim','89390100001234567895','222015550001234')", "SIM \u20264567895", nullptr},
      {"('simsms','8939010000123','')", nullptr, "SIM \u20260000123"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.simcard);
    TempHome home;
    if (*c.simcard) home.exec(std::string("INSERT INTO simcard VALUES ") + c.simcard + ";");
    UiHarness ui(home.paths);
    EXPECT_EQ(ui.screen()["subtitle"], c.phonebook);
    EXPECT_EQ(ui.screen()["title"], "Vorx (0,0)");
    ui.showStore(1);
    EXPECT_EQ(ui.screen()["subtitle"], c.sms);
  }
}

TEST(RootViewControllerTest, SearchNarrowsOnlyOnTheSearchButtonWithText) {
  TempHome home;
  home.exec(
      "INSERT INTO sim VALUES (1,'Anna','111',0),(2,'Bruno','222',0),"
      "(3,'GIANNI','333',0),(4,'Carla','0nn4',0);");
  UiHarness ui(home.paths);
  EXPECT_EQ(ui.event({{"target", "search"}, {"action", "begin"}}).status, 200);
  EXPECT_EQ(ui.screen()["search"]["showsCancel"], true);
  EXPECT_EQ(ui.event({{"target", "search"}, {"action", "change"}, {"value", "nN"}}).status, 200);
  EXPECT_EQ(names(ui.screen()).size(), 4u);  // typing alone does not reload
  EXPECT_EQ(ui.event({{"target", "search"}, {"action", "search"}}).status, 200);
  auto screen = ui.screen();
  EXPECT_EQ(names(screen), (std::vector<std::string>{"Anna", "GIANNI", "Carla"}));
  EXPECT_EQ(screen["search"]["showsCancel"], false);
  EXPECT_EQ(screen["title"], "Vorx (3/0)");

  // An empty search does not reload: the row added meanwhile stays unseen.
  home.exec("INSERT INTO sim VALUES (5,'Zeno','999',0);");
  EXPECT_EQ(ui.search("").status, 200);
  EXPECT_EQ(names(ui.screen()).size(), 3u);
  // Cancel empties the text and reloads everything.
  EXPECT_EQ(ui.cancelSearch().status, 200);
  EXPECT_EQ(names(ui.screen()).size(), 5u);
  EXPECT_EQ(ui.screen()["search"]["text"], "");
  EXPECT_EQ(ui.screen()["empty"], nullptr);
  ui.search("xyz");
  EXPECT_EQ(ui.screen()["empty"], "No entry matches \u201Cxyz\u201D.");
  ui.cancelSearch();

  const json kBad[] = {
      {{"target", "search"}, {"action", "change"}, {"value", 5}},
      {{"target", "search"}, {"action", "change"}},
      {{"target", "search"}, {"action", "change"}, {"value", std::string(257, 'a')}},
      {{"target", "search"}, {"action", "begin"}, {"value", "text"}},
      {{"target", "search"}, {"action", "type"}, {"value", "text"}},
      {{"target", "tipo"}, {"action", "select"}, {"value", 2}},
      {{"target", "tipo"}, {"action", "tap"}, {"value", 1}},
  };
  for (const auto& e : kBad) {
    SCOPED_TRACE(e.dump());
    EXPECT_EQ(ui.event(e).status, 400);
  }
  EXPECT_EQ(ui.screen()["search"]["text"], "");
}

// On the messages the search field is off, empty and says where search works; nothing
// typed there reaches the phonebook. The phonebook's own text waits for it.
TEST(RootViewControllerTest, SmsStoreDisablesToolAndTheSearch) {
  TempHome home;
  home.exec("INSERT INTO sim VALUES (1,'Anna','111',0);");
  home.exec("INSERT INTO simsms VALUES (4,'See you','222',0),(2,'Hello','333',1);");
  storePreference(home.paths, kPrefMaxSMS, 30);
  UiHarness ui(home.paths);
  ui.event({{"target", "search"}, {"action", "change"}, {"value", "zzz"}});
  ui.showStore(1);
  auto screen = ui.screen();
  EXPECT_EQ(screen["search"]["enabled"], false);
  EXPECT_EQ(screen["search"]["text"], "");
  EXPECT_EQ(screen["search"]["placeholder"], "Search works on the phonebook");
  for (const char* action : {"begin", "change", "search", "cancel"}) {
    json e = {{"target", "search"}, {"action", action}};
    if (action == std::string("change")) e["value"] = "pane";
    EXPECT_EQ(ui.event(e).status, 409) << action;
  }
  EXPECT_EQ(names(screen), (std::vector<std::string>{"Hello", "See you"}));
  EXPECT_EQ(screen["toolbar"][2]["id"], "tool");
  EXPECT_EQ(screen["toolbar"][2]["enabled"], false);
  EXPECT_EQ(screen["title"], "Vorx (2,30)");
  EXPECT_EQ(ui.tap("tool").status, 409);
  ui.showStore(0);
  EXPECT_EQ(ui.screen()["toolbar"][2]["enabled"], true);
  EXPECT_EQ(ui.screen()["search"], json({{"id", "search"}, {"text", "zzz"}, {"placeholder", "Search"},
                                         {"cancelTitle", "Cancel"}, {"showsCancel", false}, {"enabled", true}}));
  EXPECT_TRUE(ui.screen()["rows"].empty());  // "zzz" was typed on the phonebook
}

TEST(RootViewControllerTest, StoredSortAppliesFromTheFirstAppearanceOn) {
  TempHome home;
  home.exec("INSERT INTO sim VALUES (12,'Anna','1',0),(3,'Bruno','2',0);");
  storePreference(home.paths, kPrefSort, 1);
  UiHarness ui(home.paths);
  EXPECT_EQ(names(ui.screen()), (std::vector<std::string>{"Bruno", "Anna"}));  // by location
  ui.cancelSearch();
  EXPECT_EQ(names(ui.screen()), (std::vector<std::string>{"Anna", "Bruno"}));  // by name
}

TEST(RootViewControllerTest, DoubleTapsScrollToTopMiddleAndBottom) {
  TempHome home;
  home.exec("INSERT INTO sim VALUES (1,'N1','1',0),(2,'N2','1',0),(3,'N3','1',0),(4,'N4','1',0),"
            "(5,'N5','1',0);");
  UiHarness ui(home.paths);
  EXPECT_EQ(ui.screen()["scrollTo"], nullptr);
  struct Case {
    double x;
    int row;
  };
  const Case kTaps[] = {{160, 2}, {10, 0}, {300, 4}, {130, 2}};
  std::uint64_t lastSeq = 0;
  for (const auto& c : kTaps) {
    SCOPED_TRACE(c.x);
    auto r = ui.touch(c.x, 2);
    EXPECT_TRUE(r.consumed);
    auto scroll = ui.screen()["scrollTo"];
    EXPECT_EQ(scroll["row"], c.row);
    EXPECT_GT(scroll["seq"].get<std::uint64_t>(), lastSeq);
    lastSeq = scroll["seq"];
  }
  EXPECT_FALSE(ui.touch(160, 3).consumed);
  EXPECT_EQ(ui.screen()["scrollTo"]["seq"], lastSeq);

  // Four entries: the middle is row 1.
  home.exec("DELETE FROM sim WHERE entry=5;");
  ui.cancelSearch();
  ui.touch(160, 2);
  EXPECT_EQ(ui.screen()["scrollTo"]["row"], 1);
}

TEST(RootViewControllerTest, BrokenDatabaseShowsTheDatabaseErrorAndNoRows) {
  TempHome home;
  home.exec("INSERT INTO sim VALUES (1,'Anna','111',0);");
  UiHarness ui(home.paths);
  EXPECT_EQ(ui.screen()["rows"].size(), 1u);
  std::string title = ui.screen()["title"];
  test::writeFile(home.paths.database(), std::string(4096, '\x5a'));
  ui.cancelSearch();
  auto snap = ui.snapshot();
  ASSERT_EQ(snap["alerts"].size(), 1u);
  const auto& alert = snap["alerts"][0];
  EXPECT_EQ(alert["title"], "Database error");
  // The alert names where the damaged file went (the next start copies a fresh one).
  const std::string message = alert["message"];
  EXPECT_TRUE(message.starts_with("Data are corrupted, please close application and try again.\n"
                                  "The damaged file was moved to " +
                                  home.paths.database().string() + ".damaged-"))
      << message;
  EXPECT_TRUE(snap["navigation"][0]["rows"].empty());
  EXPECT_EQ(snap["navigation"][0]["title"], title);
  ui.answer("Ok");
  EXPECT_TRUE(ui.snapshot()["alerts"].empty());
}

// Another program holding the database locked: the screen waits about a second, says
// so, and keeps the list it showed.
TEST(RootViewControllerTest, LockedDatabaseKeepsTheListAndSaysSo) {
  TempHome home;
  home.exec("INSERT INTO sim VALUES (1,'Anna','111',0);");
  UiHarness ui(home.paths);
  auto other = Database::open(home.paths.database());
  ASSERT_TRUE(other.ok());
  ASSERT_TRUE(other->exec("BEGIN EXCLUSIVE").ok());
  const auto start = std::chrono::steady_clock::now();
  ui.cancelSearch();
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_LT(waited, std::chrono::seconds(5));
  auto snap = ui.snapshot();
  ASSERT_EQ(snap["alerts"].size(), 1u);
  EXPECT_EQ(snap["alerts"][0]["message"], "The database is in use by another program; try again.");
  EXPECT_EQ(snap["navigation"][0]["rows"].size(), 1u);
  other->exec("ROLLBACK");
}

// Another program changes the database (a `voryx read` in a terminal): the list follows
// within a few seconds, but not under an open alert, only once it is answered.
TEST(RootViewControllerTest, ChangesFromAnotherProgramShowWithoutAReload) {
  TempHome home;
  UiHarness ui(home.paths);
  auto rowsWithin = [&](std::size_t n) {  // the watch looks once a second
    for (int i = 0; i < 25 && ui.screen()["rows"].size() != n; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return ui.screen()["rows"].size();
  };
  home.exec("INSERT INTO sim VALUES (1,'Anna','111',0);");
  EXPECT_EQ(rowsWithin(1), 1u);
  ui.onMain([&] { ui.ui.application().showAlert({"Busy", "", nullptr, "Ok", {}}); });
  home.exec("INSERT INTO sim VALUES (2,'Bruno','222',0);");
  EXPECT_EQ(rowsWithin(2), 1u);
  ui.answer("Ok");
  EXPECT_EQ(rowsWithin(2), 2u);
}

TEST(RootViewControllerTest, StartupAlertComesBeforeTheDatabaseError) {
  TempHome home;
  test::writeFile(home.paths.database(), std::string(4096, '\x5a'));
  UiHarness ui(home.paths,
               {.startupAlert = "Failed to create writable database file with message 'x'.", .device = {}});
  auto alerts = ui.snapshot()["alerts"];
  ASSERT_EQ(alerts.size(), 2u);
  EXPECT_EQ(alerts[0]["title"], "");
  EXPECT_EQ(alerts[0]["buttons"], json({"Cancel", "Ok"}));
  EXPECT_EQ(alerts[1]["title"], "Database error");
  EXPECT_TRUE(ui.screen()["rows"].empty());
}

}  // namespace
}  // namespace voryx
