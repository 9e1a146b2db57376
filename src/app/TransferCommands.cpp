#include "app/Commands.h"

namespace voryx {

void addTransferCommands(CLI::App& app, int& exitCode) {
  auto* read = app.add_subcommand("read", "(not built yet)");
  read->callback([&exitCode] { exitCode = 2; });
  auto* write = app.add_subcommand("write", "(not built yet)");
  write->callback([&exitCode] { exitCode = 2; });
}

}  // namespace voryx
