#include "contacts/Book.h"

#include <cstdlib>
#include <utility>

namespace voryx::contacts {

std::optional<std::string> edsBookOf(const std::filesystem::path& book) {
  const std::string text = book.string();
  if (!text.starts_with("eds:")) return std::nullopt;
  return text.substr(4);
}

Result<entries::AddressBook> readBook(const std::filesystem::path& book) {
  if (auto uid = edsBookOf(book)) return readEdsBook(*uid);
  return entries::readAddressBook(book);
}

Status addToBook(const std::filesystem::path& book, const entries::Person& person) {
  if (auto uid = edsBookOf(book)) {
    auto added = addEdsContact(*uid, person);
    if (!added) return added.error();
    return Ok{};
  }
  return entries::addToAddressBook(book, person);
}

Status addToPerson(const std::filesystem::path& book, const entries::Person& person,
                   const std::vector<entries::Phone>& phones) {
  auto uid = edsBookOf(book);
  if (!uid) return Error{Errc::Invalid, "numbers are added to a contact of the desktop's address book only"};
  if (person.uid.empty()) return Error{Errc::NotFound, "the contact has no UID"};
  return addEdsPhones(*uid, person.uid, phones);
}

bool addsToPersons(const std::filesystem::path& book) { return edsBookOf(book).has_value(); }

std::vector<EdsBookInfo> desktopBooks() {
  // Only where a session bus is: asked without one, GLib would try to start one.
  const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  std::error_code ec;
  const bool bus = (address && *address) ||
                   (runtime && *runtime && std::filesystem::exists(std::filesystem::path(runtime) / "bus", ec));
  if (!bus) return {};
  auto books = edsBooks();
  return books ? std::move(*books) : std::vector<EdsBookInfo>{};
}

bool edsAnswers() {
  const auto books = desktopBooks();
  return !books.empty() && books.front().isDefault;
}

}  // namespace voryx::contacts
