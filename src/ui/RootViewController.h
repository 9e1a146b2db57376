#pragma once
// The main screen: the entries of one SIM store (the phonebook or the SMS store) as a
// list, a title with their number against the store's capacity, the store selector, the
// search bar, the read and write buttons and the buttons of the command sheets. It owns
// the list `contatti` and the state the commands share, and it is the host of the transfer
// jobs: it runs one at a time under the progress overlay (tag 98). Main loop only, except
// the job host's methods, which any thread may call (they post to the main loop), and
// the fields the jobs share, which are atomic.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/Paths.h"
#include "modem/Channel.h"
#include "store/EntryList.h"
#include "store/Preferences.h"
#include "store/SimEntry.h"
#include "store/SimTable.h"
#include "transfer/JobHost.h"
#include "transfer/TransferRunner.h"
#include "ui/SnoopWindow.h"
#include "ui/kit/UiApplication.h"

namespace voryx {

class RootViewController final : public kit::Screen,
                                 public transfer::JobHost,
                                 public kit::AlertDelegate {
 public:
  static constexpr double kRowHeight = 70;
  static constexpr int kDefaultMaxSIMLen = 14;
  static constexpr int kSpinnerTag = 98;  // the progress overlay
  // actionType while the question "N changes ... will be lost. Read anyway?" is open.
  static constexpr int kActionConfirmRead = 9;

  // Everything given must outlive the screen. Nothing is read before viewDidLoad.
  // `device`: the modem the transfers talk to.
  RootViewController(kit::UiApplication& app, SnoopWindow& window, const Paths& paths,
                     Preferences& preferences, modem::DeviceChoice device = {});
  // Waits for a transfer that still runs. Destroy the screen only once the main loop has
  // stopped: the job's progress calls then return at once instead of waiting for it.
  ~RootViewController() override;

  // Buttons, the first list load (ordered by location: the settings are read only when
  // the screen appears), the window's listView, the double-tap observers.
  void viewDidLoad() override;
  // Re-reads the settings: sortField, maxSIM, maxSMS, maxSIMLen; title "Vorx (n,capacity)".
  void viewDidAppear() override;

  // Reloads `contatti` for the store on display. A lock held by another program past
  // about a second: an alert saying so, and the list keeps what it showed. Any other
  // failure: the "Database error" alert (naming the cause, and where a damaged file was
  // moved so that the next start copies a fresh one), `contatti` empty, the title left as
  // it was.
  void loadDB();
  void loadDB1();  // the phonebook, with the search text and sortField
  void loadDB2();  // the SMS store, by location

  // Every kWatchSeconds: when another program (`voryx read` in a terminal) has changed the
  // database, the list is reloaded, unless the user is in the middle of something (a
  // transfer, an alert, a sheet, another screen): then at the next tick after it.
  static constexpr double kWatchSeconds = 1.0;
  void watchDatabase();

  void tipoPressed();
  // Put up the progress overlay, switch the idle timer off and start the read (the
  // phonebook or the SMS store, after tipoDisplay) or the write. Nothing while a
  // transfer runs: it is busy from its start until its end handler has run. A read over
  // a table with changes not yet written asks first ("Cancel" / "Read").
  void leggiPressed();
  void scriviPressed();
  void addPressed();     // the add sheet arrives with the commands
  void toolPressed();    // the tool sheet, likewise
  void setup();          // the setup screen, likewise
  void howto();          // the how-to screen, likewise
  void tableViewWillSelectRowAtIndexPath(int row);  // the entry sheet, likewise

  void searchBarTextDidBeginEditing();
  void searchBarTextDidEndEditing();
  void searchBarSearchButtonClicked();
  void searchBarCancelButtonClicked();

  // Bring row 0, (n - 1) / 2 or n - 1 to the top; nothing with an empty list.
  void gotop(const kit::Notification&);
  void gomiddle(const kit::Notification&);
  void gobottom(const kit::Notification&);

  // The job host. Progress texts go into the overlay; the job waits until they have.
  void updateCaption(const std::string& text) override;
  void updateLabel(const std::string& text) override;
  // The end handlers, posted to the main loop: apply the job's report (capacities into
  // the fields and the preferences, createLog, retcode), reload the list, remove the
  // overlay, switch the idle timer back on. After a read the write button follows maxSIM
  // (off while the SIM's capacity is unknown); after a write that failed (retcode 1) the
  // "Error writing phonebook" alert follows the reloaded list.
  void endLoadSIM(const transfer::JobReport& report) override;
  void endSaveSIM(const transfer::JobReport& report) override;
  void showAlert(const std::string& title, const std::string& message) override;
  // The confirmations this screen opened (actionType); only button index 1 acts.
  void alertViewClickedButtonAtIndex(const kit::Alert& alert, int index) override;
  // Any thread.
  bool transferRunning() const { return runner_.running(); }

  kit::TableView tabella;
  kit::BarButton leggi;
  kit::BarButton scrivi;
  kit::BarButton add;
  kit::SearchBar search;
  kit::BarButton tool;
  kit::SegmentedControl tipo;
  std::vector<SimEntry> contatti;  // in display order; row i shows element i
  int maxSIM = 0;
  int maxSMS = 0;
  int maxSIMLen = kDefaultMaxSIMLen;
  int createLog = 0;
  int retcode = 0;
  int modifica = -1;   // index in contatti a command acts on; -1 for a new entry
  int actionType = 0;  // which sheet or confirmation is open
  int sortField = 0;   // 0 by location, otherwise by name
  int tipoDisplay = 0;  // 0 the phonebook, 1 the SMS store

 protected:
  void renderParts(nlohmann::json& screen) const override;
  kit::EventResult handleOwnEvent(const kit::Event& e) override;

 private:
  void showList(ListLoad load, int capacity);
  ListLoad loadStore(int store) const;  // 0 the phonebook (search, sortField), 1 the SMS store
  bool lookForChanges();
  void setCountTitle(char separator, int capacity);
  int capacity() const { return tipoDisplay == 1 ? maxSMS : maxSIM; }
  kit::EventResult handleSearch(const kit::Event& e);
  void startTransfer(bool write, bool discardChanges = false);
  void applyReport(const transfer::JobReport& report);
  void endTransfer();

  kit::UiApplication& app_;
  SnoopWindow& window_;
  const Paths& paths_;
  Preferences& preferences_;
  kit::BarButton setupButton_;
  kit::BarButton howtoButton_;
  const modem::DeviceChoice device_;
  bool busy_ = false;  // from a transfer's start until its end handler has run
  std::optional<SimTable> watch_;            // the watch's own connection
  std::optional<std::int64_t> seenVersion_;  // its data version the list reflects
  std::int64_t pendingVersion_ = 0;          // the last one read
  std::string shownSearch_;                  // the search the list was loaded with
  transfer::TransferRunner runner_{*this};  // last: its job may call back until it ends
};

}  // namespace voryx
