// voryx mail [--eml FILE]: the debug log to support, through the same code as the tool
// sheet's "Send debug log to support": the message of the log as it stands, written to a
// file or handed to the desktop's mail client; then logging is off for the shell commands.
#include <ctime>
#include <iostream>
#include <memory>
#include <string>
#include <system_error>

#include "app/Commands.h"
#include "app/Startup.h"
#include "base/AtomicFile.h"
#include "base/DebugLog.h"
#include "entries/SupportMail.h"
#include "store/Preferences.h"

namespace voryx {
namespace {

int runMail(const std::string& eml) {
  const Paths paths = startUp();
  std::error_code ec;
  if (!std::filesystem::exists(paths.logFile, ec)) {
    std::cerr << "voryx mail: there is no debug log to send (\"voryx log start\" begins one)\n";
    return 1;
  }
  const entries::SupportMail mail =
      entries::makeSupportMail(entries::supportAddress(Preferences(paths.preferences)), DebugLog::contents());
  if (!eml.empty()) {
    // 0600: the log holds numbers and message texts.
    if (Status written = writeFileAtomically(eml, entries::encodeEml(mail, std::time(nullptr)), 0600); !written) {
      std::cerr << "voryx mail: nothing was written: " << written.error().detail << "\n";
      return 1;
    }
    std::cerr << "voryx mail: the message to " << mail.to << " is in " << eml
              << "; logging is off (open the file with your mail program to send it)\n";
  } else {
    if (Status handed = entries::handToMailClient(mail, paths.logFile.parent_path()); !handed) {
      std::cerr << "voryx mail: " << handed.error().detail << "; nothing was sent: use --eml FILE to write "
                << "the message to a file, and send that with any mail program\n";
      return 1;
    }
    std::cerr << "voryx mail: the message to " << mail.to << " went to your mail program (xdg-email); logging is off\n";
  }
  std::filesystem::remove(loggingFlag(paths), ec);
  if (ec) std::cerr << "voryx mail: logging stays on: " << loggingFlag(paths).string() << ": " << ec.message() << "\n";
  return 0;
}

}  // namespace

void addMailCommand(CLI::App& app, int& exitCode) {
  auto eml = std::make_shared<std::string>();
  auto* sub = app.add_subcommand("mail", "Send the debug log to support (through your mail program, or as an .eml file)");
  sub->add_option("--eml", *eml, "Write the message to FILE (MIME, the log attached) instead of opening your mail program")
      ->option_text("FILE");
  sub->footer("The support address is \"supportAddress\" in preferences.json. The log holds the numbers and "
              "message texts that passed: \"voryx log show\" prints it. Logging is off afterwards.\n"
              "Exit status: 0 written or handed to the mail program, 1 nothing sent, 2 usage");
  sub->callback([eml, &exitCode] { exitCode = runMail(*eml); });
}

}  // namespace voryx
