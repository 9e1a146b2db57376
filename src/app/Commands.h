#pragma once
// The faces of `voryx`: each adds its subcommand to the command line and, when chosen,
// runs it and leaves the process exit status in `exitCode`.
#include <CLI/CLI.hpp>

#include <optional>
#include <string>

#include "app/ModemChoice.h"
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
void addBackupCommands(CLI::App& app, int& exitCode);    // voryx backup / restore-backup / sms

// One read or write of `voryx read` / `voryx write`, with its options as given.
struct TransferOptions {
  bool write = false;
  bool sms = false;
  ModemArgs modem;
  bool discardChanges = false;  // read: replace rows that carry changes not yet written
  bool quiet = false;           // no progress, no end line unless something failed
  std::string charset = "auto";  // --charset: hex, ucs2, gsm, ira, or auto (the negotiation)
  std::string pin;              // --pin: the SIM's PIN, when it asks
  int fast = 0;                 // --fast 1, --no-fast -1, neither 0: the stored setting
  bool toOtherSim = false;      // write: copy the whole list onto a SIM it was not read from
  bool dryRun = false;          // write: list the change commands instead of sending them
  std::string access;           // --access: commands, records or modem; empty: the stored setting
  std::string store = "SM";     // --store: the phonebook store
  std::string pin2;             // --pin2: for a write of fixed dialling
};
// Runs it as the command does: progress, the end line, and the exit status.
int runTransfer(const TransferOptions& options);

// Where a shell edit goes: the writable database (copied first when missing; a failure is
// told on standard error as "voryx COMMAND: ...") and what the SIM takes, from the
// preferences.
entries::EditTarget shellEditTarget(const char* command, bool sms, Phonebook book = Phonebook::SM);
// Each line of `text` ("\n" between lines) on standard error as "voryx COMMAND: line";
// nothing for "".
void tellLines(const char* command, const std::string& text);

// --store SM|ON|FD|ME|EN|SDN on a phonebook command, letter case ignored; `store` keeps
// what was given ("SM" when nothing was), phonebookOf() reads it.
CLI::Option* addPhonebookOption(CLI::App& command, std::string& store);
Phonebook phonebookOf(const std::string& store);

// voryx info over a card reader: the reader's and the card's lines on standard output, and
// the card's identity; nothing (the reason on standard error) when the card cannot be reached.
std::optional<SimIdentity> cardInfo(const std::string& reader);
// voryx info over a QMI port through qmi-proxy: the same lines; nothing when it cannot be
// reached (`refused` set when the proxy does not serve this user, which the caller tells).
std::optional<SimIdentity> qmiInfo(const std::filesystem::path& port, bool& refused);

}  // namespace voryx
