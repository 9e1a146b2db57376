#pragma once
// A SIM entry shown as a new address-book contact: its name split into first, middle and
// last name and its number as the main phone, with "Create New Contact", which adds the
// card to the address book, says so in a notice and hands the person back to the main
// screen. A person the book already holds (the same name, or the same number) is not
// added twice unasked: an alert names it and asks ("Cancel" / "Add anyway"). Where the
// book is the desktop's, "Add to Existing Contact" picks a person of the book, who gets
// the number. Pushed on the main screen's stack. Main loop only.
#include <filesystem>
#include <optional>
#include <string>

#include "entries/AddressBook.h"
#include "ui/PeoplePicker.h"
#include "ui/kit/Controls.h"
#include "ui/kit/Screen.h"
#include "ui/kit/UiApplication.h"

namespace voryx {

class RootViewController;

class UnknownPerson final : public kit::Screen, public kit::AlertDelegate, public PeoplePickerDelegate {
 public:
  UnknownPerson(kit::UiApplication& app, RootViewController& delegate, std::filesystem::path book,
                entries::Person person, int lastFirst);
  void languageDidChange() override;
  // Adds the card to the book (written whole or not at all), unless the book holds the
  // person already: then it asks first. On success the main screen hears of it, else an
  // alert says why.
  void create();
  void alertViewClickedButtonAtIndex(const kit::Alert& alert, int index) override;
  // The person picked for "Add to Existing Contact" gets the numbers; the main screen hears
  // of it as of a new contact.
  void peoplePickerDidSelectPerson(const entries::Person& person, const std::string& photo) override;
  void peoplePickerDidCancel() override;

  const entries::Person& person() const { return person_; }

 protected:
  void renderParts(nlohmann::json& screen) const override;
  kit::EventResult handleOwnEvent(const kit::Event& e) override;

 private:
  kit::UiApplication& app_;
  RootViewController& delegate_;
  const std::filesystem::path book_;
  entries::Person person_;
  const int lastFirst_;
  // The name of a person of the book with this person's name or number, or nothing.
  std::optional<std::string> alreadyInBook() const;
  void add();

  kit::BarButton create_;  // drawn as the card's actions
  kit::BarButton addToExisting_;
  bool created_ = false;
  int question_ = 0;  // the id of the "already in the address book" alert, while it is up
};

}  // namespace voryx
