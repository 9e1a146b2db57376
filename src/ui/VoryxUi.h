#pragma once
// The screens of `voryx serve`: the application object, the window, and the navigation
// stack with the main screen at its root. The serve command creates it after the
// application delegate has put the database in place, hands port() to the HTTP server
// and calls run() on the thread that is to be the main thread.
#include <memory>
#include <optional>
#include <string>

#include "base/Paths.h"
#include "modem/Channel.h"
#include "store/Preferences.h"
#include "ui/RootViewController.h"
#include "ui/SnoopWindow.h"
#include "ui/kit/UiApplication.h"

namespace voryx {

struct VoryxUiOptions {
  std::optional<std::string> startupAlert;  // the message of a failed database copy
  modem::DeviceChoice device;               // the modem the transfers talk to
  kit::ManualClock* clock = nullptr;        // virtual time for the timers (tests)
};

class VoryxUi {
 public:
  // Queues the start-up, which runs first thing in run(): the alert of a failed database
  // copy when there is one, then the main screen's set-up (the first list load) and its
  // first appearance (the settings). String table loaded beforehand.
  explicit VoryxUi(const Paths& paths, VoryxUiOptions options = {});
  VoryxUi(const VoryxUi&) = delete;
  VoryxUi& operator=(const VoryxUi&) = delete;

  kit::UiPort& port() { return app_; }
  kit::UiApplication& application() { return app_; }
  // Main loop only, once the start-up has run.
  RootViewController& root() { return *root_; }

  // Runs the main loop on the calling thread until stop().
  void run() { app_.loop().run(); }
  // Any thread. A transfer that runs goes on to its end without the screens (the SIM
  // and the database stay in step); destroying this object waits for it.
  void stop() { app_.loop().stop(); }
  // Any thread; waits until done. From now on texts are in `language` ("en", "it"); the
  // screens shown put their fixed texts in it at once.
  void setLanguage(const std::string& language);
  // After run() has returned (or on the main loop): a transfer job still runs.
  bool transferRunning() const { return root_ && root_->transferRunning(); }

 private:
  Paths paths_;  // the address book changes when the setup screen chooses another
  Preferences preferences_;
  std::unique_ptr<kit::UiApplication> application_;
  kit::UiApplication& app_;
  SnoopWindow window_;
  RootViewController* root_ = nullptr;  // owned by the navigation stack; made at start-up
};

}  // namespace voryx
