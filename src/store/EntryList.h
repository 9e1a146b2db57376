#pragma once
// Loading the main screen's list from the database, and the two comparators that
// re-sort it in memory. The loading blocks while it waits out a lock, up to the policy's
// bound: the main loop passes kScreenBusy, the shell and the jobs keep kShellBusy.
#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "store/SimEntry.h"
#include "store/SimTable.h"

namespace voryx {

enum class LoadFailure {
  None,
  Busy,        // locked past the wait bound: in use by another program; the file stays
  Corrupt,     // SQLite judged the file damaged: moved aside (movedAsideTo)
  Unreadable,  // missing, or not readable and writable by this user, or an I/O error:
               // the file stays; detail says why
  Step,        // any other failure; the file stays
};

struct ListLoad {
  std::vector<SimEntry> entries;  // empty whenever failure is not None
  LoadFailure failure = LoadFailure::None;
  std::filesystem::path movedAsideTo;  // set when the damaged file was moved aside
  // Why it failed, readable by a user: "<file>: <reason>", e.g.
  // "/home/u/.local/share/voryx/Voryx.sqlitedb: permission denied".
  std::string detail;
};

// SimTable::open and SimTable::list (which tell what the list holds and how it is
// searched and sorted). Only SQLite's own verdict that the file is damaged (corrupt, or
// not a database) moves it aside, to "<name>.damaged-YYYYmmdd-HHMMSS" (never over an
// existing file), together with its rollback journal or write-ahead log, so that the next
// start copies a fresh one; nothing is deleted. A file without the store's table gets it.
// Every other failure leaves the file where it is: its rows hold changes not yet written
// to the SIM.
ListLoad loadEntries(const std::filesystem::path& database, ListStore store,
                     std::string_view search, int sortField, BusyPolicy busy = kShellBusy,
                     Phonebook book = Phonebook::SM);

// The SMS list with each message sent in parts as one row: at its lowest index, with the
// parts' texts in their order ("[part 2 of 3 missing]" for one the SIM lacks, a part
// stored twice taken once), " (3 parts)" after them, and marked deleted when a part is.
// loadEntries joins the SMS list so. Other rows stay as they are.
std::vector<SimEntry> joinMessageParts(const std::vector<SimEntry>& rows, const MessageParts& parts);

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
