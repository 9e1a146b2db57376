#include "app/ModemChoice.h"

#include <cstdlib>
#include <filesystem>
#include <string_view>
#include <iostream>

#include "modem/Ports.h"
#include "simfiles/PcscLink.h"
#include "simfiles/QmiFiles.h"
#include "store/Preferences.h"

namespace voryx {
namespace {

constexpr unsigned kMmPortQmi = 5;  // MMModemPortType

// The virtual SIM: the demo's, or the SIM file's (a new file is a SIM of its own).
std::optional<sim::SimCard> virtualSim(const std::string& simFile, const char* command, bool& fresh) {
  sim::SimCard card = sim::SimCard::demo();
  std::string error;
  fresh = !simFile.empty() && !std::filesystem::exists(simFile);
  if (!simFile.empty() && !fresh) {
    auto loaded = sim::SimCard::load(simFile, error);
    if (!loaded) {
      std::cerr << "voryx " << command << ": " << simFile << ": " << error << "\n";
      return std::nullopt;
    }
    card = *loaded;
  }
  if (fresh) card.giveFreshIdentity();
  return card;
}

// The virtual SIM as a card in the virtual reader: pcscd must be running.
std::unique_ptr<sim::VirtualCard> startCard(const ModemArgs& args, const char* command) {
  bool fresh = false;
  std::optional<sim::SimCard> card = virtualSim(args.simFile, command, fresh);
  if (!card) return nullptr;
  sim::ModemOptions unused;
  const bool identityGiven = applySimState(args.simState, *card, unused);
  std::string error;
  if ((identityGiven || fresh) && !args.simFile.empty() && !card->save(args.simFile, error)) {
    std::cerr << "voryx " << command << ": " << error << "\n";
    return nullptr;
  }
  auto virtualCard = std::make_unique<sim::VirtualCard>(std::move(*card), sim::CardOptions{}, true);
  if (const std::string simFile = args.simFile; !simFile.empty()) {
    virtualCard->setOnChange([simFile](const sim::SimCard& changed) {
      std::string saveError;
      if (!changed.save(simFile, saveError)) std::cerr << "voryx: the SIM file could not be saved: " << saveError << "\n";
    });
  }
  if (!simfiles::listReaders().error.empty() || !virtualCard->insert(sim::VirtualCard::kFirstPort, &error)) {
    std::cerr << "voryx " << command << ": the virtual card needs pcscd with vsmartcard-vpcd ("
              << (error.empty() ? simfiles::listReaders().error : error) << ")\n";
    return nullptr;
  }
  return virtualCard;
}

std::unique_ptr<sim::VirtualModem> startSimulation(const ModemArgs& args, const char* command) {
  const std::string& simFile = args.simFile;
  bool fresh = false;
  std::optional<sim::SimCard> virtualCard = virtualSim(simFile, command, fresh);
  if (!virtualCard) return nullptr;
  sim::SimCard card = std::move(*virtualCard);
  std::string error;
  sim::ModemOptions options;
  if (auto sets = sim::parseCharsetList(args.charsets)) options.charsets.listed = *sets;
  options.charsets.hexNumbers = args.hexNumbers;
  // A new file, or one given another identity, is saved at once: the identity a read
  // records must be the one the file holds next time.
  const bool identityGiven = applySimState(args.simState, card, options);
  if ((identityGiven || fresh) && !simFile.empty() && !card.save(simFile, error)) {
    std::cerr << "voryx " << command << ": " << error << "\n";
    return nullptr;
  }
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

void addSimStateOptions(CLI::App& command, SimStateArgs& args) {
  auto* device = command.get_option_no_throw("--device");
  auto code = [](const char* what, bool (*usable)(std::string_view)) {
    return [what, usable](const std::string& text) { return usable(text) ? std::string() : std::string(what); };
  };
  auto* pin = command.add_option("--pin", args.pin, "With the virtual modem: its SIM asks for this PIN (4 to 8 digits)")
                  ->option_text("PIN")
                  ->check(code("a PIN is 4 to 8 digits", sim::PinLock::isPin));
  auto* puk = command.add_option("--puk", args.puk, "With the virtual modem and --pin: the SIM's PUK (8 digits)")
                  ->option_text("PUK")
                  ->capture_default_str()
                  ->check(code("a PUK is 8 digits", sim::PinLock::isPuk))
                  ->needs(pin);
  auto* noSim = command.add_flag("--no-sim", args.noSim, "With the virtual modem: no SIM is inserted");
  auto* busy = command.add_option("--busy-seconds", args.busySeconds,
                                  "With the virtual modem: the SIM is busy this long after start and after "
                                  "taking its PIN")
                   ->option_text("N")
                   ->check(CLI::Range(0, 3600));
  auto* counter = command.add_option("--pin-counter", args.pinCounter,
                                     "With the virtual modem: how it tells the PIN tries left: cpinr, huawei, "
                                     "quectel or none")
                      ->capture_default_str()
                      ->check(CLI::IsMember({"cpinr", "huawei", "quectel", "none"}));
  auto* iccid = command.add_option("--iccid", args.iccid,
                                   "With the virtual modem: its SIM's ICCID (18 to 20 digits, the last may "
                                   "be F); kept in the SIM file")
                    ->option_text("DIGITS")
                    ->check(code("an ICCID is 18 to 20 digits, the last may be F", sim::SimCard::isIccid));
  auto* imsi = command.add_option("--imsi", args.imsi,
                                  "With the virtual modem: its SIM's IMSI (6 to 15 digits); kept in the SIM "
                                  "file")
                   ->option_text("DIGITS")
                   ->check(code("an IMSI is 6 to 15 digits", sim::SimCard::isImsi));
  auto* noIdentity = command.add_flag("--no-identity", args.noIdentity,
                                      "With the virtual modem: it refuses AT+CCID and AT+CIMI, as many "
                                      "older modems do");
  if (device) {
    for (CLI::Option* o : {pin, puk, noSim, busy, counter, iccid, imsi, noIdentity}) o->excludes(device);
  }
}

bool applySimState(const SimStateArgs& args, sim::SimCard& card, sim::ModemOptions& options) {
  if (auto lock = sim::PinLock::make(args.pin, args.puk)) card.pinLock() = *lock;
  options.noSim = args.noSim;
  options.simBusy = std::chrono::seconds{args.busySeconds};
  options.pinCounter = sim::pinCounterFromName(args.pinCounter).value_or(sim::PinCounter::Cpinr);
  options.noIdentity = args.noIdentity;
  const std::string iccid = args.iccid.empty() ? card.iccid() : args.iccid;
  const std::string imsi = args.imsi.empty() ? card.imsi() : args.imsi;
  if (iccid == card.iccid() && imsi == card.imsi()) return false;
  return card.setIdentity(iccid, imsi);
}

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
  command
      .add_option("--reader", args.reader,
                  "A PC/SC card reader holding the SIM, by its name or a part of it, instead of a "
                  "modem; \"\" takes the reader with a card in it (default: $VORYX_READER; "
                  "see voryx readers)")
      ->option_text("NAME")
      ->excludes(device)
      ->each([&args](const std::string&) { args.readerGiven = true; });
  command
      .add_option("--qmi", args.qmi,
                  "A QMI modem's port, e.g. /dev/cdc-wdm0: the SIM's files through qmi-proxy, while "
                  "ModemManager keeps the modem (found by itself from ModemManager's modem; "
                  "--device then names the AT port to borrow when the proxy refuses)")
      ->option_text("PATH")
      ->excludes("--reader")
      ->excludes("--simulate")
      ->excludes("--sim-file");
}

std::vector<std::string> portPatterns() {
  const char* env = std::getenv("VORYX_PORTS");
  if (env == nullptr || *env == '\0') return modem::defaultPortPatterns();
  std::vector<std::string> patterns;
  std::string_view rest = env;
  while (!rest.empty()) {
    const std::size_t colon = rest.find(':');
    if (colon != 0) patterns.emplace_back(rest.substr(0, colon));
    rest.remove_prefix(colon == std::string_view::npos ? rest.size() : colon + 1);
  }
  return patterns;
}

std::filesystem::path lockFolder() {
  const char* env = std::getenv("VORYX_LOCK_DIR");
  return env != nullptr && *env != '\0' ? std::filesystem::path(env)
                                         : std::filesystem::path(modem::kLockFolder);
}

// A reader named in part ("Virtual PCD", "omnikey") is the one reader whose name holds it,
// or of several such, the one with a card in it (a reader's slots share its name).
bool findReader(ModemChoice& choice, const char* command, bool tell) {
  const simfiles::ReaderList list = simfiles::listReaders();
  std::string& wanted = *choice.device.reader;
  std::vector<std::string> matches;
  std::vector<std::string> holding;
  for (const simfiles::ReaderInfo& r : list.readers) {
    if (r.name == wanted) {
      matches = {r.name};
      holding.clear();
      break;
    }
    if (wanted.empty() ? r.cardPresent : r.name.find(wanted) != std::string::npos) {
      matches.push_back(r.name);
      if (r.cardPresent) holding.push_back(r.name);
    }
  }
  if (matches.size() > 1 && holding.size() == 1) matches = holding;
  if (matches.size() != 1) {
    std::string known;
    for (const simfiles::ReaderInfo& r : list.readers) known += (known.empty() ? "" : ", ") + r.name;
    std::cerr << "voryx " << command << ": "
              << (!list.error.empty() && list.readers.empty() ? list.error
                  : matches.empty() ? (wanted.empty() ? std::string("no reader holds a card")
                                                      : "no card reader named \"" + wanted + "\"")
                                    : "more than one card reader is named \"" + wanted + "\"")
              << (known.empty() ? "" : " (readers: " + known + ")") << "\n";
    return false;
  }
  wanted = matches.front();
  if (tell) std::cerr << "voryx " << command << ": using the card reader " << wanted << "\n";
  return true;
}

bool managedByModemManager(const modem::DeviceChoice& device) {
  if (device.line != nullptr || device.reader) return false;
  const modem::ManagerSurvey survey = modem::surveyModemManager();
  if (!survey.running) return false;
  return device.device ? survey.holding(*device.device) != nullptr
                       : modem::managedCandidate(survey, modem::candidatePorts(device)) != nullptr;
}

// The QMI port ModemManager lists for `managed`, when this build reaches QMI modems.
std::optional<std::filesystem::path> managedQmiPort(const modem::ManagedModem& managed) {
  if (!simfiles::QmiFiles::built()) return std::nullopt;
  for (const modem::ManagedPort& p : managed.ports) {
    std::error_code ec;
    const std::filesystem::path port = std::filesystem::path("/dev") / p.name;
    if (p.type == kMmPortQmi && std::filesystem::exists(port, ec)) return port;
  }
  return std::nullopt;
}

bool findModem(ModemChoice& choice, const char* command, bool tell, bool shareQmi) {
  if (choice.device.reader) return findReader(choice, command, tell);
  if (!shareQmi) choice.device.qmi.reset();
  auto tellQmi = [&](const modem::ManagedModem* managed) {
    if (tell) {
      std::cerr << "voryx " << command << ": using QMI " << choice.device.qmi->string() << " through qmi-proxy"
                << (managed ? " (" + managed->name() + ", shared with ModemManager)" : std::string()) << "\n";
    }
    return true;
  };
  if (choice.device.qmi) return tellQmi(nullptr);
  if (choice.simulation || choice.device.line) return true;
  if (choice.device.device) {
    // The port given belongs to a modem ModemManager manages: its QMI port, when it has one.
    const modem::ManagerSurvey survey = modem::surveyModemManager();
    if (const modem::ManagedModem* managed = shareQmi ? survey.holding(*choice.device.device) : nullptr) {
      if ((choice.device.qmi = managedQmiPort(*managed))) {
        choice.device.qmiFallback = true;
        return tellQmi(managed);
      }
    }
    return true;
  }
  const std::vector<modem::Port> candidates = modem::candidatePorts(choice.device);
  // A modem ModemManager manages is not probed behind its back: the job shares it through
  // qmi-proxy, or borrows it.
  const modem::ManagerSurvey survey = modem::surveyModemManager();
  if (const modem::ManagedModem* managed = modem::managedCandidate(survey, candidates)) {
    if (shareQmi && (choice.device.qmi = managedQmiPort(*managed))) {
      choice.device.qmiFallback = true;
      return tellQmi(managed);
    }
    if (tell) {
      std::cerr << "voryx " << command << ": using " << managed->atPorts().front().string() << " ("
                << managed->name() << ", managed by ModemManager)\n";
    }
    return true;
  }
  modem::Channel channel;
  const auto probes = modem::scanPorts(channel, candidates, {.lockFolder = choice.device.lockFolder}, true);
  if (probes.empty() || !probes.back().answers) {
    std::cerr << "voryx " << command << ": " << modem::scanFailure(probes, choice.device.ports)
              << "\n";
    return false;
  }
  const modem::PortProbe& found = probes.back();
  choice.device.preferred = found.port.path;
  if (tell) {
    std::cerr << "voryx " << command << ": using " << found.port.label()
              << (found.name().empty() ? "" : " (" + found.name() + ")") << "\n";
  }
  return true;
}

std::optional<ModemChoice> chooseModem(const ModemArgs& args, const char* command,
                                       const std::filesystem::path& preferences) {
  ModemChoice choice;
  choice.device.ports = portPatterns();
  choice.device.lockFolder = lockFolder();
  if (args.simulateCard) {
    choice.card = startCard(args, command);
    if (!choice.card) return std::nullopt;
    choice.device.reader = sim::VirtualCard::readerName(sim::VirtualCard::kFirstPort);
    return choice;
  }
  if (!args.reader.empty() || args.readerGiven) {
    choice.device.reader = args.reader;
    return choice;
  }
  if (const char* env = std::getenv("VORYX_READER"); env != nullptr && args.device.empty() &&
                                                     !args.simulate && args.simFile.empty()) {
    choice.device.reader = env;
    return choice;
  }
  if (!args.qmi.empty()) {
    choice.device.qmi = args.qmi;
    choice.device.qmiFallback = !args.device.empty();
  }
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
  if (!preferences.empty()) {
    if (auto remembered = Preferences(preferences).text(kPrefDevice); remembered && !remembered->empty()) {
      choice.device.preferred = *remembered;
    }
    choice.device.answered = [preferences](const std::filesystem::path& port) {
      Preferences stored(preferences);
      if (stored.text(kPrefDevice) == port.string()) return;
      stored.setText(kPrefDevice, port.string());
      stored.synchronize();
    };
  }
  return choice;
}

}  // namespace voryx
