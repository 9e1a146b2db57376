#pragma once
// Loading the main screen's list from the database, and the two comparators that
// re-sort it in memory. (Draft interface: the store owner completes it.)
#include <filesystem>
#include <string_view>
#include <vector>

#include "store/SimEntry.h"

namespace voryx {

enum class ListStore { Phonebook, Sms };  // table `sim` / `simsms`

enum class LoadFailure {
  None,
  Open,     // the file could not be opened
  Prepare,  // the list statement did not prepare (e.g. a missing table)
  Corrupt,  // the first step reported corruption
  Busy,     // locked past the wait bound
  Step,     // another step failure
};

struct ListLoad {
  std::vector<SimEntry> entries;
  LoadFailure failure = LoadFailure::None;
  std::filesystem::path movedAsideTo;  // set when the damaged file was moved aside
};

// Runs the list statement of the store (search applies to the phonebook only; sortField
// 0 orders by location, otherwise by name). On Open, Prepare or Corrupt the file is moved
// aside (renamed with a timestamp suffix) so that the next start copies a fresh one;
// nothing is deleted.
ListLoad loadEntries(const std::filesystem::path& database, ListStore store,
                     std::string_view search, int sortField);

// Comparators: negative, zero or positive.
int ordina(const SimEntry& a, const SimEntry& b);      // by posizione, as integers
int ordinaName(const SimEntry& a, const SimEntry& b);  // by nome, byte order
void sortEntries(std::vector<SimEntry>& entries, int sortField);

}  // namespace voryx
