#pragma once
// The address book's people picker: every person of the book by name with a small
// photo, in the book's order, narrowed by a search field as the user types. A tap hands
// the person to the main screen; "Cancel" tells it so. Presented over the main screen.
// When the book is missing or empty, the screen says where it looked and offers to open
// a .vcf file from the browser: the page sends its bytes in pieces ("openFile" events);
// the file becomes the address book when there is none yet, else its persons are shown
// for this pick only. A book of the desktop's is watched while the picker is up: a contact
// added, changed or removed elsewhere shows at once. Main loop only.
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "contacts/EdsBook.h"
#include "entries/AddressBook.h"
#include "ui/kit/Controls.h"
#include "ui/kit/Screen.h"
#include "ui/kit/UiApplication.h"

namespace voryx {

// Who hears of the pick.
class PeoplePickerDelegate {
 public:
  virtual void peoplePickerDidSelectPerson(const entries::Person& person, const std::string& photo) = 0;
  virtual void peoplePickerDidCancel() = 0;

 protected:
  ~PeoplePickerDelegate() = default;
};

class PeoplePicker final : public kit::Screen {
 public:
  // The application and the delegate outlive the picker.
  PeoplePicker(kit::UiApplication& app, PeoplePickerDelegate& delegate, std::filesystem::path book,
               int lastFirst);

  // Reads the address book; its photos are handed to the page as files.
  void viewDidLoad() override;
  void languageDidChange() override;

  // How the picker lists a person: the card's formatted name, else the composed one.
  static std::string displayName(const entries::Person& person, int lastFirst);

 protected:
  void renderParts(nlohmann::json& screen) const override;
  kit::EventResult handleOwnEvent(const kit::Event& e) override;

 private:
  void filter();  // shown_ from the search text
  void show(entries::AddressBook book);
  void reread();  // the book once more, after the watch saw it change
  kit::EventResult handleOpenFile(const kit::Event& e);
  void opened();  // the whole file has come

  kit::UiApplication& app_;
  PeoplePickerDelegate& delegate_;
  const std::filesystem::path book_;
  const int lastFirst_;
  kit::BarButton cancel_;
  kit::SearchBar search_;
  std::vector<entries::Person> persons_;
  std::vector<std::string> names_;      // displayName of each person
  std::vector<std::string> photos_;     // the page's URL of each person's photo, or ""
  std::vector<std::size_t> shown_;      // indexes of the persons the search lets through
  std::string empty_;                   // why there is nobody to show, or ""
  kit::BarButton openFile_;             // offered while there is nobody to show
  std::string upload_;                  // the bytes of a file being opened
  std::string uploadName_;
  std::size_t uploadSize_ = 0;          // what its first piece announced
  bool uploading_ = false;
  bool ownFile_ = false;  // the persons shown are an opened file's, not the book's
  std::shared_ptr<char> alive_ = std::make_shared<char>();  // what the watch's calls ask first
  std::unique_ptr<contacts::EdsWatch> watch_;
};

}  // namespace voryx
