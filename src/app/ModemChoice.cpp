#include "app/ModemChoice.h"

#include <filesystem>
#include <iostream>

namespace voryx {
namespace {

std::unique_ptr<sim::VirtualModem> startSimulation(const std::string& simFile,
                                                   const char* command) {
  sim::SimCard card = sim::SimCard::demo();
  std::string error;
  if (!simFile.empty() && std::filesystem::exists(simFile)) {
    auto loaded = sim::SimCard::load(simFile, error);
    if (!loaded) {
      std::cerr << "voryx " << command << ": " << simFile << ": " << error << "\n";
      return nullptr;
    }
    card = *loaded;
  }
  auto modem = std::make_unique<sim::VirtualModem>(card);
  if (!simFile.empty()) {
    modem->setOnChange([simFile](const sim::SimCard& changed) {
      std::string saveError;
      if (!changed.save(simFile, saveError)) {
        std::cerr << "voryx: the SIM file could not be saved: " << saveError << "\n";
      }
    });
  }
  if (!modem->start(&error)) {
    std::cerr << "voryx " << command << ": the virtual modem did not start: " << error << "\n";
    return nullptr;
  }
  return modem;
}

}  // namespace

std::optional<ModemChoice> chooseModem(bool simulate, const std::string& simFile,
                                       const std::string& device, const char* command) {
  ModemChoice choice;
  if (simulate || !simFile.empty()) {
    choice.simulation = startSimulation(simFile, command);
    if (!choice.simulation) return std::nullopt;
    choice.device.device = choice.simulation->devicePath();
  } else if (!device.empty()) {
    choice.device.device = device;
  }
  return choice;
}

}  // namespace voryx
