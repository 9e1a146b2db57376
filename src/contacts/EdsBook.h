#pragma once
// The desktop's own address book: evolution-data-server (GNOME Contacts, Calls, Chatty and
// Evolution keep their contacts there), reached through libebook on the session bus. Each
// call connects, does its work and lets go; blocking, any thread but one at a time per
// process is enough (libebook's sync calls run their own main context). Without EDS
// support in the build every call answers Errc::NotFound, saying so.
#include <string>
#include <vector>

#include "base/Result.h"
#include "entries/AddressBook.h"

namespace voryx::contacts {

struct EdsBookInfo {
  std::string uid;   // the source's UID, for "eds:<uid>"
  std::string name;  // as the address book programs show it
  bool isDefault = false;
};

// The enabled address books EDS offers, the default first. Errc::Io (with the reason)
// when no EDS answers on the session bus.
Result<std::vector<EdsBookInfo>> edsBooks();

// Every contact of the book `uid` ("" the default): names, organisation, phone numbers
// with their kinds as labels ("mobile", "home", "work", "other", ...), the UID.
Result<entries::AddressBook> readEdsBook(const std::string& uid);

// Creates the person as a new contact of the book; answers the new contact's UID.
Result<std::string> addEdsContact(const std::string& uid, const entries::Person& person);

}  // namespace voryx::contacts
