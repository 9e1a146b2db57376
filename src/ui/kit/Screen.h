#pragma once
// A screen: a title, the navigation bar's left and right buttons, the toolbar, and
// whatever else the screen shows. render() is a pure function of the screen's state.
// Screens live on the main loop only.
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "ui/kit/Controls.h"
#include "ui/kit/Event.h"

namespace voryx::kit {

class Screen {
 public:
  explicit Screen(std::string name) : name_(std::move(name)) {}
  virtual ~Screen() = default;
  Screen(const Screen&) = delete;
  Screen& operator=(const Screen&) = delete;

  const std::string& name() const { return name_; }
  const std::string& title() const { return title_; }
  void setTitle(std::string title) { title_ = std::move(title); }
  bool hasLeftButton() const { return left_ != nullptr; }

  // Called once, before the screen is first shown.
  virtual void viewDidLoad() {}
  // Called each time the screen comes into view: pushed, presented, or uncovered by a
  // pop or a dismiss.
  virtual void viewDidAppear() {}
  // Called when the screen is taken off the stack or dismissed, by whatever did it (the
  // back button, a screen's own "Done"), before it goes.
  virtual void viewWillDisappear() {}
  // The application's language changed: fixed texts (title, buttons, placeholders) are to
  // be looked up again.
  virtual void languageDidChange() {}
  // Runs viewDidLoad the first time.
  void loadViewIfNeeded();

  // {"screen", "title", "left", "right", "toolbar", plus renderParts}.
  nlohmann::json render() const;
  // Taps on the bar buttons (409 when disabled); other targets go to handleOwnEvent.
  EventResult handleEvent(const Event& e);

 protected:
  // The buttons are owned by the screen (usually fields of it) and outlive these calls.
  void setLeftButton(BarButton* button) { left_ = button; }
  void setRightButton(BarButton* button) { right_ = button; }
  void setToolbarItems(std::vector<BarButton*> items) { toolbar_ = std::move(items); }

  virtual void renderParts(nlohmann::json& /*screen*/) const {}
  virtual EventResult handleOwnEvent(const Event& e);  // 400 unknown target

 private:
  std::string name_;
  std::string title_;
  bool loaded_ = false;
  BarButton* left_ = nullptr;
  BarButton* right_ = nullptr;
  std::vector<BarButton*> toolbar_;
};

}  // namespace voryx::kit
