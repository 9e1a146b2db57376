// The phonebook write against the virtual modem: the commands it sends, what reaches
// the SIM (checked through the SIM's own decoding and through a fresh read), and where a
// pass stops with every mark kept.
#include "transfer/JobFixture.h"

namespace voryx::transfer {
namespace {

const std::vector<std::string> kSetUp = {"AT+CSCS=\"HEX\"", "AT V1E0", "AT+CPBS=\"SM\""};

TEST_F(JobFixture, WritesEveryFormReadsItBackAndSendsNothingWhenInStep) {
  sim::SimCard card = smallSim(20);
  card.writeEntryText(1, "Vecchio", "1");
  card.writeEntryText(4, "Zoë", "0212");
  card.writeEntryText(7, "Old", "123");
  startModem(card);
  struct Row {
    SimEntry local;
    const char* stored;  // the number as the SIM gives it back
  };
  const Row kRows[] = {
      {{1, "Иван", "555", kMarkChanged}, "555"},
      {{2, "Ω", "", kMarkNew}, ""},
      {{3, "Ωж", "", kMarkNew}, ""},
      {{4, "Zoë", "0212", kMarkInStep}, "0212"},
      {{5, "Anna", "+39 (02) 123-456", kMarkNew}, "+3902123456"},
      {{7, "Old", "123", kMarkDeleted}, nullptr},
      {{11, "@home", "+44 20 7946 0958", kMarkNew}, "+442079460958"},
      {{12, "€uro 5", "*31#", kMarkNew}, "*31#"},
      {{13, "Ґанна", "0441", kMarkNew}, "0441"},
      {{14, "日本", "+8131", kMarkNew}, "+8131"},
      {{15, "Jürgen_$", "0049", kMarkNew}, "0049"},
      {{16, "ð", "1", kMarkNew}, "1"},
      {{17, "Γιώργος", "+30 69", kMarkNew}, "+3069"},
      {{18, "[x] 5$", "+1", kMarkNew}, "+1"},
  };
  for (const Row& r : kRows) insert("sim", r.local);

  EXPECT_EQ(write(0), JobOutcome::Done);
  EXPECT_EQ(host_.retcode, 0);
  EXPECT_EQ(host_.ends, std::vector<std::string>{"endSaveSIM"});
  std::vector<std::string> log = commandsAfterHandshake();
  ASSERT_GE(log.size(), 8u);
  EXPECT_EQ(std::vector<std::string>(log.begin() + 3, log.begin() + 8),
            (std::vector<std::string>{
                "AT+CPBW=1,\"555\",129,\"81040898B2B0BD\"",      // one 128-character window
                "AT+CPBW=2,\"\",129,\"810107A9\"",
                "AT+CPBW=3,\"\",129,\"8003a90436FFFFFFFF\"",     // two windows, filled
                "AT+CPBW=5,\"3902123456\",145,\"416e6e61\"",
                "AT+CPBW=7,\"\",129,\"\""}));
  ASSERT_EQ(host_.labels.size(), std::size(kRows));
  EXPECT_EQ(host_.labels[0], "Writing phonebook entry nr. 0");
  EXPECT_EQ(host_.labels[3], "Analyzing phonebook entry nr. 3");
  EXPECT_EQ(host_.labels[5], "Deleting phonebook entry nr. 5");

  // The marks are cleared and the deleted row is gone; the SIM's own decoding agrees.
  std::vector<SimEntry> written, readBack;
  const sim::SimCard after = modem().sim();
  for (const Row& r : kRows) {
    if (!r.stored) {
      EXPECT_TRUE(after.isEmpty(r.local.posizione));
      continue;
    }
    EXPECT_EQ(after.name(r.local.posizione), r.local.nome);
    EXPECT_EQ(after.number(r.local.posizione), r.stored);
    written.push_back({r.local.posizione, r.local.nome, r.local.telefono, kMarkInStep});
    readBack.push_back({r.local.posizione, r.local.nome, r.stored, kMarkInStep});
  }
  EXPECT_EQ(rows(ListStore::Phonebook), written);

  // A fresh read gives back every name as written, and the numbers as the SIM keeps them.
  EXPECT_EQ(read(0), JobOutcome::Done);
  EXPECT_EQ(rows(ListStore::Phonebook), readBack);

  // With every mark cleared a write sends only the set-up, and the table stays.
  restartModem();
  EXPECT_EQ(write(0), JobOutcome::Done);
  EXPECT_EQ(commandsAfterHandshake(), kSetUp);
  EXPECT_EQ(host_.labels.back(), "Analyzing phonebook entry nr. 12");
  EXPECT_EQ(rows(ListStore::Phonebook), readBack);
}

// Whatever stops a pass, every mark stays, so the next pass sends every row again.
TEST_F(JobFixture, PassStoppedMidwayKeepsEveryMark) {
  struct Case {
    const char* name;
    sim::Faults faults;
    std::string secondNumber;
    JobOutcome outcome;
    int retcode;
    int sent;  // AT+CPBW commands
    std::vector<std::string> alerts;
    bool retry;
  };
  const Case kCases[] = {
      {"ERROR at the third of five", {.errorAtWrite = 3}, "2", JobOutcome::WriteRefused, 1, 3, {}, true},
      {"no reply to the second", {.muteAtWrite = 2}, "22 2", JobOutcome::NoReply, 0, 2,
       {"Error writing phonebook|222"}, false},
      {"hang-up at the second", {.hangupAtWrite = 2}, "2", JobOutcome::NoModem, 0, 2,
       {"Write to SIM|The connection to the modem was lost; the changes stay marked and will be sent again."},
       false},
      {"number too long for its command", {}, std::string(1100, '5'), JobOutcome::WriteRefused, 1, 1,
       {"Error writing phonebook|Too long for a modem command, entry nr. 2"}, false},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    exec("DELETE FROM sim");
    for (int i = 1; i <= 5; ++i) {
      insert("sim", {i, "N" + std::to_string(i), i == 2 ? c.secondNumber : std::to_string(i), kMarkChanged});
    }
    startModem(smallSim(10), {.faults = c.faults});
    host_.retcode = 0;

    EXPECT_EQ(write(0), c.outcome);
    EXPECT_EQ(host_.retcode, c.retcode);
    EXPECT_EQ(modem().commandCount("AT+CPBW="), c.sent);
    EXPECT_EQ(host_.alerts, c.alerts);
    EXPECT_EQ(host_.ends, std::vector<std::string>{"endSaveSIM"});
    EXPECT_EQ(marks(ListStore::Phonebook), std::vector<int>(5, kMarkChanged));
    if (!c.retry) continue;
    restartModem();
    EXPECT_EQ(write(0), JobOutcome::Done);
    EXPECT_EQ(host_.retcode, 0);
    EXPECT_EQ(modem().commandCount("AT+CPBW="), 5);
    EXPECT_EQ(marks(ListStore::Phonebook), std::vector<int>(5, kMarkInStep));
    EXPECT_EQ(modem().sim().name(5), "N5");
  }
}

// The pass walks the whole table in the list's order (here by name): whatever a search
// leaves on screen, every marked row is sent before the sweep clears its mark.
TEST_F(JobFixture, WritesEveryMarkedRowInTheListOrder) {
  startModem(smallSim(10));
  insert("sim", {1, "Zeta", "1", kMarkNew});
  insert("sim", {2, "Alfa", "2", kMarkChanged});
  insert("sim", {3, "Beta", "3", kMarkInStep});
  insert("sim", {4, "Gamma", "4", kMarkDeleted});

  EXPECT_EQ(write(0, /*sortField=*/1), JobOutcome::Done);
  std::vector<std::string> expected = kSetUp;
  expected.insert(expected.end(), {"AT+CPBW=2,\"2\",129,\"416c6661\"", "AT+CPBW=4,\"\",129,\"\"",
                                   "AT+CPBW=1,\"1\",129,\"5a657461\""});
  EXPECT_EQ(commandsAfterHandshake(), expected);
  EXPECT_EQ(marks(ListStore::Phonebook), std::vector<int>(3, kMarkInStep));
}

}  // namespace
}  // namespace voryx::transfer
