#include "app/Commands.h"

namespace voryx {

void addServeCommand(CLI::App& app, int& exitCode) {
  auto* sub = app.add_subcommand("serve", "(not built yet)");
  sub->callback([&exitCode] { exitCode = 2; });
}

}  // namespace voryx
