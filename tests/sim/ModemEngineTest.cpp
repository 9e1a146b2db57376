// The command interpreter without a line: what a client sends and what it gets back.
#include <gtest/gtest.h>

#include <random>
#include <tuple>

#include "sim/ModemEngine.h"

using namespace voryx::sim;
using namespace std::string_literals;

namespace {

// One modem session over a SIM, answering whole lines.
struct Session {
  explicit Session(ModemOptions options = {}, SimCard card = SimCard::demo())
      : sim(std::move(card)), engine(sim, log, options) {}
  // Everything the modem sends back for `input` (echo included), and whether it hung up.
  std::string send(std::string_view input) {
    std::string out;
    for (const auto& o : engine.feed(input)) {
      if (o.kind == Output::Kind::HangUp) hungUp = true;
      out += o.bytes();
    }
    return out;
  }
  std::string at(std::string_view command) { return send(std::string(command) + "\r"); }

  SimCard sim;
  std::vector<std::string> log;
  ModemEngine engine;
  bool hungUp = false;
};

}  // namespace

TEST(ModemEngineTest, AnswersTheSetUpDialogue) {
  Session s;
  const std::pair<std::string, std::string> kDialogue[] = {
      {"AT", "AT\r\r\nOK\r\n"},  // echo is on until E0
      {"AT V1E0", "AT V1E0\r\r\nOK\r\n"},
      {"AT+CPBS=\"SM\";+CPBS?", "\r\n+CPBS: \"SM\",36,250\r\n\r\nOK\r\n"},
      {"AT+CSCS=\"HEX\";+CSCS?", "\r\n+CSCS: \"HEX\"\r\n\r\nOK\r\n"},
      {"AT+CSCS=?", "\r\n+CSCS: (\"GSM\",\"IRA\",\"HEX\",\"UCS2\",\"UTF-8\")\r\n\r\nOK\r\n"},
      {"AT+CPBR=?", "\r\n+CPBR: (1-250),20,14\r\n\r\nOK\r\n"},
      {"AT+CPMS=\"SM\",\"SM\"", "\r\n+CPMS: 8,30,8,30,8,30\r\n\r\nOK\r\n"},
      {"AT+CPIN?", "\r\n+CPIN: READY\r\n\r\nOK\r\n"},
      {"at+cgmi;+cgmm", "\r\nVoryx\r\n\r\nVoryx virtual modem\r\n\r\nOK\r\n"},
      {"AT+CPBR=3", "\r\n+CPBR: 3,\"491701234567\",145,\"810A015A6FEB204DFC6C6C6572\"\r\n\r\nOK\r\n"},
      {"AT+CSCS=\"UCS2\";+CPBR=6", "\r\n+CPBR: 6,\"79161234567\",145,\"041804320430043D0020041F043504420440043E0432\"\r\n\r\nOK\r\n"},
      {"AT+CSCS=\"GSM\";+CPBR=10", "\r\n+CPBR: 10,\"0223456789\",129,\"Office\0Home\"\r\n\r\nOK\r\n"s},
      {"AT+CMEE=1;+CPBR=251", "\r\n+CME ERROR: 21\r\n"},
      {"AT+CMEE=2;+CPBR=251", "\r\n+CME ERROR: invalid index\r\n"},
      // The other stores: fixed dialling written after PIN2, the SIM's own read only.
      {"AT+CMEE=1;+CPBS=?", "\r\n+CPBS: (\"SM\",\"ON\",\"FD\",\"ME\",\"EN\",\"SDN\")\r\n\r\nOK\r\n"},
      {"AT+CPBS=\"FD\";+CPBS?", "\r\n+CPBS: \"FD\",2,10\r\n\r\nOK\r\n"},
      {"AT+CPBW=3,\"112\",129,\"Ufficio\"", "\r\n+CME ERROR: 17\r\n"},
      {"AT+CPBS=\"FD\",\"1234\"", "\r\n+CME ERROR: 16\r\n"},
      {"AT+CPINR=\"SIM PIN2\"", "\r\n+CPINR: SIM PIN2,2,3\r\n\r\nOK\r\n"},
      {"AT+CPBS=\"FD\",\"0000\";+CPBW=3,\"112\",129,\"Ufficio\";+CPBR=3",
       "\r\n+CPBR: 3,\"112\",129,\"Ufficio\"\r\n\r\nOK\r\n"},
      {"AT+CPBS=\"SM\",\"0000\"", "\r\n+CME ERROR: 3\r\n"},
      {"AT+CPBS=\"EN\";+CPBW=3,\"113\"", "\r\n+CME ERROR: 3\r\n"},
      {"AT+CPBS=\"XX\"", "\r\n+CME ERROR: 3\r\n"},
      {"AT+CPBS=\"SM\";+CMEE=2;+CPBR=251", "\r\n+CME ERROR: invalid index\r\n"},
      {"AT+NOPE", "\r\n+CME ERROR: operation not supported\r\n"},
      {"AT+CCLK=\"30/13/02,03:04:05+08\"", "\r\n+CME ERROR: incorrect parameters\r\n"},
      {"AT+CCLK=\"30/01/02,03:04:05+08\"", "\r\nOK\r\n"},  // zone +2 h: 01:04:05 UTC
      {"ATD123;", "\r\nERROR\r\n"},
      {"ATV0", "0\r"},
      {"AT+CPBR=22", "+CPBR: 22,\"0264748\",129,\"Taxi\"\r\n0\r"},
      {"nonsense", "4\r"},
      {"", ""},
  };
  for (const auto& [command, reply] : kDialogue) {
    SCOPED_TRACE(command);
    EXPECT_EQ(s.at(command), reply);
  }
  s.at("ATV1");
  EXPECT_TRUE(s.at("AT+CCLK?").starts_with("\r\n+CCLK: \"30/01/02,01:04:")) << s.at("AT+CCLK?");
}

// The SIM's identity is the card's; a modem with --no-identity refuses both commands.
TEST(ModemEngineTest, TellsTheSimsIdentity) {
  SimCard card = SimCard::demo();
  ASSERT_TRUE(card.setIdentity("8939010000999999999F", "222019999999999"));
  const ModemOptions untold{.faults = {}, .noIdentity = true};
  const std::tuple<ModemOptions, std::string, std::string> kCases[] = {
      {{}, "AT+CCID", "\r\n+CCID: 8939010000999999999F\r\n\r\nOK\r\n"},
      {{}, "AT+CIMI;+CCID=?", "\r\n222019999999999\r\n\r\nOK\r\n"},
      {{}, "AT+CIMI=1", "\r\n+CME ERROR: 4\r\n"},
      {untold, "AT+CCID", "\r\n+CME ERROR: 4\r\n"},
      {untold, "AT+CIMI", "\r\n+CME ERROR: 4\r\n"},
      {{.faults = {}, .noSim = true, .noIdentity = true}, "AT+CIMI", "\r\n+CME ERROR: 10\r\n"},
  };
  for (const auto& [options, command, reply] : kCases) {
    SCOPED_TRACE(command);
    Session s{options, card};
    s.at("ATE0");
    EXPECT_EQ(s.at("AT+CMEE=1;" + command.substr(2)), reply);
  }
}

TEST(ModemEngineTest, ListingsFollowTheProfile) {
  // Entries after a blank line (default) or after a single line break with unsolicited
  // codes among them; an empty range answered by OK or by "not found".
  struct Case { Profile profile; std::string command, reply; };
  const Case kCases[] = {
      {Profile::LineBreak, "AT+CPBR=20,22",
       "\r\n+CPBR: 20,\"4930123456\",145,\"Dr. Stra?e\"\r\n+CMTI: \"SM\",3\r\n"
       "+CPBR: 21,\"0612233445\",129,\"Pizzeria Gino\"\r\n"
       "+CPBR: 22,\"0264748\",129,\"Taxi\"\r\n\r\nOK\r\n"},
      {Profile::Default, "AT+CPBR=100,250", "\r\nOK\r\n"},
      {Profile::LineBreak, "AT+CPBR=100,250", "\r\n+CME ERROR: 22\r\n"},
      {Profile::Default, "AT+CMGF=1;+CSCS=\"UTF-8\";+CMGL=\"REC UNREAD\"",
       "\r\n+CMGL: 2,\"REC UNREAD\",\"+491701234567\",,\"24/05/02,18:40:12+08\"\r\n"
       "Grüße aus München! Nächste Woche wieder da.\r\n\r\nOK\r\n"},
      {Profile::Default, "AT+CMGF=1;+CSCS=\"UTF-8\";+CSDH=1;+CMGL=\"STO SENT\"",
       "\r\n+CMGL: 5,\"STO SENT\",\"0612345678\",,,129,20\r\nCosta 5€ [sconto]\r\n\r\nOK\r\n"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.command);
    Session s{{.profile = c.profile, .faults = {}}};
    s.at("ATE0");
    EXPECT_EQ(s.at(c.command), c.reply);
  }
  // A listed message counts as read. (Whole listings of both styles: the read job's tests.)
  Session s;
  s.at("ATE0;+CMGF=1;+CMGL=\"ALL\"");
  EXPECT_EQ(s.sim.message(2)->status, SmsStatus::RecRead);
}

TEST(ModemEngineTest, WritesReadsAndDeletesPhonebookEntries) {
  Session s;
  s.at("ATE0;+CSCS=\"HEX\"");
  struct Case { std::string command, reply, name, number; };
  const Case kCases[] = {
      {"AT+CPBW=40,\"3912345\",145,\"8103135395A6\"", "\r\nOK\r\n", "Sকদ", "+3912345"},
      {"AT+CPBW=41,\"0612\",129,\"8003A90436FFFFFFFF\"", "\r\nOK\r\n", "Ωж", "0612"},
      {"AT+CPBW=42,\"+3912\",,\"41\"", "\r\nOK\r\n", "A", "+3912"},
      {"AT+CPBW=43,\"12 34\",129,\"41\"", "\r\nERROR\r\n", "", ""},
      {"AT+CPBW=43,\"123\",129,\"4142434445464748494A4B4C4D4E4F\"", "\r\nERROR\r\n", "", ""},
      {"AT+CPBW=43,\"123\",129,\"4G\"", "\r\nERROR\r\n", "", ""},
      {"AT+CPBW=43,\"123456789012345678901\",129,\"41\"", "\r\nERROR\r\n", "", ""},
      {"AT+CPBW=251,\"123\",129,\"41\"", "\r\nERROR\r\n", "", ""},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.command);
    EXPECT_EQ(s.at(c.command), c.reply);
    const int location = std::stoi(c.command.substr(8));
    EXPECT_EQ(s.sim.name(location), c.name);
    EXPECT_EQ(s.sim.number(location), c.number);
  }
  EXPECT_EQ(s.sim.record(41).substr(0, 14), std::string("\x80\x03\xA9\x04\x36\xFF\xFF\xFF\xFF", 9) + std::string(5, '\xFF'));
  EXPECT_EQ(s.at("AT+CSCS=\"UTF-8\";+CPBW=,\"123\",129,\"Zoë\""), "\r\nOK\r\n");  // first free location
  EXPECT_EQ(s.sim.name(37), "Zoë");
  EXPECT_EQ(s.at("AT+CPBW=40,\"\",129,\"\""), "\r\nOK\r\n");
  EXPECT_EQ(s.at("AT+CPBW=41"), "\r\nOK\r\n");
  EXPECT_EQ(s.at("AT+CPBR=40,41"), "\r\nOK\r\n");  // both empty again
  EXPECT_TRUE(s.engine.takeChanged());
}

TEST(ModemEngineTest, StoresTextModeMessages) {
  Session s;
  s.at("ATE0;+CMGF=1;+CSCS=\"GSM\"");
  // The write of a client: command, "> ", text, Ctrl-Z, and a stray CR that is ignored.
  EXPECT_EQ(s.at("AT+CMGW=\"393331234567\",145,\"STO SENT\""), "\r\n> ");
  EXPECT_EQ(s.send("Hello\x1a\r"), "\r\n+CMGW: 9\r\n\r\nOK\r\n");
  EXPECT_EQ(*s.sim.message(9), (SmsRecord{SmsStatus::StoSent, "+393331234567", "", "Hello", false, {}}));
  // Under "GSM" the bytes are septets: UTF-8 text is not.
  s.at("AT+CMEE=1;+CMGW=\"123\"");
  EXPECT_EQ(s.send("Gr\xC3\xBC\xC3\x9F" "e\x1a"), "\r\n+CMS ERROR: 305\r\n");
  s.at("AT+CSCS=\"UTF-8\";+CMGW=\"123\"");
  EXPECT_EQ(s.send("Привет\x1a"), "\r\n+CMGW: 10\r\n\r\nOK\r\n");
  EXPECT_TRUE(s.sim.message(10)->ucs2);
  s.at("AT+CMGW=\"123\"");
  EXPECT_EQ(s.send("cancelled\x1b"), "\r\nOK\r\n");
  EXPECT_EQ(s.sim.messages().size(), 10u);
  s.at("AT+CMGW=\"123\"");
  EXPECT_EQ(s.send(std::string(161, 'a') + "\x1a"), "\r\n+CMS ERROR: 305\r\n");
  EXPECT_EQ(s.at("AT+CMGD=7,0"), "\r\nOK\r\n");
  EXPECT_EQ(s.at("AT+CMGD=7,0"), "\r\nOK\r\n");  // already empty
  EXPECT_EQ(s.at("AT+CMGD=31"), "\r\n+CMS ERROR: 321\r\n");
  EXPECT_EQ(s.at("AT+CMGD=1,4"), "\r\nOK\r\n");
  EXPECT_TRUE(s.sim.messages().empty());
}

TEST(ModemEngineTest, StoresPduModeMessages) {
  Session s{{}, SimCard{}};
  s.at("ATE0");
  EXPECT_EQ(s.at("AT+CMGW=23"), "\r\n> ");
  EXPECT_EQ(s.send("0011000B916407281553F80000AA0AE8329BFD4697D9EC37\x1a"), "\r\n+CMGW: 1\r\n\r\nOK\r\n");
  EXPECT_EQ(s.sim.message(1)->text, "hellohello");
  EXPECT_EQ(s.at("AT+CMGL=4"),
            "\r\n+CMGL: 1,2,,22\r\n079193339506690001000B916407281553F800000AE8329BFD4697D9EC37\r\n\r\nOK\r\n");
  s.at("AT+CMGW=23");  // the same without its service centre part, as some clients send it
  EXPECT_EQ(s.send("11000B916407281553F80000AA0AE8329BFD4697D9EC37\x1a"), "\r\n+CMGW: 2\r\n\r\nOK\r\n");
  EXPECT_EQ(*s.sim.message(2), *s.sim.message(1));
  s.at("AT+CMGW=23");
  EXPECT_EQ(s.send("0011000B91\x1a"), "\r\nERROR\r\n");
}

TEST(ModemEngineTest, Faults) {
  // The replies to three writes; the location of the one write that must not have
  // happened; how many lines were taken in (none after a hang-up).
  struct Case { std::string_view name; Faults faults; std::vector<std::string> replies; bool hangUp; int storedAt; std::size_t logged; };
  const Case kCases[] = {
      {"error", {.errorAtWrite = 2}, {"\r\nOK\r\n", "\r\nERROR\r\n", "\r\nOK\r\n"}, false, 61, 4},
      {"mute", {.muteAtWrite = 2}, {"\r\nOK\r\n", "", "\r\nOK\r\n"}, false, 61, 4},
      {"hangup", {.hangupAtWrite = 2}, {"\r\nOK\r\n", "", ""}, true, 61, 3},
      {"silence", {.silence = true}, {"", "", ""}, false, 60, 4},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    Session s{ModemOptions{.faults = c.faults}};
    s.at("ATE0");
    for (int i = 0; i < 3; ++i)
      EXPECT_EQ(s.at("AT+CPBW=" + std::to_string(60 + i) + ",\"1\",129,\"X\""), c.replies[i]);
    EXPECT_EQ(s.hungUp, c.hangUp);
    EXPECT_TRUE(s.sim.isEmpty(c.storedAt));
    EXPECT_EQ(s.log.size(), c.logged);  // every line is logged, answered or not
  }
  // A write of a message that fails keeps the prompt and fails after the text.
  Session e{ModemOptions{.faults = {.errorAtWrite = 1}}};
  e.at("ATE0;+CMGF=1");
  EXPECT_EQ(e.at("AT+CMGW=\"1\""), "\r\n> ");
  EXPECT_EQ(e.send("x\x1a"), "\r\nERROR\r\n");
  EXPECT_EQ(e.sim.messages().size(), 8u);

  Session huge{ModemOptions{.faults = {.hugeReply = true, .nulBytes = true}}};
  const std::string listing = huge.at("AT+CPBR=1,3");
  EXPECT_GT(listing.size(), 70000u);
  EXPECT_NE(listing.find('\0'), std::string::npos);
  EXPECT_TRUE(listing.ends_with("\r\nOK\r\n"));
}

TEST(ModemEngineTest, SurvivesGarbage) {
  // Random lines over the characters that matter to the parser, and raw random bytes.
  const std::string alphabet = "AT+CPBWRMGLSD=?;,\"\\0123456789\r\x1a\x1b\x08 ";
  std::mt19937 rng(7);
  Session s;
  for (int round = 0; round < 3000; ++round) {
    std::string input;
    const int n = static_cast<int>(rng() % 40);
    for (int i = 0; i < n; ++i)
      input += round % 2 ? alphabet[rng() % alphabet.size()] : static_cast<char>(rng() % 256);
    s.send(input);
  }
  s.send("\x1b\r");
  EXPECT_EQ(s.at("ATE0"), "ATE0\r\r\nOK\r\n");
  for (int loc = 1; loc <= s.sim.locations(); ++loc) s.sim.entry(loc);  // all still decode
  EXPECT_EQ(s.at("AT" + std::string(5000, 'E')), "\r\nERROR\r\n");  // over-long line
}
