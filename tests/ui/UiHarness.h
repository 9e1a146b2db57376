#pragma once
// The screens without HTTP, for tests: a private home folder with a copy of the shipped
// database, and VoryxUi with its main loop on a thread of its own.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

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
  // Taps button `index` of the alert on top, else of the sheet; returns the one tapped.
  nlohmann::json answer(int index) {
    const nlohmann::json snap = snapshot();
    const bool alert = !snap["alerts"].empty();
    const nlohmann::json top = alert ? snap["alerts"].back() : snap["sheet"];
    EXPECT_TRUE(top.is_object()) << "no alert or sheet to answer";
    if (!top.is_object()) return top;
    EXPECT_EQ(tap((alert ? "alert:" : "sheet:") + top["id"].dump(), index).status, 200) << top;
    return top;
  }
  // The same by the button's title.
  nlohmann::json answer(const std::string& button) {
    const nlohmann::json snap = snapshot();
    const nlohmann::json& buttons = (snap["alerts"].empty() ? snap["sheet"] : snap["alerts"].back())["buttons"];
    for (std::size_t i = 0; buttons.is_array() && i < buttons.size(); ++i) {
      if (buttons[i] == button) return answer(static_cast<int>(i));
    }
    ADD_FAILURE() << "no button " << button << " in " << buttons;
    return nullptr;
  }
  // Shows the phonebook (0) or the messages (1).
  void showStore(int tipo) { ASSERT_EQ(event({{"target", "tipo"}, {"action", "select"}, {"value", tipo}}).status, 200); }
  // Ends the search, which loads the list again, whole.
  kit::EventResult cancelSearch() { return event({{"target", "search"}, {"action", "cancel"}}); }
  kit::EventResult search(const std::string& text) {
    return event({{"target", "search"}, {"action", "search"}, {"value", text}});
  }
  // Follows the published states (a job changes them on its own) until `done` holds for
  // one, which it returns; `seen` gets each state before it.
  template <class P>
  nlohmann::json until(P done, std::vector<nlohmann::json>* seen = nullptr) {
    using namespace std::chrono_literals;
    const auto deadline = std::chrono::steady_clock::now() + 60s;
    while (std::chrono::steady_clock::now() < deadline) {
      nlohmann::json snap = ui.port().snapshot();
      if (done(snap)) return snap;
      if (seen) seen->push_back(snap);
      ui.port().waitForChange(snap["version"].get<std::uint64_t>(), 1s);
    }
    ADD_FAILURE() << "the screens never got there";
    return ui.port().snapshot();
  }
  // Follows a transfer until its progress overlay has gone.
  nlohmann::json followTransfer(std::vector<nlohmann::json>* seen = nullptr) {
    return until([](const nlohmann::json& s) { return !s["overlays"].contains("98"); }, seen);
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
