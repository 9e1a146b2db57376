// The setup screen: the name order, the switches and the phonebook store shown.
#include <gtest/gtest.h>

#include "ui/Screens.h"

namespace voryx {
namespace {

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

}  // namespace
}  // namespace voryx
