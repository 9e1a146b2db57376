#pragma once
// The setup screen: which name comes first when names pass between the address book and
// the SIM (lastFirst), as a grouped table of two rows with the chosen one ticked. "Done"
// stores the choice and goes back; the back button leaves it unstored. Pushed on the
// main screen's stack. Main loop only.
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
  // Stores lastFirst, and fast and ucs2 as they were read (no control changes them
  // here yet), synchronises once and goes back.
  void save();

  int lastFirst = 0;
  int flagFast = 0;
  int flagUCS2 = 0;

 protected:
  void renderParts(nlohmann::json& screen) const override;
  kit::EventResult handleOwnEvent(const kit::Event& e) override;

 private:
  Preferences& preferences_;
  kit::NavigationController& navigation_;
  kit::BarButton done_;
};

}  // namespace voryx
