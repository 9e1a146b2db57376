// The character set each job agrees with modems that offer different sets: what is
// chosen, and names and messages written and read back in it.
#include "sim/Gammu.h"
#include "transfer/JobFixture.h"

namespace voryx::transfer {
namespace {


// Names in every form the SIM stores: plain (with an escape and "@"), 81, 82, 80, and an
// emoji (a surrogate pair).
const std::vector<std::string> kNames = {"Anna Plain", "Bar €uro", "Office@Home", "Иван", "Ґанна", "山田",
                                         "\U0001F600 Joy"};
const std::vector<std::string> kTexts = {"Hello", "mail@home 5$", "Costa 5€", "Привет"};

struct Offer {
  const char* name;
  bool realLine;  // over the pseudo-terminal (else the engine on the virtual clock)
  sim::ModemOptions options;
  const char* phonebookSet;  // AT+CSCS= of each job, as sent last
  const char* smsReadSet;
  const char* smsWriteSet;
  std::vector<std::string> namesBack;  // what a read gives back of kNames
  std::vector<std::string> textsBack;  // of kTexts
};

sim::ModemOptions offering(std::vector<sim::Charset> listed, std::vector<sim::Charset> refused = {},
                           bool hexNumbers = false) {
  sim::ModemOptions o;
  o.charsets = {listed, refused, hexNumbers};
  return o;
}

const std::vector<std::string> kWhole = kNames;
// Under UCS2 a name keeps what the SIM's 80 form holds in 14 bytes: 6 units.
// A name that IRA carries whole goes in IRA.
const std::vector<std::string> kSixUnits = {"Anna Plain", "Bar €u", "Office", "Иван", "Ґанна", "山田", "\U0001F600 Joy"};
// Under GSM what the alphabet lacks is '?'.
const std::vector<std::string> kGsm = {"Anna Plain", "Bar €uro", "Office@Home", "????", "?????", "??", "? Joy"};

TEST_F(JobFixture, EachJobAgreesASetTheModemTakesAndReadsBackWhatItWrote) {
  using enum sim::Charset;
  sim::ModemOptions listError;
  listError.faults.charsetTestError = true;
  const Offer kOffers[] = {
      {"HEX, UCS2, IRA", false, offering({Hex, Ucs2, Ira}), "HEX", "UCS2", "IRA", kWhole, kTexts},
      // Without HEX each name goes in GSM when the alphabet holds it, else in UCS2.
      {"GSM, IRA, UCS2", true, offering({Gsm, Ira, Ucs2}), "UCS2", "UCS2", "GSM", kWhole, kTexts},
      {"UCS2, IRA with hex numbers", true, offering({Ucs2, Ira}, {}, true), "UCS2", "UCS2", "IRA", kSixUnits, kTexts},
      {"HEX listed but refused", false, offering({Hex, Ucs2, Ira}, {Hex}), "UCS2", "UCS2", "IRA", kSixUnits, kTexts},
      // A UCS2 message is listed as hexadecimal under GSM; the read keeps it as printed.
      {"IRA, GSM", false, offering({Ira, Gsm}), "GSM", "GSM", "GSM", kGsm,
       {"Hello", "mail@home 5$", "Costa 5€", "041F04400438043204350442"}},
      {"AT+CSCS=? refused", false, listError, "HEX", "UTF-8", "GSM", kWhole, kTexts},
  };
  for (const Offer& offer : kOffers) {
    SCOPED_TRACE(offer.name);
    exec("DELETE FROM sim");
    exec("DELETE FROM simsms");
    for (std::size_t i = 0; i < kNames.size(); ++i) {
      insert("sim", {static_cast<int>(i) + 1, kNames[i], i % 2 ? "+39333" : "0612", kMarkNew});
    }
    for (std::size_t i = 0; i < kTexts.size(); ++i) {
      insert("simsms", {static_cast<int>(i) + 1, kTexts[i], "+39333", kMarkNew});
    }
    if (offer.realLine) {
      startModem(smallSim(10), offer.options);
    } else {
      useSim(smallSim(10), offer.options);
    }
    auto lastSet = [this] {
      std::string set;
      for (const std::string& line : commandLog()) {
        if (line.starts_with("AT+CSCS=\"")) set = line.substr(9, line.size() - 10);
      }
      if (modem_) modem_->clearLog();
      return set;
    };

    ASSERT_EQ(write(0), JobOutcome::Done);
    EXPECT_EQ(lastSet(), offer.phonebookSet);
    std::vector<std::string> took;  // each row holds what the SIM took
    for (const SimEntry& e : rows(ListStore::Phonebook)) took.push_back(e.nome);
    EXPECT_EQ(took, offer.namesBack);
    ASSERT_EQ(write(1), JobOutcome::Done);
    EXPECT_EQ(lastSet(), offer.smsWriteSet);
    std::vector<std::string> stored;
    for (const auto& [index, text] : held(simNow(), ListStore::Sms)) stored.push_back(text);
    EXPECT_EQ(stored, kTexts);  // text mode or PDU mode, every text reached the SIM whole

    ASSERT_EQ(read(0), JobOutcome::Done);
    EXPECT_EQ(lastSet(), offer.phonebookSet);
    std::vector<std::string> names, numbers;
    for (const SimEntry& e : rows(ListStore::Phonebook)) {
      names.push_back(e.nome);
      numbers.push_back(e.telefono);
    }
    EXPECT_EQ(names, offer.namesBack);
    EXPECT_EQ(numbers, (std::vector<std::string>{"0612", "+39333", "0612", "+39333", "0612", "+39333", "0612"}));

    ASSERT_EQ(read(1), JobOutcome::Done);
    EXPECT_EQ(lastSet(), offer.smsReadSet);
    std::vector<std::string> texts;
    for (const SimEntry& e : rows(ListStore::Sms)) {
      texts.push_back(e.nome);
      EXPECT_EQ(e.telefono, "+39333");
    }
    EXPECT_EQ(texts, offer.textsBack);
  }
}

// A set the user forces is the only one asked; when the modem refuses it nothing is read
// or written, and the user is told which set it was. The setup screen's "Use UCS2" skips
// HEX even where the modem has it.
TEST_F(JobFixture, ForcedAndPreferredSets) {
  using enum sim::Charset;
  insert("sim", {1, "Anna", "1", kMarkNew});
  useSim(smallSim(10), offering({Ucs2, Ira}));
  charset = {.forced = codec::Charset::Hex};
  EXPECT_EQ(write(0), JobOutcome::CharsetRefused);
  EXPECT_EQ(host_.alerts, std::vector<std::string>{"Write to SIM|The modem refused the character set; nothing "
                                                   "was written. (HEX)"});
  EXPECT_EQ(commandCount("AT+CPBW"), 0);
  EXPECT_EQ(commandCount("AT+CSCS=?"), 0);
  EXPECT_EQ(marks(ListStore::Phonebook), std::vector<int>{kMarkNew});

  charset = {.forced = codec::Charset::Gsm};
  discardChanges = true;
  EXPECT_EQ(read(0), JobOutcome::CharsetRefused);
  EXPECT_EQ(rows(ListStore::Phonebook).size(), 1u);
  charset = {.forced = codec::Charset::Hex};
  EXPECT_EQ(read(1), JobOutcome::CharsetRefused);
  EXPECT_EQ(write(1), JobOutcome::CharsetRefused);

  useSim(smallSim(10));
  charset = {.forced = std::nullopt, .ucs2First = true};
  EXPECT_EQ(write(0), JobOutcome::Done);
  EXPECT_EQ(commandCount("AT+CSCS=\"HEX\""), 0);
  EXPECT_EQ(commandCount("AT+CPBW=1,\"1\",129,\"0041006E006E0061\""), 1);
}

// What Voryx writes without HEX (each name in GSM, IRA or UCS2, the line switching
// between them) a standard client reads back as written. gammu is installed with the
// build's dependencies (scripts/install-deps.sh): this check is not optional.
TEST_F(JobFixture, GammuReadsWhatAWriteWithoutHexStored) {
  ASSERT_TRUE(test::gammuInstalled()) << "gammu is not installed: run scripts/install-deps.sh";
  using enum sim::Charset;
  const std::vector<std::string> kWritten = {"Иван", "Anna Plain", "Zoë", "山田", "Ωж", "Bar €u", "Jürgen Ståhl"};
  // The last name needs GSM to stay whole; UCS2 holds 6 units of it.
  const std::pair<sim::ModemOptions, const char*> kOffers[] = {{offering({Ucs2, Ira}), "Jürgen"},
                                                               {offering({Gsm, Ira, Ucs2}), "Jürgen Ståhl"}};
  for (const auto& [offer, last] : kOffers) {
    exec("DELETE FROM sim");
    for (std::size_t i = 0; i < kWritten.size(); ++i) {
      insert("sim", {static_cast<int>(i) + 1, kWritten[i], "+3902" + std::to_string(i), kMarkNew});
    }
    startModem(smallSim(10), offer);
    ASSERT_EQ(write(0), JobOutcome::Done);
    ASSERT_GE(commandCount("AT+CSCS=\"UCS2\""), 1);
    modem_->stop();
    sim::SimCard written = modem_->sim();
    sim::VirtualModem plain{written};  // gammu picks its own set
    ASSERT_TRUE(plain.start());
    const std::string listed = test::runGammu(plain.devicePath(), "getallmemory SM");
    for (std::size_t i = 0; i < kWritten.size(); ++i) {
      const std::string name = i + 1 == kWritten.size() ? std::string(last) : kWritten[i];
      EXPECT_NE(listed.find("\"" + name + "\""), std::string::npos) << name << "\n" << listed;
      EXPECT_NE(listed.find("\"+3902" + std::to_string(i) + "\""), std::string::npos) << listed;
    }
    plain.stop();
  }
}

}  // namespace
}  // namespace voryx::transfer
