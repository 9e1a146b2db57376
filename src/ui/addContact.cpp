#include "ui/addContact.h"

#include <algorithm>

#include "base/Localized.h"
#include "entries/Import.h"
#include "ui/RootViewController.h"
#include "ui/kit/NavigationController.h"

namespace voryx {

addContact::addContact(RootViewController& mainView, kit::NavigationController& navigation,
                       entries::Person contatto, std::string photo, int lastFirst)
    : kit::Screen("addContact"),
      mainView_(mainView),
      navigation_(navigation),
      contatto_(std::move(contatto)),
      photo_(std::move(photo)),
      lastFirst_(lastFirst) {
  addAll_.id = "add";
  addAll_.action = [this] { add(); };
  setRightButton(&addAll_);
  languageDidChange();
}

void addContact::languageDidChange() {
  addAll_.title = localized("Add all");
  for (std::size_t i = 0; i < contatti_.size(); ++i) contatti_[i].tipo = localized(contatto_.phones[i].label);
}

void addContact::viewDidLoad() {
  nome = entries::composeName(contatto_, lastFirst_, false);
  setTitle(nome);
  for (const auto& phone : contatto_.phones) contatti_.push_back({localized(phone.label), phone.number});
}

void addContact::tableViewWillSelectRowAtIndexPath(int row) {
  std::string number = contatti_[row].telefono;
  std::erase(number, ' ');
  mainView_.addEntry(nome, number);
}

void addContact::add() {
  mainView_.addEntries(nome, contatto_);
  navigation_.pop();
}

void addContact::renderParts(nlohmann::json& screen) const {
  screen["person"] = {{"name", nome}, {"photo", photo_.empty() ? nlohmann::json(nullptr) : nlohmann::json(photo_)}};
  nlohmann::json phones = nlohmann::json::array();
  for (std::size_t i = 0; i < contatti_.size(); ++i) {
    phones.push_back({{"id", "row:" + std::to_string(i)}, {"label", contatti_[i].tipo}, {"number", contatti_[i].telefono}});
  }
  screen["phones"] = std::move(phones);
  screen["placeholderPhoto"] = "NoImage.png";
}

kit::EventResult addContact::handleOwnEvent(const kit::Event& e) {
  if (!e.target.starts_with("row:")) return Screen::handleOwnEvent(e);
  auto row = kit::targetNumber(e.target, "row:");
  if (!row) return kit::invalidEvent("a row target is row:<index>");
  if (e.action != "tap") return kit::invalidEvent("a row takes the action \"tap\"");
  if (*row >= contatti_.size()) return kit::staleEvent("there is no row " + std::to_string(*row));
  tableViewWillSelectRowAtIndexPath(static_cast<int>(*row));
  return kit::done();
}

}  // namespace voryx
