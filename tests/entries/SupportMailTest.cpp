#include "entries/SupportMail.h"

#include <sys/wait.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "entries/EmlReader.h"
#include "store/TempDir.h"

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
// them as they are (no shell reads them), with a private copy of the log that later
// records do not change; nothing is left to reap.
class MailClientTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : {"PATH", "DISPLAY", "WAYLAND_DISPLAY"}) {
      const char* value = std::getenv(name);
      saved_.emplace_back(name, value ? std::optional<std::string>(value) : std::nullopt);
    }
    std::filesystem::create_directories(bin_);
    test::writeFile(bin_ / "xdg-email",
                    "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\0' \"$a\"; done > \"$0.tmp\" && mv \"$0.tmp\" \"$0.args\"\n");
    std::filesystem::permissions(bin_ / "xdg-email", std::filesystem::perms(0755));
    ::setenv("PATH", (bin_.string() + ":/usr/bin:/bin").c_str(), 1);
    ::unsetenv("WAYLAND_DISPLAY");
  }
  void TearDown() override {
    for (const auto& [name, value] : saved_) {
      if (value) {
        ::setenv(name.c_str(), value->c_str(), 1);
      } else {
        ::unsetenv(name.c_str());
      }
    }
  }
  // The arguments the script was started with; empty when it did not run within 10 s.
  std::vector<std::string> arguments() {
    const auto file = bin_ / "xdg-email.args";
    for (int i = 0; i < 1000 && !std::filesystem::exists(file); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    const std::string text = test::readFile(file);
    std::vector<std::string> out;
    for (std::size_t at = 0, end; (end = text.find('\0', at)) != std::string::npos; at = end + 1) out.push_back(text.substr(at, end - at));
    return out;
  }

  test::TempDir dir_;
  std::filesystem::path bin_ = dir_ / "bin";
  std::filesystem::path state_ = dir_ / "state";
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

TEST_F(MailClientTest, GetsTheArgumentsAsTheyAreAndAPrivateCopy) {
  ::setenv("DISPLAY", ":0", 1);
  SupportMail mail = makeSupportMail("help@example.org", "LOG START\nread |'$(touch pwned)' \"x\"|\n");
  mail.subject = "It's \"broken\"; $(touch pwned) `id`";
  mail.htmlBody = htmlFromText("Line 1 & <2>\nLine 3");
  ASSERT_TRUE(handToMailClient(mail, state_).ok());
  const auto copy = state_ / "mail" / "Voryx.log";
  EXPECT_EQ(arguments(), (std::vector<std::string>{"--utf8", "--subject", mail.subject, "--body", "Line 1 & <2>\nLine 3",
                                                   "--attach", copy.string(), "help@example.org"}));
  EXPECT_EQ(test::readFile(copy), mail.attachment);
  EXPECT_EQ(test::modeOf(copy), 0600u);
  EXPECT_EQ(test::modeOf(state_ / "mail"), 0700u);
  EXPECT_FALSE(std::filesystem::exists(dir_ / "pwned"));
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::current_path() / "pwned"));
  EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);  // no child of ours left, not even a zombie
}

TEST_F(MailClientTest, RefusesWithoutDesktopClientOrAddress) {
  const SupportMail mail = makeSupportMail("help@example.org", "x");
  SupportMail noAddress = mail;
  noAddress.to = "--help";
  ::unsetenv("DISPLAY");
  EXPECT_EQ(handToMailClient(mail, state_).error().code, Errc::NotFound);
  ::setenv("DISPLAY", ":0", 1);
  EXPECT_EQ(handToMailClient(noAddress, state_).error().code, Errc::Invalid);
  ::setenv("PATH", "/nonexistent", 1);
  EXPECT_EQ(handToMailClient(mail, state_).error().code, Errc::NotFound);
  EXPECT_FALSE(std::filesystem::exists(state_ / "mail"));
}

}  // namespace
}  // namespace voryx::entries
