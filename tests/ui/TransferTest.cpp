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
  card.setMessage(3, {sim::SmsStatus::StoSent, "+3331234567", "", "Hello", false, {}});
  return card;
}

class TransferTest : public ::testing::Test {
 protected:
  // `offerFast`: the offer of fast transfers is still to be made (otherwise it was answered
  // before, and no transfer ends with it).
  void start(sim::SimCard card, sim::ModemOptions options = {}, bool offerFast = false) {
    if (!offerFast) {
      Preferences prefs(home_.paths.preferences);
      ASSERT_TRUE(prefs.store(kPrefFastOffered, 1));
    }
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
  // The one alert up, answered with button `index`; returns it.
  json answerAlert(int index) {
    const json alerts = ui_->snapshot()["alerts"];
    EXPECT_EQ(alerts.size(), 1u) << alerts.dump();
    if (alerts.empty()) return json::object();
    EXPECT_EQ(ui_->tap("alert:" + alerts.back()["id"].dump(), index).status, 200);
    return alerts.back();
  }
  std::vector<std::string> colours() {
    std::vector<std::string> out;
    const json screen = ui_->screen();
    for (const auto& row : screen["rows"]) out.push_back(row["colors"]);
    return out;
  }
  json scrivi() { return ui_->screen()["toolbar"][3]; }

  TempHome home_;
  std::unique_ptr<sim::VirtualModem> modem_;
  std::unique_ptr<UiHarness> ui_;
};

TEST_F(TransferTest, ReadShowsItsProgressRefusesASecondStartAndFollowsTheStore) {
  start(smallSim(), {}, true);
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
  EXPECT_EQ(snap["notice"]["text"], "Read 3 entries");
  // Every reply waited out the half-second quiet window after its final result: fast
  // transfers are offered, once. "Yes" turns them on.
  const json offer = answerAlert(1);
  EXPECT_EQ(offer["message"], "Transfers can be much faster on this modem: turn on Fast transfers?");
  EXPECT_EQ(offer["buttons"], json({"No", "Yes"}));
  Preferences prefs(home_.paths.preferences);
  EXPECT_EQ(prefs.value(kPrefFast), 1);
  EXPECT_EQ(prefs.value(kPrefFastOffered), 1);
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
  EXPECT_TRUE(ui.snapshot()["alerts"].empty());  // asked once only
  EXPECT_EQ(ui.snapshot()["notice"]["text"], "Read 1 message");
  ASSERT_EQ(ui.screen()["rows"].size(), 1u);
  EXPECT_EQ(ui.screen()["rows"][0]["labels"], json({"3", "Hello", "+3331234567"}));
  EXPECT_EQ(ui.screen()["title"], "Vorx (1/10)");
  EXPECT_EQ(listings("AT+CMGL=\"ALL\""), 1);
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
  EXPECT_EQ(answerAlert(1)["title"], "Write 2 changes to the SIM? (2 changed)");
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

  // The next write stops before any command (the list is another SIM's now): it says
  // that, and nothing of the refusal before.
  answerAlert(0);
  home_.exec("INSERT INTO simcard VALUES ('sim','89390100009999999990','222019999999999');");
  ASSERT_EQ(ui.tap("scrivi").status, 200);
  answerAlert(1);
  followTransfer();
  EXPECT_EQ(answerAlert(0)["buttons"], json({"Cancel", "Write anyway"}));
}

// A write with changes to send asks first, counting them as `voryx status` does: "Cancel"
// sends nothing and keeps every mark, "Write" writes. Nothing to send: no question.
TEST_F(TransferTest, WriteAsksFirstWithWhatItWouldSend) {
  home_.exec(
      "INSERT INTO sim VALUES (1,'Anna B','+39021234',3),(2,'Bruno','555',2),(5,'Carla','556',0),"
      "(9,'Nove','999',1);");
  start(smallSim());
  UiHarness& ui = *ui_;
  const std::vector<std::string> marked = {"cyan", "red", "gray", "green"};
  for (int answer : {0, 1}) {
    ASSERT_EQ(ui.tap("scrivi").status, 200);
    EXPECT_FALSE(ui.snapshot()["overlays"].contains("98"));
    const json alert = answerAlert(answer);
    EXPECT_EQ(alert["title"], "Write 3 changes to the SIM? (1 new, 1 changed, 1 deleted)");
    EXPECT_EQ(alert["buttons"], json({"Cancel", "Write"}));
    followTransfer();
    EXPECT_TRUE(ui.snapshot()["alerts"].empty());
    if (answer == 0) {
      EXPECT_EQ(modem_->commandCount("AT"), 0);  // not even the handshake
      EXPECT_EQ(colours(), marked);
    }
  }
  EXPECT_EQ(colours(), std::vector<std::string>({"gray", "gray", "gray"}));
  EXPECT_EQ(ui.snapshot()["notice"]["text"], "Wrote 3 changes");
  EXPECT_EQ(modem_->sim().name(1), "Anna B");
  EXPECT_EQ(modem_->sim().name(2), "");
  EXPECT_EQ(modem_->sim().name(9), "Nove");

  // One change: the singular. None: the write starts at once.
  home_.exec("UPDATE sim SET operazione=3 WHERE entry=5;");
  ui.onMain([&] { ui.ui.root().loadDB(); });
  ASSERT_EQ(ui.tap("scrivi").status, 200);
  EXPECT_EQ(answerAlert(0)["title"], "Write 1 change to the SIM? (1 changed)");
  home_.exec("UPDATE sim SET operazione=0;");
  ASSERT_EQ(ui.tap("scrivi").status, 200);
  EXPECT_TRUE(ui.snapshot()["alerts"].empty());
  EXPECT_TRUE(ui.snapshot()["overlays"].contains("98"));
  followTransfer();
}

// The list was read from another SIM: the write sends nothing and says so, naming both;
// "Cancel" keeps every mark, "Write anyway" copies the whole list onto this SIM, which the
// list then belongs to (the title area names it).
TEST_F(TransferTest, WriteOnAnotherSimOffersToCopyTheWholeList) {
  home_.exec(
      "INSERT INTO sim VALUES (1,'Anna B','+39021234',3),(2,'Bruna','555',0),(5,'Carla','556',2),"
      "(9,'Nove','999',1);");
  home_.exec("INSERT INTO simcard VALUES ('sim','89390100009999999990','222019999999999');");
  start(smallSim());
  UiHarness& ui = *ui_;
  EXPECT_EQ(ui.screen()["subtitle"], "SIM \u20269999990");
  const std::vector<std::string> marked = {"cyan", "gray", "red", "green"};
  for (int answer : {0, 1}) {
    ASSERT_EQ(ui.tap("scrivi").status, 200);
    answerAlert(1);  // "Write 3 changes ..."
    followTransfer();
    EXPECT_EQ(modem_->commandCount("AT+CPBW"), 0);
    EXPECT_EQ(colours(), marked);
    const json alert = answerAlert(answer);
    EXPECT_EQ(alert["title"], "Write to SIM");
    EXPECT_EQ(alert["message"],
              "This is not the SIM the list was read from (read from \u20269999990, this SIM is \u20264567895). "
              "Read this SIM first, or tap Write anyway to copy the whole list onto it.");
    EXPECT_EQ(alert["buttons"], json({"Cancel", "Write anyway"}));
  }
  // The copy says what it sends before it starts, then that it is done.
  const json overlay = ui.snapshot()["overlays"]["98"];
  EXPECT_EQ(overlay["caption"],
            "Every entry of the list is written onto this SIM (not only the changes), each to its location; "
            "its other locations stay as they are.");
  EXPECT_EQ(overlay["captionLines"], 0);
  followTransfer();
  // What this SIM held beside the list is read back and shown with it.
  EXPECT_EQ(answerAlert(0)["message"],
            "The whole list was copied onto this SIM; the list now belongs to it. SIM \u20264567895 also holds an "
            "entry that was not in the list; it is now shown.");
  EXPECT_EQ(colours(), std::vector<std::string>({"gray", "gray", "gray", "gray"}));
  const sim::SimCard after = modem_->sim();
  EXPECT_EQ(after.name(1), "Anna B");
  EXPECT_EQ(after.name(2), "Bruna");  // an unmarked row too: the whole list
  EXPECT_EQ(after.name(5), "Carla");  // not the list's to erase on this SIM
  EXPECT_EQ(after.name(9), "Nove");
  EXPECT_EQ(ui.screen()["subtitle"], "SIM \u20264567895");
}

// The SMS store's own title; a changed message whose old copy the SIM kept is told, and
// its delete stays marked (red) for the next write.
TEST_F(TransferTest, SmsWriteThatKeptAnOldCopySaysSo) {
  home_.exec("INSERT INTO simsms VALUES (1,'new text','555',3);");
  sim::SimCard card = smallSim();
  card.setMessage(1, {sim::SmsStatus::StoSent, "555", "", "old text", false, {}});
  sim::ModemOptions options;
  options.faults.errorAtWrite = 2;  // the delete of the old copy, after the new one is stored
  start(card, options);
  UiHarness& ui = *ui_;
  ASSERT_EQ(ui.event({{"target", "tipo"}, {"action", "select"}, {"value", 1}}).status, 200);
  ASSERT_EQ(ui.tap("scrivi").status, 200);
  EXPECT_EQ(answerAlert(1)["title"], "Write 1 change to the SIM? (1 changed)");
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
