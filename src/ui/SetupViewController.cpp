#include "ui/SetupViewController.h"

#include <algorithm>

#include "base/Localized.h"
#include "contacts/Book.h"

namespace voryx {

// One more switch is one more row here (and its flag stored in save()).
const SetupViewController::SettingSwitch SetupViewController::kSwitches[] = {
    {"ucs2", "Use UCS2 character set", &SetupViewController::flagUCS2},
    {"fast", "Fast transfers", &SetupViewController::flagFast},
    {"records", "Read the SIM's files directly", &SetupViewController::flagRecords},
};

namespace {

bool samePath(const std::filesystem::path& a, const std::filesystem::path& b) {
  return a.lexically_normal() == b.lexically_normal();
}

}  // namespace

SetupViewController::SetupViewController(Preferences& preferences, kit::NavigationController& navigation,
                                         Paths& paths)
    : kit::Screen("SetupViewController"), preferences_(preferences), navigation_(navigation), paths_(paths) {
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
  flagRecords = preferences_.integer(kPrefRecords, 0);
  phonebook = phonebookNamed(preferences_.text(kPrefPhonebook).value_or("SM")).value_or(Phonebook::SM);
  phonebooks = phonebooksIn(preferences_.text(kPrefPhonebooks).value_or(""));
  if (std::find(phonebooks.begin(), phonebooks.end(), Phonebook::SM) == phonebooks.end()) {
    phonebooks.insert(phonebooks.begin(), Phonebook::SM);
  }
  // The store chosen before stays choosable, whatever this modem offered.
  if (std::find(phonebooks.begin(), phonebooks.end(), phonebook) == phonebooks.end()) phonebooks.push_back(phonebook);
  loadAddressBooks();
}

void SetupViewController::loadAddressBooks() {
  addressBooks.clear();
  addressBookInUse_ = -1;
  const auto edsInUse = contacts::edsBookOf(paths_.contacts);
  for (const auto& book : contacts::desktopBooks()) {
    // "eds:" is the desktop's default book, whichever it is.
    if (edsInUse && (*edsInUse == book.uid || (edsInUse->empty() && book.isDefault))) {
      addressBookInUse_ = static_cast<int>(addressBooks.size());
    }
    addressBooks.push_back({"eds:" + book.uid, book.name,
                            book.isDefault ? "Desktop address book (default)" : "Desktop address book"});
  }
  if (!edsInUse && samePath(paths_.contacts, paths_.vcardBook())) addressBookInUse_ = static_cast<int>(addressBooks.size());
  addressBooks.push_back({paths_.vcardBook(), "", "vCard file"});
  // The book in use stays choosable (and shows ticked) whatever it is: a file or folder
  // named by hand, or a desktop book that does not answer now.
  if (addressBookInUse_ < 0) {
    std::error_code ec;
    const char* kind = edsInUse ? "Desktop address book"
                       : std::filesystem::is_directory(paths_.contacts, ec) ? "vCard folder"
                                                                             : "vCard file";
    addressBookInUse_ = static_cast<int>(addressBooks.size());
    addressBooks.push_back({paths_.contacts, "", kind});
  }
  addressBook = addressBookInUse_;
}

void SetupViewController::tableViewWillSelectRowAtIndexPath(int row) { lastFirst = row; }

void SetupViewController::save() { navigation_.pop(); }

void SetupViewController::viewWillDisappear() {
  preferences_.setValue(kPrefLastFirst, lastFirst);
  preferences_.setValue(kPrefFast, flagFast);
  preferences_.setValue(kPrefUcs2, flagUCS2);
  preferences_.setValue(kPrefRecords, flagRecords);
  preferences_.setText(kPrefPhonebook, std::string(phonebookKind(phonebook).code));
  if (addressBook != addressBookInUse_ && addressBook >= 0 && addressBook < static_cast<int>(addressBooks.size())) {
    paths_.contacts = addressBooks[addressBook].path;
    preferences_.setText(kPrefContacts, paths_.contacts.string());
    addressBookInUse_ = addressBook;
  }
  preferences_.synchronize();
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
  nlohmann::json switches = nlohmann::json::array();
  for (const SettingSwitch& row : kSwitches) {
    switches.push_back(kit::Switch{row.id, localized(row.title), this->*row.flag != 0}.render());
  }
  nlohmann::json books = nlohmann::json::array();
  for (Phonebook book : phonebooks) {
    const PhonebookKind& kind = phonebookKind(book);
    books.push_back({{"id", "book:" + std::string(kind.code)},
                     {"title", localized(kind.title) + " (" + std::string(kind.code) + ")"},
                     {"accessory", book == phonebook ? nlohmann::json("checkmark") : nlohmann::json(nullptr)}});
  }
  // A desktop book by its own name, its kind under it; a file or folder by its kind, its
  // path under it.
  nlohmann::json addressRows = nlohmann::json::array();
  for (std::size_t row = 0; row < addressBooks.size(); ++row) {
    const AddressBookRow& book = addressBooks[row];
    const bool named = !book.name.empty();
    addressRows.push_back(
        {{"id", "contacts:" + std::to_string(row)},
         {"title", named ? book.name : localized(book.kind)},
         {"detail", named ? localized(book.kind) : book.path.string()},
         {"accessory", static_cast<int>(row) == addressBook ? nlohmann::json("checkmark") : nlohmann::json(nullptr)}});
  }
  screen["sections"] = nlohmann::json::array(
      {{{"header", localized("SIM name format")}, {"rows", std::move(rows)}},
       {{"header", localized("Modem")}, {"rows", std::move(switches)}},
       {{"header", localized("Phonebook")}, {"rows", std::move(books)}},
       {{"header", localized("Address book")}, {"rows", std::move(addressRows)}}});
}

kit::EventResult SetupViewController::handleOwnEvent(const kit::Event& e) {
  for (const SettingSwitch& row : kSwitches) {
    if (e.target != row.id) continue;
    kit::Switch control{row.id, localized(row.title), this->*row.flag != 0};
    kit::EventResult result = control.handleEvent(e);
    this->*row.flag = control.on ? 1 : 0;
    return result;
  }
  if (e.target.starts_with("book:")) {
    if (e.action != "tap") return kit::invalidEvent("a row takes the action \"tap\"");
    const auto book = phonebookNamed(std::string_view(e.target).substr(5));
    if (!book || std::find(phonebooks.begin(), phonebooks.end(), *book) == phonebooks.end()) {
      return kit::staleEvent("there is no row " + e.target);
    }
    phonebook = *book;
    return kit::done();
  }
  if (e.target.starts_with("contacts:")) {
    auto row = kit::targetNumber(e.target, "contacts:");
    if (!row) return kit::invalidEvent("an address book's target is contacts:<index>");
    if (e.action != "tap") return kit::invalidEvent("a row takes the action \"tap\"");
    if (*row >= addressBooks.size()) return kit::staleEvent("there is no row " + e.target);
    addressBook = static_cast<int>(*row);
    return kit::done();
  }
  if (!e.target.starts_with("row:")) return Screen::handleOwnEvent(e);
  auto row = kit::targetNumber(e.target, "row:");
  if (!row) return kit::invalidEvent("a row target is row:<index>");
  if (e.action != "tap") return kit::invalidEvent("a row takes the action \"tap\"");
  if (*row >= 2) return kit::staleEvent("there is no row " + std::to_string(*row));
  tableViewWillSelectRowAtIndexPath(static_cast<int>(*row));
  return kit::done();
}

}  // namespace voryx
