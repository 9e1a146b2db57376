#pragma once
// The main screen: the entries of one SIM store (the phonebook or the SMS store) as a
// list, a title with their number against the store's capacity, the store selector, the
// search bar, the read and write buttons and the buttons of the command sheets. It owns
// the list `contatti` and the state the commands share. Main loop only, except the
// fields the transfer jobs share, which are atomic.
#include <atomic>
#include <string>
#include <vector>

#include "app/Paths.h"
#include "store/EntryList.h"
#include "store/Preferences.h"
#include "store/SimEntry.h"
#include "ui/SnoopWindow.h"
#include "ui/kit/UiApplication.h"

namespace voryx {

class RootViewController final : public kit::Screen {
 public:
  static constexpr double kRowHeight = 70;
  static constexpr int kDefaultMaxSIMLen = 14;

  // Everything given must outlive the screen. Nothing is read before viewDidLoad.
  RootViewController(kit::UiApplication& app, SnoopWindow& window, const Paths& paths,
                     Preferences& preferences);
  ~RootViewController() override;

  // Buttons, the first list load (ordered by location: the settings are read only when
  // the screen appears), the window's listView, the double-tap observers.
  void viewDidLoad() override;
  // Re-reads the settings: sortField, maxSIM, maxSMS, maxSIMLen; title "Vorx (n,capacity)".
  void viewDidAppear() override;

  // Reloads `contatti` for the store on display. On any failure: the "Database error"
  // alert, `contatti` empty, the title left as it was (the store has moved a damaged
  // file aside so that the next start copies a fresh one).
  void loadDB();
  void loadDB1();  // the phonebook, with the search text and sortField
  void loadDB2();  // the SMS store, by location

  void tipoPressed();
  void leggiPressed();   // the read job arrives with the transfer work
  void scriviPressed();  // the write job, likewise
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

  kit::TableView tabella;
  kit::BarButton leggi;
  kit::BarButton scrivi;
  kit::BarButton add;
  kit::SearchBar search;
  kit::BarButton tool;
  kit::SegmentedControl tipo;
  std::vector<SimEntry> contatti;  // in display order; row i shows element i
  std::atomic<int> maxSIM{0};
  std::atomic<int> maxSMS{0};
  int modifica = -1;   // index in contatti a command acts on; -1 for a new entry
  int actionType = 0;  // which sheet or confirmation is open
  std::atomic<int> maxSIMLen{kDefaultMaxSIMLen};
  int sortField = 0;   // 0 by location, otherwise by name
  std::atomic<int> createLog{0};
  std::atomic<int> retcode{0};
  int tipoDisplay = 0;  // 0 the phonebook, 1 the SMS store

 protected:
  void renderParts(nlohmann::json& screen) const override;
  kit::EventResult handleOwnEvent(const kit::Event& e) override;

 private:
  void showList(ListLoad load, int capacity);
  void setCountTitle(char separator, int capacity);
  int capacity() const { return tipoDisplay == 1 ? maxSMS.load() : maxSIM.load(); }
  kit::EventResult handleSearch(const kit::Event& e);

  kit::UiApplication& app_;
  SnoopWindow& window_;
  const Paths& paths_;
  Preferences& preferences_;
  kit::BarButton setupButton_;
  kit::BarButton howtoButton_;
};

}  // namespace voryx
