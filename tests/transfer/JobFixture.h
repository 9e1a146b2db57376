#pragma once
// What the job tests share: a copy of the shipped database and a preferences file in a
// fresh folder, a virtual modem on a real pseudo-terminal, and a host that records what
// a job shows. Every modem command costs the half-second quiet window, so the SIMs are
// small and each test runs few jobs.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "entries/DebugLog.h"
#include "sim/VirtualModem.h"
#include "store/Database.h"
#include "store/EntryList.h"
#include "store/Preferences.h"
#include "transfer/TransferRunner.h"

namespace voryx::transfer {

// Records what a job shows. The job thread writes, the test reads after joining it.
struct RecordingHost final : JobHost {
  void updateCaption(const std::string& text) override { captions.push_back(text); }
  void updateLabel(const std::string& text) override { labels.push_back(text); }
  void endLoadSIM() override { ends.push_back("endLoadSIM"); }
  void endSaveSIM() override { ends.push_back("endSaveSIM"); }
  void showAlert(const std::string& title, const std::string& message) override {
    alerts.push_back(title + "|" + message);
  }
  std::vector<std::string> captions, labels, ends, alerts;  // alerts: "title|message"
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
    preferences_ = std::make_unique<Preferences>(dir_ / "preferences.json");
    DebugLog::setPath(dir_ / "Voryx.log");
  }
  void TearDown() override {
    if (modem_) modem_->stop();
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }

  // A SIM of `locations` locations, names of 14 bytes, room for 10 messages.
  static sim::SimCard smallSim(int locations = 10) { return sim::SimCard(locations, 14, 10); }

  void startModem(sim::SimCard card, sim::ModemOptions options = {}) {
    if (modem_) modem_->stop();
    modem_ = std::make_unique<sim::VirtualModem>(std::move(card), options);
    std::string error;
    ASSERT_TRUE(modem_->start(&error)) << error;
  }
  // The same SIM behind a fresh modem (faults and counts start afresh).
  void restartModem() { startModem(modem_->sim()); }
  sim::VirtualModem& modem() { return *modem_; }

  JobContext context(int sortField = 0) {
    modem::DeviceChoice device;
    device.device = modem_ ? std::filesystem::path(modem_->devicePath()) : dir_ / "no-such-modem";
    return JobContext{database_, *preferences_, device, sortField};
  }

  // Runs a read (write) for the store shown by tipoDisplay and waits for its end.
  JobOutcome read(int tipoDisplay) { return run(false, tipoDisplay, 0); }
  JobOutcome write(int tipoDisplay, int sortField = 0) { return run(true, tipoDisplay, sortField); }
  JobOutcome run(bool isWrite, int tipoDisplay, int sortField) {
    host_.captions.clear();
    host_.labels.clear();
    host_.ends.clear();
    host_.alerts.clear();
    TransferRunner runner(host_);
    EXPECT_TRUE(isWrite ? runner.save(tipoDisplay, context(sortField))
                        : runner.loadSIM(tipoDisplay, context(sortField)));
    runner.wait();  // joins the job thread, end handler included
    return host_.outcome.load();
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
  std::vector<SimEntry> rows(ListStore store) { return loadEntries(database_, store, "", 0).entries; }
  std::vector<int> marks(ListStore store) {
    std::vector<int> out;
    for (const SimEntry& e : rows(store)) out.push_back(e.operazione);
    return out;
  }

  // The commands the modem received after the handshake's "AT"s.
  std::vector<std::string> commandsAfterHandshake() {
    const std::vector<std::string> log = modem_->commandLog();
    return {std::find_if(log.begin(), log.end(), [](const std::string& l) { return l != "AT"; }), log.end()};
  }

  std::filesystem::path dir_;
  std::filesystem::path database_;
  std::unique_ptr<Preferences> preferences_;
  std::unique_ptr<sim::VirtualModem> modem_;
  RecordingHost host_;
};

}  // namespace voryx::transfer
