#pragma once
// The phonebook as a CSV file other tools read and write: one line an entry, the name, ";"
// and the number, "\n" at the end; no header, no quoting. Export writes the entries of
// the list; restore replaces the local phonebook with the file's lines, each marked
// changed (3), so that the next write puts them on the SIM at locations 1, 2, 3 ...
// Any thread, one database connection per restore.
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "base/Result.h"
#include "store/SimEntry.h"
#include "store/SimTable.h"

namespace voryx::entries {

// The most a file to restore may hold; a phonebook's file is a few kilobytes.
inline constexpr std::uintmax_t kMaxCsvBytes = std::uintmax_t{16} << 20;

// The file's text for the entries, in their order (marks and locations are not written).
std::string csvText(const std::vector<SimEntry>& entries);
// Writes the entries to `file`, replacing it whole or not at all (a temporary file
// renamed over it); a missing folder is created. Errors name the file.
Status exportCsv(const std::filesystem::path& file, const std::vector<SimEntry>& entries);

struct CsvRecords {
  std::vector<SimEntry> rows;  // entry 1, 2, 3 ... in file order, marked changed
  int lines = 0;               // lines of the file (a last line without "\n" counts)
  int skipped = 0;             // lines that are not exactly "name;number"
};
// Reads whole lines ("\r\n" ends one as "\n" does). A line that is not UTF-8 is read as
// Latin-1. A line splits at every ";": exactly two fields make a record, anything else
// (a header, a blank line, a name holding ";") is skipped and takes no location.
CsvRecords parseCsv(std::string_view text);

struct RestoreReport {
  int restored = 0;  // rows now in the table
  int skipped = 0;   // lines that were not records
  int leftOut = 0;   // records past the SIM's capacity, not stored
};
// Replaces every row of the phonebook table by the file's records in one transaction:
// on any failure nothing changes. With `maxSIM` above 0, records past it are left out (a
// write could not put them anywhere). A file without any line leaves the table as it is.
// Errors: NotFound / Io / Invalid (too large) for the file, naming it; the store's errors.
Result<RestoreReport> restoreCsv(const std::filesystem::path& file,
                                 const std::filesystem::path& database, int maxSIM,
                                 BusyPolicy busy = kShellBusy);

}  // namespace voryx::entries
