// The setup screen: the name order, the switches and the phonebook store shown.
#include <gtest/gtest.h>

#include "ui/Screens.h"

namespace voryx {
namespace {

using nlohmann::json;
using test::rowLabels;
using test::Screens;
using test::stored;
using test::TempHome;

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
