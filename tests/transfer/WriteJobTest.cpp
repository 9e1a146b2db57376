// The phonebook and SMS writes against the virtual modem: the commands they send, what
// reaches the SIM (checked through the SIM's own decoding and through a fresh read), and
// what a pass that stops keeps marked.
#include "entries/Csv.h"
#include "support/TempDir.h"
#include "transfer/JobFixture.h"

namespace voryx::transfer {
namespace {

using namespace std::chrono_literals;
using sim::SmsStatus;

// The set-up of a phonebook write, then the question which SIM is in.
const std::vector<std::string> kSetUp = {"AT V1E0", "AT+CPBS=\"SM\"", "AT+CSCS=?", "AT+CSCS=\"HEX\"",
                                         "AT+CCID", "AT+CIMI"};

// Over the real line: every name form, a fresh read gives back what was written, and a
// table in step sends nothing but the set-up.
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
  EXPECT_EQ(host_.report.retcode, 0);
  EXPECT_EQ(host_.report.confirmed, 13);
  EXPECT_EQ(host_.ends, std::vector<std::string>{"endSaveSIM"});
  std::vector<std::string> log = commandsAfterHandshake();
  ASSERT_GE(log.size(), 14u);
  // No read of this SIM is known: a new entry goes only where the SIM says it is empty.
  EXPECT_EQ(std::vector<std::string>(log.begin() + 6, log.begin() + 14),
            (std::vector<std::string>{
                "AT+CPBW=1,\"555\",129,\"81040898B2B0BD\"",  // one 128-character window
                "AT+CPBR=2", "AT+CPBW=2,\"\",129,\"15\"",    // the default alphabet's omega
                "AT+CPBR=3", "AT+CPBW=3,\"\",129,\"81020815B6\"",
                "AT+CPBR=5", "AT+CPBW=5,\"3902123456\",145,\"416e6e61\"",
                "AT+CPBW=7,\"\",129,\"\""}));
  ASSERT_EQ(host_.labels.size(), std::size(kRows));
  // Each names the location its command goes to.
  EXPECT_EQ(host_.labels[0], "Writing phonebook entry nr. 1");
  EXPECT_EQ(host_.labels[3], "Analyzing phonebook entry nr. 4");
  EXPECT_EQ(host_.labels[5], "Deleting phonebook entry nr. 7");

  // The marks are cleared and the deleted row is gone; the SIM's own decoding agrees.
  std::vector<SimEntry> written, readBack;
  for (const Row& r : kRows) {
    if (!r.stored) continue;
    written.push_back({r.local.posizione, r.local.nome, r.local.telefono, kMarkInStep});
    readBack.push_back({r.local.posizione, r.local.nome, r.stored, kMarkInStep});
  }
  EXPECT_EQ(rows(ListStore::Phonebook), written);
  expectListIsSim(ListStore::Phonebook);

  // A fresh read gives back every name as written, and the numbers as the SIM keeps them.
  EXPECT_EQ(read(0), JobOutcome::Done);
  EXPECT_EQ(rows(ListStore::Phonebook), readBack);

  // With every mark cleared a write sends only the set-up, and the table stays.
  modem_->clearLog();
  EXPECT_EQ(write(0), JobOutcome::Done);
  EXPECT_EQ(commandsAfterHandshake(), kSetUp);
  EXPECT_EQ(host_.labels.back(), "Analyzing phonebook entry nr. 18");
  EXPECT_EQ(rows(ListStore::Phonebook), readBack);
}

// The pass walks the whole table in the list's order (here by name): whatever a search
// leaves on screen, every marked row is sent before its mark is cleared. A write's OK
// followed by an unsolicited line ("linebreak" modems) counts as taken.
TEST_F(JobFixture, WritesEveryMarkedRowInTheListOrder) {
  useSim(smallSim(10), {.profile = sim::Profile::LineBreak, .faults = {}});
  insert("sim", {1, "Zeta", "1", kMarkNew});
  insert("sim", {2, "Alfa", "2", kMarkChanged});
  insert("sim", {3, "Beta", "3", kMarkInStep});
  insert("sim", {4, "Gamma", "4", kMarkDeleted});

  // The screen shows "a" (by name: Alfa, Gamma); the rows it hides follow.
  search = "a";
  EXPECT_EQ(write(0, /*sortField=*/1), JobOutcome::Done);
  std::vector<std::string> expected = kSetUp;
  expected.insert(expected.end(), {"AT+CPBW=2,\"2\",129,\"416c6661\"", "AT+CPBW=4,\"\",129,\"\"",
                                   "AT+CPBR=1", "AT+CPBW=1,\"1\",129,\"5a657461\""});
  EXPECT_EQ(commandsAfterHandshake(), expected);
  EXPECT_EQ(host_.labels, (std::vector<std::string>{"Writing phonebook entry nr. 2", "Analyzing phonebook entry nr. 3",
                                                    "Deleting phonebook entry nr. 4", "Writing phonebook entry nr. 1"}));
  EXPECT_EQ(marks(ListStore::Phonebook), std::vector<int>(3, kMarkInStep));
}

// Whatever stops a pass at its k-th write (the modem refuses it, says nothing, hangs up,
// or answers every reply later than the wait), the entries the SIM took before lose
// their marks and every other entry keeps its own; no row ends in step with a SIM that
// holds something else. SMS rows take the index the modem stored their message at.
TEST_P(ReplyRuleTest, PassStoppedAtAnyWriteKeepsExactlyTheMarksNotTaken) {
  struct Faulted {
    const char* name;
    sim::Faults (*at)(int k);
    JobOutcome outcome;
  };
  const Faulted kFaults[] = {
      {"error", [](int k) { return sim::Faults{.errorAtWrite = k}; }, JobOutcome::WriteRefused},
      {"mute", [](int k) { return sim::Faults{.muteAtWrite = k}; }, JobOutcome::NoReply},
      {"hang-up", [](int k) { return sim::Faults{.hangupAtWrite = k}; }, JobOutcome::NoModem},
  };
  struct Stopped {
    int k;
    std::vector<SimEntry> table;                          // after the pass
    Held sim;                                             // location/index: name/text
    const char* faults = "error mute hang-up";  // the faults that leave this
    bool done = false;                          // the pass went on to its end
    int oldKept = 0;                            // old copies of changed messages kept
  };
  // Phonebook writes: 1 CPBW 1, 2 CPBW 2 (erase), 3 CPBW 4, 4 CPBW 5.
  const std::vector<SimEntry> kPhonebook = {
      {1, "Alt2", "1", kMarkChanged}, {2, "Bob", "2", kMarkDeleted}, {3, "Cid", "3", kMarkInStep},
      {4, "Dan", "4", kMarkNew}, {5, "Eve", "5", kMarkNew}};
  const Stopped kPhonebookStops[] = {
      {1, kPhonebook, {{1, "Alt"}, {2, "Bob"}, {3, "Cid"}}},
      {2, {{1, "Alt2", "1", 0}, kPhonebook[1], kPhonebook[2], kPhonebook[3], kPhonebook[4]},
       {{1, "Alt2"}, {2, "Bob"}, {3, "Cid"}}},
      {4, {{1, "Alt2", "1", 0}, kPhonebook[2], {4, "Dan", "4", 0}, kPhonebook[4]},
       {{1, "Alt2"}, {3, "Cid"}, {4, "Dan"}}},
  };
  // SMS writes: 1 CMGD 1, 2 CMGW "new A" (the changed message's new copy goes first),
  // 3 CMGD 2 (then its old copy), 4 CMGW "C", 5 CMGW "E".
  const std::vector<SimEntry> kSms = {
      {1, "B", "1", kMarkDeleted}, {2, "new A", "2", kMarkChanged}, {3, "D", "3", kMarkInStep},
      {7, "C", "7", kMarkNew}, {8, "E", "8", kMarkNew}};
  const Stopped kSmsStops[] = {
      {1, kSms, {{1, "B"}, {2, "old A"}, {3, "D"}}},
      // The new copy is not stored: the old one stays, and so does the row's mark.
      {2, {{2, "new A", "2", kMarkChanged}, kSms[2], kSms[3], kSms[4]}, {{2, "old A"}, {3, "D"}}},
      // The SIM keeps the old "A" (refused or unanswered delete): the new one is stored,
      // and the old one's delete waits; the pass goes on.
      {3, {{1, "new A", "2", 0}, {2, "new A", "2", kMarkDeleted}, kSms[2], {4, "C", "7", 0}, {5, "E", "8", 0}},
       {{1, "new A"}, {2, "old A"}, {3, "D"}, {4, "C"}, {5, "E"}}, "error mute", true, 1},
      {3, {{1, "new A", "2", 0}, {2, "new A", "2", kMarkDeleted}, kSms[2], kSms[3], kSms[4]},
       {{1, "new A"}, {2, "old A"}, {3, "D"}}, "hang-up", false, 1},
      {4, {{1, "new A", "2", 0}, kSms[2], kSms[3], kSms[4]}, {{1, "new A"}, {3, "D"}}},
      {5, {{1, "new A", "2", 0}, {2, "C", "7", 0}, kSms[2], kSms[4]}, {{1, "new A"}, {2, "C"}, {3, "D"}}},
  };

  for (bool sms : {false, true}) {
    for (const Faulted& f : kFaults) {
      for (const Stopped& stop : sms ? std::span<const Stopped>(kSmsStops) : std::span<const Stopped>(kPhonebookStops)) {
        if (std::string_view(stop.faults).find(f.name) == std::string_view::npos) continue;
        for (auto delay : {0ms, 1600ms}) {
          SCOPED_TRACE(std::string(sms ? "SMS " : "phonebook ") + f.name + " at write " +
                       std::to_string(stop.k) + ", reply delay " + std::to_string(delay.count()));
          const ListStore store = sms ? ListStore::Sms : ListStore::Phonebook;
          clearList(store);
          for (const SimEntry& e : sms ? kSms : kPhonebook) insert(sms ? "simsms" : "sim", e);
          const Stopped& untouched = sms ? kSmsStops[0] : kPhonebookStops[0];
          useSim(holding(store, untouched.sim), {.replyDelay = delay, .faults = f.at(stop.k)});

          const JobOutcome outcome = write(sms ? 1 : 0);
          if (delay > 0ms) {  // too slow to talk to: nothing sent, nothing cleared
            EXPECT_EQ(outcome, JobOutcome::TooSlow);
            EXPECT_EQ(rows(store), untouched.table);
            EXPECT_EQ(held(simNow(), store), untouched.sim);
            continue;
          }
          EXPECT_EQ(outcome, stop.done ? JobOutcome::Done : f.outcome);
          EXPECT_EQ(host_.report.oldKept, stop.oldKept);
          EXPECT_EQ(rows(store), stop.table);
          EXPECT_EQ(held(simNow(), store), stop.sim);
          EXPECT_TRUE(test::listIsSim(database_, store, simNow()));
          // The next write, on a modem without faults, sends what is left.
          useSim(simNow());
          EXPECT_EQ(write(sms ? 1 : 0), JobOutcome::Done);
          expectListIsSim(store);
        }
      }
    }
  }
}

// Another program holds the database while a pass runs: the SIM takes every entry but the
// marks cannot be cleared. The shell hears how much was written; the next write applies
// the pass's journal first and sends nothing again (no message stored twice, no new
// entry taken for another one).
TEST_F(JobFixture, MarksALockedDatabaseKeptAreClearedWithoutSendingTwice) {
  for (bool sms : {false, true}) {
    SCOPED_TRACE(sms ? "SMS" : "phonebook");
    const ListStore store = sms ? ListStore::Sms : ListStore::Phonebook;
    const char* table = sms ? "simsms" : "sim";
    useSim(holding(store, {{1, sms ? "B" : "Alt"}, {2, sms ? "old A" : "Bob"}}));
    insert(table, {1, sms ? "B" : "Alt2", "1", sms ? kMarkDeleted : kMarkChanged});
    insert(table, {2, sms ? "new A" : "Bob", "2", sms ? kMarkChanged : kMarkDeleted});
    insert(table, {7, "C", "7", kMarkNew});
    std::optional<Database> holder;
    duringPass = [&](const std::string& line) {
      if (holder || !(line.starts_with("AT+CPBW") || line.starts_with("AT+CMGD"))) return;
      holder.emplace(*Database::open(database_));
      ASSERT_TRUE(holder->exec("BEGIN IMMEDIATE").ok());
    };
    EXPECT_EQ(write(sms ? 1 : 0), JobOutcome::DatabaseError);
    holder.reset();
    duringPass = {};
    EXPECT_TRUE(host_.report.marksPending);
    EXPECT_EQ(host_.report.confirmed, 3);
    ASSERT_FALSE(host_.alerts.empty());
    EXPECT_TRUE(host_.alerts.back().starts_with(
        "Write to SIM|The SIM was written, but the local marks could not be cleared now"));
    const sim::SimCard after = simNow();

    useSim(after);
    EXPECT_EQ(write(sms ? 1 : 0), JobOutcome::Done);
    EXPECT_EQ(host_.report.marked, 0);
    EXPECT_EQ(commandCount("AT+CMGW") + commandCount("AT+CPBW") + commandCount("AT+CMGD"), 0);
    EXPECT_EQ(held(simNow(), store), (sms ? Held{{1, "new A"}, {2, "C"}} : Held{{1, "Alt2"}, {7, "C"}}));
    expectListIsSim(store);
    EXPECT_FALSE(std::filesystem::exists(database_.string() + ".pass-" + table));
  }
}

// A new entry goes only to a location the SIM holds empty: a copy that was never read
// from this SIM (a fresh home, a damaged database moved aside, a shorter restore) may
// have picked a location the SIM still uses. The write stops there, the row keeps its
// mark, and the SIM keeps its entry; a read of this SIM that listed the location empty
// spares the question, and a list copied onto another SIM overwrites by request.
TEST_F(JobFixture, NewEntriesGoOnlyWhereTheSimIsEmpty) {
  struct Case {
    const char* name;
    bool readFirst;      // a read of this SIM before the row is added
    bool otherSim;       // the copy names another SIM, and the write copies onto this one
    const char* atFour;  // what the SIM holds at location 4 (after any read)
    JobOutcome outcome;
    int cpbr;            // "AT+CPBR=4" sent
    const char* after;   // the name at 4 afterwards
  };
  const Case kCases[] = {
      {"never read, held", false, false, "Other", JobOutcome::WriteRefused, 1, "Other"},
      {"never read, empty", false, false, nullptr, JobOutcome::Done, 1, "Dan"},
      {"never read, holds the entry already", false, false, "Dan", JobOutcome::Done, 1, "Dan"},
      {"read empty", true, false, nullptr, JobOutcome::Done, 0, "Dan"},
      {"read empty, taken since by another phone", true, false, "Other", JobOutcome::Done, 0, "Dan"},
      {"copied onto another SIM", true, true, "Other", JobOutcome::Done, 0, "Dan"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    clearList(ListStore::Phonebook);
    sim::SimCard card = holding(ListStore::Phonebook, {{1, "Anna"}});
    useSim(card);
    if (c.readFirst) {
      ASSERT_EQ(read(0), JobOutcome::Done);
      if (c.otherSim) exec("UPDATE simcard SET iccid='89390100009999999990', imsi='222019999999999'");
    }
    if (c.atFour) card.writeEntryText(4, c.atFour, "4");
    useSim(card);
    insert("sim", {4, "Dan", "4", kMarkNew});
    toOtherSim = c.otherSim;
    EXPECT_EQ(write(0), c.outcome);
    toOtherSim = false;
    EXPECT_EQ(commandCount("AT+CPBR=4"), c.cpbr);
    EXPECT_EQ(simNow().name(4), c.after);
    const std::vector<SimEntry> after = rows(ListStore::Phonebook);
    const auto row = std::find_if(after.begin(), after.end(), [](const SimEntry& e) { return e.posizione == 4; });
    ASSERT_NE(row, after.end());
    if (c.outcome == JobOutcome::Done) {
      EXPECT_EQ(row->operazione, kMarkInStep);
      continue;
    }
    EXPECT_EQ(row->operazione, kMarkNew);
    EXPECT_EQ(commandCount("AT+CPBW=4"), 0);
    EXPECT_EQ(host_.report.retcode, 1);
    EXPECT_EQ(host_.report.refusal, "location 4 on the SIM holds another entry; read first");
  }
}

// A CSV restore over a list read from this SIM, then a write: the SIM holds the file and
// nothing else, and every row is in step with it. Without the SIM's other locations marked
// deleted, a shorter file leaves them on the SIM out of the list, and an export sorted by
// name and restored leaves an entry both at its old location and at its new one.
TEST_F(JobFixture, ARestoredFileIsAllTheSimHoldsAfterTheWrite) {
  using Entries = std::vector<std::pair<int, std::pair<std::string, std::string>>>;
  struct Case {
    const char* name;
    Entries onSim;     // what the SIM holds when it is read
    std::string file;  // "" for the list exported sorted by name
    int erased;
  };
  Entries full;
  for (int i = 1; i <= 36; ++i) full.push_back({i, {"P" + std::to_string(i), std::to_string(100 + i)}});
  const Case kCases[] = {
      {"6 lines over 36 entries", full, "A;1\nB;2\nC;3\nD;4\nE;5\nF;6\n", 30},
      {"exported sorted by name", {{2, {"Zed", "2"}}, {5, {"Anna", "5"}}, {9, {"Carl", "9"}}, {36, {"Bob", "36"}}}, "", 3},
      {"longer than what the SIM held", {{1, {"Old", "1"}}, {3, {"Gap", "3"}}}, "A;1\nB;2\nC;3\nD;4\n", 0},
      {"the same entries", {{1, {"A", "1"}}, {2, {"B", "2"}}}, "A;1\nB;2\n", 0},
  };
  const std::filesystem::path file = dir_ / "Voryx.csv";
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    clearList(ListStore::Phonebook);
    sim::SimCard card = smallSim(36);
    for (const auto& [at, entry] : c.onSim) ASSERT_TRUE(card.writeEntryText(at, entry.first, entry.second));
    useSim(card);
    ASSERT_EQ(read(0), JobOutcome::Done);
    if (c.file.empty()) {
      ASSERT_TRUE(entries::exportCsv(file, loadEntries(database_, ListStore::Phonebook, "", 1).entries).ok());
    } else {
      test::writeFile(file, c.file);
    }
    const entries::CsvRecords inFile = entries::parseCsv(test::readFile(file));
    entries::EditTarget target;
    target.database = database_;
    target.capacity = 36;
    auto restored = entries::restoreCsv(file, target);
    ASSERT_TRUE(restored.ok()) << restored.error().detail;
    EXPECT_EQ(restored->erased, c.erased);

    EXPECT_EQ(write(0), JobOutcome::Done);
    std::vector<SimEntry> inStep, seenRows;
    for (const SimEntry& e : inFile.rows) inStep.push_back({e.posizione, e.nome, e.telefono, kMarkInStep});
    EXPECT_EQ(rows(ListStore::Phonebook), inStep);
    expectListIsSim(ListStore::Phonebook);
    // What the list knows the SIM holds is the file too.
    auto seen = SimTable::open(database_, ListStore::Phonebook)->seen();
    ASSERT_TRUE(seen.ok());
    for (const auto& [at, entry] : *seen) seenRows.push_back({at, entry.nome, entry.telefono, kMarkInStep});
    EXPECT_EQ(seenRows, inStep);
  }
}

// A reply that comes after the wait for its first byte is still its command's own (the
// SIM took the entry), but the pass goes no further: no later command may be judged by
// a reply that belongs to another.
TEST_P(ReplyRuleTest, LateReplyCountsForItsCommandAndEndsThePass) {
  for (int i = 1; i <= 4; ++i) insert("sim", {i, "N" + std::to_string(i), std::to_string(i), kMarkNew});
  useSim(smallSim(10), {.faults = {.lateAtWrite = 2}});
  createLog = 1;

  EXPECT_EQ(write(0), JobOutcome::TooSlow);
  EXPECT_EQ(marks(ListStore::Phonebook), (std::vector<int>{kMarkInStep, kMarkInStep, kMarkNew, kMarkNew}));
  EXPECT_EQ(commandCount("AT+CPBW="), 2);
  EXPECT_EQ(host_.alerts, std::vector<std::string>{
                              "Write to SIM|The modem answers too slowly; the changes not yet written "
                              "stay marked."});
  EXPECT_NE(DebugLog::contents().find("late |\r\nOK\r\n|"), std::string::npos);
}

// Another program changes the table while a pass runs: what it changed, deleted or
// added keeps its mark; only the rows still as the pass read them are cleared.
TEST_F(JobFixture, ChangesMadeDuringAPassKeepTheirMarks) {
  for (int i = 1; i <= 4; ++i) insert("sim", {i, "N" + std::to_string(i), std::to_string(i), kMarkNew});
  useSim(smallSim(10));
  // The edits land while the modem takes the third write (after the pass read the table).
  duringPass = [this](const std::string& line) {
    if (!line.starts_with("AT+CPBW=3,")) return;
    exec("UPDATE sim SET desc='N1 changed', operazione=3 WHERE entry=1");
    exec("UPDATE sim SET operazione=2 WHERE entry=2");
    insert("sim", {9, "Added", "9", kMarkNew});
  };
  EXPECT_EQ(write(0), JobOutcome::Done);
  EXPECT_EQ(rows(ListStore::Phonebook),
            (std::vector<SimEntry>{{1, "N1 changed", "1", kMarkChanged}, {2, "N2", "2", kMarkDeleted},
                                   {3, "N3", "3", kMarkInStep}, {4, "N4", "4", kMarkInStep},
                                   {9, "Added", "9", kMarkNew}}));
  EXPECT_TRUE(test::listIsSim(database_, ListStore::Phonebook, simNow()));
}

// A name the SIM held whole is written whole again when only the number changed.
TEST_F(JobFixture, NumberOnlyEditKeepsTheWholeName) {
  const char* names[] = {"Zoë Müller", "Café Noël", "Søren ð", "Константин"};
  sim::SimCard card = smallSim(10);
  for (int i = 0; i < 4; ++i) ASSERT_TRUE(card.writeEntryText(i + 1, names[i], "1")) << names[i];
  useSim(card);
  ASSERT_EQ(read(0), JobOutcome::Done);
  exec("UPDATE sim SET number='+39 06 555', operazione=3");

  EXPECT_EQ(write(0), JobOutcome::Done);
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(simNow().name(i + 1), names[i]);
    EXPECT_EQ(simNow().number(i + 1), "+3906555");
  }
  EXPECT_TRUE(test::listIsSim(database_, ListStore::Phonebook, simNow()));
}

TEST_F(JobFixture, SmsWriteStoresEveryTextAndFollowsItsIndex) {
  sim::SimCard card = smallSim(5);
  card.setMessage(5, {SmsStatus::StoSent, "333", "", "Old text", false, {}});
  card.setMessage(9, {SmsStatus::StoSent, "9", "", "gone", false, {}});
  card.setMessage(10, {SmsStatus::StoSent, "1", "", "As it is", false, {}});
  useSim(card);
  insert("simsms", {4, "Hello", "+39 333 1234567", kMarkNew});
  insert("simsms", {5, "Changed", "333", kMarkChanged});
  insert("simsms", {6, "Grüße ä @ home", "+4930", kMarkNew});      // GSM, "@" is 00
  insert("simsms", {7, "Привет", "+7495", kMarkNew});              // UCS2
  insert("simsms", {8, "Line one\nLine two", "12", kMarkNew});
  insert("simsms", {9, "gone", "", kMarkDeleted});
  insert("simsms", {10, "As it is", "1", kMarkInStep});  // never sent
  // Longer than one message (an old row, a restore): stored cut to what one message holds
  // (160 septets, 70 UCS2 units), so the modem takes it; the row then holds what the SIM
  // has.
  insert("simsms", {11, std::string(200, 'x'), "1", kMarkNew});
  std::string cyrillic;
  for (int i = 0; i < 105; ++i) cyrillic += "ж";
  insert("simsms", {12, cyrillic, "1", kMarkNew});

  EXPECT_EQ(write(2), JobOutcome::Done);  // any store but the phonebook is the SMS store
  EXPECT_EQ(host_.report.retcode, 0);
  EXPECT_TRUE(host_.report.createLog);  // every SMS job is logged

  const std::vector<std::string> log = commandsAfterHandshake();
  ASSERT_GE(log.size(), 9u);
  EXPECT_EQ(std::vector<std::string>(log.begin(), log.begin() + 9),
            (std::vector<std::string>{"AT V1E0", "AT+CPMS=\"SM\",\"SM\"", "AT+CMGF=1", "AT+CSCS=?",
                                      "AT+CSCS=\"GSM\"", "AT+CCID", "AT+CIMI", "AT+CMGW=\"393331234567\",145,\"STO SENT\"",
                                      "> Hello"}));
  auto at = [&log](const std::string& line) { return std::find(log.begin(), log.end(), line); };
  // A changed message: its new copy first, then the old one goes.
  EXPECT_EQ(at("AT+CMGW=\"333\",129,\"STO SENT\"") + 2, at("AT+CMGD=5,0"));
  EXPECT_NE(at("AT+CMGD=9,0"), log.end());
  EXPECT_NE(at("> " + std::string(160, 'x')), log.end());
  // The UCS2 text went in PDU mode, and text mode came back after it.
  const auto pduMode = at("AT+CMGF=0");
  ASSERT_NE(pduMode, log.end());
  EXPECT_NE(std::find(pduMode, log.end(), "AT+CMGF=1"), log.end());
  EXPECT_EQ(host_.labels, (std::vector<std::string>{
                              "Writing sms entry nr. 4", "Writing sms entry nr. 5",
                              "Writing sms entry nr. 6", "Writing sms entry nr. 7",
                              "Writing sms entry nr. 8", "Deleting sms entry nr. 9",
                              "Analyzing sms entry nr. 10", "Writing sms entry nr. 11",
                              "Writing sms entry nr. 12"}));
  EXPECT_NE(DebugLog::contents().find("start sms 1 insert or modiied with cmd |AT+CMGW="), std::string::npos);

  // Every row is in step and names the index its message is stored at.
  const std::vector<SimEntry> stored = rows(ListStore::Sms);
  EXPECT_EQ(stored.size(), 8u);
  expectListIsSim(ListStore::Sms);
  std::string cut;
  for (int i = 0; i < 70; ++i) cut += "ж";
  const sim::SimCard after = simNow();
  for (const auto& [index, m] : after.messages()) EXPECT_EQ(m.ucs2, m.text == "Привет" || m.text == cut) << m.text;
  for (const std::string& text : {std::string(160, 'x'), cut}) {
    EXPECT_NE(std::find_if(stored.begin(), stored.end(), [&](const SimEntry& e) { return e.nome == text; }),
              stored.end());
  }
}

// The SIM stored a message but its answer never came back (the line went, as when a write
// is killed mid-command), or the pass journal could not record the message first
// (a full disk): the next write looks on the SIM before it stores anything, and no message
// is ever stored twice; a changed one's old copy goes all the same.
TEST_P(ReplyRuleTest, AMessageWhoseAnswerWasLostIsNeverStoredTwice) {
  struct Case {
    const char* name;
    SimEntry row;
    bool journalFull;
    JobOutcome first;
  };
  const Case kCases[] = {
      {"new, answer lost", {2, "Probe two", "555", kMarkNew}, false, JobOutcome::NoModem},
      {"changed, answer lost", {1, "Probe one, again", "1", kMarkChanged}, false, JobOutcome::NoModem},
      {"new, journal full", {2, "Probe two", "555", kMarkNew}, true, JobOutcome::DatabaseError},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    exec("DELETE FROM simsms");
    exec("DELETE FROM simpdu");
    sim::SimCard card = smallSim(10);
    card.setMessage(1, {SmsStatus::StoSent, "1", "", "Probe one", false, {}});
    if (c.row.operazione == kMarkNew) insert("simsms", {1, "Probe one", "1", kMarkInStep});
    insert("simsms", c.row);
    {
      std::optional<test::FileSizeLimit> full;
      if (c.journalFull) full.emplace(16);  // not even the journal's first line
      useSim(card, {.faults = {.lostAtWrite = c.journalFull ? 0 : 1}});
      EXPECT_EQ(write(1), c.first);
    }
    if (c.journalFull) {
      EXPECT_EQ(simNow().messages().size(), 1u);  // nothing unrecorded was sent
    }
    EXPECT_TRUE(test::listIsSim(database_, ListStore::Sms, simNow()));

    useSim(simNow());
    ASSERT_EQ(write(1), JobOutcome::Done);
    EXPECT_EQ(marks(ListStore::Sms), std::vector<int>(2 - (c.row.operazione == kMarkChanged), kMarkInStep));
    std::vector<std::string> texts;
    const sim::SimCard last = simNow();
    for (const auto& [index, m] : last.messages()) texts.push_back(m.text);
    const std::vector<std::string> kept = c.row.operazione == kMarkNew
                                              ? std::vector<std::string>{"Probe one", "Probe two"}
                                              : std::vector<std::string>{"Probe one, again"};
    EXPECT_EQ(texts, kept);
    EXPECT_TRUE(test::listIsSim(database_, ListStore::Sms, simNow()));
  }
}

// A full message store cannot take a changed message's new copy first: there, and only
// there, the old copy goes first; a store that then fails leaves the row new, with its
// text, for the next write.
TEST_F(JobFixture, AFullStoreTakesAChangedMessageOnceItsOldCopyIsGone) {
  for (const bool storeFails : {false, true}) {
    SCOPED_TRACE(storeFails ? "the store after the delete fails" : "stored");
    exec("DELETE FROM simsms");
    exec("DELETE FROM simpdu");
    sim::SimCard card(10, 14, 2);
    card.setMessage(1, {SmsStatus::StoSent, "1", "", "One", false, {}});
    card.setMessage(2, {SmsStatus::StoSent, "2", "", "Two", false, {}});
    insert("simsms", {1, "One, again", "1", kMarkChanged});
    insert("simsms", {2, "Two", "2", kMarkInStep});
    // Writes: 1 the store the full SIM refuses, 2 the old copy's delete, 3 the store again.
    useSim(card, {.faults = {.errorAtWrite = storeFails ? 3 : 0}});
    EXPECT_EQ(write(1), storeFails ? JobOutcome::WriteRefused : JobOutcome::Done);
    const std::vector<std::string> log = commandsAfterHandshake();
    std::vector<std::string> changes;
    std::copy_if(log.begin(), log.end(), std::back_inserter(changes),
                 [](const std::string& l) { return l.starts_with("AT+CMGW") || l.starts_with("AT+CMGD"); });
    EXPECT_EQ(changes, (std::vector<std::string>{"AT+CMGW=\"1\",129,\"STO SENT\"", "AT+CMGD=1,0",
                                                 "AT+CMGW=\"1\",129,\"STO SENT\""}));
    EXPECT_EQ(rows(ListStore::Sms), (std::vector<SimEntry>{{1, "One, again", "1", storeFails ? kMarkNew : kMarkInStep},
                                                           {2, "Two", "2", kMarkInStep}}));
    EXPECT_TRUE(test::listIsSim(database_, ListStore::Sms, simNow()));
    if (!storeFails) continue;
    useSim(simNow());
    ASSERT_EQ(write(1), JobOutcome::Done);
    ASSERT_NE(simNow().message(1), nullptr);
    EXPECT_EQ(simNow().message(1)->text, "One, again");
    EXPECT_TRUE(test::listIsSim(database_, ListStore::Sms, simNow()));
  }
}

// A changed message moves to the index the SIM gives it; deleting it in the next pass
// erases it there, not at its old index.
TEST_F(JobFixture, SmsChangedThenDeletedInTwoPasses) {
  useSim(holding(ListStore::Sms, {{1, "a"}, {2, "b"}, {3, "c"}}, 5));
  insert("simsms", {1, "a", "1", kMarkInStep});
  insert("simsms", {2, "b", "2", kMarkDeleted});
  insert("simsms", {3, "c changed", "3", kMarkChanged});

  ASSERT_EQ(write(1), JobOutcome::Done);
  EXPECT_EQ(rows(ListStore::Sms), (std::vector<SimEntry>{{1, "a", "1", 0}, {2, "c changed", "3", 0}}));
  exec("UPDATE simsms SET operazione=2 WHERE desc='c changed'");
  ASSERT_EQ(write(1), JobOutcome::Done);
  EXPECT_EQ(rows(ListStore::Sms), (std::vector<SimEntry>{{1, "a", "1", 0}}));
  expectListIsSim(ListStore::Sms);
}

}  // namespace
}  // namespace voryx::transfer
