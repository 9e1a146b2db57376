// voryx contacts / voryx import: the address book as the import sees it, and the import
// itself, through the same code as the main screen's "import all".
#include <iostream>
#include <memory>
#include <string>

#include "app/Commands.h"
#include "app/Startup.h"
#include "app/VoryxAppDelegate.h"
#include "base/Localized.h"
#include "entries/Import.h"
#include "store/Preferences.h"
#include "contacts/Book.h"
#include "contacts/EdsBook.h"
#include "entries/ContactPlan.h"
#include "store/EntryList.h"
#include "store/SimTable.h"

namespace voryx {
namespace {

// "1 entry", "2 entries": a count with its noun.
std::string counted(std::size_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

struct ContactsOptions {
  std::string contacts;
  bool books = false;
  bool fromSim = false;
  bool dryRun = false;
};

// The book, or nothing after saying why. Cards that could not be read are named.
std::optional<entries::AddressBook> readBook(const char* command, const Paths& paths) {
  auto book = contacts::readBook(paths.contacts);
  if (!book) {
    std::cerr << "voryx " << command << ": no address book: " << book.error().detail;
    if (contacts::edsBookOf(paths.contacts)) {
      std::cerr << " (\"voryx contacts --books\" lists the desktop's address books)\n";
    } else {
      std::cerr << " (give one with --contacts PATH: a .vcf file or a folder of them, or eds: for the desktop's)\n";
    }
    return std::nullopt;
  }
  for (const auto& problem : book->problems) std::cerr << "voryx " << command << ": skipped " << problem << "\n";
  return std::move(*book);
}

// The desktop's address books, one a line: "eds:<uid>", its name, "default" for the one
// "eds:" names.
int listBooks() {
  auto books = contacts::edsBooks();
  if (!books) {
    std::cerr << "voryx contacts: " << books.error().detail << "\n";
    return 1;
  }
  for (const auto& book : *books) {
    std::cout << "eds:" << book.uid << "\t" << book.name << (book.isDefault ? "\tdefault" : "") << "\n";
  }
  std::cout << std::flush;
  return std::cout ? 0 : 1;
}

// The paths of a command that works on the address book and the local list: the book
// chosen, the database there (made from the shipped one when missing, as said).
Paths withBookAndList(const char* command, const ContactsOptions& options) {
  Paths paths = startUp();
  chooseAddressBook(paths, options.contacts);
  if (auto message = VoryxAppDelegate(paths).createEditableCopyOfDatabaseIfNeeded()) {
    std::cerr << "voryx " << command << ": " << *message << "\n";
  }
  return paths;
}

// The SIM phonebook's list (as the last read left it, with its marks) into the address
// book, merged: numbers the book has are left out, "/M", "/H" ... entries of one name
// become one contact. --dry-run prints the plan and writes nothing.
int copySimToBook(const ContactsOptions& options) {
  const Paths paths = withBookAndList("contacts", options);
  auto book = readBook("contacts", paths);
  if (!book) return 1;
  ListLoad list = loadEntries(paths.database(), ListStore::Phonebook, "", 0, kShellBusy, Phonebook::SM);
  if (list.failure != LoadFailure::None) {
    std::cerr << "voryx contacts: the list cannot be read: " << list.detail << "\n";
    return 1;
  }
  const int lastFirst = Preferences(paths.preferences).integer(kPrefLastFirst, 0);
  const entries::SimToBookPlan plan =
      entries::planSimToBook(list.entries, book->persons, lastFirst, contacts::addsToPersons(paths.contacts));
  int added = 0;
  for (const auto& person : plan.contacts) {
    std::cout << entries::composeName(person, lastFirst, true);
    for (const auto& phone : person.phones) std::cout << "\t" << phone.label << "\t" << phone.number;
    std::cout << "\n";
    if (options.dryRun) continue;
    if (Status done = contacts::addToBook(paths.contacts, person); !done) {
      std::cerr << "voryx contacts: " << entries::composeName(person, lastFirst, true)
                << " was not added: " << done.error().detail << "\n";
      break;
    }
    ++added;
  }
  // A line a contact of the book that gets numbers, its name after a "+".
  std::size_t joined = 0;
  const bool allAdded = options.dryRun || added == static_cast<int>(plan.contacts.size());
  for (std::size_t i = 0; allAdded && i < plan.joins.size(); ++i) {
    const auto& join = plan.joins[i];
    std::cout << "+" << entries::composeName(join.person, lastFirst, true);
    for (const auto& phone : join.phones) std::cout << "\t" << phone.label << "\t" << phone.number;
    std::cout << "\n";
    if (options.dryRun) continue;
    if (Status done = contacts::addToPerson(paths.contacts, join.person, join.phones); !done) {
      std::cerr << "voryx contacts: " << entries::composeName(join.person, lastFirst, true)
                << " did not take the numbers: " << done.error().detail << "\n";
      break;
    }
    joined += join.phones.size();
  }
  if (options.dryRun) joined = static_cast<std::size_t>(plan.joined);
  std::cerr << "voryx contacts: " << (options.dryRun ? "would add " : "added ")
            << counted(options.dryRun ? plan.contacts.size() : static_cast<std::size_t>(added), "contact", "contacts");
  if (plan.mergedInto > 0) std::cerr << ", merged " << counted(plan.merged, "number", "numbers") << " into " << plan.mergedInto << " of them";
  if (joined > 0) std::cerr << ", " << counted(joined, "number", "numbers") << " to contacts already there";
  if (plan.already > 0) std::cerr << ", " << plan.already << " already in the address book";
  std::cerr << "\n";
  return options.dryRun || (allAdded && joined == static_cast<std::size_t>(plan.joined)) ? 0 : 1;
}

int listContacts(const ContactsOptions& options) {
  if (options.books) return listBooks();
  if (options.fromSim) return copySimToBook(options);
  Paths paths = startUp();
  chooseAddressBook(paths, options.contacts);
  auto book = readBook("contacts", paths);
  if (!book) return 1;
  const int lastFirst = Preferences(paths.preferences).integer(kPrefLastFirst, 0);
  std::string out;
  for (const auto& person : book->persons) {
    out += entries::composeName(person, lastFirst, true);
    for (const auto& phone : person.phones) out += "\t" + phone.label + "\t" + phone.number;
    out += "\n";
  }
  std::cout << out << std::flush;
  return std::cout ? 0 : 1;
}

// What the import would add, as the import prints what it adds; the counts, the names cut
// and the numbers left out on stderr. The database is only read.
int planImport(const Paths& paths, const std::vector<entries::Person>& persons, const entries::ImportOptions& o) {
  auto table = SimTable::open(paths.database(), ListStore::Phonebook, o.busy);
  auto list = table ? table->list() : Result<std::vector<SimEntry>>(table.error());
  if (!list) {
    std::cerr << "voryx import: the list cannot be read: " << list.error().detail << "\n";
    return 1;
  }
  const entries::BookToSimPlan plan =
      entries::planBookToSim(persons, *list, {o.maxSIMLen, o.nameSets, o.maxNumberLen}, o.maxSIM, o.lastFirst);
  std::string out;
  for (const auto& e : plan.fits) {
    out += std::to_string(e.posizione) + "\t" + e.name + "\t" + e.number + "\t" + std::to_string(kMarkNew) + "\n";
  }
  std::cout << out << std::flush;
  std::cerr << "voryx import: would add " << counted(plan.fits.size(), "entry", "entries");
  if (plan.beyond > 0) {
    std::cerr << "; " << plan.beyond << (plan.beyond == 1 ? " does" : " do") << " not fit, the SIM is full";
    if (o.maxSIM == 0) std::cerr << " (its size is not known yet: \"voryx read\" learns it)";
  }
  if (plan.already > 0) std::cerr << "; " << counted(plan.already, "number is", "numbers are") << " already there";
  if (plan.nameless > 0) std::cerr << "; " << counted(plan.nameless, "person", "persons") << " without a name would be skipped";
  if (!plan.refused.empty()) std::cerr << "; " << counted(plan.refused.size(), "number", "numbers") << " the SIM cannot hold would be skipped";
  std::cerr << "\n";
  std::string notes;
  for (const std::string& refused : plan.refused) notes += refused + "\n";
  for (const auto& cut : plan.cuts) notes += "name cut to what the SIM holds: " + cut.from + " \u2192 " + cut.to + "\n";
  tellLines("import", notes);
  return std::cout ? 0 : 1;
}

int importContacts(const ContactsOptions& options) {
  const Paths paths = withBookAndList("import", options);
  auto book = readBook("import", paths);
  if (!book) return 1;
  Preferences prefs(paths.preferences);
  entries::ImportOptions o;
  o.lastFirst = prefs.integer(kPrefLastFirst, 0);
  o.maxSIM = prefs.integer(kPrefMaxSIM, 0);
  o.maxSIMLen = prefs.integer(kPrefMaxSIMLen, 14);
  o.nameSets = prefs.integer(kPrefNameSets, 0);
  o.maxNumberLen = prefs.integer(kPrefMaxNumberLen, codec::kSimNumberDigits);
  o.createLog = shellCreateLog(paths);
  if (options.dryRun) return planImport(paths, book->persons, o);
  const auto report = entries::importAll(paths.database(), book->persons, o);
  for (const auto& e : report.added) {
    std::cout << e.posizione << "\t" << e.nome << "\t" << e.telefono << "\t" << e.operazione << "\n";
  }
  std::cerr << "voryx import: added " << counted(report.added.size(), "entry", "entries");
  if (report.duplicates > 0) std::cerr << "; " << counted(report.duplicates, "number was", "numbers were") << " already there";
  if (report.nameless > 0) std::cerr << "; " << counted(report.nameless, "person without a name was", "persons without a name were") << " skipped";
  if (!report.refused.empty()) std::cerr << "; " << counted(report.refused.size(), "number the SIM cannot hold was", "numbers the SIM cannot hold were") << " skipped";
  std::cerr << "\n";
  tellLines("import", entries::importNotes(report));
  switch (report.end) {
    case entries::ImportReport::End::Done:
      return 0;
    case entries::ImportReport::End::SimFull:
      std::cerr << "voryx import: " << localized("SIM is full!");
      if (o.maxSIM == 0) std::cerr << " (its size is not known yet: \"voryx read\" learns it)";
      std::cerr << " The rest was not imported.\n";
      return 1;
    case entries::ImportReport::End::DatabaseError:
      std::cerr << "voryx import: the import stopped: " << report.detail << "\n";
      return 1;
  }
  return 1;
}

void addContactsOption(CLI::App* sub, ContactsOptions& options) {
  sub->add_option("--contacts", options.contacts,
                  "The address book: eds: (the desktop's default), eds:UID (one of its books), "
                  "or a .vcf file or a folder of them (default: the \"contacts\" path of the "
                  "preferences file, else the desktop's when it runs, else contacts.vcf in the "
                  "data folder)")
      ->option_text("PATH");
}

}  // namespace

void addContactsCommands(CLI::App& app, int& exitCode) {
  auto options = std::make_shared<ContactsOptions>();
  auto* contacts = app.add_subcommand("contacts", "Print the address book as the import sees it");
  addContactsOption(contacts, *options);
  contacts->add_flag("--books", options->books, "List the desktop's address books (evolution-data-server)");
  contacts->add_flag("--from-sim", options->fromSim,
                     "Copy the SIM phonebook's list into the address book, merged (read the SIM first)");
  contacts->add_flag("--dry-run", options->dryRun, "With --from-sim: print what would be added, add nothing");
  contacts->footer(
      "Each line: the name a person gets on the SIM, then each number's label and number, "
      "separated by tabs.\nExit status: 0 done, 1 no address book, 2 usage");
  contacts->callback([options, &exitCode] { exitCode = listContacts(*options); });

  auto* import = app.add_subcommand(
      "import", "Add every number of the address book to the phonebook (new entries)");
  addContactsOption(import, *options);
  import->add_flag("--dry-run", options->dryRun,
                   "Print the entries the import would add, with their locations, and change nothing");
  import->footer(
      "Prints each added entry as \"voryx list\" does. A person with several numbers gets "
      "an entry for each, the number's type after the name (/M mobile, /H home, /W work, "
      "/O other). A number already in the phonebook (in national or international form) is "
      "not added again.\nOnly the local database changes; \"voryx write\" carries the new "
      "entries to the SIM.\nExit status: 0 done (with --dry-run: the plan printed), 1 stopped "
      "(the SIM is full, the database failed, no address book), 2 usage");
  import->callback([options, &exitCode] { exitCode = importContacts(*options); });
}

}  // namespace voryx
