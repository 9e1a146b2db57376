// The main screen's sheets, confirmations and the edit screen, as the page drives them.
#include <gtest/gtest.h>

#include "base/Localized.h"
#include "entries/AddressBook.h"
#include "entries/DebugLog.h"
#include "store/SimTable.h"
#include "ui/UiHarness.h"

namespace voryx {
namespace {

using nlohmann::json;
using test::TempHome;
using test::UiHarness;

std::vector<SimEntry> stored(const TempHome& home, ListStore store) {
  return *SimTable::open(home.paths.database(), store)->list();
}

json rowLabels(const json& screen) {
  json out = json::array();
  for (const auto& row : screen["rows"]) out.push_back({row["labels"][0], row["labels"][1], row["labels"][2], row["colors"]});
  return out;
}

// The screens with the English string table (the commands' keys are short codes).
struct Screens {
  explicit Screens(const TempHome& home) : table(home), ui(home.paths, options()) {}
  struct Table {
    explicit Table(const TempHome& home) {
      loadStringTables(home.paths.resources);
      setLanguage("en");
    }
    ~Table() { loadStringTables({}); }
  };
  static VoryxUiOptions options() {
    VoryxUiOptions o;
    o.clock = &clock;
    return o;
  }
  // Taps button `index` of the sheet or alert on top.
  void answer(int index) {
    auto snap = ui.snapshot();
    const std::string target = snap["alerts"].empty()
                                   ? "sheet:" + std::to_string(snap["sheet"]["id"].get<int>())
                                   : "alert:" + std::to_string(snap["alerts"].back()["id"].get<int>());
    ASSERT_EQ(ui.tap(target, index).status, 200) << target;
  }
  void type(const std::string& field, const std::string& text) {
    ASSERT_EQ(ui.event({{"target", field}, {"action", "change"}, {"value", text}}).status, 200);
  }
  int actionType() {
    int a = -1;
    ui.onMain([&] { a = ui.ui.root().actionType; });
    return a;
  }
  inline static kit::ManualClock clock;
  Table table;
  UiHarness ui;
};

TEST(CommandsTest, SheetsOfferTheCommandsOfTheStoreOnDisplay) {
  TempHome home;
  // What the last read saw: a changed row's sheet shows what the row replaces.
  home.exec("INSERT INTO sim VALUES (1,'Anna','+39021234',0),(2,'Anna R.','+39055',3),(3,'Bruno','555',3),"
            "(4,'Nuovo','444',1),(5,'Senza numero','',3)");
  home.exec("INSERT INTO simsms VALUES (1,'Ciao','333',0),(2,'Ciao ciao','333',3)");
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
                    "Export to file", "Restore from file", "Start debug log", "Export to vCard", "Cancel"}},
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
  // Start debug log: a fresh log, and the sheet offers the support mail in its place.
  std::filesystem::create_directories(home.path / "state");
  DebugLog::setPath(home.path / "state" / "Voryx.log");
  ASSERT_EQ(s.ui.tap("tool").status, 200);
  s.answer(6);
  EXPECT_EQ(test::readFile(home.path / "state" / "Voryx.log"), "LOG START\n");
  ASSERT_EQ(s.ui.tap("tool").status, 200);
  EXPECT_EQ(s.ui.snapshot()["sheet"]["buttons"][6], "Send debug log to support");
  s.answer(8);  // Cancel
  DebugLog::setPath({});
  // Call: the page is asked to open the tel: URL.
  ASSERT_EQ(s.ui.tap("row:0").status, 200);
  s.answer(4);
  EXPECT_EQ(s.ui.snapshot()["openURL"].back()["url"], "tel://+39021234");

  ASSERT_EQ(s.ui.event({{"target", "tipo"}, {"action", "select"}, {"value", 1}}).status, 200);
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
  ASSERT_EQ(s.ui.event({{"target", "search"}, {"action", "search"}, {"value", "Dario"}}).status, 200);
  ASSERT_EQ(s.ui.tap("add").status, 200);
  s.answer(1);  // New entry
  auto modal = s.ui.snapshot()["modal"];
  ASSERT_EQ(modal["screen"], "EditViewController");
  EXPECT_EQ(modal["title"], "edit value");
  EXPECT_EQ(modal["transition"], "pageCurl");
  const json& controls = modal["controls"];
  ASSERT_EQ(controls.size(), 4u);
  EXPECT_EQ(controls[2]["id"], "text1");
  EXPECT_EQ(controls[2]["placeholder"], "Name");
  EXPECT_EQ(controls[2]["focus"]["on"], true);
  EXPECT_EQ(controls[3]["keyboard"], "phonePad");
  EXPECT_EQ(controls[3]["placeholder"], "Number");
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
  ASSERT_EQ(s.ui.event({{"target", "tipo"}, {"action", "select"}, {"value", 1}}).status, 200);
  ASSERT_EQ(s.ui.tap("row:0").status, 200);
  s.answer(1);  // Edit entry
  s.type("textview", std::string(161, 'a'));
  ASSERT_EQ(s.ui.tap("save").status, 200);
  s.ui.advance(0.5);
  auto refused = s.ui.snapshot();
  ASSERT_FALSE(refused["modal"].is_null());
  EXPECT_EQ(refused["modal"]["controls"][2]["text"], std::string(161, 'a'));
  ASSERT_EQ(refused["alerts"].size(), 1u);
  EXPECT_NE(refused["alerts"][0]["message"].get<std::string>().find("a message holds 160 characters"),
            std::string::npos);
  s.answer(0);
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
  ASSERT_EQ(s.ui.event({{"target", "search"}, {"action", "search"}, {"value", "Carla"}}).status, 200);
  for (int answer : {0, 1}) {
    ASSERT_EQ(s.ui.tap("tool").status, 200);
    s.answer(0);
    auto alert = s.ui.snapshot()["alerts"].back();
    EXPECT_EQ(alert["title"], "Delete all SIM entries");
    EXPECT_EQ(alert["buttons"], json({"Cancel", "Ok"}));
    EXPECT_EQ(s.actionType(), 3);
    s.answer(answer);
    EXPECT_EQ(s.actionType(), 0);
  }
  EXPECT_EQ(s.ui.screen()["rows"][0]["colors"], "red");
  for (const auto& row : stored(home, ListStore::Phonebook)) EXPECT_EQ(row.operazione, 2) << row.nome;
  EXPECT_EQ(stored(home, ListStore::Sms)[0].operazione, 0);

  // SMS store: its delete marks the message only.
  ASSERT_EQ(s.ui.event({{"target", "tipo"}, {"action", "select"}, {"value", 1}}).status, 200);
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
  auto alert = s.ui.snapshot()["alerts"].back();
  EXPECT_EQ(alert["title"], "Add phone number");
  EXPECT_EQ(alert["message"], "SIM is full!");
  s.answer(0);
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

namespace voryx {
namespace {

// The address book's screens: pick a person, add numbers, replace an entry, add an entry
// to the book.
TEST(CommandsTest, AddressBookFillsAndTakesEntries) {
  TempHome home;
  home.exec("INSERT INTO sim VALUES (1,'Anna','111',0),(2,'Rossi, Mario Luigi','+39 02 7',0)");
  ASSERT_TRUE(Preferences(home.paths.preferences).store(kPrefMaxSIM, 250));
  ASSERT_TRUE(Preferences(home.paths.preferences).store(kPrefLastFirst, 1));
  test::writeFile(home.paths.contacts,
                  "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Bbb;Aaa;;;\r\nTEL;TYPE=CELL:+39 02 1\r\n"
                  "TEL;TYPE=HOME:333 4\r\nTEL:555\r\nEND:VCARD\r\n"
                  "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:ACME\r\nORG:ACME\r\nTEL;TYPE=WORK:9 9\r\nEND:VCARD\r\n");
  Screens s(home);
  ASSERT_EQ(s.ui.tap("add").status, 200);
  s.answer(0);  // From address book
  auto picker = s.ui.snapshot()["modal"];
  ASSERT_EQ(picker["screen"], "PeoplePicker");
  EXPECT_EQ(picker["people"].size(), 2u);
  ASSERT_EQ(s.ui.event({{"target", "search"}, {"action", "change"}, {"value", "acm"}}).status, 200);
  ASSERT_EQ(s.ui.snapshot()["modal"]["people"].size(), 1u);
  ASSERT_EQ(s.ui.event({{"target", "search"}, {"action", "cancel"}}).status, 200);
  ASSERT_EQ(s.ui.tap("row:0").status, 200);
  auto snap = s.ui.snapshot();
  EXPECT_TRUE(snap["modal"].is_null());
  auto phones = snap["navigation"].back();
  ASSERT_EQ(phones["screen"], "addContact");
  EXPECT_EQ(phones["person"]["name"], "Bbb Aaa");
  EXPECT_EQ(phones["phones"][1], json({{"id", "row:1"}, {"label", "home"}, {"number", "333 4"}}));
  EXPECT_EQ(phones["phones"][2]["label"], "");
  ASSERT_EQ(s.ui.tap("add").status, 200);  // Add all: three entries, the screen goes
  EXPECT_EQ(s.ui.snapshot()["navigation"].size(), 1u);

  // Replace row 0 (Anna) with the organization-only person: no name, its number.
  ASSERT_EQ(s.ui.tap("row:0").status, 200);
  s.answer(0);  // Replace with a contact
  ASSERT_EQ(s.ui.tap("row:1").status, 200);
  ASSERT_EQ(s.ui.snapshot()["navigation"].back()["person"]["name"], "");
  ASSERT_EQ(s.ui.tap("add").status, 200);
  EXPECT_EQ(stored(home, ListStore::Phonebook),
            (std::vector<SimEntry>{{1, "", "99", 3}, {2, "Rossi, Mario Luigi", "+39 02 7", 0},
                                   {3, "Bbb Aaa", "+39021", 1}, {4, "Bbb Aaa", "3334", 1}, {5, "Bbb Aaa", "555", 1}}));

  // Row 1 into the address book as a new person (with lastFirst 1 the part before the
  // comma is the first name).
  ASSERT_EQ(s.ui.tap("row:1").status, 200);
  s.answer(2);  // Add to address book
  auto card = s.ui.snapshot()["navigation"].back();
  ASSERT_EQ(card["screen"], "UnknownPerson");
  EXPECT_EQ(card["card"]["heading"], "Rossi Luigi Mario");
  ASSERT_EQ(s.ui.tap("create").status, 200);
  EXPECT_EQ(s.ui.snapshot()["navigation"].size(), 1u);
  auto book = entries::readAddressBook(home.paths.contacts);
  ASSERT_TRUE(book.ok());
  ASSERT_EQ(book->persons.size(), 3u);
  const auto& added = book->persons[2];
  EXPECT_EQ((std::vector<std::string>{added.first, added.middle, added.last}),
            (std::vector<std::string>{"Rossi", "Luigi", "Mario"}));
  EXPECT_EQ(added.phones.at(0).number, "+39 02 7");

  // Import all: the overlay first, the import a tenth of a second later; only the new
  // person's number is not in the phonebook yet.
  ASSERT_EQ(s.ui.tap("tool").status, 200);
  s.answer(1);
  s.answer(1);
  EXPECT_EQ(s.ui.snapshot()["overlays"]["98"]["caption"], "Please wait...");
  s.ui.advance(0.1);
  snap = s.ui.snapshot();
  EXPECT_TRUE(snap["overlays"].empty());
  EXPECT_TRUE(snap["alerts"].empty());
  EXPECT_EQ(snap["navigation"][0]["rows"].size(), 6u);
  EXPECT_EQ(stored(home, ListStore::Phonebook).back(), (SimEntry{6, "Mario Rossi", "+39027", 1}));
}

// No address book yet: the picker says where it looked; a file opened in the browser
// arrives in pieces, byte for byte, and becomes the book.
TEST(CommandsTest, PickerOpensAFileWhenThereIsNoBook) {
  TempHome home;
  Screens s(home);
  ASSERT_EQ(s.ui.tap("add").status, 200);
  s.answer(0);
  auto picker = s.ui.snapshot()["modal"];
  EXPECT_NE(picker["empty"].get<std::string>().find(home.paths.contacts.string()), std::string::npos);
  ASSERT_EQ(picker["openFile"]["id"], "openFile");
  const std::string file = "BEGIN:VCARD\r\nVERSION:2.1\r\nN;CHARSET=ISO-8859-1:Caf\xe9;Bar\r\nTEL:1\r\nEND:VCARD\r\n";
  std::string latin1;  // the file's bytes as the page reads them: one character a byte
  for (unsigned char c : file) {
    if (c < 0x80) latin1 += static_cast<char>(c);
    else latin1 += {static_cast<char>(0xC0 | (c >> 6)), static_cast<char>(0x80 | (c & 0x3F))};
  }
  auto send = [&](const char* action, json value) {
    return s.ui.event({{"target", "openFile"}, {"action", action}, {"value", value}}).status;
  };
  EXPECT_EQ(send("chunk", "x"), 409);  // nothing begun
  ASSERT_EQ(send("begin", {{"name", "mine.vcf"}, {"size", file.size()}}), 200);
  EXPECT_EQ(send("chunk", "\u0100"), 400);  // not a byte: the opening ends
  ASSERT_EQ(send("begin", {{"name", "mine.vcf"}, {"size", file.size()}}), 200);
  ASSERT_EQ(send("chunk", latin1.substr(0, 20)), 200);
  ASSERT_EQ(send("chunk", latin1.substr(20)), 200);
  ASSERT_EQ(send("end", nullptr), 200);
  picker = s.ui.snapshot()["modal"];
  ASSERT_EQ(picker["people"].size(), 1u);
  EXPECT_EQ(picker["people"][0]["name"], "Bar Café");
  EXPECT_TRUE(picker["openFile"].is_null());
  EXPECT_EQ(test::readFile(home.paths.contacts), file);
}

}  // namespace
}  // namespace voryx

namespace voryx {
namespace {

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
  EXPECT_EQ(alert["title"], "File Voryx.csv create into " + home.paths.exportDir.string());
  EXPECT_TRUE(alert["message"].get<std::string>().starts_with("1 entry cannot come back from the file")) << alert;
  EXPECT_EQ(alert["buttons"], json({"No", "Yes"}));
  const auto file = home.paths.exportDir / "Voryx.csv";
  EXPECT_EQ(test::readFile(file), "Anna;111\nBruno;222\nA;b;1;2\n");
  s.answer(1);
  ASSERT_FALSE(s.ui.snapshot()["openURL"].empty());
  const std::string url = s.ui.snapshot()["openURL"].back()["url"];
  ASSERT_TRUE(url.starts_with("/api/files/"));
  auto served = s.ui.ui.port().file(url.substr(std::string("/api/files/").size()));
  ASSERT_TRUE(served.has_value());
  EXPECT_EQ(served->name, "Voryx.csv");
  EXPECT_EQ(served->data, "Anna;111\nBruno;222\nA;b;1;2\n");
  // The same list as vCards: a card an entry, the deleted one left out.
  ASSERT_EQ(s.ui.tap("tool").status, 200);
  s.answer(7);  // Export to vCard
  EXPECT_EQ(s.ui.snapshot()["alerts"].back()["title"], "File Voryx.vcf create into " + home.paths.exportDir.string());
  s.answer(1);
  const std::string cards = s.ui.snapshot()["openURL"].back()["url"];
  auto vcf = s.ui.ui.port().file(cards.substr(std::string("/api/files/").size()));
  ASSERT_TRUE(vcf.has_value());
  EXPECT_EQ(vcf->name, "Voryx.vcf");
  const entries::AddressBook book = entries::parseVCards(vcf->data);
  ASSERT_EQ(book.persons.size(), 2u);
  EXPECT_EQ(book.persons[1].formatted, "A;b");
  EXPECT_EQ(book.persons[1].phones.at(0).number, "1;2");

  test::writeFile(file, "\xEF\xBB\xBFName;Number;Type\nЗоя;+7 1\nUgo;2\n");
  ASSERT_EQ(s.ui.tap("tool").status, 200);
  s.answer(5);  // Restore from file
  EXPECT_EQ(s.actionType(), 8);
  s.answer(1);
  EXPECT_EQ(s.ui.snapshot()["overlays"]["98"]["caption"], "Please wait...");
  s.ui.advance(0.1);
  auto snap = s.ui.snapshot();
  EXPECT_TRUE(snap["overlays"].empty());
  ASSERT_EQ(snap["alerts"].size(), 1u);
  EXPECT_EQ(snap["alerts"][0]["message"], "1 line could not be read: 1");
  EXPECT_EQ(rowLabels(snap["navigation"][0]), json({{"1", "Зоя", "+7 1", "cyan"}, {"2", "Ugo", "2", "cyan"}}));
}

}  // namespace
}  // namespace voryx

namespace voryx {
namespace {

// Setup: the stored order is ticked; "Done" stores the tapped row and the switches, back
// forgets them.
TEST(CommandsTest, SetupStoresTheNameOrderOnlyOnDone) {
  TempHome home;
  Screens s(home);
  auto ticked = [&] {
    const json screen = s.ui.screen();
    json out = json::array();
    for (const auto& row : screen["sections"][0]["rows"]) out.push_back(row["accessory"]);
    return out;
  };
  for (const char* leave : {"back", "done"}) {
    ASSERT_EQ(s.ui.tap("setup").status, 200);
    EXPECT_EQ(s.ui.screen()["sections"][0]["header"], "SIM name format");
    EXPECT_EQ(ticked(), json({"checkmark", nullptr}));
    ASSERT_EQ(s.ui.tap("row:1").status, 200);
    EXPECT_EQ(ticked(), json({nullptr, "checkmark"}));
    const auto row = [](const char* id, const char* title) {
      return json{{"kind", "switch"}, {"id", id}, {"title", title}, {"on", false}, {"enabled", true}};
    };
    EXPECT_EQ(s.ui.screen()["sections"][1],
              json({{"header", "Modem"},
                    {"rows", {row("ucs2", "Use UCS2 character set"), row("fast", "Fast transfers"),
                              row("records", "Read the SIM's files directly")}}}));
    for (const char* id : {"ucs2", "fast", "records"}) {
      ASSERT_EQ(s.ui.event({{"target", id}, {"action", "toggle"}, {"value", true}}).status, 200);
      EXPECT_EQ(s.ui.event({{"target", id}, {"action", "toggle"}, {"value", "on"}}).status, 400);
    }
    EXPECT_EQ(s.ui.screen()["sections"][1]["rows"][0]["on"], true);
    EXPECT_EQ(s.ui.screen()["sections"][1]["rows"][1]["on"], true);
    ASSERT_EQ(s.ui.tap(leave).status, 200);
    EXPECT_EQ(s.ui.snapshot()["navigation"].size(), 1u);
    const auto stored = leave == std::string("done") ? std::optional(1) : std::nullopt;
    EXPECT_EQ(Preferences(home.paths.preferences).value(kPrefUcs2), stored);
    EXPECT_EQ(Preferences(home.paths.preferences).value(kPrefFast), stored);
    EXPECT_EQ(Preferences(home.paths.preferences).value(kPrefRecords), stored);
  }
  Preferences stored(home.paths.preferences);
  EXPECT_EQ(stored.integer(kPrefLastFirst, -1), 1);
  EXPECT_EQ(stored.integer(kPrefFast, -1), 1);
}

// The phonebook store shown: chosen among those the last read found, named in the title
// and under it; the SIM's own stores without their edit actions.
TEST(CommandsTest, SetupChoosesThePhonebookStoreShown) {
  TempHome home;
  {
    Preferences prefs(home.paths.preferences);
    prefs.setText(kPrefPhonebooks, "SM,FD,EN");
    prefs.setValue("maxSIM.EN", 5);
    ASSERT_TRUE(prefs.synchronize());
  }
  ASSERT_TRUE(SimTable::open(home.paths.database(), ListStore::Phonebook, kShellBusy, Phonebook::EN)
                  ->replaceAll({{1, "Emergenza", "112", 0}, {2, "Emergency", "911", 0}}, true)
                  .ok());
  Screens s(home);
  ASSERT_EQ(s.ui.tap("setup").status, 200);
  const json books = s.ui.screen()["sections"][2];
  EXPECT_EQ(books["header"], "Phonebook");
  ASSERT_EQ(books["rows"].size(), 3u);
  EXPECT_EQ(books["rows"][0], json({{"id", "book:SM"}, {"title", "SIM phonebook (SM)"}, {"accessory", "checkmark"}}));
  EXPECT_EQ(books["rows"][2]["title"], "Emergency numbers (EN)");
  EXPECT_EQ(s.ui.tap("book:ME").status, 409);  // not offered
  ASSERT_EQ(s.ui.tap("book:EN").status, 200);
  EXPECT_EQ(s.ui.screen()["sections"][2]["rows"][2]["accessory"], "checkmark");
  ASSERT_EQ(s.ui.tap("done").status, 200);
  EXPECT_EQ(Preferences(home.paths.preferences).text(kPrefPhonebook), "EN");

  json screen = s.ui.screen();
  EXPECT_EQ(screen["title"], "Vorx EN (2,5)");
  EXPECT_EQ(screen["subtitle"], "Emergency numbers");
  EXPECT_EQ(rowLabels(screen)[1][1], "Emergency");
  EXPECT_EQ(screen["toolbar"][1]["enabled"], false);  // add
  EXPECT_EQ(screen["toolbar"][2]["enabled"], false);  // the tools work on the SIM phonebook
  ASSERT_EQ(s.ui.tap("row:0").status, 200);
  EXPECT_EQ(s.ui.snapshot()["sheet"]["buttons"], json({"Add to address book", "Call", "Cancel"}));
  s.answer(1);  // Call
  EXPECT_EQ(*SimTable::open(home.paths.database(), ListStore::Phonebook, kShellBusy, Phonebook::EN)->countMarked(), 0);
}

}  // namespace
}  // namespace voryx
