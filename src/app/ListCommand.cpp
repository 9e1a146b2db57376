#include "app/Commands.h"

namespace voryx {

void addListCommand(CLI::App& app, int& exitCode) {
  auto* sub = app.add_subcommand("list", "(not built yet)");
  sub->callback([&exitCode] { exitCode = 2; });
}

}  // namespace voryx
