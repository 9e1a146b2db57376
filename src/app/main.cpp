// voryx: manages a SIM card's phonebook and SMS store through a modem's AT port.
#include "app/Commands.h"

int main(int argc, char** argv) {
  CLI::App app{"Voryx: the SIM phonebook and SMS store through a modem's AT port"};
  app.require_subcommand(1);
  int exitCode = 0;
  voryx::addServeCommand(app, exitCode);
  voryx::addListCommand(app, exitCode);
  voryx::addModemSimCommand(app, exitCode);
  voryx::addTransferCommands(app, exitCode);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    // --help prints and succeeds; any other parse error is a usage error (status 2).
    return app.exit(e) == 0 ? 0 : 2;
  }
  return exitCode;
}
