#pragma once
// A modem as a USB modem shows itself: several serial ports of which only one answers
// "AT" (the others carry diagnostics or GPS sentences, or nothing). Here: `count` virtual
// modems, each on its own pseudo-terminal, all silent but the last, which serves the SIM.
// For the port scan's tests and `voryx modem-sim --ports N`. Owns the modems; the same
// threads rules as VirtualModem.
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "sim/VirtualModem.h"

namespace voryx::sim {

class ModemPorts {
 public:
  // At least one port.
  explicit ModemPorts(int count, SimCard card = SimCard::demo(), ModemOptions options = {});

  // Starts every port; false (and `error` set, nothing left running) when one cannot.
  bool start(std::string* error = nullptr);
  void stop();
  // The ports' device paths in order of opening; the answering one is the last.
  std::vector<std::string> paths() const;
  VirtualModem& answering() { return *modems_.back(); }
  // The i-th port's modem, in the order of paths().
  VirtualModem& port(std::size_t i) { return *modems_.at(i); }

 private:
  std::vector<std::unique_ptr<VirtualModem>> modems_;
};

}  // namespace voryx::sim
