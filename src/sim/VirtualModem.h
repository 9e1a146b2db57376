#pragma once
// A modem with a SIM behind a real pseudo-terminal. start() opens the pty (raw line
// settings: no echo by the tty, no CR/NL translation) and serves it on its own thread;
// a client opens devicePath() like any serial device. The SIM state, the command log and
// the idle wait are safe to use from any thread while the modem serves.
//
//   sim::VirtualModem modem{sim::SimCard::demo()};
//   ASSERT_TRUE(modem.start());
//   ... open modem.devicePath(), talk AT ...
//   modem.waitIdle();
//   EXPECT_EQ(modem.sim().name(3), "Zoë Müller");
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "sim/ModemOptions.h"
#include "sim/SimCard.h"

namespace voryx::sim {

class ModemEngine;

class VirtualModem {
 public:
  explicit VirtualModem(SimCard card = SimCard::demo(), ModemOptions options = {});
  ~VirtualModem();  // stop()
  VirtualModem(const VirtualModem&) = delete;
  VirtualModem& operator=(const VirtualModem&) = delete;

  // Opens a new pty (a new devicePath()) and starts serving. The SIM keeps its state
  // across stop()/start() and hang-ups; the modem settings (echo, character set, ...) and
  // the write count start afresh, and the SIM is powered up again: a PIN-locked SIM asks
  // for its PIN, and is busy for the options' simBusy (as again after taking its PIN).
  // False (and `error` set) when no pty can be had or it already runs.
  bool start(std::string* error = nullptr);
  // Ends the serving thread (also in the middle of a reply or a delay) and closes the
  // pty. Harmless when not running.
  void stop();
  // Serving: started, not stopped, and not hung up by a fault.
  bool running() const;
  // The slave side to open, e.g. "/dev/pts/7"; empty before start().
  std::string devicePath() const;

  // A copy of the SIM as it is now.
  SimCard sim() const;
  // Changes the SIM under the modem's lock (test set-up).
  void modifySim(const std::function<void(SimCard&)>& change);
  // Called on the serving thread after every change of the SIM, with the new state
  // (the command line's --sim-file saves there). Set before start().
  void setOnChange(std::function<void(const SimCard&)> onChange);

  // Command lines received since construction, as sent without the final CR (text after
  // a "> " prompt is logged as "> text").
  std::vector<std::string> commandLog() const;
  // How many logged lines start with `prefix`, e.g. commandCount("AT+CPBW=").
  int commandCount(std::string_view prefix) const;
  void clearLog();

  // Waits until every command received has been answered and the line has been quiet for
  // `quiet`. False when `timeout` passed first.
  bool waitIdle(std::chrono::milliseconds quiet = std::chrono::milliseconds{200},
                std::chrono::milliseconds timeout = std::chrono::seconds{10});

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace voryx::sim
