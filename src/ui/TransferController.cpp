#include "ui/TransferController.h"

#include "base/Localized.h"
#include "transfer/SimState.h"

namespace voryx {
namespace {

// A read's caption, and a write's that starts with a note, have several lines; a write's
// own has one.
kit::Overlay progressOverlay(bool write, const std::string& note) {
  if (write && note.empty()) return waitOverlay(localized("WInitializing..."), true);
  return waitOverlay(write ? note : localized("RInitializing..."), false);
}

}  // namespace

kit::Overlay waitOverlay(const std::string& caption, bool oneLine) {
  constexpr kit::Rect kCentred{(320 - 50) / 2.0, (480 - 50) / 2.0, 50, 50};
  kit::Overlay o;
  o.frame = {0, 0, 320, 480};
  o.alpha = 0.75;
  o.spinner = true;
  o.caption = caption;
  if (oneLine) {
    o.spinnerFrame = kCentred;
    o.captionFrame = {20, 130, 280, 50};
    o.captionLines = 1;
    o.labelFrame = {20, 280, 280, 50};
  } else {
    o.spinnerFrame = {kCentred.x, kCentred.y + 35, kCentred.width, kCentred.height};
    o.captionFrame = {20, 100, 280, 150};
    o.captionLines = 0;
    o.labelFrame = {20, 320, 280, 50};
  }
  return o;
}

TransferController::TransferController(kit::UiApplication& app, EndHandler onEnd)
    : app_(app), onEnd_(std::move(onEnd)) {}

TransferController::~TransferController() {
  {
    std::lock_guard lock(questionMutex_);
    closing_ = true;
  }
  answer(std::nullopt);
  runner_.wait();
}

bool TransferController::start(bool write, int store, const transfer::JobContext& context,
                               const std::string& note) {
  if (busy()) return false;
  app_.addOverlay(kSpinnerTag, progressOverlay(write, note));
  app_.setIdleTimerDisabled(true);
  busy_ = write ? runner_.save(store, context) : runner_.loadSIM(store, context);
  if (!busy_) {
    app_.removeOverlay(kSpinnerTag);
    app_.setIdleTimerDisabled(false);
  }
  return busy_;
}

void TransferController::updateCaption(const std::string& text) {
  app_.loop().performOnMain(
      [this, text] {
        if (auto* o = app_.overlay(kSpinnerTag)) o->caption = text;
      },
      true);
}

void TransferController::updateLabel(const std::string& text) {
  app_.loop().performOnMain(
      [this, text] {
        if (auto* o = app_.overlay(kSpinnerTag)) o->label = text;
      },
      true);
}

void TransferController::showNote(const std::string& text) {
  app_.loop().performOnMain(
      [this, text] {
        if (auto* o = app_.overlay(kSpinnerTag)) o->note = text;
      },
      true);
}

void TransferController::showAlert(const std::string& title, const std::string& message) {
  app_.loop().performOnMain(
      [this, title, message] { app_.showAlert({title, message, nullptr, localized("Ok"), {}}); });
}

std::optional<std::string> TransferController::askCode(const transfer::CodeQuestion& question) {
  using Code = transfer::CodeQuestion::Code;
  if (question.code != Code::Pin && question.code != Code::Pin2) return std::nullopt;
  auto pending = std::make_shared<Question>();
  {
    std::lock_guard lock(questionMutex_);
    if (closing_) return std::nullopt;
    question_ = pending;
  }
  // Over the progress overlay, which stays up: the job is still running.
  const bool shown = app_.loop().performOnMain(
      [this, question, pending] {
        kit::Alert alert{transfer::codeQuestionTitle(question), transfer::codeQuestionText(question), this,
                         localized("Cancel"), {localized("Ok")}};
        alert.textField = kit::AlertTextField{true, localized(question.code == Code::Pin2 ? "PIN2" : "PIN"), {}};
        pending->alertId = app_.showAlert(std::move(alert));
      },
      true);
  if (!shown) answer(std::nullopt);  // the screens have stopped
  std::unique_lock lock(pending->mutex);
  pending->answered.wait(lock, [&] { return pending->done; });
  return std::move(pending->code);
}

void TransferController::alertViewClickedButtonAtIndex(const kit::Alert& alert, int index) {
  {
    std::lock_guard lock(questionMutex_);
    if (!question_ || question_->alertId != alert.id) return;
  }
  answer(index == 1 && alert.textField ? std::optional<std::string>(alert.textField->text) : std::nullopt);
}

void TransferController::answer(std::optional<std::string> code) {
  std::shared_ptr<Question> pending;
  {
    std::lock_guard lock(questionMutex_);
    pending = std::move(question_);
    question_.reset();
  }
  if (!pending) return;
  {
    std::lock_guard lock(pending->mutex);
    pending->code = std::move(code);
    pending->done = true;
  }
  pending->answered.notify_all();
}

void TransferController::endLoadSIM(const transfer::JobReport& report) { end(false, report); }

void TransferController::endSaveSIM(const transfer::JobReport& report) { end(true, report); }

void TransferController::end(bool write, const transfer::JobReport& report) {
  app_.loop().performOnMain([this, write, report] {
    app_.removeOverlay(kSpinnerTag);
    app_.setIdleTimerDisabled(false);
    busy_ = false;
    if (onEnd_) onEnd_(write, report);
  });
}

}  // namespace voryx
