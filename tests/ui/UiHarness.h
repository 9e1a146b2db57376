#pragma once
// The screens without HTTP, for tests: a private home folder with a copy of the shipped
// database, and VoryxUi with its main loop on a thread of its own.
#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <thread>

#include <nlohmann/json.hpp>

#include "base/Localized.h"
#include "sim/SimCard.h"
#include "store/Database.h"
#include "support/TempDir.h"
#include "transfer/EngineLine.h"
#include "ui/VoryxUi.h"

namespace voryx::test {

// A temporary home: data/Voryx.sqlitedb copied from the build's resources, the other
// files in their usual places below it.
struct TempHome : TempDir {
  TempHome() {
    paths.documents = path / "data";
    paths.resources = shippedDatabase().parent_path();
    paths.exportDir = path / "Documents";
    paths.logFile = path / "state" / "Voryx.log";
    paths.preferences = path / "config" / "preferences.json";
    paths.contacts = path / "data" / "contacts.vcf";
    std::filesystem::create_directories(paths.documents);
    std::filesystem::copy_file(paths.shippedDatabase(), paths.database());
  }
  // Runs SQL against the database copy, as another program would: it waits (up to 10 s)
  // while a job of the screens holds the database.
  void exec(const std::string& sql) const {
    auto db = Database::open(paths.database());
    ASSERT_TRUE(db.ok()) << db.error().detail;
    sqlite3_busy_timeout(db->handle(), 10000);
    auto done = db->exec(sql);
    ASSERT_TRUE(done.ok()) << done.error().detail;
  }

  Paths paths;
};

// The English string table of a home's resources while it lives (the screens' texts as
// the tests compare them); none afterwards.
struct EnglishTexts {
  explicit EnglishTexts(const TempHome& home) {
    loadStringTables(home.paths.resources);
    setLanguage("en");
  }
  EnglishTexts(const EnglishTexts&) = delete;
  ~EnglishTexts() { loadStringTables({}); }
};

// The virtual modem's engine on a line with a virtual clock, as the job tests have it:
// every quiet window costs nothing, so a transfer of the screens takes no real time. One
// line for all the transfers of a test, as one modem stays plugged in. Its SIM and its
// command log are read once the transfer on it has ended.
class VirtualLine {
 public:
  VirtualLine(sim::SimCard card, sim::ModemOptions options) : card_(std::move(card)), line_(card_, options) {}
  VirtualLine(const VirtualLine&) = delete;
  VirtualLine& operator=(const VirtualLine&) = delete;

  modem::DeviceChoice device() {
    modem::DeviceChoice choice;
    choice.line = &line_;
    return choice;
  }
  const sim::SimCard& sim() const { return card_; }
  int commandCount(std::string_view prefix) const { return line_.commandCount(prefix); }

 private:
  sim::SimCard card_;
  transfer::testing::EngineLine line_;
};

class UiHarness {
 public:
  explicit UiHarness(const Paths& paths, VoryxUiOptions options = {})
      : ui(paths, std::move(options)), main_([this] { ui.run(); }) {
    waitIdle();
  }
  // The transfers run on `line`, which must outlive the harness.
  UiHarness(const Paths& paths, VirtualLine& line) : UiHarness(paths, on(line)) {}
  ~UiHarness() {
    ui.stop();
    main_.join();
  }

  void waitIdle() { ui.application().loop().waitUntilIdle(); }
  nlohmann::json snapshot() {
    waitIdle();
    return ui.port().snapshot();
  }
  // The top screen of the navigation stack.
  nlohmann::json screen() { return snapshot()["navigation"].back(); }
  // Sends the event, with the current version.
  kit::EventResult event(nlohmann::json e) {
    waitIdle();
    e["version"] = ui.port().version();
    auto result = ui.port().dispatch(e);
    waitIdle();
    return result;
  }
  kit::EventResult tap(const std::string& id, nlohmann::json value = nullptr) {
    return event({{"target", id}, {"action", "tap"}, {"value", value}});
  }
  // One touch of a tap on the navigation area.
  kit::EventResult touch(double x, int tapCount) {
    return event({{"target", "window"}, {"action", "touch"},
                  {"value", {{"x", x}, {"y", 240}, {"tapCount", tapCount}, {"inList", true}}}});
  }
  // Moves the virtual clock given in the options and runs what fell due.
  void advance(double seconds) {
    ui.application().loop().advanceClock(
        std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::duration<double>(seconds)));
    waitIdle();
  }
  // Runs fn on the main loop and waits for it.
  template <class F>
  void onMain(F fn) {
    ui.application().loop().performOnMain(fn, true);
    waitIdle();
  }

  VoryxUi ui;

 private:
  static VoryxUiOptions on(VirtualLine& line) {
    VoryxUiOptions options;
    options.device = line.device();
    return options;
  }

  std::thread main_;
};

}  // namespace voryx::test
