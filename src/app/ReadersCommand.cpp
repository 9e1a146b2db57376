// voryx readers: the PC/SC card readers pcscd knows, one a line ("Virtual PCD 00 00: card
// in (ATR 3B02 1450)", "OMNIKEY 3121 00 00: no card"), or as JSON.
//
// Exit status: 0 at least one reader; 3 none, or pcscd is not running (said on standard error).
#include <iostream>
#include <memory>
#include <string>

#include <nlohmann/json.hpp>

#include "app/Commands.h"
#include "base/Text.h"
#include "simfiles/PcscLink.h"

namespace voryx {
namespace {

int runReaders(bool json) {
  const simfiles::ReaderList list = simfiles::listReaders();
  if (json) {
    nlohmann::json out = nlohmann::json::array();
    for (const auto& r : list.readers) out.push_back({{"name", r.name}, {"card", r.cardPresent}, {"atr", hexUpper(r.atr)}});
    std::cout << out.dump(2) << "\n";
  } else {
    for (const auto& r : list.readers) {
      std::cout << r.name << ": " << (r.cardPresent ? "card in" : "no card")
                << (r.atr.empty() ? "" : " (ATR " + hexUpper(r.atr) + ")") << "\n";
    }
  }
  if (list.readers.empty()) {
    std::cerr << "voryx readers: " << list.error << "\n";
    return 3;
  }
  return 0;
}

}  // namespace

void addReadersCommand(CLI::App& app, int& exitCode) {
  auto json = std::make_shared<bool>(false);
  auto* sub = app.add_subcommand("readers", "List the PC/SC card readers (through pcscd) and whether a card is in each");
  sub->add_flag("--json", *json, "As a JSON array of {name, card, atr}");
  sub->footer("Exit status: 0 a reader is there, 3 none (or the smart card service is not running)");
  sub->callback([json, &exitCode] { exitCode = runReaders(*json); });
}

}  // namespace voryx
