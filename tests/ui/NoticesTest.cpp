// The notices the main screen's commands end with: a short line that says what was done,
// in English and in Italian, and goes by itself. (The import of all contacts and the new
// contact's notices are checked in English with their screens.)
#include <gtest/gtest.h>

#include <functional>

#include "entries/SupportMailTest.h"
#include "ui/Screens.h"

namespace voryx {
namespace {

// The one person of the address book: two of the numbers are on the list already.
constexpr const char* kCarla =
    "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Verdi;Carla;;;\r\nTEL;TYPE=CELL:111\r\nTEL:222\r\nTEL:3 3 3\r\nEND:VCARD\r\n";

void withCarla(const TempHome& home) {
  home.exec("INSERT INTO sim VALUES (1,'Anna','111',0),(2,'Bea','222',0)");
  ASSERT_TRUE(Preferences(home.paths.preferences).store(kPrefMaxSIM, 250));
  test::writeFile(home.paths.contacts, kCarla);
}

// The end of a read of `rows` rows, or of a write of `rows` changes, on the store `tipo`.
std::function<void(Screens&)> ended(int tipo, bool write, int rows) {
  return [=](Screens& s) {
    transfer::JobReport report;
    (write ? report.confirmed : report.rows) = rows;
    report.marked = write ? rows : 0;
    s.ui.showStore(tipo);
    s.ui.onMain([&] { s.ui.ui.root().transferEnded(write, report); });
  };
}

TEST(NoticesTest, CommandsSayWhatTheyDidAndTheNoticeGoesByItself) {
  struct Case {
    const char* what;
    std::function<void(const TempHome&)> before;
    std::function<void(Screens&)> act;
    const char* english;
    const char* italian;
  };
  const auto nothing = [](const TempHome&) {};
  const Case kCases[] = {
      {"read", nothing, ended(0, false, 36), "Read 36 entries", "Lette 36 voci"},
      {"read of one message", nothing, ended(1, false, 1), "Read 1 message", "Letto 1 messaggio"},
      {"write", nothing, ended(0, true, 4), "Wrote 4 changes", "Scritte 4 modifiche"},
      {"restore",
       [](const TempHome& home) {
         std::filesystem::create_directories(home.paths.exportDir);
         test::writeFile(home.paths.exportDir / "Voryx.csv", "Anna;1\nBea;2\nCarla;3\n");
       },
       [](Screens& s) {
         ASSERT_EQ(s.ui.tap("tool").status, 200);
         s.answer(5);  // Restore from file
         s.answer(1);
         s.ui.advance(0.1);
       },
       "Restored 3 entries from Voryx.csv", "Ripristinate 3 voci da Voryx.csv"},
      {"add all", withCarla,
       [](Screens& s) {
         ASSERT_EQ(s.ui.tap("add").status, 200);
         s.answer(0);  // From address book
         ASSERT_EQ(s.ui.tap("row:0").status, 200);
         ASSERT_EQ(s.ui.tap("add").status, 200);  // Add all
       },
       "Added 1; 2 were already on the list", "Aggiunta 1; 2 erano già nell'elenco"},
      {"start debug log", nothing,
       [](Screens& s) {
         ASSERT_EQ(s.ui.tap("tool").status, 200);
         s.answer(6);
       },
       "Debug log started", "Log di debug avviato"},
      {"send the support mail", nothing,
       [](Screens& s) {
         for (int i = 0; i < 2; ++i) {  // start the log, then send it
           ASSERT_EQ(s.ui.tap("tool").status, 200);
           s.answer(6);
         }
         ASSERT_EQ(s.ui.tap("send").status, 200);
       },
       "Saved Voryx support.eml \u2014 attach it in your mail program",
       "Salvato Voryx support.eml \u2014 allegalo nel tuo programma di posta"},
      {"a name cut on save", nothing,
       [](Screens& s) {
         ASSERT_EQ(s.ui.tap("add").status, 200);
         s.answer(1);  // New entry
         s.type("text1", "Dr. Weber Praxis");
         ASSERT_EQ(s.ui.tap("save").status, 200);
       },
       "Name shortened to 'Dr. Weber Prax' (the SIM keeps 14 letters)",
       "Nome accorciato in 'Dr. Weber Prax' (la SIM tiene 14 lettere)"},
  };
  // No desktop: Send must not start the mail client of the machine the tests run on.
  test::ScopedEnv display{"DISPLAY", nullptr}, wayland{"WAYLAND_DISPLAY", nullptr};
  for (const Case& c : kCases) {
    for (const char* language : {"en", "it"}) {
      SCOPED_TRACE(std::string(c.what) + ", " + language);
      TempHome home;
      ScopedLog log(home);
      c.before(home);
      Screens s(home);
      s.ui.ui.setLanguage(language);
      c.act(s);
      const json notice = s.ui.snapshot()["notice"];
      ASSERT_TRUE(notice.is_object()) << s.ui.snapshot()["alerts"];
      EXPECT_EQ(notice["text"], language == std::string("en") ? c.english : c.italian);
      // A polite notice: nothing to answer, and gone after its seconds.
      EXPECT_TRUE(s.ui.snapshot()["alerts"].empty());
      s.ui.advance(kit::UiApplication::kNoticeSeconds);
      EXPECT_TRUE(s.ui.snapshot()["notice"].is_null());
      s.ui.ui.setLanguage("en");
    }
  }
}

}  // namespace
}  // namespace voryx
