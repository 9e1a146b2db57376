#pragma once
// The setup screen: which name comes first when names pass between the address book and
// the SIM (lastFirst), as a grouped table of two rows with the chosen one ticked, and the
// modem's settings as switch rows ("Use UCS2 character set": ucs2, "Fast transfers":
// fast, "Read the SIM's files directly": records), and which phonebook store the main
// screen shows (phonebook), of those the modem offered at the last read (phonebooks; the
// SIM phonebook always), and the address book read and added to: the desktop's books
// (listed once, when the screen loads: a blocking ask of evolution-data-server), the vCard
// file of the data folder, and the book in use when it is none of those. "Done" and the
// back button both store them and go back: a switch the user turned stays turned,
// whichever way the screen is left. Pushed on the main screen's stack. Main loop only.
#include <filesystem>
#include <string>
#include <vector>

#include "base/Paths.h"
#include "store/Phonebooks.h"
#include "store/Preferences.h"
#include "ui/kit/Controls.h"
#include "ui/kit/NavigationController.h"
#include "ui/kit/Screen.h"

namespace voryx {

class SetupViewController final : public kit::Screen {
 public:
  static constexpr double kRowHeight = 50;

  // The preferences, the navigation and the paths outlive the screen; the paths are the
  // running program's, whose address book changes when another is chosen here.
  SetupViewController(Preferences& preferences, kit::NavigationController& navigation, Paths& paths);

  void viewDidLoad() override;  // "Done", the stored settings and the address books
  void languageDidChange() override;
  void tableViewWillSelectRowAtIndexPath(int row);  // the row becomes the choice
  // Goes back; the settings are stored on the way (viewWillDisappear).
  void save();
  // Stores lastFirst, ucs2, fast, records and the phonebook and synchronises once; an
  // address book other than the one in use becomes the "contacts" preference and the
  // book in use at once. The book in use alone is not stored: one named by --contacts
  // stays this run's.
  void viewWillDisappear() override;

  // A row of the address book's choice.
  struct AddressBookRow {
    std::filesystem::path path;  // as Paths::contacts names it
    std::string name;            // a desktop book's own name; empty for a path shown as such
    const char* kind;            // string-table key: "vCard file", "Desktop address book", ...
  };

  int lastFirst = 0;
  int flagFast = 0;
  int flagUCS2 = 0;
  int flagRecords = 0;
  Phonebook phonebook = Phonebook::SM;
  std::vector<Phonebook> phonebooks{Phonebook::SM};  // the choice's rows
  std::vector<AddressBookRow> addressBooks;          // the address book's rows
  int addressBook = -1;                              // the row ticked

 protected:
  void renderParts(nlohmann::json& screen) const override;
  kit::EventResult handleOwnEvent(const kit::Event& e) override;

 private:
  // A switch row of the modem's section and the flag it sets.
  struct SettingSwitch {
    const char* id;
    const char* title;  // string-table key
    int SetupViewController::*flag;
  };
  static const SettingSwitch kSwitches[];

  void loadAddressBooks();  // the rows, and which one paths_.contacts names

  Preferences& preferences_;
  kit::NavigationController& navigation_;
  Paths& paths_;
  int addressBookInUse_ = -1;  // the row of paths_.contacts
  kit::BarButton done_;
};

}  // namespace voryx
