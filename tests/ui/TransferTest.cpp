// The transfer jobs as the main screen shows them: the question before a job, the progress
// overlay, the alert after it, the rows' colours and what the screen shows then. What
// reaches the SIM and which commands go are the job tests' (tests/transfer). The modem is
// the virtual modem's engine on a line with a virtual clock (a transfer takes no real
// time), or, to watch a transfer while it runs, the virtual modem on a real
// pseudo-terminal, where every command costs the half-second quiet window.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "entries/SmsArchive.h"
#include "sim/VirtualModem.h"
#include "ui/Screens.h"

namespace voryx {
namespace {

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
  // The screens with the modem on the virtual clock's line. `offerFast`: the offer of fast
  // transfers is still to be made (otherwise it was answered before, and no transfer ends
  // with it).
  void start(sim::SimCard card, sim::ModemOptions options = {}, bool offerFast = false) {
    answerFastOffer(offerFast);
    line_ = std::make_unique<test::VirtualLine>(std::move(card), options);
    ui_ = std::make_unique<UiHarness>(home_.paths, *line_);
  }
  // The same with the modem on a real pseudo-terminal.
  void startOnPty(sim::SimCard card, bool offerFast = false) {
    answerFastOffer(offerFast);
    modem_ = std::make_unique<sim::VirtualModem>(std::move(card), sim::ModemOptions{});
    std::string error;
    ASSERT_TRUE(modem_->start(&error)) << error;
    VoryxUiOptions ui;
    ui.device.device = modem_->devicePath();
    ui_ = std::make_unique<UiHarness>(home_.paths, ui);
  }
  void answerFastOffer(bool offerFast) {
    if (!offerFast) {
      ASSERT_TRUE(Preferences(home_.paths.preferences).store(kPrefFastOffered, 1));
    }
  }
  // The commands the modem took, once the transfer has ended.
  int commandCount(const char* prefix) const {
    return line_ ? line_->commandCount(prefix) : modem_->commandCount(prefix);
  }
  void TearDown() override {
    ui_.reset();  // waits for a job that still runs
    if (modem_) modem_->stop();
  }
  std::vector<std::string> colours() {
    std::vector<std::string> out;
    const json screen = ui_->screen();
    for (const auto& row : screen["rows"]) out.push_back(row["colors"]);
    return out;
  }

  TempHome home_;
  std::unique_ptr<test::VirtualLine> line_;  // before ui_: the screens' jobs use it to their end
  std::unique_ptr<sim::VirtualModem> modem_;
  std::unique_ptr<UiHarness> ui_;
};

TEST_F(TransferTest, ReadShowsItsProgressRefusesASecondStartAndFollowsTheStore) {
  startOnPty(smallSim(), true);
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
  std::vector<json> seen;
  ui.followTransfer(&seen);
  EXPECT_TRUE(std::any_of(seen.begin(), seen.end(), [](const json& s) {
    return s["overlays"]["98"]["caption"] == "Your SIM has a total entry of  20";
  }));
  snap = ui.snapshot();
  EXPECT_EQ(snap["window"]["idleTimerDisabled"], false);
  EXPECT_EQ(snap["notice"]["text"], "Read 3 entries");
  EXPECT_EQ(snap["navigation"][0]["title"], "Vorx (3/20)");
  EXPECT_EQ(rowLabels(snap["navigation"][0]),
            json({{"1", "Anna", "+39021234", "gray"}, {"2", "Bruno", "555", "gray"}, {"5", "Carla", "556", "gray"}}));
  EXPECT_EQ(snap["navigation"][0]["toolbar"][3]["enabled"], true);
  // Every reply waited out the half-second quiet window after its final result: fast
  // transfers are offered, once. "Yes" turns them on.
  EXPECT_EQ(ui.answer("Yes")["message"], "Transfers can be much faster on this modem: turn on Fast transfers?");
  EXPECT_EQ(Preferences(home_.paths.preferences).value(kPrefFast), 1);

  // On the SMS store the same button reads the messages.
  ui.showStore(1);
  ASSERT_EQ(ui.tap("leggi").status, 200);
  ui.followTransfer();
  snap = ui.snapshot();
  EXPECT_TRUE(snap["alerts"].empty());  // asked once only
  EXPECT_EQ(snap["notice"]["text"], "Read 1 message");
  EXPECT_EQ(snap["navigation"][0]["title"], "Vorx (1/10)");
  EXPECT_EQ(rowLabels(snap["navigation"][0]), json({{"3", "Hello", "+3331234567", "gray"}}));
}

TEST_F(TransferTest, ListingAnsweredWithAnErrorTurnsTheWriteButtonOff) {
  sim::ModemOptions options;
  options.faults.listingError = true;
  start(smallSim(), options);
  ASSERT_EQ(ui_->screen()["toolbar"][3]["enabled"], true);
  ASSERT_EQ(ui_->tap("leggi").status, 200);
  ui_->followTransfer();
  EXPECT_EQ(ui_->screen()["toolbar"][3]["enabled"], false);
  const json snap = ui_->snapshot();
  EXPECT_EQ(snap["window"]["idleTimerDisabled"], false);
  EXPECT_EQ(snap["alerts"].size(), 1u);  // the read's own report
}

TEST_F(TransferTest, RefusedWriteReloadsTheListThenSaysSo) {
  home_.exec("INSERT INTO sim VALUES (1,'Anna B','+39021234',3),(2,'Bruno','555',3),(5,'Carla','556',0);");
  sim::ModemOptions options;
  options.faults.errorAtWrite = 2;
  start(smallSim(), options);
  UiHarness& ui = *ui_;
  ASSERT_EQ(ui.tap("scrivi").status, 200);
  EXPECT_EQ(ui.answer("Write")["title"], "Write 2 changes to the SIM? (2 changed)");
  const json overlay = ui.snapshot()["overlays"]["98"];
  EXPECT_EQ(overlay["caption"], "WInitializing...");
  EXPECT_EQ(overlay["captionFrame"], json({20, 130, 280, 50}));  // the write layout: one line
  EXPECT_EQ(overlay["captionLines"], 1);
  // A row that reaches the table behind the screen shows once the list is reloaded.
  home_.exec("INSERT INTO sim VALUES (7,'Dario','557',0);");

  const json snap = ui.followTransfer();
  EXPECT_EQ(colours(), std::vector<std::string>({"gray", "cyan", "gray", "gray"}));  // the mark not taken stays
  EXPECT_EQ(ui.screen()["rows"][3]["labels"][1], "Dario");
  ASSERT_EQ(ui.snapshot()["alerts"].size(), 1u);
  const json alert = ui.answer("Ok");
  EXPECT_EQ(alert["title"], "Error writing phonebook");
  EXPECT_EQ(alert["message"], "The modem refused the command without saying why.");
  EXPECT_EQ(snap["window"]["idleTimerDisabled"], false);

  // The next write stops before any command (the list is another SIM's now): it says
  // that, and nothing of the refusal before.
  home_.exec("INSERT INTO simcard VALUES ('sim','89390100009999999990','222019999999999');");
  ASSERT_EQ(ui.tap("scrivi").status, 200);
  ui.answer("Write");
  ui.followTransfer();
  EXPECT_EQ(ui.answer("Cancel")["buttons"], json({"Cancel", "Write anyway"}));
}

// A write with changes to send asks first, counting them as `voryx status` does: "Cancel"
// sends nothing and keeps every mark, "Write" writes. One change: the singular. Nothing to
// send: no question.
TEST_F(TransferTest, WriteAsksFirstWithWhatItWouldSend) {
  home_.exec(
      "INSERT INTO sim VALUES (1,'Anna B','+39021234',3),(2,'Bruno','555',2),(5,'Carla','556',0),"
      "(9,'Nove','999',1);");
  start(smallSim());
  UiHarness& ui = *ui_;
  for (const std::string answer : {"Cancel", "Write"}) {
    ASSERT_EQ(ui.tap("scrivi").status, 200);
    EXPECT_FALSE(ui.snapshot()["overlays"].contains("98"));
    EXPECT_EQ(ui.answer(answer)["title"], "Write 3 changes to the SIM? (1 new, 1 changed, 1 deleted)");
    ui.followTransfer();
    EXPECT_TRUE(ui.snapshot()["alerts"].empty());
    if (answer == "Cancel") {
      EXPECT_EQ(commandCount("AT"), 0);  // not even the handshake
      EXPECT_EQ(colours(), std::vector<std::string>({"cyan", "red", "gray", "green"}));
    }
  }
  EXPECT_EQ(colours(), std::vector<std::string>({"gray", "gray", "gray"}));
  EXPECT_EQ(ui.snapshot()["notice"]["text"], "Wrote 3 changes");

  home_.exec("UPDATE sim SET operazione=3 WHERE entry=5;");
  ui.onMain([&] { ui.ui.root().loadDB(); });
  ASSERT_EQ(ui.tap("scrivi").status, 200);
  EXPECT_EQ(ui.answer("Cancel")["title"], "Write 1 change to the SIM? (1 changed)");
  home_.exec("UPDATE sim SET operazione=0;");
  ASSERT_EQ(ui.tap("scrivi").status, 200);
  EXPECT_TRUE(ui.snapshot()["alerts"].empty());
  EXPECT_TRUE(ui.snapshot()["overlays"].contains("98"));
  ui.followTransfer();
}

// The list was read from another SIM: the write says so, naming both; "Cancel" keeps
// every mark, "Write anyway" copies the whole list onto this SIM, which the list then
// belongs to (the title area names it).
TEST_F(TransferTest, WriteOnAnotherSimOffersToCopyTheWholeList) {
  home_.exec(
      "INSERT INTO sim VALUES (1,'Anna B','+39021234',3),(2,'Bruna','555',0),(5,'Carla','556',2),"
      "(9,'Nove','999',1);");
  home_.exec("INSERT INTO simcard VALUES ('sim','89390100009999999990','222019999999999');");
  start(smallSim());
  UiHarness& ui = *ui_;
  EXPECT_EQ(ui.screen()["subtitle"], "SIM \u20269999990");
  for (const std::string answer : {"Cancel", "Write anyway"}) {
    ASSERT_EQ(ui.tap("scrivi").status, 200);
    ui.answer("Write");  // "Write 3 changes ..."
    ui.followTransfer();
    EXPECT_EQ(colours(), std::vector<std::string>({"cyan", "gray", "red", "green"}));
    const json alert = ui.answer(answer);
    EXPECT_EQ(alert["title"], "Write to SIM");
    EXPECT_EQ(alert["message"],
              "This is not the SIM the list was read from (read from \u20269999990, this SIM is \u20264567895). "
              "Read this SIM first, or tap Write anyway to copy the whole list onto it.");
  }
  // The copy says what it sends before it starts, then that it is done.
  const json overlay = ui.snapshot()["overlays"]["98"];
  EXPECT_EQ(overlay["caption"],
            "Every entry of the list is written onto this SIM (not only the changes), each to its location; "
            "its other locations stay as they are.");
  EXPECT_EQ(overlay["captionLines"], 0);
  ui.followTransfer();
  // What this SIM held beside the list is read back and shown with it.
  EXPECT_EQ(ui.answer("Ok")["message"],
            "The whole list was copied onto this SIM; the list now belongs to it. SIM \u20264567895 also holds an "
            "entry that was not in the list; it is now shown.");
  EXPECT_EQ(colours(), std::vector<std::string>({"gray", "gray", "gray", "gray"}));
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
  ui_->showStore(1);
  ASSERT_EQ(ui_->tap("scrivi").status, 200);
  EXPECT_EQ(ui_->answer("Write")["title"], "Write 1 change to the SIM? (1 changed)");
  ui_->followTransfer();
  ASSERT_EQ(ui_->snapshot()["alerts"].size(), 1u);
  const json alert = ui_->answer("Ok");
  EXPECT_EQ(alert["title"], "Error writing sms");
  EXPECT_EQ(alert["message"],
            "The old copy of a changed message could not be deleted and stays on the SIM; the next "
            "write deletes it.");
  EXPECT_EQ(colours(), std::vector<std::string>({"red", "gray"}));  // the old copy, at its index
}

// A read that finds the SMS store full asks whether to archive and clear it: "Cancel"
// changes nothing; "Archive and clear" writes the archive into the export folder (it
// gives back every message) and then the SMS write, without asking again, empties the SIM.
TEST_F(TransferTest, AFullMessageStoreIsOfferedItsArchive) {
  for (const std::string answer : {"Cancel", "Archive and clear"}) {
    SCOPED_TRACE(answer);
    sim::SimCard card(20, 14, 3);
    card.setMessage(1, {sim::SmsStatus::RecRead, "+3912", "24/05/04,08:00:00+08", "Ciao", false, {}});
    card.setMessage(2, {sim::SmsStatus::StoSent, "+3331234567", "", "Hello", false, {}});
    card.setMessage(3, {sim::SmsStatus::RecUnread, "SMART", "24/05/05,09:00:00+08", "Offerta", false, {}});
    ui_.reset();  // the screens of the last round, before their line goes
    start(card);
    ui_->showStore(1);
    ASSERT_EQ(ui_->tap("leggi").status, 200);
    ui_->followTransfer();
    const json alert = ui_->answer(answer);
    EXPECT_EQ(alert["title"],
              "The SIM's message store is full (3 of 3): new messages cannot arrive. Archive and clear it?");
    EXPECT_EQ(alert["buttons"], json({"Cancel", "Archive and clear"}));
    ui_->followTransfer();
    std::vector<std::filesystem::path> files;
    if (std::filesystem::exists(home_.paths.exportDir)) {
      for (const auto& f : std::filesystem::directory_iterator(home_.paths.exportDir)) files.push_back(f.path());
    }
    std::sort(files.begin(), files.end());
    if (answer == "Cancel") {
      EXPECT_TRUE(files.empty());
      EXPECT_EQ(line_->sim().messages().size(), 3u);
      EXPECT_EQ(ui_->screen()["rows"].size(), 3u);
      continue;
    }
    ASSERT_EQ(files.size(), 2u);
    EXPECT_EQ(files[0].extension(), ".json");
    EXPECT_EQ(files[1], entries::mboxBeside(files[0]));
    auto archived = entries::parseBackupJson(test::readFile(files[0]));
    ASSERT_TRUE(archived.ok()) << archived.error().detail;
    EXPECT_EQ(archived->sms.size(), 3u);
    EXPECT_EQ(archived->smsRecords.size(), 3u);
    EXPECT_TRUE(line_->sim().messages().empty());
    EXPECT_TRUE(ui_->screen()["rows"].empty());
    EXPECT_TRUE(ui_->snapshot()["alerts"].empty());
  }
}

// A read over a change not yet written asks first; "Cancel" keeps everything, "Read"
// replaces the list with the SIM's.
TEST_F(TransferTest, ReadOverUnsentChangesAsksFirst) {
  home_.exec("INSERT INTO sim VALUES (1,'Anna B','+39021234',3);");
  start(smallSim());
  for (const std::string answer : {"Cancel", "Read"}) {
    ASSERT_EQ(ui_->tap("leggi").status, 200);
    EXPECT_FALSE(ui_->snapshot()["overlays"].contains("98"));
    const json alert = ui_->answer(answer);
    EXPECT_EQ(alert["title"], "Read from SIM");
    const std::string message = alert["message"];
    EXPECT_EQ(message, "1 change not yet written to the SIM will be lost. Read anyway?");
    ui_->followTransfer();
    EXPECT_EQ(rowLabels(ui_->screen())[0][1], answer == "Cancel" ? "Anna B" : "Anna");
  }
  EXPECT_EQ(ui_->screen()["rows"].size(), 3u);
}

// The SIM's PIN is asked over the progress overlay; "Cancel" ends the read with nothing
// read, "Ok" sends what was typed.
TEST_F(TransferTest, PinIsAskedOverTheOverlay) {
  sim::SimCard card = smallSim();
  card.pinLock() = *sim::PinLock::make("2468");
  start(card);
  for (int button : {0, 1}) {
    ASSERT_EQ(ui_->tap("leggi").status, 200);
    const json snap = ui_->until([](const json& s) { return !s["alerts"].empty(); });
    EXPECT_TRUE(snap["overlays"].contains("98"));  // the job is still running
    const json alert = snap["alerts"][0];
    EXPECT_EQ(alert["title"], "SIM PIN");
    EXPECT_EQ(alert["message"], "Enter the SIM's PIN. 3 tries left before the SIM is blocked.");
    EXPECT_EQ(alert["buttons"], json({"Cancel", "Ok"}));
    EXPECT_EQ(alert["textField"], json({{"secure", true}, {"placeholder", "PIN"}}));
    ASSERT_EQ(ui_->tap("alert:" + alert["id"].dump(), {{"button", button}, {"text", "2468"}}).status, 200);
    ui_->followTransfer();
    EXPECT_TRUE(ui_->snapshot()["alerts"].empty());
    EXPECT_EQ(ui_->screen()["rows"].size(), button == 0 ? 0u : 3u);
  }
}

// The screens stop while the PIN question is up: the job ends, nothing sent.
TEST_F(TransferTest, StoppingTheScreensWhileThePinIsAskedEndsTheJob) {
  sim::SimCard card = smallSim();
  card.pinLock() = *sim::PinLock::make("2468");
  start(card);
  ASSERT_EQ(ui_->tap("leggi").status, 200);
  ui_->until([](const json& s) { return !s["alerts"].empty(); });
  ui_.reset();
  EXPECT_EQ(commandCount("AT+CPIN=\""), 0);
}

// (On the real line: the read is still under way when the screens stop.)
TEST_F(TransferTest, StoppingTheScreensMidReadLetsTheJobEnd) {
  startOnPty(smallSim());
  ASSERT_EQ(ui_->tap("leggi").status, 200);
  ui_.reset();  // stops the loop, then waits for the job, whose progress calls return
  EXPECT_EQ(commandCount("AT+CPBR=1,"), 1);
  // The job ended normally: the listing reached the table.
  EXPECT_EQ(loadEntries(home_.paths.database(), ListStore::Phonebook, "", 0).entries.size(), 3u);
}

}  // namespace
}  // namespace voryx
