#include "app/ModemChoice.h"

#include <cstdlib>
#include <filesystem>
#include <string_view>
#include <iostream>

namespace voryx {
namespace {

std::unique_ptr<sim::VirtualModem> startSimulation(const ModemArgs& args, const char* command) {
  const std::string& simFile = args.simFile;
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
  sim::ModemOptions options;
  if (auto sets = sim::parseCharsetList(args.charsets)) options.charsets.listed = *sets;
  options.charsets.hexNumbers = args.hexNumbers;
  auto modem = std::make_unique<sim::VirtualModem>(card, options);
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

void addModemOptions(CLI::App& command, ModemArgs& args) {
  auto* device = command.add_option("--device", args.device,
                                    "The modem's AT port, e.g. /dev/ttyUSB2 (default: "
                                    "$VORYX_DEVICE)")
                     ->option_text("PATH");
  command.add_flag("--simulate", args.simulate,
                   "Talk to a virtual modem in this process, holding the demo SIM")
      ->excludes(device);
  command.add_option("--sim-file", args.simFile,
                     "With the virtual modem: the SIM's state, read from FILE when it exists "
                     "and saved back to it after every change")
      ->option_text("FILE")
      ->excludes(device);
  command
      .add_option("--charsets", args.charsets,
                  "With the virtual modem: the character sets it offers and takes, e.g. UCS2,IRA "
                  "(default: GSM, IRA, HEX, UCS2, UTF-8)")
      ->option_text("LIST")
      ->excludes(device)
      ->check([](const std::string& list) {
        return sim::parseCharsetList(list) ? "" : "a list of GSM, IRA, HEX, UCS2, UTF-8: " + list;
      });
  command
      .add_flag("--hex-numbers", args.hexNumbers,
                "With the virtual modem: under UCS2 it lists numbers as hexadecimal 16-bit units")
      ->excludes(device);
}

std::optional<ModemChoice> chooseModem(const ModemArgs& args, const char* command) {
  ModemChoice choice;
  if (args.simulate || !args.simFile.empty() || !args.charsets.empty() || args.hexNumbers) {
    choice.simulation = startSimulation(args, command);
    if (!choice.simulation) return std::nullopt;
    choice.device.device = choice.simulation->devicePath();
    return choice;
  }
  std::string device = args.device;
  if (device.empty()) {
    const char* env = std::getenv("VORYX_DEVICE");
    if (env != nullptr) device = env;
  }
  if (!device.empty()) {
    choice.device.device = device;
    std::error_code ec;
    // The screens start all the same (the modem may be plugged in later); the shell
    // commands say it when their job cannot open the device.
    if (std::string_view(command) == "serve" && !std::filesystem::exists(device, ec)) {
      std::cerr << "voryx " << command << ": warning: " << device
                << ": no such device; try --device with another port, or --simulate\n";
    }
  }
  return choice;
}

}  // namespace voryx
