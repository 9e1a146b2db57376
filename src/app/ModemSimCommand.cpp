// voryx modem-sim: the virtual modem on a pseudo-terminal, until SIGINT or SIGTERM.
#include <signal.h>

#include <cstdio>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "app/Commands.h"
#include "app/ModemChoice.h"
#include "sim/ModemPorts.h"
#include "sim/VirtualQmi.h"

namespace voryx {
namespace {

struct ModemSimArgs {
  std::string simFile;
  std::string profile = "default";
  int replyDelay = 0;
  int entryDelay = 0;
  int chunk = 0;
  int chunkGap = 0;
  std::vector<std::string> faults;
  int ports = 1;
  std::string charsets;
  bool hexNumbers = false;
  bool qmi = false;
  SimStateArgs simState;
};

int runModemSim(const ModemSimArgs& args) {
  sim::ModemOptions options;
  auto profile = sim::profileFromName(args.profile);
  if (!profile) {
    std::cerr << "voryx modem-sim: unknown profile \"" << args.profile
              << "\" (default, linebreak)\n";
    return 2;
  }
  options.profile = *profile;
  options.replyDelay = std::chrono::milliseconds{args.replyDelay};
  options.entryDelay = std::chrono::milliseconds{args.entryDelay};
  options.chunkBytes = static_cast<std::size_t>(args.chunk);
  options.chunkGap = std::chrono::milliseconds{args.chunkGap};
  sim::QmiFaults qmiFaults;
  for (const auto& f : args.faults) {
    if (args.qmi ? !sim::parseQmiFault(f, qmiFaults) : !sim::parseFault(f, options.faults)) {
      if (args.qmi) {
        std::cerr << "voryx modem-sim: unknown fault \"" << f
                  << "\" with --qmi (error-at-record=K, silence-at-record=K, hangup-at-record=K)\n";
        return 2;
      }
      std::cerr << "voryx modem-sim: unknown fault \"" << f
                << "\" (silence, huge-reply, nul-bytes, error-at-write=K, mute-at-write=K, "
                   "hangup-at-write=K, late-at-write=K, lost-at-write=K, listing-error, charset-test-error)\n";
      return 2;
    }
  }
  if (!args.charsets.empty()) {
    auto sets = sim::parseCharsetList(args.charsets);
    if (!sets) {
      std::cerr << "voryx modem-sim: unknown character sets \"" << args.charsets
                << "\" (a list of GSM, IRA, HEX, UCS2, UTF-8)\n";
      return 2;
    }
    options.charsets.listed = *sets;
  }
  options.charsets.hexNumbers = args.hexNumbers;

  sim::SimCard card = sim::SimCard::demo();
  std::string error;
  const std::filesystem::path file = args.simFile;
  bool fresh = false;
  if (!file.empty()) {
    std::error_code ec;
    if (std::filesystem::exists(file, ec)) {
      auto loaded = sim::SimCard::load(file, error);
      if (!loaded) {
        std::cerr << "voryx modem-sim: " << error << '\n';
        return 1;
      }
      card = std::move(*loaded);
    } else {
      fresh = true;  // a demo SIM of its own, kept from now on
      card.giveFreshIdentity();
    }
  }

  // SIGINT and SIGTERM are taken by sigwait below; blocked before the modem's thread
  // starts so that it inherits the mask.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  // The identity given on the command line is the SIM's from now on.
  if ((applySimState(args.simState, card, options) || fresh) && !file.empty() && !card.save(file, error)) {
    std::cerr << "voryx modem-sim: " << error << '\n';
    return 1;
  }
  if (args.qmi) {
    qmiFaults.noSim = args.simState.noSim;
    sim::VirtualQmi qmi{std::move(card), qmiFaults};
    if (!file.empty()) {
      qmi.setOnChange([file](const sim::SimCard& changed) {
        std::string saveError;
        if (!changed.save(file, saveError)) std::cerr << "voryx modem-sim: " << saveError << '\n';
      });
    }
    if (!qmi.start(&error)) {
      std::cerr << "voryx modem-sim: " << error << '\n';
      return 1;
    }
    std::cout << qmi.devicePath() << std::endl;
    int signal = 0;
    sigwait(&stopSignals, &signal);
    qmi.stop();
    return 0;
  }
  sim::ModemPorts ports{args.ports, std::move(card), options};
  sim::VirtualModem& modem = ports.answering();
  if (!file.empty()) {
    modem.setOnChange([file](const sim::SimCard& changed) {
      std::string saveError;
      if (!changed.save(file, saveError)) std::cerr << "voryx modem-sim: " << saveError << '\n';
    });
  }
  if (!ports.start(&error)) {
    std::cerr << "voryx modem-sim: " << error << '\n';
    return 1;
  }
  for (const std::string& path : ports.paths()) std::cout << path << '\n';
  std::cout << std::flush;
  int signal = 0;
  sigwait(&stopSignals, &signal);
  ports.stop();
  return 0;
}

}  // namespace

void addModemSimCommand(CLI::App& app, int& exitCode) {
  auto args = std::make_shared<ModemSimArgs>();
  auto* sub = app.add_subcommand(
      "modem-sim", "Run a virtual modem with a virtual SIM on a pseudo-terminal, and print its device path");
  sub->add_option("--sim-file", args->simFile,
                  "The SIM's state, loaded at start and saved after each change (created with "
                  "the demo SIM when missing)");
  sub->add_option("--profile", args->profile, "Reply style: default or linebreak")
      ->capture_default_str();
  sub->add_option("--reply-delay", args->replyDelay, "Milliseconds before each reply")
      ->check(CLI::NonNegativeNumber);
  sub->add_option("--entry-delay", args->entryDelay, "Milliseconds before each listing entry")
      ->check(CLI::NonNegativeNumber);
  sub->add_option("--chunk", args->chunk, "Send replies in chunks of this many bytes")
      ->check(CLI::NonNegativeNumber);
  sub->add_option("--chunk-gap", args->chunkGap, "Milliseconds between chunks")
      ->check(CLI::NonNegativeNumber);
  sub->add_option("--fault", args->faults,
                  "Inject a fault (repeatable): silence, huge-reply, nul-bytes, listing-error, "
                  "charset-test-error, error-at-write=K, mute-at-write=K, hangup-at-write=K, "
                  "late-at-write=K, lost-at-write=K (the write done, the line then closed)");
  sub->add_option("--charsets", args->charsets,
                  "The character sets the modem offers and takes, e.g. UCS2,IRA (default: GSM, "
                  "IRA, HEX, UCS2, UTF-8)")
      ->option_text("LIST");
  sub->add_flag("--hex-numbers", args->hexNumbers,
                "Under UCS2, list numbers as hexadecimal 16-bit units, as some modems do");
  sub->add_option("--ports", args->ports,
                  "Open this many pseudo-terminals, one path a line; only the last answers AT, "
                  "the others stay silent (as a USB modem's diagnostic and GPS ports)")
      ->capture_default_str()
      ->check(CLI::Range(1, 16));
  sub->add_flag("--qmi", args->qmi,
                "Speak QMI (QMUX, as a modem's /dev/cdc-wdm port) instead of AT: the SIM's files "
                "through the UIM service, for qmi-proxy and qmicli; faults: error-at-record=K, "
                "silence-at-record=K, hangup-at-record=K");
  addSimStateOptions(*sub, args->simState);
  sub->callback([args, &exitCode] { exitCode = runModemSim(*args); });
}

}  // namespace voryx
