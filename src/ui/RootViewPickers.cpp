// The address book's screens the main screen opens: the people picker, the contact phone
// picker it leads to, and the unknown-person card of a row.
#include "ui/RootViewController.h"

#include <memory>

#include "entries/Import.h"
#include "ui/PeoplePicker.h"
#include "ui/UnknownPerson.h"
#include "ui/addContact.h"

namespace voryx {

void RootViewController::openPeoplePicker() {
  const int lastFirst = preferences_.integer(kPrefLastFirst, 0);
  app_.navigation().present(std::make_unique<PeoplePicker>(app_, *this, paths_.contacts, lastFirst));
}

void RootViewController::peoplePickerDidSelectPerson(const entries::Person& person, const std::string& photo) {
  const int lastFirst = preferences_.integer(kPrefLastFirst, 0);
  auto picker = std::make_unique<addContact>(*this, app_.navigation(), person, photo, lastFirst);
  app_.navigation().dismiss();
  app_.navigation().push(std::move(picker));
}

void RootViewController::peoplePickerDidCancel() { app_.navigation().dismiss(); }

void RootViewController::openUnknownPerson() {
  const int lastFirst = preferences_.integer(kPrefLastFirst, 0);
  app_.navigation().push(std::make_unique<UnknownPerson>(
      app_, *this, paths_.contacts, entries::personFromEntry(contatti[modifica], lastFirst), lastFirst));
}

void RootViewController::unknownPersonViewControllerDidResolveToPerson(const entries::Person&) {
  app_.navigation().pop();
}

}  // namespace voryx
