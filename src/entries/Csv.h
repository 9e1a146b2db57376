#pragma once
// The phonebook as a CSV file other tools read and write: one line an entry, the name, ";"
// and the number, "\n" at the end; no header, no quoting. Export writes the entries of
// the list; restore replaces the local phonebook with the file's lines, each marked
// changed (3), so that the next write puts them on the SIM at locations 1, 2, 3 ... and
// clears the SIM's locations past them.
// Any thread, one database connection per restore.
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "base/Result.h"
#include "entries/Editing.h"
#include "store/SimEntry.h"
#include "store/SimTable.h"

namespace voryx::entries {

// The most a file to restore may hold; a phonebook's file is a few kilobytes.
inline constexpr std::uintmax_t kMaxCsvBytes = std::uintmax_t{16} << 20;
// The skipped lines a report names; the rest are only counted.
inline constexpr std::size_t kListedLines = 10;

// The file's text for the entries, in their order (marks and locations are not written).
// A control character in a name or number (a read keeps what the SIM holds) is written as
// the restore stores it, so that it cannot break the file's lines.
std::string csvText(const std::vector<SimEntry>& entries);
// How many of the entries the file cannot give back as they are: those whose line reads
// back as another name or number (a name and its number both holding ";", or a control
// character from the SIM).
int entriesNotRestorable(const std::vector<SimEntry>& entries);
// Writes the entries to `file`, replacing it whole or not at all (a temporary file
// renamed over it); a missing folder is created. Errors name the file.
Status exportCsv(const std::filesystem::path& file, const std::vector<SimEntry>& entries);

struct CsvRecords {
  std::vector<SimEntry> rows;     // entry 1, 2, 3 ... in file order, marked changed
  std::vector<int> rowLines;      // the line of each row, numbered from 1
  int lines = 0;                  // lines of the file (a last line without "\n" counts)
  int skipped = 0;                // lines with text that is no record
  std::vector<int> skippedLines;  // the first kListedLines of them, numbered from 1
};
// Reads whole lines ("\r\n" ends one as "\n" does); a UTF-8 byte-order mark at the start
// of the file or of a line is dropped. A line that is not UTF-8 is read as Latin-1. A line with one ";" is a
// record; with more, it splits at the first ";" when all after it is a number (digits and
// "+*#,;": a number with ";" comes back when the name has none), else at the last ";"
// when what follows is a number (a name with ";" comes back), else it is skipped (a
// header) and takes no location. The line first loses its control characters as an
// edit's name does; what is then blank is passed over. Every entry read is written back
// by csvText as a line that reads as the same entry.
CsvRecords parseCsv(std::string_view text);

// A line whose record the SIM cannot hold, and why (cleanNumber's refusal).
struct RefusedLine {
  int line = 0;  // numbered from 1
  std::string why;
};

struct RestoreReport {
  int restored = 0;               // rows now in the table
  int skipped = 0;                // lines with text that were not records
  std::vector<int> skippedLines;  // the first kListedLines of them, numbered from 1
  int refused = 0;                // records whose number the SIM cannot hold, not stored
  std::vector<RefusedLine> refusedLines;  // the first kListedLines of them
  int namesCut = 0;               // records stored with their names cut to what the SIM holds
  std::vector<int> cutLines;      // the first kListedLines of them
  int leftOut = 0;                // records past the SIM's capacity, not stored
  int erased = 0;                 // locations the SIM holds past the file's, marked deleted
};
// Replaces every row of the phonebook table of `target` (its database, store and busy
// policy) by the file's records in one transaction: on any failure nothing changes. Each
// record goes in as admitEntry takes it into the target's room: a number the SIM cannot
// hold keeps its record out (refused, it takes no location), a name too long is cut. With
// the target's capacity above 0, records past it are left out (a write could not put them
// anywhere). Every other location the last read of the table's SIM saw holding an entry
// (SimTable::seen) becomes a row marked deleted (2), holding what the SIM holds there: the
// next write makes the SIM hold exactly the file. A file without any line leaves the table
// as it is. Errors: NotFound / Io / Invalid (too large) for the file, naming it; the
// store's errors.
Result<RestoreReport> restoreCsv(const std::filesystem::path& file, const EditTarget& target);

// For the end of a restore: "2 lines could not be read: 17, 31" (at most kListedLines
// numbers, then "…"); "" when none was skipped.
std::string skippedLinesText(int skipped, const std::vector<int>& listed);
// The same for the records the SIM cannot hold, each with its reason: "1 line could not be
// taken: 4 ('F' cannot be stored in a SIM number.)"; then for the names cut: "2 names were
// cut to what the SIM holds: 3, 9". Lines joined by "\n"; "" when there is neither.
std::string refusedLinesText(const RestoreReport& report);
// For the start of an export: how many entries cannot come back; "" when all can.
std::string notRestorableText(int entries);

}  // namespace voryx::entries
