#pragma once
// Alerts and action sheets. Button indexes follow the toolkit the screens were written
// for: an alert's cancel button is index 0 when there is one, its other buttons follow;
// a sheet's buttons come first and its cancel button after them. A button closes its
// alert or sheet, then tells the delegate (if any), on the main loop. A delegate must
// outlive what it is the delegate of, or be forgotten with
// UiApplication::forgetDelegate first.
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace voryx::kit {

struct Alert;
struct ActionSheet;

class AlertDelegate {
 public:
  virtual ~AlertDelegate() = default;
  virtual void alertViewClickedButtonAtIndex(const Alert& alert, int index) = 0;
};

class ActionSheetDelegate {
 public:
  virtual ~ActionSheetDelegate() = default;
  virtual void actionSheetClickedButtonAtIndex(const ActionSheet& sheet, int index) = 0;
};

// A text field in an alert (the SIM's PIN question). The page keeps what the user types;
// it comes back only with the button tap, into `text` of the alert the delegate hears. No
// snapshot carries it.
struct AlertTextField {
  bool secure = false;  // drawn as a password field: hidden, never filled in by the browser
  std::string placeholder;
  std::string text;  // what was typed, as the tap brought it
};

struct Alert {
  std::string title;
  std::string message;
  AlertDelegate* delegate = nullptr;
  std::optional<std::string> cancelButton;
  std::vector<std::string> otherButtons;
  std::optional<AlertTextField> textField{};
  int id = 0;  // given when shown

  std::vector<std::string> buttons() const;  // by index
  nlohmann::json render() const;
};

struct ActionSheet {
  std::string title;
  ActionSheetDelegate* delegate = nullptr;
  std::optional<std::string> cancelButton;
  std::vector<std::string> otherButtons;
  std::string message{};  // a line under the title (what a changed row replaces); "" none
  int id = 0;  // given when shown

  std::vector<std::string> buttons() const;  // by index
  nlohmann::json render() const;
};

}  // namespace voryx::kit
