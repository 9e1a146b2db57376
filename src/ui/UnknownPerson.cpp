#include "ui/UnknownPerson.h"

#include <memory>

#include "base/Localized.h"
#include "ui/Notices.h"
#include "ui/RootViewController.h"
#include "contacts/Book.h"

namespace voryx {

UnknownPerson::UnknownPerson(kit::UiApplication& app, RootViewController& delegate,
                             std::filesystem::path book, entries::Person person, int lastFirst)
    : kit::Screen("UnknownPerson"),
      app_(app),
      delegate_(delegate),
      book_(std::move(book)),
      person_(std::move(person)),
      lastFirst_(lastFirst) {
  create_.id = "create";
  create_.action = [this] { create(); };
  addToExisting_.id = "addToExisting";
  addToExisting_.action = [this] {
    if (created_ || question_ != 0) return;
    app_.navigation().present(std::make_unique<PeoplePicker>(app_, *this, book_, lastFirst_));
  };
  languageDidChange();
}

void UnknownPerson::languageDidChange() {
  setTitle(localized("Unknown"));
  create_.title = localized("Create New Contact");
  addToExisting_.title = localized("Add to Existing Contact");
}

void UnknownPerson::peoplePickerDidSelectPerson(const entries::Person& picked, const std::string&) {
  const entries::Person person = picked;  // the picker's, which the dismissal ends
  app_.navigation().dismiss();
  if (Status added = contacts::addToPerson(book_, person, person_.phones); !added) {
    app_.showAlert({localized("Add to Existing Contact"),
                    localized("The number was not added to the contact.") + "\n" + added.error().detail, nullptr,
                    localized("Ok"), {}});
    return;
  }
  created_ = true;
  const std::string name = PeoplePicker::displayName(person, lastFirst_);
  app_.showNotice(notices::filled("The number was added to %s", {name}));
  delegate_.unknownPersonViewControllerDidResolveToPerson(person);
}

void UnknownPerson::peoplePickerDidCancel() { app_.navigation().dismiss(); }

namespace {

// A number as digits (and a leading "+"), so that "+39 055 123" and "+39055123" match.
std::string digitsOf(std::string_view number) {
  std::string out;
  for (char c : number) {
    if ((c >= '0' && c <= '9') || (c == '+' && out.empty())) out += c;
  }
  return out;
}

// The person's name as the card's heading shows it.
std::string fullName(const entries::Person& p) {
  std::string name;
  for (const std::string* part : {&p.first, &p.middle, &p.last}) {
    if (part->empty()) continue;
    if (!name.empty()) name += ' ';
    name += *part;
  }
  return name;
}

}  // namespace

std::optional<std::string> UnknownPerson::alreadyInBook() const {
  auto book = contacts::readBook(book_);
  if (!book) return std::nullopt;  // no book yet, or none readable: the add says what fails
  const std::string name = fullName(person_);
  for (const entries::Person& other : book->persons) {
    const std::string otherName = fullName(other).empty() ? other.formatted : fullName(other);
    bool same = !name.empty() && (name == otherName || name == other.formatted);
    for (const entries::Phone& mine : person_.phones) {
      for (const entries::Phone& theirs : other.phones) {
        const std::string digits = digitsOf(mine.number);
        same = same || (!digits.empty() && digits == digitsOf(theirs.number));
      }
    }
    if (same) return otherName.empty() ? name : otherName;
  }
  return std::nullopt;
}

void UnknownPerson::create() {
  if (created_ || question_ != 0) return;
  if (auto held = alreadyInBook()) {
    question_ = app_.showAlert({localized("Create New Contact"),
                                notices::filled("%s is already in the address book.", {*held}), this,
                                localized("Cancel"), {localized("Add anyway")}});
    return;
  }
  add();
}

void UnknownPerson::alertViewClickedButtonAtIndex(const kit::Alert& alert, int index) {
  if (alert.id != question_) return;
  question_ = 0;
  if (index == 1) add();
}

void UnknownPerson::add() {
  if (created_) return;
  if (Status added = contacts::addToBook(book_, person_); !added) {
    app_.showAlert({localized("Create New Contact"),
                    localized("The contact was not added to the address book.") + "\n" + added.error().detail,
                    nullptr, localized("Ok"), {}});
    return;
  }
  created_ = true;
  const std::string name = fullName(person_);
  app_.showNotice(notices::filled("%s was added to the address book", {name.empty() ? localized("The contact") : name}));
  delegate_.unknownPersonViewControllerDidResolveToPerson(person_);
}

void UnknownPerson::renderParts(nlohmann::json& screen) const {
  const std::string heading = fullName(person_);
  nlohmann::json fields = nlohmann::json::array();
  const std::pair<const char*, const std::string*> names[] = {
      {"First name", &person_.first}, {"Middle name", &person_.middle}, {"Last name", &person_.last}};
  for (const auto& [label, value] : names) {
    if (!value->empty()) fields.push_back({{"label", localized(label)}, {"value", *value}});
  }
  for (const auto& phone : person_.phones) fields.push_back({{"label", localized(phone.label)}, {"value", phone.number}});
  screen["card"] = {{"photo", nullptr}, {"heading", heading}, {"fields", std::move(fields)}};
  screen["actions"] = nlohmann::json::array({create_.render()});
  if (contacts::addsToPersons(book_)) screen["actions"].push_back(addToExisting_.render());
  screen["placeholderPhoto"] = "NoImage.png";
}

kit::EventResult UnknownPerson::handleOwnEvent(const kit::Event& e) {
  const bool toExisting = e.target == addToExisting_.id && contacts::addsToPersons(book_);
  if (e.target != create_.id && !toExisting) return Screen::handleOwnEvent(e);
  if (e.action != "tap") return kit::invalidEvent("a button takes the action \"tap\"");
  (toExisting ? addToExisting_ : create_).action();
  return kit::done();
}

}  // namespace voryx
