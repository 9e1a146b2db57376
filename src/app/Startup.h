#pragma once
// The start-up common to every face of `voryx`: paths from the environment, the private
// folders of the log and the preferences, the debug log's path and the string table.
// The database copy is left to VoryxAppDelegate, whose caller shows its message.
#include <string>

#include "base/Paths.h"

namespace voryx {

// Creates the folders of the debug log and of the preferences file with mode 0700
// (parents too) when missing. Failures are left to the writers, which then drop or
// report their own writes.
void prepareFolders(const Paths& paths);

// Paths::fromEnvironment(), prepareFolders, DebugLog::setPath, the string tables and the
// language of the environment (LANGUAGE, LC_ALL, LC_MESSAGES, LANG: the first one set).
// Main thread, first thing in every command.
Paths startUp();

// The address book to use: `given` (--contacts) when not empty, else the "contacts" path
// of the preferences file, else the default of Paths. "~/" at the start means the home
// folder.
void chooseAddressBook(Paths& paths, const std::string& given);

// The file whose presence turns logging on for shell commands ("voryx log start"),
// beside the log. 1 while it exists, else 0: the createLog the commands pass on.
std::filesystem::path loggingFlag(const Paths& paths);
int shellCreateLog(const Paths& paths);

}  // namespace voryx
