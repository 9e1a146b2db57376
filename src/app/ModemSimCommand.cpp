#include "app/Commands.h"

namespace voryx {

void addModemSimCommand(CLI::App& app, int& exitCode) {
  auto* sub = app.add_subcommand("modem-sim", "(not built yet)");
  sub->callback([&exitCode] { exitCode = 2; });
}

}  // namespace voryx
