// A standard client against the virtual modem: gammu reads the phonebook and the SMS store
// over the pty and must list what the SIM holds. The install script installs gammu, so its
// absence is a failure, not a skip.
#include <gtest/gtest.h>

#include "sim/Gammu.h"
#include "sim/VirtualModem.h"

using namespace voryx::sim;
using voryx::test::runGammu;

TEST(GammuTest, ListsWhatTheSimHolds) {
  ASSERT_TRUE(voryx::test::gammuInstalled()) << "gammu is not installed: run scripts/install-deps.sh";
  // Senders' names (alphanumeric addresses, packed septets) as gammu decodes them.
  SimCard senders(10, 14, 10);
  senders.addMessage({SmsStatus::RecRead, "Vodafone", "24/05/04,08:00:00+08", "Promo", false, {}});
  senders.addMessage({SmsStatus::RecUnread, "SMART", "24/05/04,09:00:00+08", "Saldo 5€", false, {}});
  struct Case { SimCard card; const char* args; std::vector<const char*> expected; };
  const Case kCases[] = {
      {SimCard::demo(), "getallmemory SM",
       {"\"Иван Петров\"", "\"Hélène Dubois\"", "\"Office@Home\"", "\"Pay$ Desk\"", "\"_voicemail\"", "\"Bar €uro\"",
        "\"Ärztehaus\"", "\"Γιώργος\"", "\"Ґанна\"", "\"山田太郎\"", "\"+79161234567\"", "\"0612345678\""}},
      {SimCard::demo(), "getallsms",
       {"Привет! Как дела?", "Grüße aus München! Nächste Woche wieder da.", "Ricordati il pane", "Costa 5€ [sconto]",
        "\"+393331234567\"", "8 SMS parts in 8 SMS sequences", "part 1 of 3",
        "a Marco abbiamo raccolto 15 euro a testa. A sabato!"}},
      {senders, "getallsms", {"\"Vodafone\"", "\"SMART\"", "Promo", "Saldo 5€"}},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.args);
    VirtualModem modem{c.card};
    ASSERT_TRUE(modem.start());
    const std::string out = runGammu(modem.devicePath(), c.args);
    for (const char* expected : c.expected) EXPECT_NE(out.find(expected), std::string::npos) << expected << "\n" << out;
  }
}
