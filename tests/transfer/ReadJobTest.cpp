// The phonebook read against the virtual modem, and the runner's one-job-at-a-time rule.
#include <algorithm>

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
  startModem(card, withProfile(GetParam()));
  insert("sim", {6, "Not on the SIM", "111", kMarkNew});
  host_.createLog = 1;

  EXPECT_EQ(read(0), JobOutcome::Done);

  std::vector<SimEntry> expected;
  for (const SimRow& r : kPhonebook) expected.push_back({r.location, r.name, r.number, kMarkInStep});
  EXPECT_EQ(rows(ListStore::Phonebook), expected);
  EXPECT_EQ(host_.maxSIM, 10);
  EXPECT_EQ(preferences_->value(kPrefMaxSIM), 10);
  EXPECT_EQ(preferences_->value(kPrefMaxSIMLen), 14);
  EXPECT_EQ(host_.captions(), std::vector<std::string>{"Your SIM has a total entry of  10"});
  std::vector<std::string> labels = host_.labels();
  ASSERT_EQ(labels.size(), std::size(kPhonebook));
  EXPECT_EQ(labels.front(), "Reading phonebook entry nr. 0");
  EXPECT_EQ(labels.back(), "Reading phonebook entry nr. 8");
  EXPECT_TRUE(host_.alerts().empty());
  EXPECT_EQ(host_.ends(), std::vector<std::string>{"endLoadSIM"});
  EXPECT_EQ(commandsAfterHandshake(),
            (std::vector<std::string>{"AT V1E0", "AT+CPBS=\"SM\"", "AT+CSCS=\"HEX\"", "AT+CPBR=?",
                                      "AT+CPBR=1,10"}));
  const std::string log = DebugLog::contents();
  EXPECT_NE(log.find("send |AT+CPBR=1,10\r|\n"), std::string::npos);
  EXPECT_NE(log.find("elementi |9|\n"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Profiles, ReadJobTest, ::testing::Values(Profile::Default, Profile::LineBreak),
                         [](const auto& param) { return std::string(sim::profileName(param.param)); });

// A failed read never costs the user the local list: it stays as it was, and the user
// is told. A listing answered with an error also turns the write button off (maxSIM 0).
class FailedReadJobTest : public JobFixture {
 protected:
  void SetUp() override {
    JobFixture::SetUp();
    insert("sim", {3, "Kept", "+39333", kMarkChanged});
    insert("sim", {4, "Also kept", "444", kMarkDeleted});
    kept_ = rows(ListStore::Phonebook);
    preferences_->store(kPrefMaxSIM, 250);
  }
  void expectKept(JobOutcome outcome, JobOutcome expected) {
    EXPECT_EQ(outcome, expected);
    EXPECT_EQ(rows(ListStore::Phonebook), kept_);
    ASSERT_EQ(host_.alerts().size(), 1u);
    EXPECT_EQ(host_.alerts()[0].title, "Read from SIM");
    EXPECT_EQ(host_.ends(), std::vector<std::string>{"endLoadSIM"});
  }
  std::vector<SimEntry> kept_;
};

TEST_F(FailedReadJobTest, NoDeviceKeepsTheTable) {
  expectKept(read(0), JobOutcome::NoModem);
  EXPECT_EQ(host_.alerts()[0].message, "No modem could be opened; the local list was kept.");
  EXPECT_EQ(preferences_->value(kPrefMaxSIM), 250);
}

TEST_F(FailedReadJobTest, ErrorListingKeepsTheTableAndStoresNoCapacity) {
  sim::ModemOptions options;
  options.faults.listingError = true;
  startModem(smallSim(10), options);
  expectKept(read(0), JobOutcome::ListingFailed);
  EXPECT_EQ(host_.alerts()[0].message, "The SIM could not be listed; the local list was kept.");
  EXPECT_EQ(host_.maxSIM, 0);
  EXPECT_EQ(preferences_->value(kPrefMaxSIM), 0);
}

// Modems that answer the listing of an empty phonebook with "not found" hold no entry:
// the local table follows the SIM, and the capacity stays known.
TEST_F(FailedReadJobTest, NotFoundListingIsAnEmptyPhonebook) {
  startModem(smallSim(10), withProfile(Profile::LineBreak));
  EXPECT_EQ(read(0), JobOutcome::Done);
  EXPECT_TRUE(rows(ListStore::Phonebook).empty());
  EXPECT_TRUE(host_.alerts().empty());
  EXPECT_EQ(host_.maxSIM, 10);
  EXPECT_EQ(preferences_->value(kPrefMaxSIM), 10);
}

TEST_F(JobFixture, RunsOneJobAtATime) {
  startModem(smallSim(10));
  TransferRunner runner(host_);
  EXPECT_FALSE(runner.loadSIM(2, context()));  // names no store
  ASSERT_TRUE(runner.loadSIM(1, context()));
  EXPECT_TRUE(runner.running());
  EXPECT_FALSE(runner.loadSIM(0, context()));
  EXPECT_FALSE(runner.save(0, context()));
  ASSERT_TRUE(host_.waitEnd());
  runner.wait();
  EXPECT_FALSE(runner.running());
  // tipoDisplay 1 ran the SMS read, and only it.
  EXPECT_EQ(modem().commandCount("AT+CMGL="), 1);
  EXPECT_EQ(modem().commandCount("AT+CPBR"), 0);
  EXPECT_EQ(host_.ends(), std::vector<std::string>{"endLoadSIM"});
}

}  // namespace
}  // namespace voryx::transfer
