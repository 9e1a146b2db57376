// A standard client against the virtual modem: gammu (when installed) reads the phonebook
// and the SMS store over the pty and must list what the SIM holds.
#include <gtest/gtest.h>

#include "sim/Gammu.h"
#include "sim/VirtualModem.h"

using namespace voryx::sim;
using voryx::test::runGammu;

TEST(GammuTest, ListsWhatTheSimHolds) {
  if (!voryx::test::gammuInstalled()) VORYX_SKIP_WITHOUT("gammu");
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
                               "8 SMS parts in 8 SMS sequences", "part 1 of 3", "a Marco abbiamo raccolto 15 euro a testa. A sabato!"}) {
    EXPECT_NE(sms.find(expected), std::string::npos) << expected << "\n" << sms;
  }
}

// A sender's name (alphanumeric address, packed septets) as gammu decodes it.
TEST(GammuTest, ReadsASendersName) {
  if (!voryx::test::gammuInstalled()) VORYX_SKIP_WITHOUT("gammu");
  SimCard card(10, 14, 10);
  card.addMessage({SmsStatus::RecRead, "Vodafone", "24/05/04,08:00:00+08", "Promo", false, {}});
  card.addMessage({SmsStatus::RecUnread, "SMART", "24/05/04,09:00:00+08", "Saldo 5€", false, {}});
  VirtualModem modem{card};
  ASSERT_TRUE(modem.start());
  const std::string sms = runGammu(modem.devicePath(), "getallsms");
  for (const char* expected : {"\"Vodafone\"", "\"SMART\"", "Promo", "Saldo 5€"}) {
    EXPECT_NE(sms.find(expected), std::string::npos) << expected << "\n" << sms;
  }
}
