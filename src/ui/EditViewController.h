#pragma once
// The edit screen: one entry's name (or message text) and number, presented over the main
// screen. It neither checks nor stores anything: confirm and cancel hand the texts to
// the main screen (refresh), which stores them and dismisses this screen half a second
// later, or refuses them with an alert and leaves this screen open. Main loop only.
#include <string>

#include "ui/kit/Controls.h"
#include "ui/kit/Screen.h"

namespace voryx {

class RootViewController;

class EditViewController final : public kit::Screen {
 public:
  EditViewController();  // title "edit value"

  // Set by the main screen before the screen is presented.
  RootViewController* mainView = nullptr;  // receives the answer; outlives this screen
  std::string testo;   // the name or message text at the start
  std::string numero;  // the number at the start
  // What is edited: 0 or kTipoPhonebookEntry a phonebook entry (name and number), 1 or
  // kTipoMessage a message (text and number); anything else shows no fields.
  static constexpr int kTipoPhonebookEntry = 2;
  static constexpr int kTipoMessage = 3;
  int tipo = kTipoPhonebookEntry;

  // Builds the fields `tipo` asks for; the name or message field takes the focus.
  void viewDidLoad() override;
  void languageDidChange() override;  // title, placeholders and button labels
  // Confirm: the kind, the name (or message text) and the number as they stand now.
  void save();
  // Cancel: kind 99 and the texts as they were at the start.
  void exit();
  // Return in a single-line field: the field gives up the focus.
  bool textFieldShouldReturn(kit::TextInput& field);

  kit::TextInput text1;     // the name (phonebook)
  kit::TextInput textview;  // the message text (SMS store)
  kit::TextInput text2;     // the number

 protected:
  void renderParts(nlohmann::json& screen) const override;
  kit::EventResult handleOwnEvent(const kit::Event& e) override;

 private:
  bool phonebook() const { return tipo == 0 || tipo == kTipoPhonebookEntry; }
  bool message() const { return tipo == 1 || tipo == kTipoMessage; }
  void answer(int kind, const std::string& text, const std::string& number);

  kit::ImageButton cancel_;
  kit::ImageButton confirm_;
  // The main screen has the answer: the screen is on its way out, and a second tap on
  // confirm must not add the entry twice.
  bool answered_ = false;
};

}  // namespace voryx
