#pragma once
// The faces of `voryx`: each adds its subcommand to the command line and, when chosen,
// runs it and leaves the process exit status in `exitCode`.
#include <CLI/CLI.hpp>

#include <optional>
#include <string>

#include "entries/Editing.h"
#include "store/SimTable.h"

namespace voryx {

void addServeCommand(CLI::App& app, int& exitCode);      // voryx serve: the screens over HTTP
void addListCommand(CLI::App& app, int& exitCode);       // voryx list: the list as loaded
void addModemSimCommand(CLI::App& app, int& exitCode);   // voryx modem-sim: the virtual modem
void addCardSimCommand(CLI::App& app, int& exitCode);    // voryx card-sim: the virtual SIM card in a reader
void addTransferCommands(CLI::App& app, int& exitCode);  // voryx read / write / unlock
void addEditCommands(CLI::App& app, int& exitCode);      // voryx add / edit / delete / empty
void addContactsCommands(CLI::App& app, int& exitCode);  // voryx contacts / voryx import
void addFileCommands(CLI::App& app, int& exitCode);      // voryx export / voryx restore
void addLogCommand(CLI::App& app, int& exitCode);        // voryx log
void addDevicesCommand(CLI::App& app, int& exitCode);    // voryx devices: the candidate ports
void addInfoCommand(CLI::App& app, int& exitCode);       // voryx info: the modem and its SIM
void addMailCommand(CLI::App& app, int& exitCode);       // voryx mail
void addReadersCommand(CLI::App& app, int& exitCode);     // voryx readers: the card readers
void addStatusCommand(CLI::App& app, int& exitCode);     // voryx status (diff): what a write sends

// Where a shell edit goes: the writable database (copied first when missing; a failure is
// told on standard error as "voryx COMMAND: ...") and what the SIM takes, from the
// preferences.
entries::EditTarget shellEditTarget(const char* command, bool sms);

// voryx info over a card reader: the reader's and the card's lines on standard output, and
// the card's identity; nothing (the reason on standard error) when the card cannot be reached.
std::optional<SimIdentity> cardInfo(const std::string& reader);

}  // namespace voryx
