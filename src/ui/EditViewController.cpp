#include "ui/EditViewController.h"

#include "base/Localized.h"
#include "ui/RootViewController.h"

namespace voryx {
namespace {

// A field as the screen builds it: 16-point text, no autocorrection or capitalisation.
kit::TextInput field(std::string id, kit::Rect frame, std::string text, bool multiline) {
  kit::TextInput f;
  f.id = std::move(id);
  f.frame = frame;
  f.text = std::move(text);
  f.multiline = multiline;
  f.fontSize = 16;
  f.returnNeedsText = true;
  if (!multiline) {
    f.roundedBorder = true;
    f.shrinkToFit = true;
    f.returnKeyDone = true;
    f.clearButton = true;
  }
  return f;
}

}  // namespace

EditViewController::EditViewController() : kit::Screen("EditViewController") {
  cancel_ = {"exit", "ko.png", "", {266, 140, 40, 40}, true, [this] { exit(); }};
  confirm_ = {"save", "ok.png", "", {266, 195, 40, 40}, true, [this] { save(); }};
  languageDidChange();
}

void EditViewController::languageDidChange() {
  setTitle(localized("edit value"));
  cancel_.label = localized("Cancel");
  confirm_.label = localized("Save");
  text1.placeholder = localized("Name");
  text2.placeholder = localized("Number");
  textview.placeholder = localized("Message");  // also what a screen reader calls it
}

void EditViewController::viewDidLoad() {
  if (phonebook()) {
    text1 = field("text1", {20, 150, 220, 30}, testo, false);
    text1.becomeFirstResponder();
  }
  if (message()) {
    textview = field("textview", {20, 90, 220, 90}, testo, true);
    textview.cornerRadius = 5;
    textview.becomeFirstResponder();
  }
  if (phonebook() || message()) {
    text2 = field("text2", {20, 200, 220, 30}, numero, false);
    text2.phonePad = true;
  }
  languageDidChange();
}

void EditViewController::save() { answer(tipo, phonebook() ? text1.text : textview.text, text2.text); }

void EditViewController::exit() { answer(RootViewController::kEditCancelled, testo, numero); }

void EditViewController::answer(int kind, const std::string& text, const std::string& number) {
  if (answered_ || !mainView) return;
  answered_ = true;
  // A refused text (a message longer than one SMS) stays here to be mended and saved again.
  if (!mainView->refresh(kind, text, number)) answered_ = false;
}

bool EditViewController::textFieldShouldReturn(kit::TextInput&) { return true; }

void EditViewController::renderParts(nlohmann::json& screen) const {
  screen["background"] = "grouped";
  nlohmann::json controls = {cancel_.render(), confirm_.render()};
  if (phonebook()) controls.push_back(text1.render());
  if (message()) controls.push_back(textview.render());
  if (phonebook() || message()) controls.push_back(text2.render());
  screen["controls"] = std::move(controls);
}

kit::EventResult EditViewController::handleOwnEvent(const kit::Event& e) {
  for (kit::ImageButton* b : {&cancel_, &confirm_}) {
    if (e.target != b->id) continue;
    if (e.action != "tap") return kit::invalidEvent("a button takes the action \"tap\"");
    if (!b->enabled) return kit::staleEvent(e.target + " is disabled");
    b->action();
    return kit::done();
  }
  kit::TextInput* input = nullptr;
  if (phonebook() && e.target == text1.id) input = &text1;
  if (message() && e.target == textview.id) input = &textview;
  if ((phonebook() || message()) && e.target == text2.id) input = &text2;
  if (!input) return Screen::handleOwnEvent(e);
  return input->handleEvent(e, [this, input] { return textFieldShouldReturn(*input); });
}

}  // namespace voryx
