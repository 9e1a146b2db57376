#include "ui/PeoplePicker.h"

#include <algorithm>
#include <atomic>
#include <cctype>

#include "base/AtomicFile.h"
#include "base/Localized.h"
#include "store/Files.h"
#include "codec/GsmAlphabet.h"
#include "entries/Import.h"
#include "contacts/Book.h"

namespace voryx {
namespace {

constexpr std::size_t kLongestSearch = 256;
// The most an opened file may hold (as the book's own reader bounds a file).
constexpr std::size_t kLargestFile = static_cast<std::size_t>(entries::kMaxVCardFileBytes);

// Lower-case ASCII for a search that ignores case, as the main list's search does.
std::string folded(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::string numbersText(std::size_t n) {
  return std::to_string(n) + " " + localized(n == 1 ? "number" : "numbers");
}

}  // namespace

PeoplePicker::PeoplePicker(kit::UiApplication& app, PeoplePickerDelegate& delegate,
                           std::filesystem::path book, int lastFirst)
    : kit::Screen("PeoplePicker"), app_(app), delegate_(delegate), book_(std::move(book)), lastFirst_(lastFirst) {
  cancel_.id = "cancel";
  cancel_.action = [this] { delegate_.peoplePickerDidCancel(); };
  search_.id = "search";
  openFile_.id = "openFile";
  setRightButton(&cancel_);
  languageDidChange();
}

void PeoplePicker::languageDidChange() {
  setTitle(localized("Contacts"));
  cancel_.title = localized("Cancel");
  search_.placeholder = localized("Search");
  search_.cancelTitle = localized("Cancel");
  openFile_.title = localized("Open a .vcf file");
}

std::string PeoplePicker::displayName(const entries::Person& person, int lastFirst) {
  if (!person.formatted.empty()) return person.formatted;
  return entries::composeName(person, lastFirst, true);
}

void PeoplePicker::viewDidLoad() {
  if (auto uid = contacts::edsBookOf(book_)) {
    // The watch's thread asks the main loop to read again; changes that come while a
    // read is waiting make no second one.
    auto waiting = std::make_shared<std::atomic<bool>>(false);
    watch_ = std::make_unique<contacts::EdsWatch>(*uid, [&loop = app_.loop(), waiting, alive = std::weak_ptr(alive_), this] {
      if (waiting->exchange(true)) return;
      loop.performOnMain([waiting, alive, this] {
        waiting->store(false);
        if (alive.lock()) reread();
      });
    });
  }
  reread();
}

void PeoplePicker::reread() {
  if (ownFile_) return;
  auto book = contacts::readBook(book_);
  if (!book) {
    show({});
    empty_ = localized("No address book:") + " " + book.error().detail;
    return;
  }
  show(std::move(*book));
}

void PeoplePicker::show(entries::AddressBook book) {
  persons_ = std::move(book.persons);
  names_.clear();
  photos_.clear();
  for (const auto& person : persons_) {
    names_.push_back(displayName(person, lastFirst_));
    std::string url;
    if (!person.photo.empty() && person.photoType.starts_with("image/")) {
      url = app_.serveFile({person.photoType, "", person.photo});
    }
    photos_.push_back(std::move(url));
  }
  empty_ = persons_.empty() ? localized("The address book is empty:") + " " + book_.string() : "";
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
  screen["openFile"] = persons_.empty() ? openFile_.render() : nlohmann::json(nullptr);
}

// "begin" {"name", "size"}, then "chunk" pieces of the file as text whose characters are
// its bytes (U+0000 to U+00FF, as a browser reads a file as Latin-1), then "end".
kit::EventResult PeoplePicker::handleOpenFile(const kit::Event& e) {
  if (e.action == "begin") {
    const auto& v = e.value;
    if (!v.is_object() || !v.contains("name") || !v["name"].is_string() || !v.contains("size") ||
        !v["size"].is_number_unsigned()) {
      return kit::invalidEvent("begin takes {\"name\": text, \"size\": bytes}");
    }
    if (v["size"].get<std::uint64_t>() > kLargestFile) {
      app_.showAlert({localized("Open a .vcf file"),
                      localized("The file is too large for an address book:") + " " + v["name"].get<std::string>(),
                      nullptr, localized("Ok"), {}});
      return kit::done();
    }
    uploading_ = true;
    upload_.clear();
    uploadName_ = v["name"].get<std::string>();
    uploadSize_ = static_cast<std::size_t>(v["size"].get<std::uint64_t>());
    return kit::done();
  }
  if (!uploading_) return kit::staleEvent("no file is being opened");
  if (e.action == "chunk") {
    if (!e.value.is_string()) return kit::invalidEvent("a chunk is text");
    std::string bytes;
    for (char32_t c : codec::utf8ToCodePoints(e.value.get_ref<const std::string&>())) {
      if (c > 0xFF) {
        uploading_ = false;
        return kit::invalidEvent("a chunk holds characters U+0000 to U+00FF only");
      }
      bytes += static_cast<char>(c);
    }
    if (upload_.size() + bytes.size() > uploadSize_) {
      uploading_ = false;
      return kit::invalidEvent("more bytes than the file announced");
    }
    upload_ += bytes;
    return kit::done();
  }
  if (e.action == "end") {
    uploading_ = false;
    if (upload_.size() != uploadSize_) return kit::invalidEvent("fewer bytes than the file announced");
    opened();
    return kit::done();
  }
  return kit::invalidEvent("openFile takes begin, chunk or end");
}

void PeoplePicker::opened() {
  entries::AddressBook book = entries::parseVCards(upload_, uploadName_);
  std::error_code ec;
  if (!book.persons.empty() && !contacts::edsBookOf(book_) && !std::filesystem::exists(book_, ec)) {
    // No book yet: this file becomes it. The desktop's book is never replaced by a file;
    // its persons are shown for this pick only.
    if (!book_.parent_path().empty()) createPrivateFolders(book_.parent_path(), ec);
    auto created = createFileAtomically(book_, upload_, 0600);
    if (!created) {
      app_.showAlert({localized("Open a .vcf file"),
                      localized("The file could not be kept as the address book:") + " " + created.error().detail,
                      nullptr, localized("Ok"), {}});
    }
  }
  upload_.clear();
  upload_.shrink_to_fit();
  if (book.persons.empty()) {
    app_.showAlert({localized("Open a .vcf file"), localized("The file holds no contact.") + " " + uploadName_,
                    nullptr, localized("Ok"), {}});
    return;
  }
  ownFile_ = true;
  show(std::move(book));
}

kit::EventResult PeoplePicker::handleOwnEvent(const kit::Event& e) {
  if (e.target == openFile_.id) return handleOpenFile(e);
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
