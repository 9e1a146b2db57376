#include "entries/SupportMail.h"

#include <sys/wait.h>

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "entries/SupportMailTest.h"
#include "support/TempDir.h"

namespace voryx::entries {
namespace {

using nlohmann::json;
using namespace std::string_literals;

constexpr std::time_t kDate = 1796612463;  // Mon, 07 Dec 2026 03:01:03 UTC

// Logs, and edits a user might make, as the .eml carries them; Python's reader must give
// each back exactly.
TEST(SupportMailTest, EmlReadsBackAsMime) {
  struct Case {
    const char* what;
    std::string log;
    std::string subject;  // "" keeps the default
    std::string body;     // the body as the user typed it; "" keeps the default
  };
  const Case kCases[] = {
      {"the defaults", "LOG START\nsend |AT+CPBR=1,250|\nread |\r\n+CPBR: 1,\"+39021234\",145,\"Anna\"\r\n\r\nOK\r\n|\n", "", ""},
      {"UTF-8 in the log, the subject and the body", "read |+CMGR: \"Zoë: ci vediamo al caffè, 5 €\"|\n",
       "Supporto Voryx: è tutto rotto, perché?", "Il telefono non legge la SIM \u2013 aiuto \U0001F600"},
      {"lines like a boundary", "--\n--=_voryx_0\n--=_voryx_0--\n--voryx\n", "", "--=_voryx_0\n--=_voryx_1"},
      {"very long lines", "buffer |" + std::string(5000, 'A') + "|\n", std::string(300, 's'), std::string(2000, 'b')},
      {"an empty log", "", "", ""},
      {"bytes that are not UTF-8, NUL, lone CR", "read |\xff\xfe\x80|\rsend |\0|\r\r\n"s, "", ""},
      {"markup and encoded words typed as text", "x", "<b>not bold</b> & =?UTF-8?B?SGk=?=", "a < b & c > d\n\n<br> stays text"},
  };
  test::TempDir dir;
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    SupportMail mail = makeSupportMail("help@example.org", c.log);
    if (!c.subject.empty()) mail.subject = c.subject;
    if (!c.body.empty()) mail.htmlBody = htmlFromText(c.body);
    EXPECT_EQ(bodyText(mail.htmlBody), c.body.empty() ? "BELOW ADD A DESCRIPTION OF THE ISSUE\n\n" : c.body);
    test::writeFile(dir / "m.eml", encodeEml(mail, kDate));
    const json m = test::readEml(dir / "m.eml");
    ASSERT_TRUE(m.is_object());
    EXPECT_EQ(m["defects"], json::array());
    EXPECT_EQ(m["type"], "multipart/mixed");
    EXPECT_EQ(m["mime"], "1.0");
    EXPECT_EQ(m["to"], "help@example.org");
    EXPECT_EQ(m["subject"], c.subject.empty() ? "Voryx support (v0.1)" : c.subject);
    EXPECT_EQ(m["html"], c.body.empty() ? "BELOW ADD A DESCRIPTION OF THE ISSUE<br><br>" : htmlFromText(c.body));
    EXPECT_EQ(m["attachments"], json::parse(R"([{"type": "text/plain", "filename": "Voryx.log",
        "disposition": "attachment", "hex": ")" + test::hexOf(c.log) + "\"}]"));
    // The boundary opens two parts and closes the message, and occurs nowhere else.
    EXPECT_EQ(m["boundaries"], 3);
    EXPECT_EQ(m["occurrences"], 3);
    EXPECT_EQ(m["crlf"], true);
  }
}

// A header holds one line, whatever the user typed into it.
TEST(SupportMailTest, TypedLineBreaksStartNoHeader) {
  SupportMail mail = makeSupportMail("help@example.org\r\nBcc: all@example.org", "x");
  mail.subject = "Help\r\nX-Injected: yes";
  const std::string eml = encodeEml(mail, kDate);
  EXPECT_NE(eml.find("\r\nDate: Mon, 07 Dec 2026 03:01:03 +0000\r\n"), std::string::npos);
  EXPECT_EQ(eml.find("\nBcc:"), std::string::npos);
  EXPECT_EQ(eml.find("\nX-Injected:"), std::string::npos);
}

TEST(SupportMailTest, AddressesXdgEmailTakes) {
  const std::pair<const char*, bool> kCases[] = {
      {"support@voryx.invalid", true}, {"a.b+c@example.org", true}, {"", false},       {"@example.org", false},
      {"support@", false},             {"a@b@c", false},            {"a b@c", false},  {"-x@example.org", false},
      {"zoë@example.org", false},      {"a@b\n", false},
  };
  for (const auto& [address, ok] : kCases) EXPECT_EQ(isMailAddress(address), ok) << address;
}

// The desktop's mail client, stood in for by a script that keeps its arguments: it gets
// them as they are (no shell reads them), with a private copy of the log; nothing is left
// to reap. Without a desktop, or for a recipient xdg-email would take for an option,
// nothing is started and no copy made.
TEST(SupportMailTest, MailClientGetsTheArgumentsAsTheyAreAndAPrivateCopy) {
  test::TempDir dir;
  test::writeFile(dir / "xdg-email", "#!/bin/sh\nfor a; do printf '%s\\0' \"$a\"; done >\"$0.tmp\" && mv \"$0.tmp\" \"$0.args\"\n");
  std::filesystem::permissions(dir / "xdg-email", std::filesystem::perms(0755));
  const test::ScopedEnv path("PATH", (dir.path.string() + ":/usr/bin:/bin").c_str());
  const test::ScopedEnv display("DISPLAY", nullptr), wayland("WAYLAND_DISPLAY", nullptr);
  SupportMail mail = makeSupportMail("help@example.org", "LOG START\nread |'$(touch pwned)' \"x\"|\n");
  mail.subject = "It's \"broken\"; $(touch pwned) `id`";
  mail.htmlBody = htmlFromText("Line 1 & <2>\nLine 3");
  SupportMail option = mail;
  option.to = "--help";

  EXPECT_EQ(handToMailClient(mail, dir / "state").error().code, Errc::NotFound);
  ::setenv("DISPLAY", ":0", 1);
  EXPECT_EQ(handToMailClient(option, dir / "state").error().code, Errc::Invalid);
  EXPECT_FALSE(std::filesystem::exists(dir / "state"));
  ASSERT_TRUE(handToMailClient(mail, dir / "state").ok());
  EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);  // no child of ours left, not even a zombie

  for (int i = 0; i < 1000 && !std::filesystem::exists(dir / "xdg-email.args"); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  const auto copy = dir / "state" / "mail" / "Voryx.log";
  EXPECT_EQ(test::readFile(dir / "xdg-email.args"), "--utf8\0--subject\0"s + mail.subject + "\0--body\0Line 1 & <2>\nLine 3\0"s +
                                                       "--attach\0"s + copy.string() + "\0help@example.org\0"s);
  EXPECT_EQ(test::readFile(copy), mail.attachment);
  EXPECT_EQ(test::modeOf(copy), 0600u);
  EXPECT_EQ(test::modeOf(dir / "state" / "mail"), 0700u);
  EXPECT_FALSE(std::filesystem::exists(dir / "pwned"));
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::current_path() / "pwned"));
}

}  // namespace
}  // namespace voryx::entries
