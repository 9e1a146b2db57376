// voryx: manages a SIM card's phonebook and SMS store through a modem's AT port.
#include <cstring>
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include "app/Commands.h"

namespace {

// The commands a user may name: every one but the hidden (group-less) ones.
std::vector<const CLI::App*> visibleCommands(const CLI::App& app) {
  return app.get_subcommands([](const CLI::App* sub) { return !sub->get_group().empty(); });
}

// The commands, one a line, as the top-level help lists them.
std::string commandList(const CLI::App& app) {
  std::string out;
  for (const CLI::App* sub : visibleCommands(app)) {
    std::string name = sub->get_name();
    name.resize(std::max<std::size_t>(name.size() + 2, 12), ' ');
    out += "  " + name + sub->get_description() + "\n";
  }
  return out;
}

// One option as --help shows it, but its description always on a line of its own: help2man
// needs two blanks between the two, which --help leaves out for a name of 28 characters.
std::string optionForManual(const CLI::Option& opt) {
  const CLI::Formatter fmt;  // the layout every --help uses
  std::string out = "  " + fmt.make_option_name(&opt, opt.get_positional()) + fmt.make_option_opts(&opt) + "\n";
  const std::string indent(30, ' ');
  std::string desc = fmt.make_option_desc(&opt);
  if (desc.empty()) return out;
  out += indent;
  for (char c : desc) {
    out += c;
    if (c == '\n') out += indent;
  }
  return out + "\n";
}

// Every command's help in one text, laid out for help2man (the manual page is made from
// it, so the options are described in one place, here in the code): the program's usage
// and options, then a "Commands" section with one sub-section a command: its usage line
// ending in a colon, its description indented, its options, its footer one paragraph a
// line. Paragraphs are kept apart by blank lines, as help2man joins lines that touch.
std::string helpForManual(const CLI::App& app) {
  std::string out = app.get_description() + "\n";
  out += "Usage: voryx COMMAND [OPTIONS] [ARGUMENTS]\n";
  out += "  or:  voryx help [COMMAND]\n";
  out += "\nOptions:\n";
  for (const CLI::Option* opt : app.get_options()) out += optionForManual(*opt);
  out += "\n" + app.get_footer() + "\n\n*Commands*\n";
  for (const CLI::App* sub : visibleCommands(app)) {
    std::string usage = CLI::Formatter().make_usage(sub, "voryx " + sub->get_name());
    usage = usage.substr(usage.find(' ') + 1);  // "Usage: " off
    while (!usage.empty() && usage.back() == '\n') usage.pop_back();
    out += usage + ":\n  " + sub->get_description() + "\n\n";
    for (const CLI::Option* opt : sub->get_options([sub](const CLI::Option* o) { return o != sub->get_help_ptr(); })) {
      out += optionForManual(*opt);
    }
    const std::string text = sub->get_footer();
    std::string_view footer = text;
    while (!footer.empty()) {
      const std::size_t end = footer.find('\n');
      out += "\n" + std::string(footer.substr(0, end)) + "\n";
      footer.remove_prefix(end == std::string_view::npos ? footer.size() : end + 1);
    }
    out += "\n";
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
  voryx::addCardSimCommand(app, exitCode);
  voryx::addTransferCommands(app, exitCode);
  voryx::addEditCommands(app, exitCode);
  voryx::addContactsCommands(app, exitCode);
  voryx::addFileCommands(app, exitCode);
  voryx::addBackupCommands(app, exitCode);
  voryx::addLogCommand(app, exitCode);
  voryx::addMailCommand(app, exitCode);
  voryx::addDevicesCommand(app, exitCode);
  voryx::addReadersCommand(app, exitCode);
  voryx::addInfoCommand(app, exitCode);
  voryx::addStatusCommand(app, exitCode);

  std::string topic;
  auto* help = app.add_subcommand("help", "Show the help of voryx or of one command");
  help->add_option("command", topic, "The command to explain");
  help->callback([&] {
    // App::help() of a parsed command line shows the chosen command's help (this one's):
    // the program's and the topic's are asked of the formatter.
    if (topic.empty()) {
      std::cout << app.get_formatter()->make_help(&app, app.get_name(), CLI::AppFormatMode::Normal);
      return;
    }
    try {
      std::cout << app.get_subcommand(topic)->help(app.get_name());
    } catch (const CLI::OptionNotFound&) {
      std::cerr << "voryx: unknown command '" << topic << "'; the commands are:\n" << commandList(app);
      exitCode = 2;
    }
  });

  // The text the manual page is made from (help2man --help-option=help-all); hidden.
  auto* helpAll = app.add_subcommand("help-all", "Print the help of every command at once");
  helpAll->group("");
  helpAll->callback([&] { std::cout << helpForManual(app); });

  // A first word that names no command: say so, and list them.
  if (argc > 1 && argv[1][0] != '-') {
    try {
      static_cast<void>(app.get_subcommand(argv[1]));  // only for its throw on an unknown name
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
