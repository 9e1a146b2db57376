#include "ui/PeoplePicker.h"

#include <algorithm>
#include <cctype>

#include "base/Localized.h"
#include "entries/Import.h"
#include "ui/RootViewController.h"

namespace voryx {
namespace {

constexpr std::size_t kLongestSearch = 256;

// Lower-case ASCII for a search that ignores case, as the main list's search does.
std::string folded(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::string numbersText(std::size_t n) {
  return std::to_string(n) + " " + localized(n == 1 ? "number" : "numbers");
}

}  // namespace

PeoplePicker::PeoplePicker(kit::UiApplication& app, RootViewController& delegate,
                           std::filesystem::path book, int lastFirst)
    : kit::Screen("PeoplePicker"), app_(app), delegate_(delegate), book_(std::move(book)), lastFirst_(lastFirst) {
  cancel_.id = "cancel";
  cancel_.action = [this] { delegate_.peoplePickerDidCancel(); };
  search_.id = "search";
  setRightButton(&cancel_);
  languageDidChange();
}

void PeoplePicker::languageDidChange() {
  setTitle(localized("Contacts"));
  cancel_.title = localized("Cancel");
  search_.placeholder = localized("Search");
  search_.cancelTitle = localized("Cancel");
}

std::string PeoplePicker::displayName(const entries::Person& person, int lastFirst) {
  if (!person.formatted.empty()) return person.formatted;
  return entries::composeName(person, lastFirst, true);
}

void PeoplePicker::viewDidLoad() {
  auto book = entries::readAddressBook(book_);
  if (!book) {
    empty_ = localized("No address book at") + " " + book_.string() + " (" + book.error().detail + ")";
    return;
  }
  persons_ = std::move(book->persons);
  for (const auto& person : persons_) {
    names_.push_back(displayName(person, lastFirst_));
    std::string url;
    if (!person.photo.empty() && person.photoType.starts_with("image/")) {
      url = app_.serveFile({person.photoType, "", person.photo});
    }
    photos_.push_back(std::move(url));
  }
  if (persons_.empty()) empty_ = localized("The address book is empty:") + " " + book_.string();
  filter();
}

void PeoplePicker::filter() {
  shown_.clear();
  const std::string wanted = folded(search_.text);
  for (std::size_t i = 0; i < persons_.size(); ++i) {
    if (wanted.empty() || folded(names_[i]).find(wanted) != std::string::npos) shown_.push_back(i);
  }
}

void PeoplePicker::renderParts(nlohmann::json& screen) const {
  screen["search"] = search_.render();
  nlohmann::json people = nlohmann::json::array();
  for (std::size_t row = 0; row < shown_.size(); ++row) {
    const std::size_t i = shown_[row];
    people.push_back({{"id", "row:" + std::to_string(row)},
                      {"name", names_[i]},
                      {"detail", numbersText(persons_[i].phones.size())},
                      {"photo", photos_[i].empty() ? nlohmann::json(nullptr) : nlohmann::json(photos_[i])}});
  }
  screen["people"] = std::move(people);
  screen["empty"] = empty_.empty() ? nlohmann::json(nullptr) : nlohmann::json(empty_);
  screen["placeholderPhoto"] = "NoImage.png";
}

kit::EventResult PeoplePicker::handleOwnEvent(const kit::Event& e) {
  if (e.target == search_.id) {
    if (e.value.is_string()) {
      const auto& text = e.value.get_ref<const std::string&>();
      if (text.size() > kLongestSearch) return kit::invalidEvent("the search text is too long");
      search_.text = text;
    } else if (!e.value.is_null()) {
      return kit::invalidEvent("the value is the search text");
    }
    if (e.action == "begin") {
      search_.showsCancel = true;
    } else if (e.action == "end" || e.action == "search") {
      search_.showsCancel = false;
    } else if (e.action == "cancel") {
      search_.showsCancel = false;
      search_.text.clear();
    } else if (e.action != "change") {
      return kit::invalidEvent("search takes begin, change, search, cancel or end");
    }
    filter();
    return kit::done();
  }
  if (e.target.starts_with("row:")) {
    auto row = kit::targetNumber(e.target, "row:");
    if (!row) return kit::invalidEvent("a row target is row:<index>");
    if (e.action != "tap") return kit::invalidEvent("a row takes the action \"tap\"");
    if (*row >= shown_.size()) return kit::staleEvent("there is no row " + std::to_string(*row));
    delegate_.peoplePickerDidSelectPerson(persons_[shown_[*row]], photos_[shown_[*row]]);
    return kit::done();
  }
  return Screen::handleOwnEvent(e);
}

}  // namespace voryx
