#pragma once
// Runs the main screen's transfers, one at a time, under the progress overlay (tag 98)
// with the idle timer off, and is their job host: progress texts go into the overlay,
// alerts onto the screen, and the end handlers, on the main loop, hand the job's report
// to the screen once the overlay is gone. Main loop only, except the job host's methods,
// which any thread may call (they post to the main loop).
//
// The SIM's PIN is asked in an alert with a secure field over the progress overlay; the
// job waits for the answer however long it takes. When the controller goes (the screens
// stop), an open question is answered with nothing and the job ends.
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

#include "transfer/JobHost.h"
#include "transfer/TransferRunner.h"
#include "ui/kit/UiApplication.h"

namespace voryx {

// The overlay of long work over the whole 320 by 480 screen: a 50-point spinner in its
// middle and `caption` above it, on one line (`oneLine`) or with the spinner moved down to
// give it room for several.
kit::Overlay waitOverlay(const std::string& caption, bool oneLine);

class TransferController final : public transfer::JobHost, public kit::AlertDelegate {
 public:
  static constexpr int kSpinnerTag = 98;

  // Runs on the main loop when a job has ended: `write` tells a write from a read.
  using EndHandler = std::function<void(bool write, const transfer::JobReport& report)>;

  // The application must outlive the controller.
  TransferController(kit::UiApplication& app, EndHandler onEnd);
  // Waits for a job that still runs (see TransferRunner).
  ~TransferController() override;

  // Puts up the overlay and starts the read or write of `store` (0 the phonebook, 1 the
  // SMS store). Nothing, and false, while a transfer runs: it is busy from its start
  // until its end handler has run. A `note` (what a copy onto another SIM sends) takes
  // the caption's place, in lines as many as it needs, above the progress texts.
  bool start(bool write, int store, const transfer::JobContext& context, const std::string& note = {});
  bool busy() const { return busy_ || runner_.running(); }
  // Any thread.
  bool jobRunning() const { return runner_.running(); }

  void updateCaption(const std::string& text) override;
  void updateLabel(const std::string& text) override;
  void showNote(const std::string& text) override;
  void showAlert(const std::string& title, const std::string& message) override;
  // Job thread: the PIN question (the screen asks no PUK: the user is told to unblock the
  // SIM elsewhere). Nothing when the user taps "Cancel" or the screens go.
  std::optional<std::string> askCode(const transfer::CodeQuestion& question) override;
  void alertViewClickedButtonAtIndex(const kit::Alert& alert, int index) override;
  void endLoadSIM(const transfer::JobReport& report) override;
  void endSaveSIM(const transfer::JobReport& report) override;

 private:
  void end(bool write, const transfer::JobReport& report);
  // One question on screen: the job thread waits on it, the main loop answers it.
  struct Question {
    std::mutex mutex;
    std::condition_variable answered;
    bool done = false;
    std::optional<std::string> code;
    int alertId = 0;  // main loop
  };
  // Any thread: answers the open question (if any) with `code`.
  void answer(std::optional<std::string> code);

  kit::UiApplication& app_;
  EndHandler onEnd_;
  bool busy_ = false;
  std::mutex questionMutex_;  // guards question_ and closing_
  std::shared_ptr<Question> question_;
  bool closing_ = false;  // no more questions: the controller is going
  transfer::TransferRunner runner_{*this};  // last: its job may call back until it ends
};

}  // namespace voryx
