#pragma once
// The setup screen: which name comes first when names pass between the address book and
// the SIM (lastFirst), as a grouped table of two rows with the chosen one ticked, and the
// modem's settings as switch rows ("Use UCS2 character set": ucs2, "Fast transfers":
// fast, "Read the SIM's files directly": records), and which phonebook store the main
// screen shows (phonebook), of those the modem offered at the last read (phonebooks; the
// SIM phonebook always). "Done" and the back button both store them and go back: a
// switch the user turned stays turned, whichever way the screen is left. Pushed on the
// main screen's stack. Main loop only.
#include <vector>

#include "store/Phonebooks.h"
#include "store/Preferences.h"
#include "ui/kit/Controls.h"
#include "ui/kit/NavigationController.h"
#include "ui/kit/Screen.h"

namespace voryx {

class SetupViewController final : public kit::Screen {
 public:
  static constexpr double kRowHeight = 50;

  // The preferences and the navigation outlive the screen.
  SetupViewController(Preferences& preferences, kit::NavigationController& navigation);

  void viewDidLoad() override;  // "Done" and the stored settings
  void languageDidChange() override;
  void tableViewWillSelectRowAtIndexPath(int row);  // the row becomes the choice
  // Goes back; the settings are stored on the way (viewWillDisappear).
  void save();
  // Stores lastFirst, ucs2, fast, records and the phonebook and synchronises once.
  void viewWillDisappear() override;

  int lastFirst = 0;
  int flagFast = 0;
  int flagUCS2 = 0;
  int flagRecords = 0;
  Phonebook phonebook = Phonebook::SM;
  std::vector<Phonebook> phonebooks{Phonebook::SM};  // the choice's rows

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

  Preferences& preferences_;
  kit::NavigationController& navigation_;
  kit::BarButton done_;
};

}  // namespace voryx
