// The transfer jobs on the main screen, against the virtual modem on a real
// pseudo-terminal. Every modem command costs the half-second quiet window: each test
// runs one job on a small SIM.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "sim/VirtualModem.h"
#include "ui/UiHarness.h"

namespace voryx {
namespace {

using nlohmann::json;
using test::TempHome;
using test::UiHarness;

// Twenty locations, names of up to 14 bytes, room for ten messages.
sim::SimCard smallSim() {
  sim::SimCard card(20, 14, 10);
  card.writeEntryText(1, "Anna", "+39021234");
  card.writeEntryText(2, "Bruno", "555");
  card.writeEntryText(5, "Carla", "556");
  card.setMessage(3, {sim::SmsStatus::StoSent, "+3331234567", "", "Hello", false});
  return card;
}

class TransferTest : public ::testing::Test {
 protected:
  void start(sim::SimCard card, sim::ModemOptions options = {}) {
    modem_ = std::make_unique<sim::VirtualModem>(std::move(card), options);
    std::string error;
    ASSERT_TRUE(modem_->start(&error)) << error;
    VoryxUiOptions ui;
    ui.device.device = modem_->devicePath();
    ui_ = std::make_unique<UiHarness>(home_.paths, ui);
  }
  void TearDown() override {
    ui_.reset();  // waits for a job that still runs
    if (modem_) modem_->stop();
  }

  // Follows the published states until the progress overlay has gone; returns every
  // state of the overlay seen on the way.
  std::vector<json> followTransfer() {
    using namespace std::chrono_literals;
    auto& port = ui_->ui.port();
    std::vector<json> seen;
    const auto deadline = std::chrono::steady_clock::now() + 60s;
    while (std::chrono::steady_clock::now() < deadline) {
      json snap = port.snapshot();
      if (!snap["overlays"].contains("98")) return seen;
      seen.push_back(snap["overlays"]["98"]);
      port.waitForChange(snap["version"].get<std::uint64_t>(), 1s);
    }
    ADD_FAILURE() << "the transfer did not end";
    return seen;
  }

  // Follows the published states until an alert is up, and answers it.
  json waitForAlert() {
    using namespace std::chrono_literals;
    auto& port = ui_->ui.port();
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    while (std::chrono::steady_clock::now() < deadline) {
      json snap = port.snapshot();
      if (!snap["alerts"].empty()) return snap;
      port.waitForChange(snap["version"].get<std::uint64_t>(), 1s);
    }
    ADD_FAILURE() << "no alert came";
    return port.snapshot();
  }

  int listings(const char* prefix) const { return modem_->commandCount(prefix); }
  json scrivi() { return ui_->screen()["toolbar"][3]; }

  TempHome home_;
  std::unique_ptr<sim::VirtualModem> modem_;
  std::unique_ptr<UiHarness> ui_;
};

TEST_F(TransferTest, ReadShowsItsProgressRefusesASecondStartAndFollowsTheStore) {
  start(smallSim());
  UiHarness& ui = *ui_;
  ASSERT_EQ(ui.tap("leggi").status, 200);
  json snap = ui.snapshot();
  EXPECT_EQ(snap["window"]["idleTimerDisabled"], true);
  const json overlay = snap["overlays"]["98"];
  EXPECT_EQ(overlay["caption"], "RInitializing...");
  EXPECT_EQ(overlay["label"], "");
  // The read layout: a tall caption of any number of lines.
  EXPECT_EQ(overlay["captionFrame"], json({20, 100, 280, 150}));
  EXPECT_EQ(overlay["captionLines"], 0);

  // Nothing starts a second job, not even a direct call past the overlay.
  ui.onMain([&] {
    ui.ui.root().leggiPressed();
    ui.ui.root().scriviPressed();
  });
  EXPECT_EQ(ui.snapshot()["overlays"]["98"]["captionFrame"], overlay["captionFrame"]);
  // A progress text sent from another thread, as the job sends it (the job itself is
  // still at its first commands): on screen by the time the call returns.
  ui.ui.root().transfers().updateLabel("Reading phonebook entry nr. 7");
  EXPECT_EQ(ui.snapshot()["overlays"]["98"]["label"], "Reading phonebook entry nr. 7");

  // The capacity caption stays up for the listing command's quiet window at least.
  std::vector<json> seen = followTransfer();
  EXPECT_TRUE(std::any_of(seen.begin(), seen.end(), [](const json& o) {
    return o["caption"] == "Your SIM has a total entry of  20";
  }));

  snap = ui.snapshot();
  EXPECT_EQ(snap["window"]["idleTimerDisabled"], false);
  EXPECT_TRUE(snap["alerts"].empty());
  const json screen = snap["navigation"][0];
  EXPECT_EQ(screen["title"], "Vorx (3/20)");
  ASSERT_EQ(screen["rows"].size(), 3u);
  EXPECT_EQ(screen["rows"][0]["labels"], json({"1", "Anna", "+39021234"}));
  EXPECT_EQ(screen["rows"][2]["labels"], json({"5", "Carla", "556"}));
  for (const auto& row : screen["rows"]) EXPECT_EQ(row["colors"], "gray");
  EXPECT_EQ(screen["toolbar"][3]["enabled"], true);
  EXPECT_EQ(listings("AT+CPBR=1,"), 1);

  // On the SMS store the same button runs only the SMS read.
  const int phonebookCommands = listings("AT+CPB");
  ASSERT_EQ(ui.event({{"target", "tipo"}, {"action", "select"}, {"value", 1}}).status, 200);
  ASSERT_EQ(ui.tap("leggi").status, 200);
  followTransfer();
  ASSERT_EQ(ui.screen()["rows"].size(), 1u);
  EXPECT_EQ(ui.screen()["rows"][0]["labels"], json({"3", "Hello", "+3331234567"}));
  EXPECT_EQ(ui.screen()["title"], "Vorx (1/10)");
  EXPECT_EQ(listings("AT+CMGL"), 1);
  EXPECT_EQ(listings("AT+CPB"), phonebookCommands);
}

TEST_F(TransferTest, ListingAnsweredWithAnErrorTurnsTheWriteButtonOff) {
  sim::ModemOptions options;
  options.faults.listingError = true;
  start(smallSim(), options);
  UiHarness& ui = *ui_;
  ASSERT_EQ(scrivi()["enabled"], true);
  ASSERT_EQ(ui.tap("leggi").status, 200);
  followTransfer();
  EXPECT_EQ(scrivi()["enabled"], false);
  const json snap = ui.snapshot();
  EXPECT_EQ(snap["window"]["idleTimerDisabled"], false);
  EXPECT_EQ(snap["alerts"].size(), 1u);  // the read's own report
}

TEST_F(TransferTest, RefusedWriteReloadsTheListThenSaysSo) {
  home_.exec(
      "INSERT INTO sim VALUES (1,'Anna B','+39021234',3),(2,'Bruno','555',3),"
      "(5,'Carla','556',0);");
  sim::ModemOptions options;
  options.faults.errorAtWrite = 2;
  start(smallSim(), options);
  UiHarness& ui = *ui_;
  ASSERT_EQ(ui.tap("scrivi").status, 200);
  const json overlay = ui.snapshot()["overlays"]["98"];
  EXPECT_EQ(overlay["caption"], "WInitializing...");
  EXPECT_EQ(overlay["captionFrame"], json({20, 130, 280, 50}));  // the write layout: one line
  EXPECT_EQ(overlay["captionLines"], 1);
  // A row that reaches the table behind the screen shows once the list is reloaded.
  home_.exec("INSERT INTO sim VALUES (7,'Dario','557',0);");

  followTransfer();
  const json snap = ui.snapshot();
  const json screen = snap["navigation"][0];
  ASSERT_EQ(screen["rows"].size(), 4u);
  EXPECT_EQ(screen["rows"][0]["colors"], "gray");  // the SIM took it
  EXPECT_EQ(screen["rows"][1]["colors"], "cyan");  // the mark stays for the next pass
  EXPECT_EQ(screen["rows"][3]["labels"][1], "Dario");
  ASSERT_EQ(snap["alerts"].size(), 1u);
  EXPECT_EQ(snap["alerts"][0]["title"], "Error writing phonebook");
  EXPECT_EQ(snap["alerts"][0]["message"], "The modem refused the command without saying why.");
  EXPECT_EQ(snap["alerts"][0]["buttons"], json({"Ok"}));
  EXPECT_EQ(snap["window"]["idleTimerDisabled"], false);
  EXPECT_EQ(modem_->sim().name(1), "Anna B");  // the first write went through
}

// The SMS store's own title; a changed message whose old copy the SIM kept is told, and
// its delete stays marked (red) for the next write.
TEST_F(TransferTest, SmsWriteThatKeptAnOldCopySaysSo) {
  home_.exec("INSERT INTO simsms VALUES (1,'new text','555',3);");
  sim::SimCard card = smallSim();
  card.setMessage(1, {sim::SmsStatus::StoSent, "555", "", "old text", false});
  sim::ModemOptions options;
  options.faults.errorAtWrite = 1;  // the delete of the old copy
  start(card, options);
  UiHarness& ui = *ui_;
  ASSERT_EQ(ui.event({{"target", "tipo"}, {"action", "select"}, {"value", 1}}).status, 200);
  ASSERT_EQ(ui.tap("scrivi").status, 200);
  followTransfer();
  const json snap = ui.snapshot();
  ASSERT_EQ(snap["alerts"].size(), 1u);
  EXPECT_EQ(snap["alerts"][0]["title"], "Error writing sms");
  EXPECT_EQ(snap["alerts"][0]["message"],
            "The old copy of a changed message could not be deleted and stays on the SIM; the next "
            "write deletes it.");
  const json rows = snap["navigation"][0]["rows"];
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0]["colors"], "red");  // the old copy, at its index
  EXPECT_EQ(rows[1]["colors"], "gray");
  EXPECT_EQ(modem_->sim().messages().size(), 3u);  // with the SIM's own third one
}

// A read over changes not yet written asks first; "Cancel" keeps everything, "Read"
// replaces the list with the SIM's.
TEST_F(TransferTest, ReadOverUnsentChangesAsksFirst) {
  home_.exec("INSERT INTO sim VALUES (1,'Anna B','+39021234',3),(9,'New','9',1);");
  start(smallSim());
  UiHarness& ui = *ui_;
  for (int answer : {0, 1}) {
    ASSERT_EQ(ui.tap("leggi").status, 200);
    json snap = ui.snapshot();
    EXPECT_FALSE(snap["overlays"].contains("98"));
    ASSERT_EQ(snap["alerts"].size(), 1u);
    const json alert = snap["alerts"][0];
    EXPECT_EQ(alert["message"], "2 changes not yet written to the SIM will be lost. Read anyway?");
    EXPECT_EQ(alert["buttons"], json({"Cancel", "Read"}));
    ASSERT_EQ(ui.tap("alert:" + std::to_string(alert["id"].get<int>()), answer).status, 200);
    followTransfer();
  }
  EXPECT_EQ(listings("AT+CPBR=1,"), 1);  // only after "Read"
  const json screen = ui.screen();
  ASSERT_EQ(screen["rows"].size(), 3u);
  EXPECT_EQ(screen["rows"][0]["labels"], json({"1", "Anna", "+39021234"}));
}

// The SIM's PIN is asked over the progress overlay; "Cancel" ends the read with nothing
// sent, "Ok" sends what was typed.
TEST_F(TransferTest, PinIsAskedOverTheOverlay) {
  sim::SimCard card = smallSim();
  card.pinLock() = *sim::PinLock::make("2468");
  start(card);
  UiHarness& ui = *ui_;
  for (int button : {0, 1}) {
    ASSERT_EQ(ui.tap("leggi").status, 200);
    const json snap = waitForAlert();
    EXPECT_TRUE(snap["overlays"].contains("98"));  // the job is still running
    const json alert = snap["alerts"][0];
    EXPECT_EQ(alert["title"], "SIM PIN");
    EXPECT_EQ(alert["message"], "Enter the SIM's PIN. 3 tries left before the SIM is blocked.");
    EXPECT_EQ(alert["buttons"], json({"Cancel", "Ok"}));
    EXPECT_EQ(alert["textField"], json({{"secure", true}, {"placeholder", "PIN"}}));
    ASSERT_EQ(ui.tap("alert:" + alert["id"].dump(), {{"button", button}, {"text", "2468"}}).status, 200);
    followTransfer();
    EXPECT_TRUE(ui.snapshot()["alerts"].empty());
    EXPECT_EQ(listings("AT+CPIN=\""), button);
    EXPECT_EQ(ui.screen()["rows"].size(), button == 0 ? 0u : 3u);
  }
}

// The screens stop while the PIN question is up: the job ends, nothing sent.
TEST_F(TransferTest, StoppingTheScreensWhileThePinIsAskedEndsTheJob) {
  sim::SimCard card = smallSim();
  card.pinLock() = *sim::PinLock::make("2468");
  start(card);
  ASSERT_EQ(ui_->tap("leggi").status, 200);
  waitForAlert();
  ui_.reset();
  EXPECT_EQ(listings("AT+CPIN=\""), 0);
  EXPECT_EQ(listings("AT+CPBR"), 0);
}

TEST_F(TransferTest, StoppingTheScreensMidReadLetsTheJobEnd) {
  start(smallSim());
  ASSERT_EQ(ui_->tap("leggi").status, 200);
  ui_.reset();  // stops the loop, then waits for the job, whose progress calls return
  EXPECT_EQ(listings("AT+CPBR=1,"), 1);
  // The job ended normally: the listing reached the table.
  auto load = loadEntries(home_.paths.database(), ListStore::Phonebook, "", 0);
  EXPECT_EQ(load.entries.size(), 3u);
}

}  // namespace
}  // namespace voryx
