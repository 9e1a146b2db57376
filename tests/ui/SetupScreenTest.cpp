// The setup screen: the name order, the switches, the phonebook store shown and the
// address book.
#include <gtest/gtest.h>

#include "contacts/EdsBook.h"
#include "support/PrivateEds.h"
#include "ui/Screens.h"

namespace voryx {
namespace {

// The address book's section: each row's title, detail and whether it is ticked. With
// `files`, only the vCard rows (the machine's own desktop books, if any, left out).
json addressRows(const json& screen, bool files = false) {
  EXPECT_EQ(screen["sections"][3]["header"], "Address book");
  json out = json::array();
  for (const auto& row : screen["sections"][3]["rows"]) {
    if (files && row["detail"].get<std::string>().starts_with("Desktop address book")) continue;
    out.push_back({row["title"], row["detail"], row["accessory"] == "checkmark"});
  }
  return out;
}

// The names the people picker shows: the address book in use. The picker is closed again.
json pickerNames(UiHarness& ui) {
  EXPECT_EQ(ui.tap("add").status, 200);
  ui.answer(0);  // From address book
  json names = json::array();
  const json picker = ui.snapshot()["modal"];
  for (const auto& person : picker["people"]) names.push_back(person["name"]);
  EXPECT_EQ(ui.tap("cancel").status, 200);
  return names;
}

// The row of the address book's section whose detail is `detail`.
std::string addressRow(UiHarness& ui, const std::string& detail) {
  const json screen = ui.screen();
  for (const auto& row : screen["sections"][3]["rows"]) {
    if (row["detail"] == detail) return row["id"];
  }
  ADD_FAILURE() << "no address book " << detail;
  return "";
}

// Setup: the stored order is ticked; "Done" and back alike store the tapped row and the
// switches: a switch turned stays turned.
TEST(CommandsTest, SetupStoresItsSettingsOnDoneAndOnBack) {
  TempHome home;
  Screens s(home);
  auto ticked = [&] {
    const json screen = s.ui.screen();
    json out = json::array();
    for (const auto& row : screen["sections"][0]["rows"]) out.push_back(row["accessory"]);
    return out;
  };
  struct Case {
    const char* leave;
    int row;      // tapped
    bool on;      // every switch turned to
    json ticked;  // at the start
  };
  const Case kCases[] = {
      {"back", 1, true, {"checkmark", nullptr}},
      {"done", 0, false, {nullptr, "checkmark"}},
      {"back", 1, true, {"checkmark", nullptr}},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(std::string(c.leave) + " " + std::to_string(c.row));
    ASSERT_EQ(s.ui.tap("setup").status, 200);
    EXPECT_EQ(s.ui.screen()["sections"][0]["header"], "SIM name format");
    EXPECT_EQ(ticked(), c.ticked);
    ASSERT_EQ(s.ui.tap("row:" + std::to_string(c.row)).status, 200);
    EXPECT_EQ(ticked()[c.row], "checkmark");
    const auto row = [](const char* id, const char* title, bool on) {
      return json{{"kind", "switch"}, {"id", id}, {"title", title}, {"on", on}, {"enabled", true}};
    };
    const bool was = !c.on;  // what the case before left
    EXPECT_EQ(s.ui.screen()["sections"][1],
              json({{"header", "Modem"},
                    {"rows", {row("ucs2", "Use UCS2 character set", was), row("fast", "Fast transfers", was),
                              row("records", "Read the SIM's files directly", was)}}}));
    for (const char* id : {"ucs2", "fast", "records"}) {
      ASSERT_EQ(s.ui.event({{"target", id}, {"action", "toggle"}, {"value", c.on}}).status, 200);
      EXPECT_EQ(s.ui.event({{"target", id}, {"action", "toggle"}, {"value", "on"}}).status, 400);
    }
    EXPECT_EQ(s.ui.screen()["sections"][1]["rows"][1]["on"], c.on);
    ASSERT_EQ(s.ui.tap(c.leave).status, 200);
    EXPECT_EQ(s.ui.snapshot()["navigation"].size(), 1u);
    Preferences stored(home.paths.preferences);
    EXPECT_EQ(stored.value(kPrefLastFirst), c.row);
    for (const char* key : {kPrefUcs2, kPrefFast, kPrefRecords}) EXPECT_EQ(stored.value(key), c.on ? 1 : 0) << key;
  }
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

  // The phone's own memory: the buttons say where they read and write; the messages are
  // the SIM's again.
  {
    Preferences prefs(home.paths.preferences);
    prefs.setText(kPrefPhonebooks, "SM,FD,EN,ME");
    ASSERT_TRUE(prefs.synchronize());
  }
  ASSERT_EQ(s.ui.tap("setup").status, 200);
  ASSERT_EQ(s.ui.tap("book:ME").status, 200);
  ASSERT_EQ(s.ui.tap("done").status, 200);
  screen = s.ui.screen();
  EXPECT_EQ(screen["toolbar"][0]["title"], "Read from phone");
  EXPECT_EQ(screen["toolbar"][3]["title"], "Write to phone");
  EXPECT_EQ(screen["empty"], "No entries. Read from phone to copy the phone's memory here.");
  s.ui.showStore(1);
  EXPECT_EQ(s.ui.screen()["toolbar"][0]["title"], "Read from SIM");
}

// The address book: the vCard file of the data folder, and the one in use when another
// (here a folder, as --contacts names it). The book in use alone is never stored; a row
// chosen is, and the picker reads it at once, however the screen is left.
TEST(CommandsTest, SetupChoosesTheAddressBook) {
  TempHome home;
  const std::string file = home.paths.vcardBook().string();
  const std::string folder = (home / "vdir").string();
  test::writeFile(file, "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Anna Rossi\r\nTEL:1\r\nEND:VCARD\r\n");
  std::filesystem::create_directory(folder);
  test::writeFile(home / "vdir" / "c.vcf", "BEGIN:VCARD\r\nVERSION:4.0\r\nFN:Carla Verdi\r\nTEL:2\r\nEND:VCARD\r\n");
  home.paths.contacts = folder;
  Screens s(home);
  struct Step {
    const char* tap;  // the detail of the row tapped, or none
    const char* leave;
    json rows;        // on arrival
    std::optional<std::string> stored;
    const char* picked;
  };
  const Step kSteps[] = {
      {nullptr, "back", {{"vCard file", file, false}, {"vCard folder", folder, true}}, std::nullopt, "Carla Verdi"},
      {file.c_str(), "back", {{"vCard file", file, false}, {"vCard folder", folder, true}}, file, "Anna Rossi"},
      {file.c_str(), "done", {{"vCard file", file, true}}, file, "Anna Rossi"},
  };
  for (const Step& step : kSteps) {
    SCOPED_TRACE(std::string(step.tap ? "tap " : "") + step.leave);
    ASSERT_EQ(s.ui.tap("setup").status, 200);
    EXPECT_EQ(addressRows(s.ui.screen(), true), step.rows);
    if (step.tap) {
      ASSERT_EQ(s.ui.tap(addressRow(s.ui, step.tap)).status, 200);
      EXPECT_EQ(addressRows(s.ui.screen(), true)[0][2], true);
    }
    EXPECT_EQ(s.ui.tap("contacts:9").status, 409);
    EXPECT_EQ(s.ui.tap("contacts:x").status, 400);
    ASSERT_EQ(s.ui.tap(step.leave).status, 200);
    EXPECT_EQ(Preferences(home.paths.preferences).text(kPrefContacts), step.stored);
    EXPECT_EQ(pickerNames(s.ui), json({step.picked}));
  }
}

// The desktop's books (a private evolution-data-server's) by name, the default marked;
// "eds:" is the default one; a desktop book that does not answer stays shown while in
// use. Choosing one stores it by its UID and the picker reads it at once.
TEST(CommandsTest, SetupOffersTheDesktopsAddressBooks) {
  test::PrivateEds eds;
  ASSERT_TRUE(eds.ready());
  entries::Person dora;
  dora.first = "Dora";
  dora.last = "Blu";
  dora.phones = {{"mobile", "+393330000000"}};
  ASSERT_TRUE(contacts::addEdsContact("", dora));
  struct Case {
    const char* inUse;  // Paths::contacts; none: the vCard file
    json rows;
  };
  const json personal = {"Personal", "Desktop address book (default)", false};
  const json personalTicked = {"Personal", "Desktop address book (default)", true};
  TempHome home;
  const std::string file = home.paths.vcardBook().string();
  const Case kCases[] = {
      {"eds:", {personalTicked, {"vCard file", file, false}}},
      {"eds:system-address-book", {personalTicked, {"vCard file", file, false}}},
      {"eds:gone", {personal, {"vCard file", file, false}, {"Desktop address book", "eds:gone", true}}},
      {nullptr, {personal, {"vCard file", file, true}}},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.inUse ? c.inUse : "the vCard file");
    home.paths.contacts = c.inUse ? std::filesystem::path(c.inUse) : home.paths.vcardBook();
    Screens s(home);
    ASSERT_EQ(s.ui.tap("setup").status, 200);
    EXPECT_EQ(addressRows(s.ui.screen()), c.rows);
    if (c.inUse) continue;
    ASSERT_EQ(s.ui.tap("contacts:0").status, 200);
    ASSERT_EQ(s.ui.tap("done").status, 200);
    EXPECT_EQ(Preferences(home.paths.preferences).text(kPrefContacts), "eds:system-address-book");
    EXPECT_EQ(pickerNames(s.ui), json({"Dora Blu"}));
    ASSERT_EQ(s.ui.tap("setup").status, 200);
    EXPECT_EQ(addressRows(s.ui.screen()), json({personalTicked, {"vCard file", file, false}}));
  }
}

}  // namespace
}  // namespace voryx
