// The support mail from the main screen's tool sheet: the composer comes up with the log
// as it stands, logging stops at once, and Cancel or Send ends it.
#include <gtest/gtest.h>

#include "entries/SupportMailTest.h"
#include "ui/Screens.h"

namespace voryx {
namespace {

TEST(MailComposerTest, SendsTheLogAsItWasWhenTheComposerCameUp) {
  TempHome home;
  std::filesystem::create_directories(home.path / "config");
  test::writeFile(home.paths.preferences, R"({"supportAddress": "help@example.org"})");
  // No desktop: Send must not start the mail client of the machine the tests run on.
  test::ScopedEnv display{"DISPLAY", nullptr}, wayland{"WAYLAND_DISPLAY", nullptr};
  ScopedLog logging(home);
  Screens s(home);
  auto createLog = [&] {
    int c = -1;
    s.ui.onMain([&] { c = s.ui.ui.root().createLog; });
    return c;
  };
  struct Case {
    const char* end;                    // the composer's bar button
    std::vector<std::pair<std::string, std::string>> typed;  // field, text
    json sent;                          // the .eml's to, subject and body; null: nothing served
  };
  const Case kCases[] = {
      {"cancel", {{"body", "never sent"}}, nullptr},
      {"send",
       {{"to", "dev@example.org"}, {"subject", "Zoë's SIM"}, {"body", "BELOW ADD A DESCRIPTION OF THE ISSUE\n\nNo <names> after a read\n"}},
       {"dev@example.org", "Zoë's SIM", "BELOW ADD A DESCRIPTION OF THE ISSUE<br><br>No &lt;names&gt; after a read<br>"}},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.end);
    ASSERT_EQ(s.ui.tap("tool").status, 200);
    s.answer(6);  // Start debug log
    ASSERT_EQ(createLog(), 1);
    DebugLog::append("read |+CPBR: 1,\"+39021234\",145,\"%s\"|\n", "Zoë");
    const std::string log = DebugLog::contents();
    const auto urls = s.ui.snapshot()["openURL"].size();

    ASSERT_EQ(s.ui.tap("tool").status, 200);
    s.answer(6);  // Send debug log to support
    EXPECT_EQ(createLog(), 0);
    DebugLog::append("read |OK|\n");  // after the composer came up: not in the message
    json modal = s.ui.snapshot()["modal"];
    ASSERT_EQ(modal["screen"], "MailComposer");
    EXPECT_EQ(modal["transition"], "pageCurl");
    EXPECT_EQ(modal["title"], "Voryx support (v0.1)");
    EXPECT_EQ(modal["composer"]["to"]["text"], "help@example.org");
    EXPECT_EQ(modal["composer"]["body"]["text"], "BELOW ADD A DESCRIPTION OF THE ISSUE\n\n");
    EXPECT_EQ(modal["composer"]["attachment"]["text"], log);
    EXPECT_EQ(modal["composer"]["attachment"]["label"], "Voryx.log, " + std::to_string(log.size()) + " bytes");
    EXPECT_EQ(s.ui.event({{"target", "attachment"}, {"action", "change"}, {"value", ""}}).status, 400);
    for (const auto& [field, text] : c.typed) {
      ASSERT_EQ(s.ui.event({{"target", field}, {"action", "change"}, {"value", text}}).status, 200);
    }
    ASSERT_EQ(s.ui.tap(c.end).status, 200);

    const json snap = s.ui.snapshot();
    EXPECT_TRUE(snap["modal"].is_null());
    EXPECT_TRUE(snap["alerts"].empty());
    EXPECT_EQ(createLog(), 0);
    EXPECT_EQ(test::readFile(home.paths.logFile), log + "read |OK|\n");  // the log itself is untouched
    if (c.sent.is_null()) {
      EXPECT_EQ(snap["openURL"].size(), urls);
      continue;
    }
    ASSERT_EQ(snap["openURL"].size(), urls + 1);
    const std::string url = snap["openURL"].back()["url"];
    ASSERT_TRUE(url.starts_with("/api/files/"));
    const auto file = s.ui.ui.port().file(url.substr(11));
    ASSERT_TRUE(file.has_value());
    EXPECT_EQ(file->type, "message/rfc822");
    EXPECT_EQ(file->name, "Voryx support.eml");
    test::writeFile(home.path / "sent.eml", file->data);
    const json eml = test::readEml(home.path / "sent.eml");
    ASSERT_TRUE(eml.is_object());
    EXPECT_EQ(json({eml["to"], eml["subject"], eml["html"]}), c.sent);
    EXPECT_EQ(eml["attachments"][0]["hex"], test::hexOf(log));
  }
}

}  // namespace
}  // namespace voryx
