// A standard client against the virtual modem: gammu (when installed) reads the phonebook
// and the SMS store over the pty and must list what the SIM holds.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "sim/VirtualModem.h"
#include "store/TempDir.h"

using namespace voryx::sim;

namespace {

// Runs gammu with a configuration for `device`; its standard output.
std::string runGammu(const std::string& device, const std::string& args) {
  voryx::test::TempDir dir;
  const auto rc = dir / "gammurc";
  std::ofstream(rc) << "[gammu]\ndevice = " << device << "\nconnection = at\n";
  std::string out;
  if (FILE* p = ::popen(("gammu -c " + rc.string() + " " + args + " 2>&1").c_str(), "r")) {
    char buf[4096];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
    ::pclose(p);
  }
  return out;
}

}  // namespace

TEST(GammuTest, ListsWhatTheSimHolds) {
  if (std::system("command -v gammu >/dev/null") != 0) GTEST_SKIP() << "gammu is not installed";
  VirtualModem modem{SimCard::demo()};
  ASSERT_TRUE(modem.start());

  const std::string phonebook = runGammu(modem.devicePath(), "getallmemory SM");
  for (const char* expected : {"\"Иван Петров\"", "\"Hélène Dubois\"", "\"Office@Home\"", "\"Pay$ Desk\"",
                               "\"_voicemail\"", "\"Bar €uro\"", "\"Ärztehaus\"", "\"Γιώργος\"", "\"Ґанна\"",
                               "\"山田太郎\"", "\"+79161234567\"", "\"0612345678\""}) {
    EXPECT_NE(phonebook.find(expected), std::string::npos) << expected << "\n" << phonebook;
  }
  const std::string sms = runGammu(modem.devicePath(), "getallsms");
  for (const char* expected : {"Привет! Как дела?", "Grüße aus München! Nächste Woche wieder da.",
                               "Ricordati il pane", "Costa 5€ [sconto]", "\"+393331234567\"",
                               "5 SMS parts in 5 SMS sequences"}) {
    EXPECT_NE(sms.find(expected), std::string::npos) << expected << "\n" << sms;
  }
}
