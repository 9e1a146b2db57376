#pragma once
// What the job tests share: a copy of the shipped database in a fresh folder, a modem,
// and a host that records what a job shows. The modem is the virtual modem's engine on
// a line with a virtual clock (useSim: every wait costs nothing, so a test may run many
// passes and slow modems), or the whole virtual modem on a real pseudo-terminal
// (startModem: for the few tests that must prove the real line).
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "base/DebugLog.h"
#include "sim/VirtualCard.h"
#include "sim/VirtualQmi.h"
#include "sim/VirtualModem.h"
#include "simfiles/PcscLink.h"
#include "store/Database.h"
#include "store/EntryList.h"
#include "store/SimTable.h"
#include "support/ListIsSim.h"
#include "transfer/EngineLine.h"
#include "transfer/TransferRunner.h"

namespace voryx {
// Rows print as {entry, "text", "number", mark} in failure messages.
inline void PrintTo(const SimEntry& e, std::ostream* os) {
  *os << "{" << e.posizione << ", \"" << e.nome << "\", \"" << e.telefono << "\", " << e.operazione << "}";
}
}  // namespace voryx

namespace voryx::transfer {

// Records what a job shows. The job thread writes, the test reads after joining it.
struct RecordingHost final : JobHost {
  void updateCaption(const std::string& text) override { captions.push_back(text); }
  void updateLabel(const std::string& text) override { labels.push_back(text); }
  void endLoadSIM(const JobReport& r) override { end("endLoadSIM", r); }
  void endSaveSIM(const JobReport& r) override { end("endSaveSIM", r); }
  void showAlert(const std::string& title, const std::string& message) override {
    alerts.push_back(title + "|" + message);
  }
  // The user answers with the next of `codes`; none left: the user cancels.
  std::optional<std::string> askCode(const CodeQuestion& question) override {
    questions.push_back(question);
    if (codes.empty()) return std::nullopt;
    std::string code = codes.front();
    codes.erase(codes.begin());
    return code;
  }
  void end(const char* what, const JobReport& r) {
    ends.push_back(what);
    report = r;
  }
  std::vector<std::string> captions, labels, ends, alerts;  // alerts: "title|message"
  std::vector<std::string> codes;
  std::vector<CodeQuestion> questions;
  JobReport report;
};

class JobFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "voryx-jobs-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    database_ = dir_ / "Voryx.sqlitedb";
    std::filesystem::copy_file(std::filesystem::path(VORYX_BINARY_DIR) / "resources/Voryx.sqlitedb",
                               database_);
    DebugLog::setPath(dir_ / "Voryx.log");
  }
  void TearDown() override {
    if (modem_) modem_->stop();
    takeCardOut();
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }

  // A SIM of `locations` locations, names of 14 bytes, room for 10 messages.
  static sim::SimCard smallSim(int locations = 10) { return sim::SimCard(locations, 14, 10); }

  // The engine on the virtual clock; every job starts a fresh engine (faults count anew)
  // on this SIM, which the jobs change.
  void useSim(sim::SimCard card, sim::ModemOptions options = {}) {
    if (modem_) modem_->stop();
    modem_.reset();
    takeCardOut();
    reader_.reset();
    card_ = std::move(card);
    options_ = options;
  }
  // The virtual modem on a real pseudo-terminal.
  void startModem(sim::SimCard card, sim::ModemOptions options = {}) {
    if (modem_) modem_->stop();
    card_.reset();
    modem_ = std::make_unique<sim::VirtualModem>(std::move(card), options);
    std::string error;
    ASSERT_TRUE(modem_->start(&error)) << error;
  }
  // The virtual card in the virtual reader of pcscd (which tests/cardreader starts): the
  // jobs go through the reader; what was in it is taken out first and pcscd sees the swap.
  void useCard(sim::SimCard card, sim::CardOptions options, bool usim) {
    takeCardOut();
    card_.reset();
    reader_ = std::make_unique<sim::VirtualCard>(std::move(card), std::move(options), usim);
    std::string error;
    ASSERT_TRUE(reader_->insert(sim::VirtualCard::kFirstPort, &error)) << error;
    ASSERT_TRUE(waitForCard(true)) << "pcscd did not see the card";
  }
  // The virtual modem speaking QMI on a real pseudo-terminal: the jobs reach it through the
  // real qmi-proxy (which libqmi starts when none runs), each request waiting `wait` at most.
  void useQmi(sim::SimCard card, sim::QmiFaults faults = {}, std::chrono::seconds wait = std::chrono::seconds{10},
              bool usim = true) {
    noModem();
    takeCardOut();
    reader_.reset();
    qmi_ = std::make_unique<sim::VirtualQmi>(std::move(card), faults, usim);
    qmiWait_ = wait;
    std::string error;
    ASSERT_TRUE(qmi_->start(&error)) << error;
  }
  void takeCardOut() {
    if (!reader_) return;
    reader_->remove();
    EXPECT_TRUE(waitForCard(false)) << "pcscd did not see the card go";
  }
  static bool waitForCard(bool present) {
    const std::string name = sim::VirtualCard::readerName(sim::VirtualCard::kFirstPort);
    for (int round = 0; round < 200; ++round) {
      for (const simfiles::ReaderInfo& r : simfiles::listReaders().readers) {
        if (r.name == name && r.cardPresent == present) return true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds{50});
    }
    return false;
  }
  void noModem() {
    if (modem_) modem_->stop();
    modem_.reset();
    card_.reset();
  }
  sim::SimCard simNow() const {
    return qmi_ ? qmi_->sim() : reader_ ? reader_->sim() : card_ ? *card_ : modem_->sim();
  }

  JobContext context(int sortField = 0) {
    JobContext c{database_, {}, sortField};
    if (qmi_) {
      c.device.qmi = qmi_->devicePath();
      c.device.qmiWait = qmiWait_;
    } else if (reader_) {
      c.device.reader = sim::VirtualCard::readerName(sim::VirtualCard::kFirstPort);
    } else if (modem_) {
      c.device.device = modem_->devicePath();
    } else if (!card_) {
      c.device.device = dir_ / "no-such-modem";
    }
    c.maxSIM = maxSIM;
    c.maxSIMLen = maxSIMLen;
    c.maxNumberLen = maxNumberLen;
    c.createLog = createLog;
    c.discardChanges = discardChanges;
    c.search = search;
    c.simBusyWait = simBusyWait;
    c.charset = charset;
    c.fast = fast;
    c.toOtherSim = toOtherSim;
    c.dryRun = dryRun;
    c.records = records;
    c.phonebook = phonebook;
    return c;
  }

  // Runs a read (write) for the store shown by tipoDisplay and waits for its end.
  JobOutcome read(int tipoDisplay) { return run(false, tipoDisplay, 0); }
  JobOutcome write(int tipoDisplay, int sortField = 0) { return run(true, tipoDisplay, sortField); }
  JobOutcome run(bool isWrite, int tipoDisplay, int sortField) {
    host_ = RecordingHost{};
    host_.codes = codes;
    JobContext c = context(sortField);
    std::optional<testing::EngineLine> line;
    if (card_) {
      line.emplace(*card_, options_, duringPass);
      c.device.line = &*line;
    }
    TransferRunner runner(host_);
    EXPECT_TRUE(isWrite ? runner.save(tipoDisplay, c) : runner.loadSIM(tipoDisplay, c));
    runner.wait();  // joins the job thread, end handler included
    if (line) engineLog_ = line->commandLog();
    return host_.report.outcome;
  }

  void exec(const std::string& sql) {
    auto db = Database::open(database_);
    ASSERT_TRUE(db.ok());
    ASSERT_TRUE(db->exec(sql).ok()) << sql;
  }
  void insert(const char* table, const SimEntry& e) {
    auto db = Database::open(database_);
    ASSERT_TRUE(db.ok());
    auto st = db->prepare(std::string("INSERT INTO ") + table +
                          " (entry,desc,number,operazione) VALUES(?,?,?,?)");
    ASSERT_TRUE(st.ok());
    st->bindInt(1, e.posizione);
    st->bindText(2, e.nome);
    st->bindText(3, e.telefono);
    st->bindInt(4, e.operazione);
    ASSERT_EQ(st->step(), Statement::Step::Done);
  }
  std::vector<SimEntry> rows(ListStore store, Phonebook book = Phonebook::SM) {
    return loadEntries(database_, store, "", 0, kShellBusy, book).entries;
  }
  std::vector<int> marks(ListStore store, Phonebook book = Phonebook::SM) {
    std::vector<int> out;
    for (const SimEntry& e : rows(store, book)) out.push_back(e.operazione);
    return out;
  }

  // What a SIM holds, location (message index) -> name (text), in order; and the list's
  // rows the same way, to compare with it.
  using Held = std::vector<std::pair<int, std::string>>;
  static Held held(const sim::SimCard& card, ListStore store) {
    Held out;
    if (store == ListStore::Sms) {
      for (const auto& [index, m] : card.messages()) out.emplace_back(index, m.text);
      return out;
    }
    for (int loc = 1; loc <= card.locations(); ++loc) {
      if (!card.isEmpty(loc)) out.emplace_back(loc, card.name(loc));
    }
    return out;
  }
  Held listed(ListStore store) {
    Held out;
    for (const SimEntry& e : rows(store)) out.emplace_back(e.posizione, e.nome);
    return out;
  }
  // A SIM of `locations` locations that holds these entries (sent messages), each with its
  // location as its number.
  static sim::SimCard holding(ListStore store, const Held& content, int locations = 10) {
    sim::SimCard card = smallSim(locations);
    for (const auto& [at, text] : content) {
      if (store == ListStore::Sms) {
        card.setMessage(at, {sim::SmsStatus::StoSent, std::to_string(at), "", text, false, {}});
      } else {
        card.writeEntryText(at, text, std::to_string(at));
      }
    }
    return card;
  }
  // The list emptied with what it knew of the SIM (its identity and what it held).
  void clearList(ListStore store) {
    ASSERT_TRUE(SimTable::open(database_, store).ok());  // makes the tables
    for (const char* t : {store == ListStore::Sms ? "simsms" : "sim", "simseen", "simcard"}) {
      exec(std::string("DELETE FROM ") + t);
    }
  }
  // After a write that went to its end: every row is in step and the SIM holds exactly
  // the list.
  void expectListIsSim(ListStore store) {
    for (const int mark : marks(store)) EXPECT_EQ(mark, kMarkInStep);
    EXPECT_EQ(held(simNow(), store), listed(store));
    EXPECT_TRUE(test::listIsSim(database_, store, simNow()));
  }

  // The command lines the modem received in the last job (pty: since it started).
  std::vector<std::string> commandLog() const { return card_ ? engineLog_ : modem_->commandLog(); }
  int commandCount(std::string_view prefix) const {
    const auto log = commandLog();
    return static_cast<int>(
        std::count_if(log.begin(), log.end(), [&](const std::string& l) { return l.starts_with(prefix); }));
  }
  // The command lines after the handshake's "AT"s and the SIM check ("AT+CMEE=1", "AT+CPIN?").
  std::vector<std::string> commandsAfterHandshake() const {
    const std::vector<std::string> log = commandLog();
    return {std::find_if(log.begin(), log.end(),
                         [](const std::string& l) { return l != "AT" && l != "AT+CMEE=1" && l != "AT+CPIN?"; }),
            log.end()};
  }

  // The host's fields as a job starts.
  int maxSIM = 0;
  int maxSIMLen = 14;
  int maxNumberLen = 0;
  int createLog = 0;
  bool discardChanges = false;
  std::string search;  // the search of the list on display
  std::vector<std::string> codes;  // what the user answers when the SIM asks (see RecordingHost)
  std::chrono::milliseconds simBusyWait{10'000};
  CharsetPreference charset;  // forced, or UCS2 first
  // Replies end at their final result code (fast transfers), not only at the quiet window.
  // ReplyRuleTest runs its tests both ways.
  bool fast = false;
  bool toOtherSim = false;  // a write copies the list onto a SIM it was not read from
  bool dryRun = false;      // a write lists its change commands and sends none
  bool records = false;     // through the SIM's files (AT+CRSM) instead of the phonebook commands
  Phonebook phonebook = Phonebook::SM;  // the phonebook store the phonebook jobs use
  // Called on the job's thread with every command line the engine takes.
  std::function<void(const std::string&)> duringPass;

  std::filesystem::path dir_;
  std::filesystem::path database_;
  std::optional<sim::SimCard> card_;
  sim::ModemOptions options_;
  std::vector<std::string> engineLog_;
  std::unique_ptr<sim::VirtualModem> modem_;
  std::unique_ptr<sim::VirtualCard> reader_;
  std::unique_ptr<sim::VirtualQmi> qmi_;
  std::chrono::seconds qmiWait_{10};
  RecordingHost host_;
};

// The tests in which it matters how a reply ends: slow, chunked, late, lost and cut-off
// replies, and listings with lines among the entries. Each runs with replies that end at
// the quiet window (the default) and again with replies that end at their final result
// code, and must give the same results both ways. (AT+CRSM always ends at the final
// result code: the record tests run once.)
class ReplyRuleTest : public JobFixture, public ::testing::WithParamInterface<bool> {
 protected:
  void SetUp() override {
    JobFixture::SetUp();
    fast = GetParam();
  }
};
inline std::string replyRuleName(bool fast) { return fast ? "FinalResult" : "QuietWindow"; }

}  // namespace voryx::transfer
