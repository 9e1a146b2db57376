// The main screen's sheets, confirmations and the edit screen, as the page drives them.
#include <gtest/gtest.h>

#include "entries/AddressBook.h"
#include "ui/Screens.h"

namespace voryx {
namespace {

TEST(CommandsTest, SheetsOfferTheCommandsOfTheStoreOnDisplay) {
  TempHome home;
  // What the last read saw: a changed row's sheet shows what the row replaces.
  home.exec("INSERT INTO sim VALUES (1,'Anna','+39021234',0),(2,'Anna R.','+39055',3),(3,'Bruno','555',3),"
            "(4,'Nuovo','444',1),(5,'Senza numero','',3)");
  // Locations 3 and 4: one message sent in two parts, shown as one row.
  home.exec("INSERT INTO simsms VALUES (1,'Ciao','333',0),(2,'Ciao ciao','333',3),(3,'Part one, ','555',0),"
            "(4,'part two','555',0)");
  home.exec("INSERT INTO simparts VALUES (3,7,2,1),(4,7,2,2)");
  home.exec("INSERT INTO simseen VALUES ('sim',1,'Anna','+39021234'),('sim',2,'Anna Rossi','+39055123456'),"
            "('sim',4,'Vecchio','44'),('sim',5,'Carla',''),('simsms',2,'Hello','+3331234567')");
  Screens s(home);
  const json kEntryButtons = {"Replace with a contact", "Delete entry", "Add to address book", "Edit entry", "Call",
                              "Cancel"};
  struct Case {
    std::string tap;
    json title, buttons;
    json message = nullptr;  // none
  };
  const Case kPhonebook[] = {
      {"tool", "", {"Delete all SIM entries", "Import all contacts", "Sort by position", "Sort by name",
                    "Export to file", "Restore from file", "Start debug log", "Export to vCard",
                    "Copy SIM to address book", "Cancel"}},
      {"row:0", "Edit SIM contact", kEntryButtons},
      {"row:1", "Edit SIM contact", kEntryButtons, "Replaces: Anna Rossi, +39055123456"},
      {"row:2", "Edit SIM contact", kEntryButtons},  // changed, but nothing seen there
      {"row:3", "Edit SIM contact", kEntryButtons},  // new: it replaces nothing
      {"row:4", "Edit SIM contact", kEntryButtons, "Replaces: Carla"},
      {"add", "Add", {"From address book", "New entry", "Cancel"}},
  };
  const Case kSms[] = {
      {"row:0", "Edit SMS", {"Delete entry", "Edit entry", "Cancel"}},
      {"row:1", "Edit SMS", {"Delete entry", "Edit entry", "Cancel"}, "Replaces: Hello, +3331234567"},
      {"row:2", "Edit SMS", {"Delete entry", "Cancel"}},  // in parts: deleted whole, never edited
      {"add", "Add", {"Future function", "New entry", "Cancel"}},
  };
  auto check = [&](const Case& c) {
    ASSERT_EQ(s.ui.tap(c.tap).status, 200) << c.tap;
    auto sheet = s.ui.snapshot()["sheet"];
    EXPECT_EQ(sheet["title"], c.title) << c.tap;
    EXPECT_EQ(sheet["buttons"], c.buttons) << c.tap;
    EXPECT_EQ(sheet.value("message", json()), c.message) << c.tap;
    s.answer(static_cast<int>(c.buttons.size()) - 1);  // Cancel
    EXPECT_TRUE(s.ui.snapshot()["sheet"].is_null());
  };
  for (const auto& c : kPhonebook) check(c);
  {  // Start debug log: a fresh log, and the sheet offers the support mail in its place.
    ScopedLog log(home);
    ASSERT_EQ(s.ui.tap("tool").status, 200);
    s.answer(6);
    EXPECT_EQ(test::readFile(home.paths.logFile), "LOG START\n");
    ASSERT_EQ(s.ui.tap("tool").status, 200);
    EXPECT_EQ(s.ui.answer("Cancel")["buttons"][6], "Send debug log to support");
  }
  // Call: the page is asked to open the tel: URL.
  ASSERT_EQ(s.ui.tap("row:0").status, 200);
  s.answer(4);
  EXPECT_EQ(s.ui.snapshot()["openURL"].back()["url"], "tel://+39021234");

  s.ui.showStore(1);
  for (const auto& c : kSms) check(c);
  EXPECT_EQ(s.ui.tap("tool").status, 409);  // the phonebook's only
}

// Add, change and cancel on the edit screen; the screen goes half a second after its
// answer, and a second tap in that half second adds nothing.
TEST(CommandsTest, EditScreenAddsAndChangesEntries) {
  TempHome home;
  home.exec("INSERT INTO sim VALUES (1,'Anna','111',0),(2,'Bruno','222',2),(4,'Dario','444',1)");
  home.exec("INSERT INTO simsms VALUES (1,'Ciao','333',0)");
  ASSERT_TRUE(Preferences(home.paths.preferences).store(kPrefMaxSIM, 250));
  Screens s(home);
  // A search that hides locations 1 and 2: the new entry still goes to 3.
  ASSERT_EQ(s.ui.search("Dario").status, 200);
  ASSERT_EQ(s.ui.tap("add").status, 200);
  s.answer(1);  // New entry
  auto modal = s.ui.snapshot()["modal"];
  ASSERT_EQ(modal["screen"], "EditViewController");
  EXPECT_EQ(modal["title"], "edit value");
  EXPECT_EQ(modal["transition"], "pageCurl");
  const json& controls = modal["controls"];
  ASSERT_EQ(controls.size(), 4u);
  EXPECT_EQ(json({controls[2]["id"], controls[2]["placeholder"], controls[2]["focus"]["on"], controls[3]["placeholder"],
                  controls[3]["keyboard"]}),
            json({"text1", "Name", true, "Number", "phonePad"}));
  s.type("text1", "Иван Петров-Водкин");
  s.type("text2", "+7 495 (123)");
  ASSERT_EQ(s.ui.event({{"target", "text2"}, {"action", "return"}}).status, 200);
  EXPECT_EQ(s.ui.snapshot()["modal"]["controls"][3]["focus"]["on"], false);
  ASSERT_EQ(s.ui.tap("save").status, 200);
  ASSERT_EQ(s.ui.tap("save").status, 200);  // the screen is going: nothing more
  EXPECT_FALSE(s.ui.snapshot()["modal"].is_null());
  s.ui.advance(0.49);
  EXPECT_FALSE(s.ui.snapshot()["modal"].is_null());
  s.ui.advance(0.02);
  EXPECT_TRUE(s.ui.snapshot()["modal"].is_null());
  auto screen = s.ui.screen();
  EXPECT_EQ(rowLabels(screen), json({{"3", "Иван Петров", "+7495123", "green"}, {"4", "Dario", "444", "green"}}));
  // The new row is brought into view and highlighted for a moment; the name cut to what
  // the SIM holds is told (in the Cyrillic form, 14 bytes hold 11 letters).
  EXPECT_EQ(screen["scrollTo"]["row"], 0);
  EXPECT_EQ(screen["rows"][0]["highlight"], true);
  EXPECT_EQ(screen["rows"][1]["highlight"], false);
  EXPECT_EQ(s.ui.snapshot()["notice"]["text"], "Name shortened to 'Иван Петров' (the SIM keeps 11 letters)");
  s.ui.advance(RootViewController::kHighlightSeconds);
  EXPECT_EQ(s.ui.screen()["rows"][0]["highlight"], false);

  // Change the entry marked new: mark 3, location kept. Then cancel an edit of Dario.
  ASSERT_EQ(s.ui.tap("row:1").status, 200);
  s.answer(3);  // Edit entry
  EXPECT_EQ(s.actionType(), 6);
  EXPECT_EQ(s.ui.snapshot()["modal"]["controls"][2]["text"], "Dario");
  s.type("text1", "Dario\nFo");  // a line break pasted into the name is a blank
  ASSERT_EQ(s.ui.tap("save").status, 200);
  s.ui.advance(0.5);
  ASSERT_EQ(s.ui.tap("row:0").status, 200);
  s.answer(3);
  s.type("text1", "Nobody");
  ASSERT_EQ(s.ui.tap("exit").status, 200);
  s.ui.advance(0.5);
  EXPECT_TRUE(s.ui.snapshot()["modal"].is_null());
  EXPECT_EQ(stored(home, ListStore::Phonebook),
            (std::vector<SimEntry>{{1, "Anna", "111", 0}, {2, "Bruno", "222", 2},
                                   {3, "Иван Петров", "+7495123", 1}, {4, "Dario Fo", "444", 3}}));

  // A message longer than one SMS is refused with the reason; the screen stays with the
  // text, to be shortened and saved.
  s.ui.showStore(1);
  ASSERT_EQ(s.ui.tap("row:0").status, 200);
  s.answer(1);  // Edit entry
  s.type("textview", std::string(161, 'a'));
  ASSERT_EQ(s.ui.tap("save").status, 200);
  s.ui.advance(0.5);
  auto refused = s.ui.snapshot();
  ASSERT_FALSE(refused["modal"].is_null());
  EXPECT_EQ(refused["modal"]["controls"][2]["text"], std::string(161, 'a'));
  ASSERT_EQ(refused["alerts"].size(), 1u);
  EXPECT_NE(s.ui.answer("Ok")["message"].get<std::string>().find("a message holds 160 characters"), std::string::npos);
  s.type("textview", std::string(160, 'a'));
  ASSERT_EQ(s.ui.tap("save").status, 200);
  s.ui.advance(0.5);
  EXPECT_TRUE(s.ui.snapshot()["modal"].is_null());
  EXPECT_EQ(stored(home, ListStore::Sms), (std::vector<SimEntry>{{1, std::string(160, 'a'), "333", 3}}));
}

TEST(CommandsTest, DeleteEmptyAndSortChangeTheStoreOnDisplayOnly) {
  TempHome home;
  home.exec("INSERT INTO sim VALUES (1,'Carla','111',0),(2,'Anna','222',0),(3,'Bruno','333',1)");
  home.exec("INSERT INTO simsms VALUES (2,'Ciao','444',0)");
  Screens s(home);
  // Delete the phonebook's location 2; the message at 2 stays.
  ASSERT_EQ(s.ui.tap("row:1").status, 200);
  s.answer(1);
  EXPECT_EQ(s.ui.screen()["rows"][1]["colors"], "red");
  EXPECT_EQ(stored(home, ListStore::Sms)[0].operazione, 0);
  EXPECT_EQ(stored(home, ListStore::Phonebook)[1].operazione, 2);

  // Sort by name, then by location; the choice is kept.
  for (auto [button, first, kept] : {std::tuple{3, "Anna", 1}, std::tuple{2, "Carla", 0}}) {
    ASSERT_EQ(s.ui.tap("tool").status, 200);
    s.answer(button);
    EXPECT_EQ(s.ui.screen()["rows"][0]["labels"][1], first);
    EXPECT_EQ(Preferences(home.paths.preferences).integer(kPrefSort, -1), kept);
  }

  // Empty the SIM: Cancel does nothing, Ok marks every row (also those a search hides).
  ASSERT_EQ(s.ui.search("Carla").status, 200);
  for (const std::string answer : {"Cancel", "Ok"}) {
    ASSERT_EQ(s.ui.tap("tool").status, 200);
    s.answer(0);
    EXPECT_EQ(s.actionType(), 3);
    EXPECT_EQ(s.ui.answer(answer)["title"], "Delete all SIM entries");
    EXPECT_EQ(s.actionType(), 0);
  }
  EXPECT_EQ(s.ui.screen()["rows"][0]["colors"], "red");
  for (const auto& row : stored(home, ListStore::Phonebook)) EXPECT_EQ(row.operazione, 2) << row.nome;
  EXPECT_EQ(stored(home, ListStore::Sms)[0].operazione, 0);

  // SMS store: its delete marks the message only.
  s.ui.showStore(1);
  ASSERT_EQ(s.ui.tap("row:0").status, 200);
  s.answer(0);
  EXPECT_EQ(stored(home, ListStore::Sms)[0].operazione, 2);
}

// A change the database did not take is not shown as made; a full SIM adds nothing.
TEST(CommandsTest, RefusedChangesLeaveTheStoredState) {
  TempHome home;
  home.exec("INSERT INTO sim VALUES (1,'Anna','111',0),(2,'Bruno','222',0)");
  ASSERT_TRUE(Preferences(home.paths.preferences).store(kPrefMaxSIM, 2));
  Screens s(home);
  ASSERT_EQ(s.ui.tap("add").status, 200);
  s.answer(1);
  s.type("text1", "Carla");
  ASSERT_EQ(s.ui.tap("save").status, 200);
  auto alert = s.ui.answer("Ok");
  EXPECT_EQ(json({alert["title"], alert["message"]}), json({"Add phone number", "SIM is full!"}));
  s.ui.advance(0.5);
  EXPECT_EQ(s.ui.screen()["title"], "Vorx (2,2)");  // the appearance after the dismiss
  EXPECT_EQ(s.ui.screen()["rows"].size(), 2u);

  auto other = Database::open(home.paths.database());
  ASSERT_TRUE(other->exec("BEGIN EXCLUSIVE").ok());
  ASSERT_EQ(s.ui.tap("row:0").status, 200);
  s.answer(1);  // delete: the database is locked past the screen's bound
  alert = s.ui.snapshot()["alerts"].back();
  EXPECT_EQ(alert["title"], "Database error");
  EXPECT_NE(alert["message"].get<std::string>().find("The change was not saved."), std::string::npos);
  EXPECT_EQ(s.ui.screen()["rows"][0]["colors"], "gray");
  ASSERT_TRUE(other->exec("ROLLBACK").ok());
  EXPECT_EQ(stored(home, ListStore::Phonebook)[0].operazione, 0);
}

}  // namespace
}  // namespace voryx
