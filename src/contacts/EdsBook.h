#pragma once
// The desktop's own address book: evolution-data-server (GNOME Contacts, Calls, Chatty and
// Evolution keep their contacts there), reached through libebook on the session bus. Each
// call connects, does its work and lets go; blocking, any thread but one at a time per
// process is enough (libebook's sync calls run their own main context). Without EDS
// support in the build every call answers Errc::NotFound, saying so, and no watch runs.
#include <functional>
#include <memory>
#include <string>
#include <thread>
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

// Adds the numbers to the contact `contactUid` of the book, after its own; a number the
// contact has already (as sameNumber compares them) is not added again. Errc::NotFound
// when the book no longer holds the contact.
Status addEdsPhones(const std::string& uid, const std::string& contactUid, const std::vector<entries::Phone>& phones);

// Calls `changed` (on a thread of its own) each time a contact of the book is added,
// changed or removed, from its construction until its destruction. Watching stops
// quietly when the book cannot be watched (no EDS): `watching()` says whether it runs.
class EdsWatch {
 public:
  EdsWatch(std::string uid, std::function<void()> changed);
  ~EdsWatch();
  EdsWatch(const EdsWatch&) = delete;
  EdsWatch& operator=(const EdsWatch&) = delete;
  // Blocks until the watch has started or failed to; whether it runs.
  bool watching();

  struct State;  // shared with the watch's thread

 private:
  std::shared_ptr<State> state_;
  std::thread thread_;
};

}  // namespace voryx::contacts
