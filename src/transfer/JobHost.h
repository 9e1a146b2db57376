#pragma once
// What a transfer job sees of the screen that started it. RootViewController is one
// host, the command line another. Progress texts are performed on the host's main loop
// and waited for; the end handlers and alerts are posted and not waited for. The shared
// fields are written by the job thread and read by the end handlers, which run after the
// job's last write (atomics make that hand-over explicit).
#include <atomic>
#include <filesystem>
#include <string>

#include "modem/Channel.h"

namespace voryx {
class Preferences;
}

namespace voryx::transfer {

// How a job ended, for hosts that tell outcomes apart (the command line's exit status).
enum class JobOutcome {
  Done,           // the whole dialogue ran: a read stored the listing, a write cleared the marks
  WriteRefused,   // the modem answered a write with something other than OK, or a
                  // command did not fit its buffer (`retcode` 1, marks kept)
  NoReply,        // the modem fell silent during a write (its alert was shown, marks kept)
  ListingFailed,  // the listing held "ERROR" or nothing came: the local table was kept
  NoModem,        // no device opened, the handshake gave up, or the line broke
  DatabaseError,  // the local database could not be read or written
};

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
  // Set by the runner before it performs the end handler.
  std::atomic<JobOutcome> outcome{JobOutcome::Done};
};

// What a job needs besides its host; copied into the job when it starts.
struct JobContext {
  std::filesystem::path database;  // the writable Voryx.sqlitedb
  Preferences& preferences;        // where the reads store the capacities they learn
  modem::DeviceChoice device;
  int sortField = 0;               // the list's order, which the write passes follow
};

}  // namespace voryx::transfer
