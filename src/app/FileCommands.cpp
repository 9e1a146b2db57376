// voryx export / voryx restore: the phonebook to and from the CSV file, through the same
// code as the main screen's tool sheet.
#include <algorithm>
#include <iostream>
#include <memory>
#include <optional>
#include <string>

#include "app/Commands.h"
#include "app/Startup.h"
#include "app/VoryxAppDelegate.h"
#include "base/Localized.h"
#include "entries/AddressBook.h"
#include "entries/Csv.h"
#include "store/EntryList.h"
#include "store/Preferences.h"

namespace voryx {
namespace {

constexpr const char* kCsvName = "Voryx.csv";
constexpr const char* kVCardName = "Voryx.vcf";

struct FileOptions {
  std::string file;
  bool discardChanges = false;
  bool vcard = false;
  std::string vcardVersion = "4.0";
  std::string store = "SM";  // export: the phonebook store
};

Paths prepare(const char* command) {
  const Paths paths = startUp();
  if (auto message = VoryxAppDelegate(paths).createEditableCopyOfDatabaseIfNeeded()) {
    std::cerr << "voryx " << command << ": " << *message << "\n";
  }
  return paths;
}

int exportFile(const FileOptions& options) {
  const std::optional<entries::VCardVersion> version = entries::vCardVersionNamed(options.vcardVersion);
  if (!version) {
    std::cerr << "voryx export: --vcard-version takes 4.0, 3.0 or 2.1, not \"" << options.vcardVersion << "\"\n";
    return 2;
  }
  const Paths paths = prepare("export");
  const std::filesystem::path file = !options.file.empty() ? std::filesystem::path(options.file)
                                     : paths.exportDir / (options.vcard ? kVCardName : kCsvName);
  const int sortField = Preferences(paths.preferences).integer(kPrefSort, 0);
  ListLoad load = loadEntries(paths.database(), ListStore::Phonebook, "", sortField, kShellBusy,
                              phonebookOf(options.store));
  if (load.failure != LoadFailure::None) {
    std::cerr << "voryx export: the database cannot be read: " << load.detail << "\n";
    return 1;
  }
  if (options.vcard) {
    const int lastFirst = Preferences(paths.preferences).integer(kPrefLastFirst, 0);
    if (Status written = entries::exportVCards(file, load.entries, lastFirst, *version); !written) {
      std::cerr << "voryx export: nothing was written: " << written.error().detail << "\n";
      return 1;
    }
    const auto cards = std::count_if(load.entries.begin(), load.entries.end(),
                                     [](const SimEntry& e) { return e.operazione != kMarkDeleted; });
    std::cerr << "voryx export: " << cards << " entries written to " << file.string() << " (vCard "
              << options.vcardVersion << ")\n";
    return 0;
  }
  if (std::string warning = entries::notRestorableText(entries::entriesNotRestorable(load.entries));
      !warning.empty()) {
    std::cerr << "voryx export: " << localized("warning:") << " " << warning << "\n";
  }
  if (Status written = entries::exportCsv(file, load.entries); !written) {
    std::cerr << "voryx export: nothing was written: " << written.error().detail << "\n";
    return 1;
  }
  std::cerr << "voryx export: " << load.entries.size() << " entries written to " << file.string() << "\n";
  return 0;
}

int restoreFile(const FileOptions& options) {
  const Paths paths = prepare("restore");
  const std::filesystem::path file = options.file.empty() ? paths.exportDir / kCsvName : std::filesystem::path(options.file);
  // The restore replaces the whole table: changes not yet written go only when asked.
  if (!options.discardChanges) {
    auto table = SimTable::open(paths.database(), ListStore::Phonebook);
    auto marked = table ? table->countMarked() : Result<int>(table.error());
    if (marked && *marked > 0) {
      std::cerr << "voryx restore: " << *marked << " changes not yet written to the SIM would be lost; "
                << "nothing was restored (--discard-changes restores anyway)\n";
      return 1;
    }
  }
  const Preferences preferences(paths.preferences);
  const int maxSIM = preferences.integer(kPrefMaxSIM, 0);
  entries::EditTarget target{paths.database(), ListStore::Phonebook, maxSIM,
                             preferences.integer(kPrefMaxSIMLen, 14), kShellBusy,
                             preferences.integer(kPrefNameSets, 0)};
  target.maxNumberLen = preferences.integer(kPrefMaxNumberLen, codec::kSimNumberDigits);
  auto report = entries::restoreCsv(file, target);
  if (!report) {
    std::cerr << "voryx restore: nothing was restored: " << report.error().detail << "\n";
    return 1;
  }
  std::cerr << "voryx restore: " << report->restored << " entries restored from " << file.string()
            << " (marked changed; \"voryx write\" puts them on the SIM)";
  if (report->erased > 0) {
    std::cerr << "; " << report->erased << " other locations the SIM holds marked deleted";
  }
  if (report->leftOut > 0) {
    std::cerr << "; " << report->leftOut << " lines were left out: the SIM holds " << maxSIM << " entries";
  }
  std::cerr << "\n";
  if (report->skipped > 0) {
    std::cerr << "voryx restore: " << entries::skippedLinesText(report->skipped, report->skippedLines) << "\n";
  }
  tellLines("restore", entries::refusedLinesText(*report));
  return 0;
}

}  // namespace

void addFileCommands(CLI::App& app, int& exitCode) {
  auto options = std::make_shared<FileOptions>();
  auto* exp = app.add_subcommand("export", "Write the phonebook to a CSV file (name;number a line), or as vCards");
  exp->add_option("file", options->file,
                  "The file (default: Voryx.csv, with --vcard Voryx.vcf, in the documents folder)");
  exp->add_flag("--vcard", options->vcard,
                "Write vCards (one a entry, the name split as the setup screen's name order says)");
  exp->add_option("--vcard-version", options->vcardVersion, "4.0 (the default), or 3.0 or 2.1 for old phones");
  addPhonebookOption(*exp, options->store);
  exp->footer("Exit status: 0 written, 1 nothing written, 2 usage");
  exp->callback([options, &exitCode] { exitCode = exportFile(*options); });

  auto* res = app.add_subcommand(
      "restore", "Replace the phonebook with a CSV file's entries (locations 1, 2, 3 ..., marked changed; "
                 "the SIM's other locations marked deleted)");
  res->add_option("file", options->file, "The file (default: Voryx.csv in the documents folder)");
  res->add_flag("--discard-changes", options->discardChanges,
                "Restore even over changes not yet written to the SIM");
  res->footer(
      "A line splits at its last \";\" when a number follows it (a name may hold \";\"); "
      "lines that are no name;number (a header) are skipped and named, blank lines passed over; "
      "a line whose number the SIM cannot hold (a letter, too many digits) is named and left out, "
      "a name longer than the SIM holds is cut. "
      "Only the local database changes; \"voryx write\" carries it to the SIM.\n"
      "Exit status: 0 restored, 1 nothing restored, 2 usage");
  res->callback([options, &exitCode] { exitCode = restoreFile(*options); });
}

}  // namespace voryx
