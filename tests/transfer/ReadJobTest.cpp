// The phonebook read against the virtual modem.
#include "transfer/JobFixture.h"

namespace voryx::transfer {
namespace {

using sim::Profile;
using namespace std::chrono_literals;

struct SimRow {
  int location;
  const char* name;
  const char* number;
};
// Names in every form the SIM holds: plain GSM (with '@', '€', '_' and accents), 81
// (Cyrillic, Greek), 80 (mixed scripts, CJK, a letter outside the GSM alphabet).
constexpr SimRow kPhonebook[] = {
    {1, "Anna", "+3902123456"},   {2, "Иван Петров", "3331234567"}, {3, "Γιώργος", "+3069"},
    {4, "Zoë Müller", "0612"},    {5, "Office@Home", "*31#"},       {7, "Bar €uro", "0687"},
    {8, "Ωж", "12,34"},           {9, "山田太郎", "+8131"},          {10, "Søren_ð", "4533"},
};

class ReadJobTest : public JobFixture, public ::testing::WithParamInterface<Profile> {};

// The same SIM read on both listing styles: entries after a blank line, entries after
// a single line break with an unsolicited line among them. Over the real line once.
TEST_P(ReadJobTest, StoresEveryEntryAndTheCapacities) {
  sim::SimCard card = smallSim(10);
  for (const SimRow& r : kPhonebook) ASSERT_TRUE(card.writeEntryText(r.location, r.name, r.number)) << r.name;
  if (GetParam() == Profile::Default) {
    startModem(card, {.profile = GetParam(), .faults = {}});
  } else {
    useSim(card, {.profile = GetParam(), .faults = {}});
  }
  insert("sim", {6, "Not on the SIM", "111", kMarkNew});
  createLog = 1;
  discardChanges = true;

  EXPECT_EQ(read(0), JobOutcome::Done);

  std::vector<SimEntry> expected;
  for (const SimRow& r : kPhonebook) expected.push_back({r.location, r.name, r.number, kMarkInStep});
  EXPECT_EQ(rows(ListStore::Phonebook), expected);
  const JobReport& report = host_.report;
  ASSERT_TRUE(report.maxSIM && report.maxSIMLen);
  EXPECT_EQ(report.maxSIM->value, 10);
  EXPECT_TRUE(report.maxSIM->remember);
  EXPECT_EQ(*report.maxSIMLen, 14);
  EXPECT_EQ(report.maxNumberLen, 20);  // as the modem's +CPBR=? gives it
  EXPECT_EQ(report.rows, 9);
  EXPECT_EQ(host_.captions, std::vector<std::string>{"Your SIM has a total entry of  10"});
  // One progress text per entry listed, naming its location, whichever way the listing
  // was cut into pieces.
  std::vector<std::string> labels;
  for (const SimRow& r : kPhonebook) labels.push_back("Reading phonebook entry nr. " + std::to_string(r.location));
  EXPECT_EQ(host_.labels, labels);
  EXPECT_TRUE(host_.alerts.empty());
  EXPECT_EQ(host_.ends, std::vector<std::string>{"endLoadSIM"});
  EXPECT_EQ(commandsAfterHandshake(),
            (std::vector<std::string>{"AT V1E0", "AT+CPBS=?", "AT+CPBS=\"SM\"", "AT+CSCS=?", "AT+CSCS=\"HEX\"",
                                      "AT+CPBR=?", "AT+CPBR=1,10", "AT+CCID", "AT+CIMI"}));
  EXPECT_NE(DebugLog::contents().find("send |AT+CPBR=1,10\r|\n"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Profiles, ReadJobTest, ::testing::Values(Profile::Default, Profile::LineBreak),
                         [](const auto& param) { return std::string(sim::profileName(param.param)); });

// The debug log carries the records support reads, counted as they count them: the
// listing's pieces, and for each message piece where its fields lie and what they gave.
TEST_F(JobFixture, ReadsLogThePiecesOfTheListing) {
  useSim(sim::SimCard::demo());
  createLog = 1;
  ASSERT_EQ(read(0), JobOutcome::Done);
  EXPECT_EQ(rows(ListStore::Phonebook).size(), 36u);
  EXPECT_NE(DebugLog::contents().find("elementi |37|\n"), std::string::npos);
  EXPECT_EQ(host_.labels.back(), "Reading phonebook entry nr. " + std::to_string(rows(ListStore::Phonebook).back().posizione));

  ASSERT_EQ(read(1), JobOutcome::Done);
  const std::string log = DebugLog::contents();
  const std::size_t piece = log.find("elemento 0 |");
  ASSERT_NE(piece, std::string::npos);
  std::size_t at = piece;
  for (const char* record : {"range1 2\n", "range2 10\n", "posizione |1|\n", "telefono |", "nome |", "tipo |"}) {
    SCOPED_TRACE(record);
    at = log.find(record, at);
    ASSERT_NE(at, std::string::npos);
  }
}

// A failed read never costs the user the local list: it stays as it was, and the user
// is told. A listing answered with an error also turns the write button off (maxSIM 0).
// Modems that answer the listing of an empty phonebook with "not found" hold no entry.
// A listing that does not end in a final result code is never stored in part.
TEST_F(JobFixture, FailedReadsKeepTheTableAndNotFoundEmptiesIt) {
  const std::string kTooSlow = "Read from SIM|The modem answers too slowly; the local list was kept.";
  struct Case {
    const char* name;
    bool modem;
    sim::ModemOptions options;
    bool discard;
    JobOutcome outcome;
    bool kept;
    std::vector<std::string> alerts;
    std::optional<int> maxSIM;  // in the report
  };
  const Case kCases[] = {
      {"no device", false, {}, true, JobOutcome::NoModem, true, {}, {}},
      {"ERROR listing", true, {.faults = {.listingError = true}}, true, JobOutcome::ListingFailed, true,
       {"Read from SIM|The SIM could not be listed; the local list was kept."}, 0},
      {"not found listing", true, {.profile = Profile::LineBreak, .faults = {}}, true, JobOutcome::Done,
       false, {}, 10},
      {"changes not yet written", true, {}, false, JobOutcome::UnsentChanges, true,
       {"Read from SIM|2 changes not yet written to the SIM would be lost; the local list was kept."}, {}},
      {"a modem that answers after 0.7 s", true, {.replyDelay = 700ms, .faults = {}}, true, JobOutcome::Done,
       false, {}, 10},
      {"a modem slower than the wait", true, {.replyDelay = 1600ms, .faults = {}}, true,
       JobOutcome::TooSlow, true, {kTooSlow}, {}},
      // (The first reply with a gap is the character set list's, before the capacity.)
      {"a listing with a gap past the quiet window", true,
       {.chunkBytes = 60, .chunkGap = 700ms, .faults = {}}, true, JobOutcome::TooSlow, true, {kTooSlow}, {}},
      {"a listing that trickles past the reply bound", true,
       {.chunkBytes = 1, .chunkGap = 400ms, .faults = {}}, true, JobOutcome::TooSlow, true, {kTooSlow}, 10},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    exec("DELETE FROM sim");
    insert("sim", {3, "Kept", "+39333", kMarkChanged});
    insert("sim", {4, "Also kept", "444", kMarkDeleted});
    const std::vector<SimEntry> before = rows(ListStore::Phonebook);
    maxSIM = 250;
    discardChanges = c.discard;
    sim::SimCard card = smallSim(10);
    if (c.outcome != JobOutcome::Done) {  // an empty SIM is the "not found" one
      for (const SimRow& r : kPhonebook) card.writeEntryText(r.location, r.name, r.number);
    }
    if (c.modem) {
      useSim(card, c.options);
    } else {
      noModem();
    }

    EXPECT_EQ(read(0), c.outcome);
    EXPECT_EQ(rows(ListStore::Phonebook).size(), c.kept ? before.size() : 0u);
    if (c.kept) {
      EXPECT_EQ(rows(ListStore::Phonebook), before);
    }
    if (c.name == std::string("no device")) {
      ASSERT_EQ(host_.alerts.size(), 1u);
      EXPECT_NE(host_.alerts[0].find("no-such-modem: no such device; try --device"), std::string::npos);
    } else {
      EXPECT_EQ(host_.alerts, c.alerts);
    }
    EXPECT_EQ(host_.report.maxSIM ? std::optional<int>(host_.report.maxSIM->value) : std::nullopt, c.maxSIM);
    if (c.options.chunkBytes == 1) {  // a long reply shows that bytes still come
      EXPECT_TRUE(std::any_of(host_.labels.begin(), host_.labels.end(), [](const std::string& l) {
        return l.starts_with("Bytes received from the modem: ");
      }));
    }
  }
}

}  // namespace
}  // namespace voryx::transfer
