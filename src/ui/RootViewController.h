#pragma once
// The main screen: the entries of one SIM store (the phonebook or the SMS store) as a
// list, a title with their number against the store's capacity, the store selector, the
// search bar, the read and write buttons and the command sheets with their
// confirmations. It owns the list `contatti` and the state the commands share; the
// commands' changes to entries are made by entries/Editing, its commands on files by
// FileCommands, the transfers run under its TransferController. Main loop only.
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "base/Paths.h"
#include "modem/Channel.h"
#include "store/DatabaseWatch.h"
#include "store/EntryList.h"
#include "store/Preferences.h"
#include "store/SimEntry.h"
#include "store/SimTable.h"
#include "entries/AddressBook.h"
#include "entries/Editing.h"
#include "transfer/JobHost.h"
#include "ui/FileCommands.h"
#include "ui/PeoplePicker.h"
#include "ui/SnoopWindow.h"
#include "ui/TransferController.h"
#include "ui/kit/UiApplication.h"

namespace voryx {

// Set once the user has answered the offer of fast transfers (either way): it is made once.
inline constexpr const char* kPrefFastOffered = "fastOffered";

class RootViewController final : public kit::Screen,
                                 public kit::AlertDelegate,
                                 public kit::ActionSheetDelegate,
                                 public PeoplePickerDelegate {
 public:
  static constexpr double kRowHeight = 70;
  static constexpr int kDefaultMaxSIMLen = 14;
  static constexpr int kSpinnerTag = TransferController::kSpinnerTag;  // the progress overlay

  // actionType: which sheet or confirmation is open.
  enum Action : int {
    kActionNone = 0,
    kActionToolSheet = 1,
    kActionEntrySheet = 2,
    kActionConfirmEmpty = 3,
    kActionConfirmImport = 4,     // "Add N entries to the SIM phonebook?": the plan's counts
    kActionAddSheet = 5,
    kActionEditing = 6,
    kActionExported = 7,
    kActionConfirmRestore = 8,
    kActionConfirmRead = 9,  // "N changes ... will be lost. Read anyway?"
    kActionConfirmWrite = 10,     // "Write N changes to the SIM? (...)"
    kActionConfirmOtherSim = 11,  // "This is not the SIM the list was read from ..."
    kActionExportedVCard = 12,    // "File Voryx.vcf create into ..."
    kActionOfferFast = 13,        // "Transfers can be much faster on this modem: ..."
    kActionConfirmCopyToBook = 14,  // "Copy SIM to address book": the plan's counts
    kActionConfirmArchiveSms = 15,  // "The SIM's message store is full ... Archive and clear it?"
  };
  // The edit screen's answer when it was cancelled.
  static constexpr int kEditCancelled = 99;
  static constexpr double kDismissDelay = 0.5;  // seconds from the edit screen's answer
  // How long rows just added stay highlighted (their rows' "highlight").
  static constexpr double kHighlightSeconds = 3.0;
  // Quiet waits of one transfer past which fast transfers are offered.
  static constexpr std::chrono::milliseconds kSlowQuietWaits{3000};

  // Everything given must outlive the screen. Nothing is read before viewDidLoad.
  // `device`: the modem the transfers talk to.
  // `paths.contacts` is the address book, read at each use: the setup screen changes it.
  RootViewController(kit::UiApplication& app, SnoopWindow& window, Paths& paths,
                     Preferences& preferences, modem::DeviceChoice device = {});
  // Destroy the screen only once the main loop has stopped: the job's progress calls then
  // return at once instead of waiting for it.
  ~RootViewController() override;  // waits for a transfer that still runs

  // Buttons, the first list load (ordered by location: the settings are read only when
  // the screen appears), the window's listView, the double-tap observers.
  void viewDidLoad() override;
  // Re-reads the settings: sortField, maxSIM, maxSMS, maxSIMLen; title "Vorx (n,capacity)".
  void viewDidAppear() override;
  // The button and selector texts in the application's language.
  void languageDidChange() override;

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
  // a table with changes not yet written asks first ("Cancel" / "Read"); a write with
  // changes to send asks first too ("Write N changes to the SIM? (1 new, ...)", "Cancel" /
  // "Write"), counting them as `voryx status` does.
  void leggiPressed();
  void scriviPressed();
  void addPressed();   // the add sheet
  void toolPressed();  // the tool sheet
  void setup();        // the setup screen
  // The how-to screen, at the section `anchor` names ("marks": what the rows' colours
  // and mark words mean) or at its top.
  void howto(const std::string& anchor = {});
  void tableViewWillSelectRowAtIndexPath(int row);  // the entry sheet of the row

  // Adds an entry (modifica -1) to the store on display, or changes the entry at index
  // modifica, through entries/Editing: the row as stored takes its place in `contatti`,
  // which is sorted again, and the title counts it; a new row is scrolled to and
  // highlighted, and a name cut to what the SIM holds is told in a notice. A full SIM:
  // the "SIM is full!" alert, nothing added. A database that did not take it: an alert
  // saying the change was not saved, and the list reloaded, so the screen shows what is
  // stored. A text that cannot be stored (a message longer than one SMS): an alert saying
  // why, and false.
  bool addEntry(const std::string& name, const std::string& phone);
  // The contact phone picker's "Add all" of `person`, shown as `name`: with modifica -1
  // each number the phonebook does not hold yet becomes a new entry as the import makes
  // it (entries::personOnSim: a person with several numbers gets "/M", "/H" ... after the
  // name; a person shown without a name gets each number under no name), and a notice
  // says how many were added and how many were on the list already; with a row index each
  // number (without its blanks) changes that row in turn under `name`, as addEntry does.
  void addEntries(const std::string& name, const entries::Person& person);
  // The edit screen's answer: unless `kind` is kEditCancelled, addEntry; then the edit
  // screen goes kDismissDelay seconds later (rilascia2) — unless the text was refused:
  // then it stays with the text for the user to mend, and the answer is false.
  bool refresh(int kind, const std::string& testo, const std::string& numero);
  void rilascia2();

  // The address book's screens. A person picked: the contact phone picker for that
  // person replaces the people picker (its numbers then go through addEntry, after
  // modifica: -1 adds, a row index changes that row). Cancel: the picker goes.
  void peoplePickerDidSelectPerson(const entries::Person& person, const std::string& photo) override;
  void peoplePickerDidCancel() override;
  // The SIM entry was added to the address book as a new person: its screen goes.
  void unknownPersonViewControllerDidResolveToPerson(const entries::Person& person);

  void searchBarTextDidBeginEditing();
  void searchBarTextDidEndEditing();
  void searchBarSearchButtonClicked();
  void searchBarCancelButtonClicked();

  // Bring row 0, (n - 1) / 2 or n - 1 to the top; nothing with an empty list.
  void gotop(const kit::Notification&);
  void gomiddle(const kit::Notification&);
  void gobottom(const kit::Notification&);

  // A transfer has ended (the overlay is gone): apply the job's report (capacities into
  // the fields and the preferences, createLog, retcode) and reload the list. After a read
  // the write button follows maxSIM (off while the SIM's capacity is unknown); after a
  // write that failed (retcode 1) the "Error writing phonebook" alert follows. A write that
  // found another SIM in the modem says so and offers to copy the whole list onto it
  // ("Cancel" / "Write anyway"); a write that copied it says so. A transfer that ran
  // through says what it did in a notice ("Read 36 entries", "Wrote 4 changes"); one
  // whose replies waited out the quiet window for more than kSlowQuietWaits in all,
  // with fast transfers off, offers once to turn them on ("No" / "Yes"). A read of the
  // SMS store that finds it full, or two short of full (entries::messageStoreFull), asks
  // instead whether to archive and clear it ("Cancel" / "Archive and clear"): the answer
  // writes the archive into the export folder, and once it reads back whole marks every
  // message deleted and starts the SMS write. That answer is the write's confirmation:
  // the write's own question is not asked again.
  void transferEnded(bool write, const transfer::JobReport& report);
  // The sheets (actionType 1, 2, 5) and the confirmations (3, 4, 7 to 15) this screen
  // opened. A confirmation's answer puts actionType back to 0; only button index 1 acts.
  void actionSheetClickedButtonAtIndex(const kit::ActionSheet& sheet, int index) override;
  void alertViewClickedButtonAtIndex(const kit::Alert& alert, int index) override;
  // Any thread.
  bool transferRunning() const { return transfers_.jobRunning(); }
  TransferController& transfers() { return transfers_; }

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
  Phonebook book = Phonebook::SM;  // the phonebook store shown (the setup screen's choice)

 protected:
  void renderParts(nlohmann::json& screen) const override;
  kit::EventResult handleOwnEvent(const kit::Event& e) override;

 private:
  void showList(ListLoad load, int capacity);
  // The rows at these locations were just added: the first of them in display order is
  // scrolled to, and all are highlighted for kHighlightSeconds.
  void showNewRows(const std::vector<std::int32_t>& locations);
  // Stores one entry as addEntry does, without the notice and the highlight: the entry as
  // stored, or nothing when it was not (an alert has said why; `refused` when the text
  // cannot be stored as given).
  std::optional<SimEntry> putEntry(const std::string& name, const std::string& phone, bool& refused);
  // The name cut on its way in: "Name shortened to ..." ("" when it was not).
  std::string nameCutNotice(const std::string& typed, const SimEntry& stored) const;
  // The phonebook on display holds this number (as the SIM would store it) in some row.
  bool onTheList(const std::string& number) const;
  // The SMS row at this index is a message sent in parts, shown as one row.
  bool messageInParts(std::int32_t posizione) const;
  void offerFastTransfers(const transfer::JobReport& report);
  // After a read: the question whether to archive and clear a full SMS store; false when
  // the store is not full (nothing asked).
  bool askToArchiveMessages(const transfer::JobReport& report);
  // Its answer: the archive, then (only when it read back whole) the SMS write.
  void archiveAndClearMessages();
  ListLoad loadStore(int store) const;  // 0 the phonebook (search, sortField), 1 the SMS store

  void setCountTitle(char separator, int capacity);
  // "Read from SIM" / "Write to SIM", or "... phone" while the phone's memory is shown.
  void nameStoreButtons();
  int capacity() const { return tipoDisplay == 1 ? maxSMS : maxSIM; }
  // The phonebook store the setup screen chose, with its capacity and name length; true
  // when the store changed.
  bool takePhonebookPreferences();
  // EN and SDN: the list is shown without its edit actions.
  bool readOnly() const { return tipoDisplay == 0 && !phonebookKind(book).writable; }
  kit::EventResult handleSearch(const kit::Event& e);
  // toOtherSim: a write that copies the whole list onto a SIM it was not read from.
  void startTransfer(bool write, bool discardChanges = false, bool toOtherSim = false);
  // The SIM the store on display was read from, for the title area ("" when unknown).
  void readSimName();
  // "Replaces: Anna Rossi, +39055123456" for a changed row: what the SIM held at its
  // location when it was last read or written; "" for other rows, or when unknown.
  std::string replacedValue(const SimEntry& entry) const;
  void applyReport(const transfer::JobReport& report);
  entries::EditTarget editTarget() const;
  // An edit made here: the database watch takes it as seen, not as another program's.
  void ownChangeMade();
  // The database did not take a change: say so and show what is stored.
  void changeNotSaved(const std::string& detail);
  // Reloads the list unless the database is locked (then it keeps what it shows).
  void reloadUnlessBusy();
  // A sheet's buttons in order, each its string-table key and what it does: one table
  // both shows the sheet and answers it.
  struct SheetCommand {
    std::string key;
    std::function<void()> run;
  };
  std::vector<SheetCommand> toolCommands();
  std::vector<SheetCommand> entryCommands();  // the row `modifica`'s, by the store shown
  std::vector<SheetCommand> addCommands();
  static std::vector<std::string> labelsOf(const std::vector<SheetCommand>& commands);
  void openEditor(bool existing);
  void openPeoplePicker();
  void openUnknownPerson();
  // The import of the address book or the CSV restore, under the wait overlay; then the
  // list is reloaded, the rows at the locations the command answers are shown as new, and
  // the database watch takes the change as the screen's own.
  void runUnderOverlay(std::function<std::vector<std::int32_t>()> command);
  // The question whether to view a file just exported (none: it was not written).
  void askToView(const std::optional<FileCommands::Exported>& exported, Action action);
  FileCommands::Sim sim() const { return {maxSIM, maxSIMLen, createLog}; }
  void deleteEntry();
  void emptySim();
  void sortBy(int field);
  void confirm(const std::string& title, const std::string& message, Action action,
               const std::string& cancel, const std::string& ok);

  kit::UiApplication& app_;
  SnoopWindow& window_;
  Paths& paths_;
  Preferences& preferences_;
  kit::BarButton setupButton_;
  kit::BarButton howtoButton_;
  const modem::DeviceChoice device_;
  DatabaseWatch watch_;  // of paths_.database()
  FileCommands files_;
  std::string shownSearch_;                  // the search the list was loaded with
  std::vector<std::int32_t> highlighted_;    // locations of rows just added
  std::uint64_t highlightSeq_ = 0;           // which highlight the timer may end
  bool modificaInParts_ = false;             // the entry sheet's row is a message in parts
  std::string simName_;                      // shortSimName of the list's SIM, or ""
  TransferController transfers_;  // last: its job may call back until it ends
};

}  // namespace voryx
