#pragma once
// Filling the SIM phonebook from the address book: the name a person gets on the SIM, and
// the bulk import that copies every number of every person into free locations. It
// changes only the local table (new rows, marked 1); the next write carries them to the
// SIM. Any thread, one database connection per run.
#include <filesystem>
#include <string>
#include <vector>

#include "codec/SimName.h"
#include "entries/AddressBook.h"
#include "store/SimEntry.h"
#include "store/SimTable.h"

namespace voryx::entries {

// The person's name as the SIM list shows it: first and last name in the order
// `lastFirst` asks for (0: first last, 1: last first), one blank between them; only one
// of them when the other is missing; the organization when `useOrganization` and both are
// missing; else "".
std::string composeName(const Person& person, int lastFirst, bool useOrganization);

// A SIM entry as a new address-book person: its name split into first, middle and last
// name (a comma puts the last name first; otherwise the last word is the last name, with
// the names in the order `lastFirst` says: 0 the last name is the last word, 1 it is the
// first word), its number as the main phone.
Person personFromEntry(const SimEntry& entry, int lastFirst);

struct ImportOptions {
  int lastFirst = 0;
  int maxSIM = 0;       // phonebook locations on the SIM; 0 (never read) takes nothing
  int maxSIMLen = 14;   // the name budget of a location, in bytes
  int nameSets = 0;     // the sets the write stores names in (kNameSetHex ... bits); 0 unknown
  int maxNumberLen = codec::kSimNumberDigits;  // digits of a number (EntryRoom, Editing.h)
  int createLog = 0;    // the import's records in the debug log
  BusyPolicy busy = kShellBusy;
};

struct ImportReport {
  enum class End {
    Done,           // every person was read
    SimFull,        // no free location left: the rest was not imported
    DatabaseError,  // the database failed (detail); the rows added before stay
  };
  End end = End::Done;
  std::vector<SimEntry> added;  // in the order they were added
  int duplicates = 0;           // numbers the list already holds (sameNumber)
  int nameless = 0;             // persons with no name and no organization: skipped
  // Numbers the SIM cannot hold (a letter, too many digits): skipped, the person's other
  // numbers imported.
  struct Skipped {
    std::string name;    // the person's whole name
    std::string number;  // as the address book has it
    std::string why;     // cleanNumber's refusal
  };
  std::vector<Skipped> refused;
  int namesCut = 0;  // persons added under a name cut to what the SIM holds
  std::string detail;
};

// For the end of an import: one line a refused number ("Anna Rossi: 0800-FLOWERS: 'F' cannot
// be stored in a SIM number."), then how many names were cut; "" when neither happened.
std::string importNotes(const ImportReport& report);

// Every number of every person, in the book's order, becomes a new row under the name
// personOnSim (ContactPlan.h) gives it: the entries planBookToSim plans, a type suffix
// after the name of a person with several numbers. A number the list already holds
// (sameNumber, rows marked deleted aside) is not added again; one the SIM cannot hold
// (cleanNumber refuses it) is named in `refused`. Locations are handed out from a cursor
// that only moves forward: each new row takes the first free location after the previous
// one. The import stops when a row finds no free location up to maxSIM (the SIM is full:
// the rest is not added) or at the first database failure; each row is stored on its own,
// so the rows added before a stop stay.
ImportReport importAll(const std::filesystem::path& database, const std::vector<Person>& persons,
                       const ImportOptions& options);

}  // namespace voryx::entries
