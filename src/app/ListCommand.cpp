// voryx list: the phonebook or SMS list as the main screen loads it, for scripts.
#include <cstdio>
#include <iostream>
#include <memory>
#include <string>

#include "app/Commands.h"
#include "app/Startup.h"
#include "app/VoryxAppDelegate.h"
#include "base/Localized.h"
#include "store/EntryList.h"
#include "store/Preferences.h"

namespace voryx {
namespace {

struct ListOptions {
  bool sms = false;
  std::string search;
  std::string sort;  // "", "name" or "location"
  std::string store = "SM";
};

// One field of a line: backslash, tab, line feed and carriage return are escaped so
// that a message text spanning lines stays on one line of its own.
std::string field(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '\t': out += "\\t"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      default: out += c;
    }
  }
  return out;
}

int runList(const ListOptions& options) {
  const Paths paths = startUp();
  if (auto message = VoryxAppDelegate(paths).createEditableCopyOfDatabaseIfNeeded()) {
    std::cerr << "voryx list: " << *message << "\n";
  }
  int sortField = options.sort == "name"       ? 1
                  : options.sort == "location" ? 0
                                               : Preferences(paths.preferences).integer(kPrefSort, 0);
  const ListStore store = options.sms ? ListStore::Sms : ListStore::Phonebook;
  const Phonebook book = phonebookOf(options.store);
  ListLoad load = loadEntries(paths.database(), store, options.search, sortField, kShellBusy, book);
  switch (load.failure) {
    case LoadFailure::None:
      break;
    case LoadFailure::Busy:
      std::cerr << "voryx list: the database " << paths.database().string()
                << " is locked: it is in use by another program; try again when it is done.\n";
      return 1;
    case LoadFailure::Unreadable:
      std::cerr << "voryx list: the database cannot be read: " << load.detail << "\n";
      return 1;
    case LoadFailure::Corrupt:
      std::cerr << "voryx list: " << localized("Database error") << ": "
                << localized("Data are corrupted, please close application and try again.")
                << " (" << load.detail << ")\n";
      if (load.movedAsideTo.empty()) {
        std::cerr << "voryx list: the damaged file could not be moved aside.\n";
      } else {
        std::cerr << "voryx list: the damaged file was moved to " << load.movedAsideTo.string()
                  << "; the next start copies a fresh database.\n";
      }
      return 1;
    case LoadFailure::Step:
      std::cerr << "voryx list: " << localized("Database error") << ": " << load.detail << "\n";
      return 1;
  }
  if (load.entries.empty()) {
    const std::string what = options.sms            ? "SMS store"
                             : book == Phonebook::SM ? "phonebook"
                                                     : std::string(phonebookKind(book).code) + " phonebook";
    const std::string readOption = options.sms            ? " --sms"
                                   : book == Phonebook::SM ? ""
                                                           : " --store " + std::string(phonebookKind(book).code);
    if (!options.search.empty() && !options.sms) {
      std::cerr << "voryx list: no entry matches \"" << options.search << "\"\n";
    } else {
      std::cerr << "voryx list: the local " << what << " is empty; \"voryx read" << readOption
                << "\" copies the SIM's " << what << " here\n";
    }
  }
  // Which SIM the copy was read from, beside the rows (standard output stays the rows).
  if (auto table = SimTable::open(paths.database(), store, kShellBusy, book)) {
    if (auto sim = table->identity(); sim && *sim && (*sim)->known()) {
      std::cerr << "voryx list: read from the SIM " << shortSimName(**sim) << "\n";
    }
  }
  std::string out;
  for (const SimEntry& e : load.entries) {
    out += std::to_string(e.posizione) + "\t" + field(e.nome) + "\t" + field(e.telefono) + "\t" +
           std::to_string(e.operazione) + "\n";
  }
  std::cout << out << std::flush;
  return std::cout ? 0 : 1;
}

}  // namespace

void addListCommand(CLI::App& app, int& exitCode) {
  auto options = std::make_shared<ListOptions>();
  auto* sub = app.add_subcommand(
      "list", "Print the phonebook (or SMS) list of the local database, one entry a line");
  auto* sms = sub->add_flag("--sms", options->sms, "The SMS store instead of the phonebook");
  addPhonebookOption(*sub, options->store)->excludes(sms);
  sub->add_option("--search", options->search,
                  "Only entries whose name or number contains TEXT, any ASCII letter case "
                  "(phonebook only; % and _ act as wildcards)")
      ->option_text("TEXT");
  sub->add_option("--sort", options->sort, "Order of the phonebook (default: the stored order)")
      ->check(CLI::IsMember({"name", "location"}));
  sub->footer(
      "Each line: location, name, number and change mark, separated by tabs (backslash, tab "
      "and line breaks in a field are written \\\\, \\t, \\n, \\r).\n"
      "Change marks: 0 as on the SIM, 1 new, 2 to delete, 3 changed; \"voryx write\" sends the "
      "marked entries.\n"
      "Exit status: 0 done, 1 the database could not be read, 2 usage");
  sub->callback([options, &exitCode] { exitCode = runList(*options); });
}

}  // namespace voryx
