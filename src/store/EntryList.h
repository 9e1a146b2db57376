#pragma once
// Loading the main screen's list from the database, and the two comparators that
// re-sort it in memory. Main loop only (the loading blocks while it waits out a lock).
#include <chrono>
#include <filesystem>
#include <string_view>
#include <vector>

#include "store/SimEntry.h"

namespace voryx {

enum class ListStore { Phonebook, Sms };  // table `sim` / `simsms`

enum class LoadFailure {
  None,
  Open,     // the file could not be opened (also: it is missing)
  Prepare,  // the list statement did not prepare (a missing table, not a database)
  Corrupt,  // the first step reported corruption
  Busy,     // locked past the wait bound
  Step,     // another step failure
};

struct ListLoad {
  std::vector<SimEntry> entries;  // empty whenever failure is not None
  LoadFailure failure = LoadFailure::None;
  std::filesystem::path movedAsideTo;  // set when the damaged file was moved aside
};

// A locked database is waited out kBusyWait at a time, at most kBusyWaits times.
inline constexpr int kBusyWaits = 10;
inline constexpr std::chrono::milliseconds kBusyWait{1000};

// Runs the list statement of the store. The phonebook applies the search (a non-empty
// text matched as a LIKE pattern "%text%" against name and number, so "%" and "_" in it
// act as wildcards; letter case is ignored for ASCII only) and the order (sortField 0
// by location, otherwise by name in the database's byte order). The SMS store ignores
// both and orders by location. NULL text columns read as "".
// On Open, Prepare or Corrupt the file (when there is one) is moved aside to
// "<name>.damaged-YYYYmmdd-HHMMSS" (never over an existing file), so that the next start
// copies a fresh one; nothing is deleted. A lock that outlasts the wait ends as Busy and
// leaves the file alone. busyWait exists for tests; callers keep the default.
ListLoad loadEntries(const std::filesystem::path& database, ListStore store,
                     std::string_view search, int sortField,
                     std::chrono::milliseconds busyWait = kBusyWait);

// Comparators: negative, zero or positive.
// By posizione as integers (3 before 12).
int ordina(const SimEntry& a, const SimEntry& b);
// By nome, case-sensitive, in UTF-16 code-unit order (the order of the platform the
// program comes from). It equals the database's UTF-8 byte order except that characters
// beyond U+FFFF sort before U+E000..U+FFFF. Bytes that are not UTF-8 count as U+FFFD.
int ordinaName(const SimEntry& a, const SimEntry& b);
// Stable sort with ordina (sortField 0) or ordinaName (otherwise).
void sortEntries(std::vector<SimEntry>& entries, int sortField);

}  // namespace voryx
