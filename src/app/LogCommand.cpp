// voryx log start|stop|show|path: the debug log from a shell. "start" empties the log, as
// the tool sheet's "Start debug log" does, and turns logging on for the shell commands
// that follow (a flag file beside the log) until "stop".
#include <iostream>
#include <memory>
#include <string>
#include <system_error>

#include "app/Commands.h"
#include "app/Startup.h"
#include "base/AtomicFile.h"
#include "base/DebugLog.h"

namespace voryx {
namespace {

int runLog(const std::string& action) {
  const Paths paths = startUp();
  const auto flag = loggingFlag(paths);
  std::error_code ec;
  if (action == "path") {
    std::cout << paths.logFile.string() << "\n";
  } else if (action == "show") {
    std::cout << DebugLog::contents() << std::flush;
  } else if (action == "start") {
    if (!DebugLog::start() || !writeFileAtomically(flag, "", 0600).ok()) {
      std::cerr << "voryx log: the debug log cannot be written: " << paths.logFile.string() << "\n";
      return 1;
    }
    std::cerr << "voryx log: logging is on for the commands that follow (read, write, import ...); "
                 "the log is " << paths.logFile.string() << "\n";
  } else {
    std::filesystem::remove(flag, ec);
    if (ec) {
      std::cerr << "voryx log: " << flag.string() << ": " << ec.message() << "\n";
      return 1;
    }
    std::cerr << "voryx log: logging is off; the log stays in " << paths.logFile.string() << "\n";
  }
  return std::cout ? 0 : 1;
}

}  // namespace

void addLogCommand(CLI::App& app, int& exitCode) {
  auto action = std::make_shared<std::string>();
  auto* sub = app.add_subcommand("log", "The debug log of modem traffic, for support");
  sub->add_option("action", *action,
                  "start (empty the log, then log the commands that follow), stop, show (print "
                  "it), path (print where it is)")
      ->required()
      ->check(CLI::IsMember({"start", "stop", "show", "path"}));
  sub->footer("The log holds the numbers and message texts that pass; look at it before you send it.\n"
              "Exit status: 0 done, 1 the log could not be written, 2 usage");
  sub->callback([action, &exitCode] { exitCode = runLog(*action); });
}

}  // namespace voryx
