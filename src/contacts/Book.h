#pragma once
// The address book in use, named by one path: "eds:" is evolution-data-server's default
// book, "eds:<uid>" one of its books (voryx contacts --books lists them), any other path a
// vCard file or a folder of them ("./eds:x" for a file of that name). The screens and the
// shell read and add through here, whichever it is. Blocking; any thread.
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "base/Result.h"
#include "contacts/EdsBook.h"
#include "entries/AddressBook.h"

namespace voryx::contacts {

// The EDS book's UID ("" the default) when the path names one.
std::optional<std::string> edsBookOf(const std::filesystem::path& book);

// Every person of the book; as entries::readAddressBook for a vCard path.
Result<entries::AddressBook> readBook(const std::filesystem::path& book);

// Adds the person; as entries::addToAddressBook for a vCard path.
Status addToBook(const std::filesystem::path& book, const entries::Person& person);

// Adds the numbers to the book's `person` (found by its UID), after its own; numbers it has
// already are left out. Only the desktop's books take them (addsToPersons); a vCard
// file's cards are only ever added whole.
Status addToPerson(const std::filesystem::path& book, const entries::Person& person,
                   const std::vector<entries::Phone>& phones);
bool addsToPersons(const std::filesystem::path& book);

// The desktop's address books as edsBooks() lists them, where a session bus is; none
// where there is no bus or no EDS answers on it (never an error: a choice of books simply
// has no desktop books then).
std::vector<EdsBookInfo> desktopBooks();

// Whether EDS answers with a default address book (used when nothing names a book).
bool edsAnswers();

}  // namespace voryx::contacts
