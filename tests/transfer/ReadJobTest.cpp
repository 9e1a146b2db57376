// The phonebook read against the virtual modem.
#include "transfer/JobFixture.h"

namespace voryx::transfer {
namespace {

using sim::Profile;

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
// a single line break with an unsolicited line among them.
TEST_P(ReadJobTest, StoresEveryEntryAndTheCapacities) {
  sim::SimCard card = smallSim(10);
  for (const SimRow& r : kPhonebook) ASSERT_TRUE(card.writeEntryText(r.location, r.name, r.number)) << r.name;
  startModem(card, {.profile = GetParam(), .faults = {}});
  insert("sim", {6, "Not on the SIM", "111", kMarkNew});
  host_.createLog = 1;

  EXPECT_EQ(read(0), JobOutcome::Done);

  std::vector<SimEntry> expected;
  for (const SimRow& r : kPhonebook) expected.push_back({r.location, r.name, r.number, kMarkInStep});
  EXPECT_EQ(rows(ListStore::Phonebook), expected);
  EXPECT_EQ(host_.maxSIM, 10);
  EXPECT_EQ(preferences_->value(kPrefMaxSIM), 10);
  EXPECT_EQ(preferences_->value(kPrefMaxSIMLen), 14);
  EXPECT_EQ(host_.captions, std::vector<std::string>{"Your SIM has a total entry of  10"});
  ASSERT_EQ(host_.labels.size(), std::size(kPhonebook));
  EXPECT_EQ(host_.labels.back(), "Reading phonebook entry nr. 8");
  EXPECT_TRUE(host_.alerts.empty());
  EXPECT_EQ(host_.ends, std::vector<std::string>{"endLoadSIM"});
  EXPECT_EQ(commandsAfterHandshake(),
            (std::vector<std::string>{"AT V1E0", "AT+CPBS=\"SM\"", "AT+CSCS=\"HEX\"", "AT+CPBR=?",
                                      "AT+CPBR=1,10"}));
  EXPECT_NE(DebugLog::contents().find("send |AT+CPBR=1,10\r|\n"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Profiles, ReadJobTest, ::testing::Values(Profile::Default, Profile::LineBreak),
                         [](const auto& param) { return std::string(sim::profileName(param.param)); });

// A failed read never costs the user the local list: it stays as it was, and the user
// is told. A listing answered with an error also turns the write button off (maxSIM 0).
// Modems that answer the listing of an empty phonebook with "not found" hold no entry.
TEST_F(JobFixture, FailedReadsKeepTheTableAndNotFoundEmptiesIt) {
  struct Case {
    const char* name;
    bool modem;
    sim::ModemOptions options;
    JobOutcome outcome;
    bool kept;
    std::vector<std::string> alerts;
    int maxSIM;  // in the host and the preferences
  };
  const Case kCases[] = {
      {"no device", false, {}, JobOutcome::NoModem, true,
       {"Read from SIM|No modem could be opened; the local list was kept."}, 250},
      {"ERROR listing", true, {.faults = {.listingError = true}}, JobOutcome::ListingFailed, true,
       {"Read from SIM|The SIM could not be listed; the local list was kept."}, 0},
      {"not found listing", true, {.profile = Profile::LineBreak, .faults = {}}, JobOutcome::Done, false, {}, 10},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    exec("DELETE FROM sim");
    insert("sim", {3, "Kept", "+39333", kMarkChanged});
    insert("sim", {4, "Also kept", "444", kMarkDeleted});
    const std::vector<SimEntry> before = rows(ListStore::Phonebook);
    preferences_->store(kPrefMaxSIM, 250);
    host_.maxSIM = 250;
    if (c.modem) startModem(smallSim(10), c.options);

    EXPECT_EQ(read(0), c.outcome);
    EXPECT_EQ(rows(ListStore::Phonebook), c.kept ? before : std::vector<SimEntry>{});
    EXPECT_EQ(host_.alerts, c.alerts);
    EXPECT_EQ(host_.maxSIM, c.maxSIM);
    EXPECT_EQ(preferences_->value(kPrefMaxSIM), c.maxSIM);
  }
}

}  // namespace
}  // namespace voryx::transfer
