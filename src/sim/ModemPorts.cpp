#include "sim/ModemPorts.h"

#include <algorithm>

namespace voryx::sim {

ModemPorts::ModemPorts(int count, SimCard card, ModemOptions options) {
  ModemOptions silent;
  silent.faults.silence = true;
  for (int i = 1; i < std::max(count, 1); ++i) {
    modems_.push_back(std::make_unique<VirtualModem>(SimCard::demo(), silent));
  }
  modems_.push_back(std::make_unique<VirtualModem>(std::move(card), options));
}

bool ModemPorts::start(std::string* error) {
  for (auto& modem : modems_) {
    if (!modem->start(error)) {
      stop();
      return false;
    }
  }
  return true;
}

void ModemPorts::stop() {
  for (auto& modem : modems_) modem->stop();
}

std::vector<std::string> ModemPorts::paths() const {
  std::vector<std::string> out;
  for (const auto& modem : modems_) out.push_back(modem->devicePath());
  return out;
}

}  // namespace voryx::sim
