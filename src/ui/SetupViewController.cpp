#include "ui/SetupViewController.h"

#include "base/Localized.h"

namespace voryx {

SetupViewController::SetupViewController(Preferences& preferences, kit::NavigationController& navigation)
    : kit::Screen("SetupViewController"), preferences_(preferences), navigation_(navigation) {
  done_.id = "done";
  done_.action = [this] { save(); };
  languageDidChange();
}

void SetupViewController::languageDidChange() {
  setTitle(localized("Setup"));
  done_.title = localized("Done");
}

void SetupViewController::viewDidLoad() {
  setRightButton(&done_);
  preferences_.synchronize();
  lastFirst = preferences_.integer(kPrefLastFirst, 0);
  flagFast = preferences_.integer(kPrefFast, 0);
  flagUCS2 = preferences_.integer(kPrefUcs2, 0);
}

void SetupViewController::tableViewWillSelectRowAtIndexPath(int row) { lastFirst = row; }

void SetupViewController::save() {
  preferences_.setValue(kPrefLastFirst, lastFirst);
  preferences_.setValue(kPrefFast, flagFast);
  preferences_.setValue(kPrefUcs2, flagUCS2);
  preferences_.synchronize();
  navigation_.pop();
}

void SetupViewController::renderParts(nlohmann::json& screen) const {
  nlohmann::json rows = nlohmann::json::array();
  const char* titles[] = {"Firstname/Lastname", "Lastname/Firstname"};
  for (int row = 0; row < 2; ++row) {
    rows.push_back({{"id", "row:" + std::to_string(row)},
                    {"title", localized(titles[row])},
                    {"accessory", row == lastFirst ? nlohmann::json("checkmark") : nlohmann::json(nullptr)}});
  }
  screen["background"] = "grouped";
  screen["rowHeight"] = kRowHeight;
  screen["sections"] = nlohmann::json::array({{{"header", localized("SIM name format")}, {"rows", std::move(rows)}}});
}

kit::EventResult SetupViewController::handleOwnEvent(const kit::Event& e) {
  if (!e.target.starts_with("row:")) return Screen::handleOwnEvent(e);
  auto row = kit::targetNumber(e.target, "row:");
  if (!row) return kit::invalidEvent("a row target is row:<index>");
  if (e.action != "tap") return kit::invalidEvent("a row takes the action \"tap\"");
  if (*row >= 2) return kit::staleEvent("there is no row " + std::to_string(*row));
  tableViewWillSelectRowAtIndexPath(static_cast<int>(*row));
  return kit::done();
}

}  // namespace voryx
