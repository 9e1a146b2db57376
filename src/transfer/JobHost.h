#pragma once
// What a transfer job sees of the screen that started it. RootViewController is one
// host, the command line another. Progress texts are performed on the host's main loop
// and waited for; the end handlers are posted and not waited for. The shared fields are
// written by the job thread and read by the end handlers, which run after the job's last
// write (atomics make that hand-over explicit).
#include <atomic>
#include <string>

namespace voryx::transfer {

class JobHost {
 public:
  virtual ~JobHost() = default;

  virtual void updateCaption(const std::string& text) = 0;  // waited for
  virtual void updateLabel(const std::string& text) = 0;    // waited for
  virtual void endLoadSIM() = 0;                             // not waited for
  virtual void endSaveSIM() = 0;                             // not waited for
  // An alert raised by a job (write errors, a failed read); not waited for.
  virtual void showAlert(const std::string& title, const std::string& message) = 0;

  std::atomic<int> maxSIM{0};
  std::atomic<int> maxSIMLen{14};
  std::atomic<int> maxSMS{0};
  std::atomic<int> createLog{0};
  std::atomic<int> retcode{0};
};

}  // namespace voryx::transfer
