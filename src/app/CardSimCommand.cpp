// voryx card-sim: the virtual SIM as a card in vsmartcard's virtual reader, until SIGINT
// or SIGTERM. The same SIM file as modem-sim's, so one SIM can be reached both ways.
#include <signal.h>

#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "app/Commands.h"
#include "sim/PinLock.h"
#include "sim/VirtualCard.h"

namespace voryx {
namespace {

struct CardSimArgs {
  std::string simFile;
  std::string pin;
  std::string puk = "12345678";
  std::string profile = "usim";
  bool t1 = false;
  int port = sim::VirtualCard::kFirstPort;
  std::vector<std::string> faults;
  int removeAtRead = 0;
  bool wrongLength = false;
  int delay = 0;
};

int runCardSim(const CardSimArgs& args) {
  sim::CardOptions options;
  options.t1 = args.t1;
  options.removeAtRead = args.removeAtRead;
  options.wrongLength = args.wrongLength;
  options.delay = std::chrono::milliseconds{args.delay};
  for (const auto& f : args.faults) {
    if (!sim::parseFault(f, options.faults) || options.faults.muteAtWrite || options.faults.lateAtWrite) {
      std::cerr << "voryx card-sim: unknown fault \"" << f << "\" (error-at-write=K: 6F00, hangup-at-write=K: the card "
                << "taken out, lost-at-write=K: taken out once the record is written)\n";
      return 2;
    }
  }
  sim::SimCard card = sim::SimCard::demo();
  std::string error;
  const std::filesystem::path file = args.simFile;
  std::error_code ec;
  if (!file.empty() && std::filesystem::exists(file, ec)) {
    auto loaded = sim::SimCard::load(file, error);
    if (!loaded) {
      std::cerr << "voryx card-sim: " << error << '\n';
      return 1;
    }
    card = std::move(*loaded);
  } else if (!file.empty()) {
    card.giveFreshIdentity();
    if (!card.save(file, error)) {
      std::cerr << "voryx card-sim: " << error << '\n';
      return 1;
    }
  }
  if (auto lock = sim::PinLock::make(args.pin, args.puk)) card.pinLock() = *lock;

  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  sim::VirtualCard virtualCard{std::move(card), options, args.profile == "usim"};
  if (!file.empty()) {
    virtualCard.setOnChange([file](const sim::SimCard& changed) {
      std::string saveError;
      if (!changed.save(file, saveError)) std::cerr << "voryx card-sim: " << saveError << '\n';
    });
  }
  if (!virtualCard.insert(args.port, &error)) {
    std::cerr << "voryx card-sim: " << error << '\n';
    return 1;
  }
  std::cout << sim::VirtualCard::readerName(args.port) << std::endl;
  int signal = 0;
  sigwait(&stopSignals, &signal);
  virtualCard.remove();
  return 0;
}

}  // namespace

void addCardSimCommand(CLI::App& app, int& exitCode) {
  auto args = std::make_shared<CardSimArgs>();
  auto* sub = app.add_subcommand(
      "card-sim", "Put a virtual SIM in the virtual card reader (vsmartcard-vpcd in pcscd), and print the reader's name");
  sub->add_option("--sim-file", args->simFile,
                  "The SIM's state, loaded at start and saved after each change (created with the demo SIM "
                  "when missing); the same file as modem-sim's");
  sub->add_option("--pin", args->pin, "The card asks for this PIN (4 to 8 digits)")
      ->check([](const std::string& pin) { return sim::PinLock::isPin(pin) ? "" : "a PIN is 4 to 8 digits"; });
  sub->add_option("--puk", args->puk, "With --pin: the card's PUK (8 digits)")->capture_default_str();
  sub->add_option("--profile", args->profile, "usim (a UICC, class 00) or sim (a 2G SIM, class A0)")
      ->capture_default_str()
      ->check(CLI::IsMember({"usim", "sim"}));
  sub->add_flag("--t1", args->t1, "Offer T=1 instead of T=0");
  sub->add_option("--port", args->port, "The virtual reader's port (35963 is \"Virtual PCD 00 00\")")
      ->capture_default_str()
      ->check(CLI::Range(1, 65535));
  sub->add_option("--fault", args->faults,
                  "Inject a fault (repeatable): error-at-write=K (the k-th UPDATE RECORD answers 6F00), "
                  "hangup-at-write=K (the card is taken out as it arrives)");
  sub->add_option("--remove-at-read", args->removeAtRead, "Take the card out at the k-th READ RECORD")
      ->check(CLI::NonNegativeNumber);
  sub->add_flag("--wrong-length", args->wrongLength, "Answer every READ RECORD 6Cxx once, as if its Le were wrong");
  sub->add_option("--delay", args->delay, "Milliseconds the card takes over each command")
      ->check(CLI::Range(0, 10000));
  sub->callback([args, &exitCode] { exitCode = runCardSim(*args); });
}

}  // namespace voryx
