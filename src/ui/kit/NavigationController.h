#pragma once
// The navigation stack (bottom to top, the top one shown) and one modal screen presented
// over it. Owns its screens; a screen taken off is released only after the main-loop
// task that took it off, so a screen may pop or dismiss itself from its own handler.
// Main loop only.
#include <functional>
#include <memory>
#include <vector>

#include <nlohmann/json.hpp>

#include "ui/kit/Controls.h"
#include "ui/kit/MainLoop.h"
#include "ui/kit/Screen.h"

namespace voryx::kit {

class NavigationController {
 public:
  // onRelease hears of each screen taken off, before it goes (to forget it as a
  // delegate).
  NavigationController(MainLoop& loop, std::function<void(Screen*)> onRelease);

  // The first screen; loads it and shows it. Once.
  void setRoot(std::unique_ptr<Screen> root);
  void push(std::unique_ptr<Screen> screen);
  // Takes the top screen off (never the root) and shows the one below again.
  void pop();
  // How a modal screen comes in and goes (the page animates it; rendered as
  // "transition": "coverVertical" / "pageCurl").
  enum class Transition { CoverVertical, PageCurl };
  // One modal at a time: presenting another replaces it.
  void present(std::unique_ptr<Screen> screen, Transition transition = Transition::CoverVertical);
  void dismiss();

  Screen* top() const { return stack_.empty() ? nullptr : stack_.back().get(); }
  Screen* modal() const { return modal_.get(); }
  // Every screen held: the stack from the bottom, then the modal one.
  std::vector<Screen*> screens() const;
  // The navigation controller's view: the navigation bar, the screens of the stack and
  // the toolbar (not alerts, sheets or the modal screen).
  const View& view() const { return view_; }

  // [screen, ...] with "back": {"id": "back", "title": title below} on pushed screens
  // that have no left button.
  nlohmann::json renderStack() const;
  nlohmann::json renderModal() const;  // the modal screen with its "transition"
  // "back" pops; anything else goes to the modal screen when there is one, else to the
  // top screen.
  EventResult handleEvent(const Event& e);

 private:
  void show(Screen& screen);
  void release(std::unique_ptr<Screen> screen);

  MainLoop& loop_;
  std::function<void(Screen*)> onRelease_;
  View view_;
  std::vector<std::unique_ptr<Screen>> stack_;
  std::unique_ptr<Screen> modal_;
  Transition transition_ = Transition::CoverVertical;
  std::vector<std::unique_ptr<Screen>> released_;
};

}  // namespace voryx::kit
