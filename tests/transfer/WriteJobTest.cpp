// The phonebook write against the virtual modem: the commands it sends, what reaches
// the SIM (checked through the SIM's own decoding and through a fresh read), and where a
// pass stops with every mark kept.
#include <algorithm>

#include "transfer/JobFixture.h"

namespace voryx::transfer {
namespace {

std::vector<std::string> cpbwCommands(const std::vector<std::string>& log) {
  std::vector<std::string> out;
  std::copy_if(log.begin(), log.end(), std::back_inserter(out),
               [](const std::string& l) { return l.rfind("AT+CPBW=", 0) == 0; });
  return out;
}

std::vector<int> marks(const std::vector<SimEntry>& entries) {
  std::vector<int> out;
  for (const SimEntry& e : entries) out.push_back(e.operazione);
  return out;
}

TEST_F(JobFixture, WritesEveryFormAndReadsBackWhatItWrote) {
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
  std::vector<std::string> log = commandsAfterHandshake();
  ASSERT_GE(log.size(), 8u);
  EXPECT_EQ(std::vector<std::string>(log.begin(), log.begin() + 8),
            (std::vector<std::string>{
                "AT+CSCS=\"HEX\"", "AT V1E0", "AT+CPBS=\"SM\"",
                "AT+CPBW=1,\"555\",129,\"81040898B2B0BD\"",      // one 128-character window
                "AT+CPBW=2,\"\",129,\"810107A9\"",
                "AT+CPBW=3,\"\",129,\"8003a90436FFFFFFFF\"",     // two windows, filled
                "AT+CPBW=5,\"3902123456\",145,\"416e6e61\"",
                "AT+CPBW=7,\"\",129,\"\""}));
  std::vector<std::string> labels = host_.labels();
  ASSERT_EQ(labels.size(), std::size(kRows));
  EXPECT_EQ(labels[0], "Writing phonebook entry nr. 0");
  EXPECT_EQ(labels[3], "Analyzing phonebook entry nr. 3");
  EXPECT_EQ(labels[5], "Deleting phonebook entry nr. 5");

  // The marks are cleared and the deleted row is gone; the SIM's own decoding agrees.
  std::vector<SimEntry> expected;
  const sim::SimCard after = modem().sim();
  for (const Row& r : kRows) {
    if (!r.stored) {
      EXPECT_TRUE(after.isEmpty(r.local.posizione));
      continue;
    }
    EXPECT_EQ(after.name(r.local.posizione), r.local.nome);
    EXPECT_EQ(after.number(r.local.posizione), r.stored);
    expected.push_back({r.local.posizione, r.local.nome, r.local.telefono, kMarkInStep});
  }
  EXPECT_EQ(rows(ListStore::Phonebook), expected);

  // A fresh read gives back every name as written, and the numbers as the SIM keeps them.
  EXPECT_EQ(read(0), JobOutcome::Done);
  for (SimEntry& e : expected) {
    for (const Row& r : kRows) {
      if (r.local.posizione == e.posizione) e.telefono = r.stored;
    }
  }
  EXPECT_EQ(rows(ListStore::Phonebook), expected);
}

TEST_F(JobFixture, ErrorAtTheThirdOfFiveKeepsEveryMarkAndTheNextPassSendsAllAgain) {
  startModem(smallSim(10), withFault(&sim::Faults::errorAtWrite, 3));
  for (int i = 1; i <= 5; ++i) insert("sim", {i, "N" + std::to_string(i), std::to_string(i), kMarkChanged});

  EXPECT_EQ(write(0), JobOutcome::WriteRefused);
  EXPECT_EQ(host_.retcode, 1);
  EXPECT_EQ(marks(rows(ListStore::Phonebook)), std::vector<int>(5, kMarkChanged));
  EXPECT_EQ(modem().commandCount("AT+CPBW="), 3);
  EXPECT_EQ(modem().sim().name(2), "N2");
  EXPECT_TRUE(modem().sim().isEmpty(3));
  EXPECT_EQ(host_.ends(), std::vector<std::string>{"endSaveSIM"});

  restartModem();
  EXPECT_EQ(write(0), JobOutcome::Done);
  EXPECT_EQ(host_.retcode, 0);
  EXPECT_EQ(modem().commandCount("AT+CPBW="), 5);
  EXPECT_EQ(marks(rows(ListStore::Phonebook)), std::vector<int>(5, kMarkInStep));
  EXPECT_EQ(modem().sim().name(5), "N5");
}

TEST_F(JobFixture, NoReplyStopsWithTheLastNumberInTheAlert) {
  startModem(smallSim(10), withFault(&sim::Faults::muteAtWrite, 2));
  insert("sim", {1, "A", "+111", kMarkNew});
  insert("sim", {2, "B", "22 2", kMarkNew});
  insert("sim", {3, "C", "333", kMarkNew});

  EXPECT_EQ(write(0), JobOutcome::NoReply);
  ASSERT_EQ(host_.alerts().size(), 1u);
  EXPECT_EQ(host_.alerts()[0].title, "Error writing phonebook");
  EXPECT_EQ(host_.alerts()[0].message, "222");
  EXPECT_EQ(host_.retcode, 0);
  EXPECT_EQ(modem().commandCount("AT+CPBW="), 2);
  EXPECT_EQ(marks(rows(ListStore::Phonebook)), std::vector<int>(3, kMarkNew));
}

TEST_F(JobFixture, InStepListSendsOnlyTheSetUp) {
  startModem(smallSim(10));
  insert("sim", {1, "A", "1", kMarkInStep});
  insert("sim", {2, "B", "2", kMarkInStep});
  const std::vector<SimEntry> before = rows(ListStore::Phonebook);

  EXPECT_EQ(write(0), JobOutcome::Done);
  EXPECT_EQ(commandsAfterHandshake(),
            (std::vector<std::string>{"AT+CSCS=\"HEX\"", "AT V1E0", "AT+CPBS=\"SM\""}));
  EXPECT_EQ(host_.labels(), (std::vector<std::string>{"Analyzing phonebook entry nr. 0",
                                                      "Analyzing phonebook entry nr. 1"}));
  EXPECT_EQ(rows(ListStore::Phonebook), before);
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
  EXPECT_EQ(cpbwCommands(modem().commandLog()),
            (std::vector<std::string>{"AT+CPBW=2,\"2\",129,\"416c6661\"", "AT+CPBW=4,\"\",129,\"\"",
                                      "AT+CPBW=1,\"1\",129,\"5a657461\""}));
  EXPECT_EQ(marks(rows(ListStore::Phonebook)), std::vector<int>(3, kMarkInStep));
}

TEST_F(JobFixture, CommandTooLongForItsBufferIsRefusedWithTheMarksKept) {
  startModem(smallSim(10));
  insert("sim", {1, "A", "+1", kMarkNew});
  insert("sim", {2, "B", std::string(1100, '5'), kMarkNew});

  EXPECT_EQ(write(0), JobOutcome::WriteRefused);
  EXPECT_EQ(host_.retcode, 1);
  EXPECT_EQ(modem().commandCount("AT+CPBW="), 1);
  ASSERT_EQ(host_.alerts().size(), 1u);
  EXPECT_EQ(host_.alerts()[0].message, "Too long for a modem command, entry nr. 2");
  EXPECT_EQ(marks(rows(ListStore::Phonebook)), std::vector<int>(2, kMarkNew));
}

TEST_F(JobFixture, HangUpMidPassEndsTheJobWithTheMarksKept) {
  startModem(smallSim(10), withFault(&sim::Faults::hangupAtWrite, 2));
  for (int i = 1; i <= 3; ++i) insert("sim", {i, "N", "1", kMarkNew});

  EXPECT_EQ(write(0), JobOutcome::NoModem);
  ASSERT_EQ(host_.alerts().size(), 1u);
  EXPECT_EQ(host_.alerts()[0].title, "Write to SIM");
  EXPECT_EQ(host_.alerts()[0].message,
            "The connection to the modem was lost; the changes stay marked and will be sent again.");
  EXPECT_EQ(host_.ends(), std::vector<std::string>{"endSaveSIM"});
  EXPECT_EQ(marks(rows(ListStore::Phonebook)), std::vector<int>(3, kMarkNew));
}

}  // namespace
}  // namespace voryx::transfer
