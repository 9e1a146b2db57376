// voryx add / edit / delete / empty: the main screen's entry commands from a shell. They
// change only the local database and its change marks; "voryx write" carries them to the
// SIM.
#include <algorithm>
#include <iostream>
#include <limits>
#include <memory>
#include <string>

#include "app/Commands.h"
#include "app/Startup.h"
#include "app/VoryxAppDelegate.h"
#include "base/Localized.h"
#include "entries/Editing.h"
#include "store/Preferences.h"

namespace voryx {
namespace {

struct EditOptions {
  bool sms = false;
  std::string store = "SM";
  std::int32_t location = 0;
  std::string name;
  std::string number;
};

// The database in place and the target of the store, with the capacities, the name
// budget and the number length the last read stored.
entries::EditTarget prepare(const char* command, bool sms, Phonebook book = Phonebook::SM) {
  const Paths paths = startUp();
  if (auto message = VoryxAppDelegate(paths).createEditableCopyOfDatabaseIfNeeded()) {
    std::cerr << "voryx " << command << ": " << *message << "\n";
  }
  Preferences prefs(paths.preferences);
  entries::EditTarget target;
  target.database = paths.database();
  target.store = sms ? ListStore::Sms : ListStore::Phonebook;
  target.book = sms ? Phonebook::SM : book;
  target.capacity = prefs.integer(sms ? kPrefMaxSMS : phonebookKey(kPrefMaxSIM, target.book), 0);
  target.maxSIMLen = prefs.integer(phonebookKey(kPrefMaxSIMLen, target.book), 14);
  target.nameSets = prefs.integer(kPrefNameSets, 0);
  target.maxNumberLen = prefs.integer(phonebookKey(kPrefMaxNumberLen, target.book), codec::kSimNumberDigits);
  target.busy = kShellBusy;
  return target;
}

int failed(const char* command, const std::string& detail) {
  std::cerr << "voryx " << command << ": " << localized("The change was not saved.") << " " << detail
            << "\n";
  return 1;
}

// The stored entry on stdout as "voryx list" prints it; a name the SIM cannot hold whole
// is pointed out.
int stored(const char* command, const entries::EditTarget& target, const entries::EditResult& result,
           const std::string& asked) {
  if (result.outcome == entries::EditOutcome::SimFull) {
    std::cerr << "voryx " << command << ": " << localized("SIM is full!") << "\n";
    return 1;
  }
  if (result.outcome == entries::EditOutcome::NotSaved) return failed(command, result.detail);
  if (result.outcome == entries::EditOutcome::Refused) {
    std::cerr << "voryx " << command << ": " << result.detail << "\n";
    return 1;
  }
  const SimEntry& e = result.entry;
  // Line breaks and tabs become blanks without a word: only a cut loses letters.
  if (e.nome != (target.store == ListStore::Phonebook ? entries::withoutControlCharacters(asked) : asked)) {
    std::cerr << "voryx " << command << ": the name is cut to \"" << e.nome
              << "\": the SIM holds no more of it\n";
  }
  std::cout << e.posizione << "\t" << e.nome << "\t" << e.telefono << "\t" << e.operazione << "\n";
  return 0;
}

void addStoreFlag(CLI::App* sub, EditOptions& options, bool named = true) {
  auto* sms = sub->add_flag("--sms", options.sms,
                            named ? "The SMS store instead of the phonebook (NAME is the message text)"
                                  : "The SMS store instead of the phonebook");
  addPhonebookOption(*sub, options.store)->excludes(sms);
}

void addLocation(CLI::App* sub, EditOptions& options) {
  sub->add_option("location", options.location, "The entry's location, as \"voryx list\" shows it")
      ->required()
      ->check(CLI::Range(0, std::numeric_limits<std::int32_t>::max()));
}

constexpr const char* kFooter =
    "Only the local database changes; \"voryx write\" carries the change to the SIM.\n"
    "Exit status: 0 stored, 1 nothing stored (the SIM is full, no such entry, a number the SIM cannot "
    "hold, a message text longer than one message, the database could not be written), 2 usage";

}  // namespace

entries::EditTarget shellEditTarget(const char* command, bool sms, Phonebook book) {
  return prepare(command, sms, book);
}

void tellLines(const char* command, const std::string& text) {
  std::string out;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t end = std::min(text.find('\n', at), text.size());
    out += "voryx " + std::string(command) + ": " + text.substr(at, end - at) + "\n";
    at = end + 1;
  }
  std::cerr << out;
}

CLI::Option* addPhonebookOption(CLI::App& command, std::string& store) {
  return command
      .add_option("--store", store,
                  "The phonebook store: SM the SIM phonebook (the default), ON own numbers, FD fixed "
                  "dialling (written with PIN2), ME the phone's memory, EN emergency and SDN service "
                  "numbers (read only); \"voryx read\" lists those the modem offers")
      ->check(CLI::IsMember({"SM", "ON", "FD", "ME", "EN", "SDN"}, CLI::ignore_case))
      ->option_text("STORE");
}

Phonebook phonebookOf(const std::string& store) { return phonebookNamed(store).value_or(Phonebook::SM); }

void addEditCommands(CLI::App& app, int& exitCode) {
  auto options = std::make_shared<EditOptions>();

  auto* add = app.add_subcommand("add", "Add an entry at the lowest free location (marked new)");
  add->add_option("name", options->name, "The name (cut to what the SIM holds)")->required();
  add->add_option("number", options->number,
                  "The number: digits, * # and a leading +; p is a pause (stored as \",\"); blanks, - . / and "
                  "( ) go, as does (0) after a country code; any other letter is refused")
      ->required();
  addStoreFlag(add, *options);
  add->footer(std::string("Prints the stored entry as \"voryx list\" does.\n") + kFooter);
  add->callback([options, &exitCode] {
    const auto target = prepare("add", options->sms, phonebookOf(options->store));
    exitCode = stored("add", target, entries::addEntry(target, options->name, options->number), options->name);
  });

  auto* edit = app.add_subcommand("edit", "Change the name and number of an entry (marked changed)");
  addLocation(edit, *options);
  edit->add_option("name", options->name, "The new name (cut to what the SIM holds)")->required();
  edit->add_option("number", options->number, "The new number, as for \"voryx add\"")->required();
  addStoreFlag(edit, *options);
  edit->footer(std::string("Prints the stored entry as \"voryx list\" does.\n") + kFooter);
  edit->callback([options, &exitCode] {
    const auto target = prepare("edit", options->sms, phonebookOf(options->store));
    exitCode = stored("edit", target, entries::changeEntry(target, options->location, options->name, options->number),
                      options->name);
  });

  auto* del = app.add_subcommand("delete", "Mark an entry for deletion from the SIM");
  addLocation(del, *options);
  addStoreFlag(del, *options, false);
  del->footer(kFooter);
  del->callback([options, &exitCode] {
    const auto target = prepare("delete", options->sms, phonebookOf(options->store));
    Status done = entries::deleteEntry(target, options->location);
    exitCode = done ? 0 : failed("delete", done.error().detail);
  });

  auto* empty = app.add_subcommand("empty", "Mark every phonebook entry for deletion from the SIM");
  addPhonebookOption(*empty, options->store);
  empty->footer(kFooter);
  empty->callback([options, &exitCode] {
    const auto target = prepare("empty", false, phonebookOf(options->store));
    Status done = entries::emptySim(target.database, target.busy, target.book);
    if (!done) {
      exitCode = failed("empty", done.error().detail);
      return;
    }
    std::cerr << "voryx empty: every phonebook entry is marked for deletion; \"voryx write\" erases "
                 "them from the SIM\n";
    exitCode = 0;
  });
}

}  // namespace voryx
