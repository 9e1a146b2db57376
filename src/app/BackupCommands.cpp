// voryx backup / voryx restore-backup: a whole SIM (its phonebook stores and messages) to one file,
// and that file back into the local copy, marked, for the writes to carry to a SIM.
// voryx sms --archive: the SMS store into an archive (a backup of the messages alone, and
// an mbox file to read), and with --clear off the SIM, for a store that is full.
#include <iostream>
#include <map>
#include <memory>
#include <string>

#include "app/Commands.h"
#include "app/Startup.h"
#include "app/VoryxAppDelegate.h"
#include "base/Localized.h"
#include "entries/Backup.h"
#include "entries/SmsArchive.h"
#include "store/Phonebooks.h"
#include "store/Preferences.h"

namespace voryx {
namespace {

struct BackupOptions {
  std::string file;
  TransferOptions read;  // backup: the reads of both stores
  bool discardChanges = false;
};

std::string simName(const std::optional<SimIdentity>& sim) {
  const std::string name = sim ? shortSimName(*sim) : std::string();
  return name.empty() ? "a SIM that did not tell who it is" : "SIM " + name;
}

std::string counted(std::size_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

int backup(const BackupOptions& options) {
  // A backup is of the SIM as it is now: both stores are read first, as "voryx read" reads.
  for (bool sms : {false, true}) {
    TransferOptions read = options.read;
    read.sms = sms;
    read.discardChanges = options.discardChanges;
    if (const int status = runTransfer(read); status != 0) {
      std::cerr << "voryx backup: nothing was written: the SIM's " << (sms ? "messages" : "phonebook")
                << " could not be read\n";
      return status;
    }
  }
  // The modem's other phonebook stores, as the phonebook's read found them; over the SIM's
  // files there are none.
  const Paths paths = startUp();
  const bool records = options.read.access == "records" || options.read.modem.readerGiven ||
                       (options.read.access.empty() && Preferences(paths.preferences).integer(kPrefRecords, 0) != 0);
  const std::vector<Phonebook> offered =
      records ? std::vector<Phonebook>{} : phonebooksIn(Preferences(paths.preferences).text(kPrefPhonebooks).value_or(""));
  for (Phonebook book : offered) {
    if (book == Phonebook::SM) continue;
    TransferOptions read = options.read;
    read.store = std::string(phonebookKind(book).code);
    read.discardChanges = options.discardChanges;
    if (runTransfer(read) != 0) {
      std::cerr << "voryx backup: the " << read.store << " phonebook could not be read; the backup holds it as "
                << "last read from this SIM, if it was\n";
    }
  }
  auto copy = entries::backupOfCopy(paths.database());
  if (!copy) {
    std::cerr << "voryx backup: nothing was written: " << copy.error().detail << "\n";
    return 1;
  }
  Preferences preferences(paths.preferences);
  copy->capacity = preferences.integer(kPrefMaxSIM, 0);
  copy->nameLength = preferences.integer(kPrefMaxSIMLen, 0);
  copy->smsCapacity = preferences.integer(kPrefMaxSMS, 0);
  for (auto& [book, content] : copy->books) {
    content.capacity = preferences.integer(phonebookKey(kPrefMaxSIM, book), 0);
    content.nameLength = preferences.integer(phonebookKey(kPrefMaxSIMLen, book), 0);
  }
  if (Status written = entries::writeBackup(options.file, *copy); !written) {
    std::cerr << "voryx backup: nothing was written: " << written.error().detail << "\n";
    return 1;
  }
  std::cerr << "voryx backup: " << counted(copy->phonebook.size(), "entry", "entries") << " and "
            << counted(copy->sms.size(), "message", "messages") << " of " << simName(copy->sim) << " written to "
            << options.file;
  if (!copy->books.empty()) {
    std::cerr << ", with the phonebooks";
    for (const auto& [book, content] : copy->books) std::cerr << " " << phonebookKind(book).code;
  }
  std::cerr << "\n";
  return 0;
}

int restore(const BackupOptions& options) {
  const Paths paths = startUp();
  if (auto message = VoryxAppDelegate(paths).createEditableCopyOfDatabaseIfNeeded()) {
    std::cerr << "voryx restore-backup: " << *message << "\n";
    return 1;
  }
  Preferences preferences(paths.preferences);
  // What each store takes, as its last read learned.
  std::map<Phonebook, entries::EntryRoom> rooms;
  for (const PhonebookKind& kind : kPhonebooks) {
    rooms[kind.book] = {preferences.integer(phonebookKey(kPrefMaxSIMLen, kind.book), 14),
                        preferences.integer(kPrefNameSets, 0),
                        preferences.integer(phonebookKey(kPrefMaxNumberLen, kind.book), codec::kSimNumberDigits)};
  }
  auto report = entries::restoreBackup(options.file, paths.database(), preferences.integer(kPrefMaxSIM, 0),
                                       preferences.integer(kPrefMaxSMS, 0), options.discardChanges, kShellBusy, rooms);
  if (!report) {
    std::cerr << "voryx restore-backup: nothing was restored: " << report.error().detail;
    if (report.error().code == Errc::Invalid && report.error().detail.ends_with("not yet written to the SIM")) {
      std::cerr << " (--discard-changes restores anyway)";
    }
    std::cerr << "\n";
    return 1;
  }
  const entries::SimBackup& backup = report->backup;
  std::cerr << "voryx restore-backup: " << counted(backup.phonebook.size(), "entry", "entries") << " and "
            << counted(backup.sms.size(), "message", "messages") << " of " << simName(backup.sim) << " restored; "
            << report->entriesMarked << " entries and " << report->messagesMarked << " messages to write";
  if (report->entriesErased + report->messagesErased > 0) {
    std::cerr << ", " << report->entriesErased << " entries and " << report->messagesErased
              << " messages the SIM holds and the backup has not marked deleted";
  }
  std::cerr << " (\"voryx write\" and \"voryx write --sms\" carry them to the SIM)\n";
  if (!report->booksRestored.empty()) {
    std::cerr << "voryx restore-backup: " << report->bookEntriesMarked << " entries to write and "
              << report->bookEntriesErased << " marked deleted in the phonebooks";
    for (Phonebook book : report->booksRestored) std::cerr << " " << phonebookKind(book).code;
    std::cerr << " (\"voryx write --store ...\" carries each to the SIM)\n";
  }
  if (report->messagesWithoutRecords > 0) {
    std::cerr << "voryx restore-backup: "
              << localized("this backup keeps the messages' texts only, not their status or time: they are "
                           "stored as sent messages")
              << " (" << report->messagesWithoutRecords << ")\n";
  }
  for (const std::string& refused : report->refused) {
    std::cerr << "voryx restore-backup: not restored: " << refused << "\n";
  }
  if (report->namesCut > 0) {
    std::cerr << "voryx restore-backup: " << report->namesCut << " "
              << localized(report->namesCut == 1 ? "name was cut to what the SIM holds." : "names were cut to what the SIM holds.")
              << "\n";
  }
  if (!report->copySim) {
    std::cerr << "voryx restore-backup: the local copy has not been read from a SIM: read the SIM to restore "
                 "onto first (voryx read, voryx read --sms), so that the write knows what it holds\n";
  }
  return 0;
}

struct SmsOptions {
  std::string archive;
  bool clear = false;
  TransferOptions write;  // --clear: the SMS write, as "voryx write --sms" runs it
};

int archiveSms(const SmsOptions& options) {
  const Paths paths = startUp();
  if (auto message = VoryxAppDelegate(paths).createEditableCopyOfDatabaseIfNeeded()) {
    std::cerr << "voryx sms: " << *message << "\n";
    return 1;
  }
  auto archive = entries::archiveMessages(options.archive, paths.database(),
                                          Preferences(paths.preferences).integer(kPrefMaxSMS, 0), options.clear);
  if (!archive) {
    std::cerr << "voryx sms: " << (options.clear ? "nothing was cleared: " : "") << "the archive failed: "
              << archive.error().detail << "\n";
    return 1;
  }
  std::cerr << "voryx sms: " << counted(static_cast<std::size_t>(archive->messages), "message", "messages")
            << " archived in " << archive->file.string() << " (to read: " << archive->mbox.string() << ")\n";
  if (!options.clear) return 0;
  // The write is the one "voryx write --sms" runs: its checks (the SIM it was read from,
  // the journal), its progress and its end line.
  TransferOptions write = options.write;
  write.write = true;
  write.sms = true;
  const int status = runTransfer(write);
  if (status != 0) {
    std::cerr << "voryx sms: the messages the SIM still holds stay marked deleted; \"voryx write --sms\" "
                 "erases them\n";
  }
  return status;
}

}  // namespace

void addBackupCommands(CLI::App& app, int& exitCode) {
  auto options = std::make_shared<BackupOptions>();
  auto* save = app.add_subcommand(
      "backup", "Read the whole SIM (phonebook and SMS store) and write it to one file");
  save->add_option("file", options->file, "The backup file (JSON)")->required();
  addModemOptions(*save, options->read.modem);
  save->add_option("--pin", options->read.pin, "The SIM's PIN, when it asks for one (sent once, never stored)")
      ->option_text("PIN");
  save->add_option("--access", options->read.access, "commands, records or modem, as for \"voryx read\"")
      ->check(CLI::IsMember({"commands", "records", "modem"}))
      ->option_text("HOW");
  save->add_flag("--discard-changes", options->discardChanges,
                 "Read even when the local copy holds changes not yet written to the SIM (they are lost)");
  save->add_flag("--fast,!--no-fast", options->read.fast,
                 "Take a reply as complete at its final result code, as for \"voryx read\"");
  save->add_flag("-q,--quiet", options->read.quiet, "No progress bar, only errors and the last line");
  save->footer(
      "Both stores are read into the local copy first, as \"voryx read\" and \"voryx read --sms\" read them; "
      "the file holds what the SIM holds, with the names also in the SIM's own bytes, and which SIM it is.\n"
      "Exit status: 0 written, 1 nothing written, 2 usage, and those of \"voryx read\"");
  save->callback([options, &exitCode] { exitCode = backup(*options); });

  auto* back = app.add_subcommand(
      "restore-backup", "Make the local copy hold a backup's phonebook and messages, marked for the next writes");
  back->add_option("file", options->file, "The backup file")->required();
  back->add_flag("--discard-changes", options->discardChanges,
                 "Restore even over changes not yet written to the SIM");
  back->footer(
      "Read the SIM to restore onto first. Each entry goes back to its location and each message is stored "
      "anew; what that SIM holds and the backup has not is marked deleted, and what it holds as the backup "
      "has it stays as it is. Only the local copy changes: \"voryx write\" and \"voryx write --sms\" carry "
      "it to the SIM (\"voryx status\" shows what they would send).\n"
      "Exit status: 0 restored, 1 nothing restored, 2 usage");
  back->callback([options, &exitCode] { exitCode = restore(*options); });

  auto sms = std::make_shared<SmsOptions>();
  auto* messages = app.add_subcommand("sms", "Archive the SIM's messages to files, and clear them off the SIM");
  messages->add_option("--archive", sms->archive,
                       "The archive: a backup of the messages alone (\"voryx restore-backup\" gives them back); "
                       "beside it the same messages as an mbox file for a mail program (FILE with .mbox)")
      ->required()
      ->option_text("FILE");
  messages->add_flag("--clear", sms->clear,
                     "Once the archive reads back whole, mark every message deleted and write, as \"voryx write "
                     "--sms\" does");
  addModemOptions(*messages, sms->write.modem);
  messages->add_option("--pin", sms->write.pin, "The SIM's PIN, when it asks for one (sent once, never stored)")
      ->option_text("PIN");
  messages->add_option("--access", sms->write.access, "commands, records or modem, as for \"voryx write\"")
      ->check(CLI::IsMember({"commands", "records", "modem"}))
      ->option_text("HOW");
  messages->add_flag("--fast,!--no-fast", sms->write.fast,
                     "Take a reply as complete at its final result code, as for \"voryx write\"");
  messages->add_flag("-q,--quiet", sms->write.quiet, "No progress bar and no summary of the write, only errors");
  messages->footer(
      "The archive holds the messages as the last \"voryx read --sms\" found them on the SIM. Nothing is "
      "marked or written unless both files were written and the archive read back whole; --clear is refused "
      "while the message list holds changes not yet written.\n"
      "Exit status: 0 archived (and cleared), 1 the archive failed (nothing cleared), 2 usage, and those of "
      "\"voryx write --sms\"");
  messages->callback([sms, &exitCode] { exitCode = archiveSms(*sms); });
}

}  // namespace voryx
