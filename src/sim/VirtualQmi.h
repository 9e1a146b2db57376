#pragma once
// The virtual modem speaking QMI (QMUX) instead of AT on a real pseudo-terminal, as a
// modem's /dev/cdc-wdm port does: qmi-proxy and qmicli open it like one (qmicli needs
// --device-open-qmi, a pty being neither cdc-wdm nor MBIM). The line is raw, and the slave
// end stays open here so that the line stays up while the proxy closes and reopens the
// device between clients. The SIM state and the counts are safe to use from any thread.
//
//   sim::VirtualQmi modem{sim::SimCard::demo()};
//   ASSERT_TRUE(modem.start());
//   ... qmicli -p -d modem.devicePath() --device-open-qmi --uim-get-card-status ...
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "sim/QmiEngine.h"
#include "sim/SimCard.h"

namespace voryx::sim {

class VirtualQmi {
 public:
  // `usim`: a UICC with a USIM application, else a 2G SIM.
  explicit VirtualQmi(SimCard card = SimCard::demo(), QmiFaults faults = {}, bool usim = true);
  ~VirtualQmi();  // stop()
  VirtualQmi(const VirtualQmi&) = delete;
  VirtualQmi& operator=(const VirtualQmi&) = delete;

  // Opens a new pty and serves it on its own thread; the faults count anew and the SIM is
  // powered up again (a PIN-locked SIM asks for its PIN). False with `error` set when no
  // pty can be had.
  bool start(std::string* error = nullptr);
  // Ends the serving thread and closes the pty. Harmless when not running.
  void stop();
  // Serving: started, not stopped, and not hung up by a fault.
  bool running() const;
  std::string devicePath() const;

  SimCard sim() const;
  void modifySim(const std::function<void(SimCard&)>& change);
  // Called on the serving thread after every change of the SIM. Set before start().
  void setOnChange(std::function<void(const SimCard&)> onChange);
  // How long the modem takes over each request before its reply (a real modem's UIM
  // service: some milliseconds, the card's own time included). Set before start().
  void setDelay(std::chrono::milliseconds delay);
  // Requests of this service and message since start(), e.g. (kQmiUim, 0x0023).
  int requestCount(std::uint8_t service, std::uint16_t message) const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace voryx::sim
