#include "ui/kit/NavigationController.h"

namespace voryx::kit {

NavigationController::NavigationController(MainLoop& loop,
                                           std::function<void(Screen*)> onRelease)
    : loop_(loop), onRelease_(std::move(onRelease)) {}

void NavigationController::show(Screen& screen) {
  screen.loadViewIfNeeded();
  screen.viewDidAppear();
}

void NavigationController::release(std::unique_ptr<Screen> screen) {
  if (onRelease_) onRelease_(screen.get());
  released_.push_back(std::move(screen));
  loop_.performOnMain([this] { released_.clear(); });
}

void NavigationController::setRoot(std::unique_ptr<Screen> root) {
  stack_.push_back(std::move(root));
  show(*stack_.back());
}

void NavigationController::push(std::unique_ptr<Screen> screen) {
  stack_.push_back(std::move(screen));
  show(*stack_.back());
}

void NavigationController::pop() {
  if (stack_.size() < 2) return;
  stack_.back()->viewWillDisappear();
  auto gone = std::move(stack_.back());
  stack_.pop_back();
  release(std::move(gone));
  if (!modal_) show(*stack_.back());
}

void NavigationController::present(std::unique_ptr<Screen> screen, Transition transition) {
  if (modal_) {
    modal_->viewWillDisappear();
    release(std::move(modal_));
  }
  modal_ = std::move(screen);
  transition_ = transition;
  show(*modal_);
}

void NavigationController::dismiss() {
  if (!modal_) return;
  modal_->viewWillDisappear();
  release(std::move(modal_));
  if (!stack_.empty()) show(*stack_.back());
}

std::vector<Screen*> NavigationController::screens() const {
  std::vector<Screen*> all;
  for (const auto& s : stack_) all.push_back(s.get());
  if (modal_) all.push_back(modal_.get());
  return all;
}

nlohmann::json NavigationController::renderStack() const {
  nlohmann::json out = nlohmann::json::array();
  for (std::size_t i = 0; i < stack_.size(); ++i) {
    nlohmann::json screen = stack_[i]->render();
    screen["back"] = nullptr;
    if (i > 0 && !stack_[i]->hasLeftButton()) {
      screen["back"] = {{"id", "back"}, {"title", stack_[i - 1]->title()}};
    }
    out.push_back(std::move(screen));
  }
  return out;
}

nlohmann::json NavigationController::renderModal() const {
  if (!modal_) return nullptr;
  nlohmann::json screen = modal_->render();
  screen["transition"] = transition_ == Transition::PageCurl ? "pageCurl" : "coverVertical";
  return screen;
}

EventResult NavigationController::handleEvent(const Event& e) {
  if (modal_) return modal_->handleEvent(e);
  if (e.target == "back") {
    if (e.action != "tap") return invalidEvent("back takes the action \"tap\"");
    if (stack_.size() < 2 || stack_.back()->hasLeftButton()) {
      return staleEvent("there is no back button");
    }
    pop();
    return done();
  }
  if (stack_.empty()) return staleEvent("no screen is shown");
  return stack_.back()->handleEvent(e);
}

}  // namespace voryx::kit
