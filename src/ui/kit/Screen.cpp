#include "ui/kit/Screen.h"

namespace voryx::kit {

void Screen::loadViewIfNeeded() {
  if (loaded_) return;
  loaded_ = true;
  viewDidLoad();
}

nlohmann::json Screen::render() const {
  nlohmann::json toolbar = nlohmann::json::array();
  for (const auto* b : toolbar_) toolbar.push_back(b->render());
  nlohmann::json out = {{"screen", name_},
                        {"title", title_},
                        {"left", left_ ? left_->render() : nlohmann::json(nullptr)},
                        {"right", right_ ? right_->render() : nlohmann::json(nullptr)},
                        {"toolbar", std::move(toolbar)}};
  renderParts(out);
  return out;
}

EventResult Screen::handleEvent(const Event& e) {
  BarButton* button = nullptr;
  for (auto* b : {left_, right_}) {
    if (b && b->id == e.target) button = b;
  }
  for (auto* b : toolbar_) {
    if (b->id == e.target) button = b;
  }
  if (!button) return handleOwnEvent(e);
  if (e.action != "tap") return invalidEvent("a button takes the action \"tap\"");
  if (!button->enabled) return staleEvent(e.target + " is disabled");
  if (button->action) button->action();
  return done();
}

EventResult Screen::handleOwnEvent(const Event& e) {
  return invalidEvent("no element \"" + e.target + "\" on this screen");
}

}  // namespace voryx::kit
