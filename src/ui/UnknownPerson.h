#pragma once
// A SIM entry shown as a new address-book contact: its name split into first, middle and
// last name and its number as the main phone, with "Create New Contact", which adds the
// card to the address book and hands the person back to the main screen. Pushed on the
// main screen's stack. Main loop only.
#include <filesystem>
#include <string>

#include "entries/AddressBook.h"
#include "ui/kit/Controls.h"
#include "ui/kit/Screen.h"
#include "ui/kit/UiApplication.h"

namespace voryx {

class RootViewController;

class UnknownPerson final : public kit::Screen {
 public:
  UnknownPerson(kit::UiApplication& app, RootViewController& delegate, std::filesystem::path book,
                entries::Person person);
  void languageDidChange() override;
  // Adds the card to the book (written whole or not at all); on success the main screen
  // hears of it, else an alert says why.
  void create();

  const entries::Person& person() const { return person_; }

 protected:
  void renderParts(nlohmann::json& screen) const override;
  kit::EventResult handleOwnEvent(const kit::Event& e) override;

 private:
  kit::UiApplication& app_;
  RootViewController& delegate_;
  const std::filesystem::path book_;
  entries::Person person_;
  kit::BarButton create_;  // drawn as the card's action
  bool created_ = false;
};

}  // namespace voryx
