// voryx: manages a SIM card's phonebook and SMS store through a modem's AT port.
#include <cstring>
#include <iostream>
#include <string>

#include "app/Commands.h"

namespace {

// The commands, one a line, as the top-level help lists them.
std::string commandList(const CLI::App& app) {
  std::string out;
  for (const CLI::App* sub : app.get_subcommands([](const CLI::App*) { return true; })) {
    std::string name = sub->get_name();
    name.resize(std::max<std::size_t>(name.size() + 2, 12), ' ');
    out += "  " + name + sub->get_description() + "\n";
  }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Voryx: the SIM phonebook and SMS store through a modem's AT port"};
  app.set_version_flag("--version", std::string("voryx ") + VORYX_VERSION);
  app.require_subcommand(1);
  app.footer("Run \"voryx help COMMAND\" (or \"voryx COMMAND --help\") for a command's options.");
  int exitCode = 0;
  voryx::addServeCommand(app, exitCode);
  voryx::addListCommand(app, exitCode);
  voryx::addModemSimCommand(app, exitCode);
  voryx::addTransferCommands(app, exitCode);
  voryx::addEditCommands(app, exitCode);
  voryx::addContactsCommands(app, exitCode);
  voryx::addFileCommands(app, exitCode);
  voryx::addLogCommand(app, exitCode);
  voryx::addMailCommand(app, exitCode);
  voryx::addDevicesCommand(app, exitCode);
  voryx::addInfoCommand(app, exitCode);

  std::string topic;
  auto* help = app.add_subcommand("help", "Show the help of voryx or of one command");
  help->add_option("command", topic, "The command to explain");
  help->callback([&] {
    if (topic.empty()) {
      std::cout << app.help();
      return;
    }
    try {
      std::cout << app.get_subcommand(topic)->help();
    } catch (const CLI::OptionNotFound&) {
      std::cerr << "voryx: unknown command '" << topic << "'; the commands are:\n" << commandList(app);
      exitCode = 2;
    }
  });

  // A first word that names no command: say so, and list them.
  if (argc > 1 && argv[1][0] != '-') {
    try {
      app.get_subcommand(argv[1]);
    } catch (const CLI::OptionNotFound&) {
      std::cerr << "voryx: unknown command '" << argv[1] << "'; the commands are:\n" << commandList(app);
      return 2;
    }
  }
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    // --help and --version print and succeed; any other parse error is a usage error (2).
    return app.exit(e) == 0 ? 0 : 2;
  }
  return exitCode;
}
