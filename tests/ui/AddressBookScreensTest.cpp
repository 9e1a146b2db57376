// The address book's screens as the page drives them.
#include <gtest/gtest.h>

#include "contacts/EdsBook.h"
#include "support/PrivateEds.h"
#include "ui/Screens.h"

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
                  "BEGIN:VCARD\r\nVERSION:3.0\r\nORG:ACME\r\nTEL;TYPE=WORK:9 9\r\nEND:VCARD\r\n");
  Screens s(home);
  ASSERT_EQ(s.ui.tap("add").status, 200);
  s.answer(0);  // From address book
  auto picker = s.ui.snapshot()["modal"];
  ASSERT_EQ(picker["screen"], "PeoplePicker");
  EXPECT_EQ(picker["people"].size(), 2u);
  ASSERT_EQ(s.ui.event({{"target", "search"}, {"action", "change"}, {"value", "acm"}}).status, 200);
  ASSERT_EQ(s.ui.snapshot()["modal"]["people"].size(), 1u);
  ASSERT_EQ(s.ui.cancelSearch().status, 200);
  ASSERT_EQ(s.ui.tap("row:0").status, 200);
  auto snap = s.ui.snapshot();
  EXPECT_TRUE(snap["modal"].is_null());
  auto phones = snap["navigation"].back();
  ASSERT_EQ(phones["screen"], "addContact");
  EXPECT_EQ(phones["person"]["name"], "Bbb Aaa");
  EXPECT_EQ(phones["phones"][1], json({{"id", "row:1"}, {"label", "home"}, {"number", "333 4"}}));
  EXPECT_EQ(phones["phones"][2]["label"], "");
  ASSERT_EQ(s.ui.tap("add").status, 200);  // Add all: three entries, named by type, the screen goes
  snap = s.ui.snapshot();
  EXPECT_EQ(snap["navigation"].size(), 1u);
  EXPECT_EQ(snap["notice"]["text"], "Added 3");
  // The new rows are brought into view and highlighted for a moment.
  EXPECT_EQ(snap["navigation"][0]["scrollTo"]["row"], 2);
  json highlighted = json::array();
  for (const auto& row : snap["navigation"][0]["rows"]) highlighted.push_back(row["highlight"]);
  EXPECT_EQ(highlighted, json({false, false, true, true, true}));

  // Replace row 0 (Anna) with the organization-only person: no name, its number.
  ASSERT_EQ(s.ui.tap("row:0").status, 200);
  s.answer(0);  // Replace with a contact
  ASSERT_EQ(s.ui.tap("row:1").status, 200);
  ASSERT_EQ(s.ui.snapshot()["navigation"].back()["person"]["name"], "");
  ASSERT_EQ(s.ui.tap("add").status, 200);
  EXPECT_EQ(stored(home, ListStore::Phonebook),
            (std::vector<SimEntry>{{1, "", "99", 3}, {2, "Rossi, Mario Luigi", "+39 02 7", 0},
                                   {3, "Bbb Aaa/M", "+39021", 1}, {4, "Bbb Aaa/H", "3334", 1}, {5, "Bbb Aaa/O", "555", 1}}));

  // Row 1 into the address book as a new person (with lastFirst 1 the part before the
  // comma is the first name).
  ASSERT_EQ(s.ui.tap("row:1").status, 200);
  s.answer(2);  // Add to address book
  auto card = s.ui.snapshot()["navigation"].back();
  ASSERT_EQ(card["screen"], "UnknownPerson");
  EXPECT_EQ(card["card"]["heading"], "Rossi Luigi Mario");
  ASSERT_EQ(s.ui.tap("create").status, 200);
  EXPECT_EQ(s.ui.snapshot()["navigation"].size(), 1u);
  EXPECT_EQ(s.ui.snapshot()["notice"]["text"], "Rossi Luigi Mario was added to the address book");
  // Once more: the book has the person; it asks, and "Cancel" adds nothing.
  ASSERT_EQ(s.ui.tap("row:1").status, 200);
  s.answer(2);
  ASSERT_EQ(s.ui.tap("create").status, 200);
  ASSERT_EQ(s.ui.snapshot()["alerts"].size(), 1u);
  const json asked = s.ui.answer("Cancel");
  EXPECT_EQ(asked["message"], "Rossi Luigi Mario is already in the address book.");
  EXPECT_EQ(asked["buttons"], json({"Cancel", "Add anyway"}));
  EXPECT_EQ(s.ui.screen()["screen"], "UnknownPerson");
  ASSERT_EQ(s.ui.tap("back").status, 200);

  // Import all: every number is on the list now (the new person's "+39 02 7" too), so
  // there is nothing to ask: an alert says why, and nothing is marked.
  ASSERT_EQ(s.ui.tap("tool").status, 200);
  s.answer(1);
  const json nothing = s.ui.answer("Ok");
  EXPECT_EQ(nothing["message"], "Nothing to add.\n5 numbers are on the list already.");
  EXPECT_TRUE(s.ui.snapshot()["overlays"].empty());
  EXPECT_EQ(stored(home, ListStore::Phonebook).size(), 5u);
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

// The tool sheet's copy into the address book: the plan first, then the copy, merged;
// a second copy finds everything there.
TEST(CommandsTest, TheSimIsCopiedIntoTheAddressBookMerged) {
  TempHome home;
  home.exec("INSERT INTO sim VALUES (1,'Anna/M','+393331111111',0),(2,'Anna/H','0255555555',0),"
            "(3,'Bruno','+390277777777',0)");
  test::writeFile(home.paths.contacts, "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Bruno\r\nTEL:02 77777777\r\nEND:VCARD\r\n");
  Screens s(home);
  const auto copy = [&] {
    EXPECT_EQ(s.ui.tap("tool").status, 200);
    return s.ui.answer("Copy SIM to address book");
  };
  copy();
  json alert = s.ui.snapshot()["alerts"].back();
  EXPECT_EQ(alert["message"], "Copy 1 contact into the address book? 2 numbers join 1 of them. 1 is there already.");
  s.ui.answer("Copy");
  EXPECT_EQ(s.ui.snapshot()["notice"]["text"], "Added 1 contact to the address book; 1 was there already");
  const auto book = entries::readAddressBook(home.paths.contacts);
  ASSERT_TRUE(book);
  ASSERT_EQ(book->persons.size(), 2u);
  EXPECT_EQ(book->persons[1].first, "Anna");
  ASSERT_EQ(book->persons[1].phones.size(), 2u);
  EXPECT_EQ(book->persons[1].phones[1].label, "home");

  copy();
  alert = s.ui.snapshot()["alerts"].back();
  EXPECT_EQ(alert["message"], "Nothing added to the address book; 3 were there already");
}

// The desktop's book: what changes there while the picker is up shows at once, and
// "Add to Existing Contact" gives an entry's number to a person of the book.
TEST(CommandsTest, TheDesktopsBookIsWatchedAndTakesNumbers) {
  test::PrivateEds eds;
  ASSERT_TRUE(eds.ready());
  TempHome home;
  home.paths.contacts = "eds:";
  home.exec("INSERT INTO sim VALUES (1,'Anna','+393331111111',0)");
  const auto add = [](const char* name, std::vector<entries::Phone> phones) {
    entries::Person person;
    person.first = name;
    person.phones = std::move(phones);
    auto uid = contacts::addEdsContact("", person);
    EXPECT_TRUE(uid) << uid.error().detail;
    return uid ? *uid : std::string();
  };
  const std::string bruno = add("Bruno", {{"mobile", "0277777777"}});
  Screens s(home);
  ASSERT_EQ(s.ui.tap("add").status, 200);
  s.answer(0);  // From address book
  ASSERT_EQ(s.ui.snapshot()["modal"]["people"].size(), 1u);
  add("Carla", {});
  ASSERT_TRUE(contacts::addEdsPhones("", bruno, {{"home", "02 1234567"}, {"", "+39 02 7777 7777"}}));
  s.ui.until([](const json& snap) {
    const json& people = snap["modal"]["people"];
    return people.size() == 2 && (people[0]["detail"] == "2 numbers" || people[1]["detail"] == "2 numbers");
  });
  ASSERT_EQ(s.ui.tap("cancel").status, 200);

  ASSERT_EQ(s.ui.tap("row:0").status, 200);
  s.answer(2);  // Add to address book
  ASSERT_EQ(s.ui.tap("addToExisting").status, 200);
  const json people = s.ui.snapshot()["modal"]["people"];
  const int row = people[0]["name"] == "Bruno" ? 0 : 1;
  ASSERT_EQ(s.ui.tap("row:" + std::to_string(row)).status, 200);
  const json snap = s.ui.snapshot();
  EXPECT_EQ(snap["navigation"].size(), 1u);
  EXPECT_EQ(snap["notice"]["text"], "The number was added to Bruno");
  const auto book = contacts::readEdsBook("");
  ASSERT_TRUE(book);
  for (const auto& person : book->persons) {
    if (person.first != "Bruno") continue;
    std::vector<std::string> numbers;
    for (const auto& phone : person.phones) numbers.push_back(phone.label + " " + phone.number);
    EXPECT_EQ(numbers, (std::vector<std::string>{"mobile 0277777777", "home 02 1234567", "main +393331111111"}));
  }
}

// Import all asks with the plan before it marks anything: what it adds (a person with
// two numbers as two typed entries under a name cut before the suffix), what does not
// fit, what is on the list in another form, what the SIM cannot hold. Then the overlay,
// and the import a tenth of a second later adds what the question said.
TEST(CommandsTest, ImportAllAsksWithThePlan) {
  TempHome home;
  home.exec("INSERT INTO sim VALUES (1,'Bruno','+39021234567',0)");
  ASSERT_TRUE(Preferences(home.paths.preferences).store(kPrefMaxSIM, 4));
  test::writeFile(home.paths.contacts,
                  "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Bianchini;Alessandra;;;\r\nTEL;TYPE=CELL:+39 333 1111111\r\n"
                  "TEL;TYPE=HOME:02 12345678\r\nEND:VCARD\r\n"
                  "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Bruno\r\nTEL:02 1234567\r\nEND:VCARD\r\n"
                  "BEGIN:VCARD\r\nVERSION:3.0\r\nORG:ACME\r\nTEL:0800-FLOWERS\r\nEND:VCARD\r\n"
                  "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Carla\r\nTEL:333 9999999\r\nEND:VCARD\r\n"
                  "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Dino\r\nTEL:333 8888888\r\nEND:VCARD\r\n");
  Screens s(home);
  const std::vector<SimEntry> before = stored(home, ListStore::Phonebook);
  ASSERT_EQ(s.ui.tap("tool").status, 200);
  s.answer(1);  // Import all contacts
  const json asked = s.ui.snapshot()["alerts"].back();
  EXPECT_EQ(asked["message"],
            "Add 3 entries to the SIM phonebook?\n"
            "1 does not fit: the SIM is full.\n"
            "1 number is on the list already.\n"
            "1 name is cut to what the SIM holds:\n"
            "Alessandra Bianchini \u2192 Alessandra B\n"
            "1 number the SIM cannot hold is left out:\n"
            "ACME: 0800-FLOWERS: 'F' cannot be stored in a SIM number.");
  EXPECT_EQ(asked["buttons"], json({"Cancel", "Add"}));
  EXPECT_EQ(stored(home, ListStore::Phonebook), before);

  s.ui.answer("Add");
  EXPECT_EQ(s.ui.snapshot()["overlays"]["98"]["caption"], "Please wait...");
  s.ui.advance(0.1);
  EXPECT_EQ(stored(home, ListStore::Phonebook),
            (std::vector<SimEntry>{{1, "Bruno", "+39021234567", 0}, {2, "Alessandra B/M", "+393331111111", 1},
                                   {3, "Alessandra B/H", "0212345678", 1}, {4, "Carla", "3339999999", 1}}));
  EXPECT_EQ(s.ui.snapshot()["notice"]["text"], "Added 3; 1 was already on the list");
}

}  // namespace
}  // namespace voryx
