#pragma once
// What the job tests share: a copy of the shipped database and a preferences file in a
// fresh folder, a virtual modem on a real pseudo-terminal, and a host that records what
// a job shows. Every modem command costs the half-second quiet window, so the SIMs are
// small and each test runs few jobs.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <condition_variable>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "entries/DebugLog.h"
#include "sim/VirtualModem.h"
#include "store/Database.h"
#include "store/EntryList.h"
#include "store/Preferences.h"
#include "transfer/TransferRunner.h"

namespace voryx::transfer {

// Performs everything at once on the job thread and records it.
class RecordingHost final : public JobHost {
 public:
  struct Alert {
    std::string title, message;
  };

  void updateCaption(const std::string& text) override { record(captions_, text); }
  void updateLabel(const std::string& text) override { record(labels_, text); }
  void endLoadSIM() override { end("endLoadSIM"); }
  void endSaveSIM() override { end("endSaveSIM"); }
  void showAlert(const std::string& title, const std::string& message) override {
    std::lock_guard lock(mutex_);
    alerts_.push_back({title, message});
  }

  // Waits for the end handler of the job that runs.
  bool waitEnd() {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(60), [this] { return !ends_.empty(); });
  }
  void clear() {
    std::lock_guard lock(mutex_);
    captions_.clear();
    labels_.clear();
    alerts_.clear();
    ends_.clear();
  }
  std::vector<std::string> captions() const { return copy(captions_); }
  std::vector<std::string> labels() const { return copy(labels_); }
  std::vector<std::string> ends() const { return copy(ends_); }
  std::vector<Alert> alerts() const {
    std::lock_guard lock(mutex_);
    return alerts_;
  }

 private:
  void record(std::vector<std::string>& into, const std::string& text) {
    std::lock_guard lock(mutex_);
    into.push_back(text);
  }
  void end(const char* which) {
    {
      std::lock_guard lock(mutex_);
      ends_.push_back(which);
    }
    changed_.notify_all();
  }
  std::vector<std::string> copy(const std::vector<std::string>& v) const {
    std::lock_guard lock(mutex_);
    return v;
  }

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::string> captions_, labels_, ends_;
  std::vector<Alert> alerts_;
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
    runner_.reset();
    if (modem_) modem_->stop();
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }

  // A SIM of `locations` locations, names of 14 bytes, room for 10 messages.
  static sim::SimCard smallSim(int locations = 10) { return sim::SimCard(locations, 14, 10); }

  static sim::ModemOptions withProfile(sim::Profile profile) {
    sim::ModemOptions options;
    options.profile = profile;
    return options;
  }
  // A fault at the k-th write, e.g. withFault(&sim::Faults::errorAtWrite, 3).
  static sim::ModemOptions withFault(int sim::Faults::*fault, int k) {
    sim::ModemOptions options;
    options.faults.*fault = k;
    return options;
  }

  void startModem(sim::SimCard card, sim::ModemOptions options = {}) {
    if (modem_) modem_->stop();
    modem_ = std::make_unique<sim::VirtualModem>(std::move(card), options);
    std::string error;
    ASSERT_TRUE(modem_->start(&error)) << error;
  }
  // The same SIM behind a fresh modem (faults and counts start afresh).
  void restartModem(sim::ModemOptions options = {}) { startModem(modem_->sim(), options); }
  sim::VirtualModem& modem() { return *modem_; }

  JobContext context(int sortField = 0) {
    modem::DeviceChoice device;
    device.device = modem_ ? std::filesystem::path(modem_->devicePath()) : dir_ / "no-such-modem";
    return JobContext{database_, *preferences_, device, sortField};
  }

  // Runs a read (write) for the store shown by tipoDisplay and waits for its end.
  JobOutcome read(int tipoDisplay, int sortField = 0) { return run(false, tipoDisplay, sortField); }
  JobOutcome write(int tipoDisplay, int sortField = 0) { return run(true, tipoDisplay, sortField); }
  JobOutcome run(bool isWrite, int tipoDisplay, int sortField) {
    host_.clear();
    if (!runner_) runner_ = std::make_unique<TransferRunner>(host_);
    bool started = isWrite ? runner_->save(tipoDisplay, context(sortField))
                           : runner_->loadSIM(tipoDisplay, context(sortField));
    EXPECT_TRUE(started);
    EXPECT_TRUE(host_.waitEnd());
    runner_->wait();
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
  std::vector<SimEntry> rows(ListStore store) {
    return loadEntries(database_, store, "", 0).entries;
  }

  // The commands the modem received, from the first one after the handshake on.
  std::vector<std::string> commandsAfterHandshake() {
    std::vector<std::string> log = modem_->commandLog();
    std::vector<std::string> out;
    for (const std::string& line : log) {
      if (line == "AT" && out.empty()) continue;
      out.push_back(line);
    }
    return out;
  }

  std::filesystem::path dir_;
  std::filesystem::path database_;
  std::unique_ptr<Preferences> preferences_;
  std::unique_ptr<sim::VirtualModem> modem_;
  RecordingHost host_;
  std::unique_ptr<TransferRunner> runner_;
};

}  // namespace voryx::transfer
