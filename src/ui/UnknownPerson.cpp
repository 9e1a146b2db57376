#include "ui/UnknownPerson.h"

#include "base/Localized.h"
#include "ui/RootViewController.h"

namespace voryx {

UnknownPerson::UnknownPerson(kit::UiApplication& app, RootViewController& delegate,
                             std::filesystem::path book, entries::Person person)
    : kit::Screen("UnknownPerson"), app_(app), delegate_(delegate), book_(std::move(book)), person_(std::move(person)) {
  create_.id = "create";
  create_.action = [this] { create(); };
  languageDidChange();
}

void UnknownPerson::languageDidChange() {
  setTitle(localized("Unknown"));
  create_.title = localized("Create New Contact");
}

void UnknownPerson::create() {
  if (created_) return;
  if (Status added = entries::addToAddressBook(book_, person_); !added) {
    app_.showAlert({localized("Create New Contact"),
                    localized("The contact was not added to the address book.") + "\n" + added.error().detail,
                    nullptr, localized("Ok"), {}});
    return;
  }
  created_ = true;
  delegate_.unknownPersonViewControllerDidResolveToPerson(person_);
}

void UnknownPerson::renderParts(nlohmann::json& screen) const {
  std::string heading;
  for (const std::string* part : {&person_.first, &person_.middle, &person_.last}) {
    if (part->empty()) continue;
    if (!heading.empty()) heading += ' ';
    heading += *part;
  }
  nlohmann::json fields = nlohmann::json::array();
  const std::pair<const char*, const std::string*> names[] = {
      {"First name", &person_.first}, {"Middle name", &person_.middle}, {"Last name", &person_.last}};
  for (const auto& [label, value] : names) {
    if (!value->empty()) fields.push_back({{"label", localized(label)}, {"value", *value}});
  }
  for (const auto& phone : person_.phones) fields.push_back({{"label", localized(phone.label)}, {"value", phone.number}});
  screen["card"] = {{"photo", nullptr}, {"heading", heading}, {"fields", std::move(fields)}};
  screen["actions"] = nlohmann::json::array({create_.render()});
  screen["placeholderPhoto"] = "NoImage.png";
}

kit::EventResult UnknownPerson::handleOwnEvent(const kit::Event& e) {
  if (e.target != create_.id) return Screen::handleOwnEvent(e);
  if (e.action != "tap") return kit::invalidEvent("a button takes the action \"tap\"");
  create();
  return kit::done();
}

}  // namespace voryx
