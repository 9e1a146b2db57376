#pragma once
// The contact phone picker: one person of the address book (photo and name) with the
// list of the person's numbers, each with its label. A tap hands that number to the main
// screen as an entry under the person's name; "Add all" hands every number over and
// closes the screen. Pushed on the main screen's stack. Main loop only.
#include <string>
#include <vector>

#include "entries/AddressBook.h"
#include "ui/kit/Controls.h"
#include "ui/kit/NavigationController.h"
#include "ui/kit/Screen.h"

namespace voryx {

class RootViewController;

class addContact final : public kit::Screen {
 public:
  // `photo`: the page's URL of the person's photo, or "" for the placeholder.
  addContact(RootViewController& mainView, kit::NavigationController& navigation,
             entries::Person contatto, std::string photo, int lastFirst);

  void viewDidLoad() override;  // the name, the rows of numbers, "Add all"
  void languageDidChange() override;
  // A tap on a number: the number without its blanks, under the screen's name.
  void tableViewWillSelectRowAtIndexPath(int row);
  // "Add all": the person to the main screen's addEntries (which names the entries as the
  // import does, leaves out the numbers on the list already and says what it did); then
  // the screen goes.
  void add();

  std::string nome;  // the composed name; also the name the entries get

 protected:
  void renderParts(nlohmann::json& screen) const override;
  kit::EventResult handleOwnEvent(const kit::Event& e) override;

 private:
  struct PhoneRow {
    std::string tipo;      // the label's text
    std::string telefono;  // the number as the book has it
  };

  RootViewController& mainView_;
  kit::NavigationController& navigation_;
  const entries::Person contatto_;
  const std::string photo_;
  const int lastFirst_;
  kit::BarButton addAll_;
  std::vector<PhoneRow> contatti_;
};

}  // namespace voryx
