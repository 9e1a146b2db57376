#pragma once
// A whole SIM in one file: its phonebook and its SMS store as its last read saw them, and
// which SIM they came from. Restoring one marks the local copy so that the next writes
// make the SIM in the modem hold exactly what the backup holds.
//
// The file is JSON (UTF-8), written atomically with mode 0600:
//   {"format": "voryx-sim-backup", "version": 1, "written": "2026-12-08T14:50:00Z",
//    "sim": {"iccid": "8939…", "imsi": "2220…"},
//    "phonebooks": {"SM": {"capacity": 250, "nameLength": 14, "entries": [
//        {"location": 1, "name": "Anna", "nameBytes": "416E6E61", "number": "+39…"}]}},
//    "sms": {"capacity": 30, "messages": [{"index": 1, "number": "+39…", "text": "Ciao",
//        "status": "REC READ", "pdu": "0004…", "part": {"reference": 7, "total": 3, "part": 1}}]}}
// "nameBytes" is the name in the SIM's own form (the hex of the alpha field the SIM stores,
// without its padding); a restore takes "name", or decodes "nameBytes" when an entry has
// no "name". A message keeps, beside its readable fields, what the SIM holds of it: its
// status (27.005's names) and its whole PDU (hexadecimal, the service centre first), and
// which part of a long message it is; a restore gives the SIM those back, byte for byte.
// Backups written before messages kept them restore from their text, as stored sent
// messages. Capacities and "sim" are left out when unknown. Phonebooks are keyed by store
// ("SM" the SIM phonebook, "ON", "FD", "ME", "EN", "SDN" the others: Phonebooks.h).
// A file without "phonebooks" holds the messages alone (the SMS store's archive): a
// restore of it leaves the local phonebooks as they are.
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "base/Result.h"
#include "entries/Editing.h"
#include "store/SimTable.h"

namespace voryx::entries {

inline constexpr std::string_view kBackupFormat = "voryx-sim-backup";

// A phonebook store other than the SIM phonebook.
struct BookBackup {
  int capacity = 0;    // 0 unknown
  int nameLength = 0;  // 0 unknown
  std::vector<SimEntry> entries;  // by location, mark 0
  bool operator==(const BookBackup&) const = default;
};

struct SimBackup {
  std::optional<SimIdentity> sim;
  int capacity = 0;     // phonebook locations; 0 unknown
  int nameLength = 0;   // bytes of a name; 0 unknown
  int smsCapacity = 0;  // messages; 0 unknown
  std::vector<SimEntry> phonebook;  // by location, mark 0
  std::vector<SimEntry> sms;        // by index, mark 0
  MessageRecords smsRecords;        // by index: what the SIM held of each message
  MessageParts smsParts;            // by index: the parts of long messages
  std::map<Phonebook, BookBackup> books;  // the other phonebook stores that were read
  // False for the messages alone: no "phonebooks" in the file, and a restore leaves the
  // phonebooks of the copy untouched rather than emptying them.
  bool hasPhonebook = true;
};

// The file's text; `written` is the time stamp it carries (UTC, ISO 8601).
std::string backupJson(const SimBackup& backup, std::string_view written);
// Reads a backup's text. Errors (Invalid, detail readable as it stands): not JSON, not a
// backup, a version this program does not know, a field of the wrong type, a location or
// index outside 1..65535 or given twice, a control character in a name or number, a name
// with neither "name" nor "nameBytes", a message longer than one SMS. Nothing half-read.
Result<SimBackup> parseBackupJson(std::string_view text);

// The local copy as a backup: what each store's last read or write saw on the SIM (not the
// changes not yet written) and the SIM it was read from. The other phonebook stores come
// along when they were read from that SIM. Errors: Invalid when neither the phonebook nor
// the messages have been read, or when they were read from two SIMs; those of the database.
Result<SimBackup> backupOfCopy(const std::filesystem::path& database, BusyPolicy busy = kShellBusy);
// The messages alone (hasPhonebook false), as backupOfCopy takes them: what the SMS
// store's last read or write saw on the SIM, with each message's record and part.
// Errors: Invalid when the messages have not been read from a SIM; those of the database.
Result<SimBackup> messagesOfCopy(const std::filesystem::path& database, BusyPolicy busy = kShellBusy);
Status writeBackup(const std::filesystem::path& file, const SimBackup& backup);

// One store's rows after a restore, over what the SIM in the copy was seen to hold: a
// backup row the SIM already holds as it is stays in step (0); one at a free location is
// new (1), one over another entry changed (3); an entry the SIM holds that the backup has
// not is marked deleted (2), unless its location is `untouched` (the backup's entry there
// could not be taken): then it stays in step. Ordered by location.
std::vector<SimEntry> restoredRows(const std::vector<SimEntry>& backup,
                                   const std::map<std::int32_t, SeenEntry>& seen,
                                   const std::set<std::int32_t>& untouched = {});

struct BackupRestore {
  SimBackup backup;
  int entriesMarked = 0, entriesErased = 0;  // phonebook rows marked 1 or 3, and 2
  int messagesMarked = 0, messagesErased = 0;
  // Messages of the backup that carry only their text (a backup of an older program):
  // they are stored as sent messages, without their status or time.
  int messagesWithoutRecords = 0;
  // The other stores restored (those that can be written: EN and SDN stay as the SIM has
  // them), and their rows marked 1 or 3, and 2.
  std::vector<Phonebook> booksRestored;
  int bookEntriesMarked = 0, bookEntriesErased = 0;
  std::optional<SimIdentity> copySim;  // the SIM the local copy was read from
  // Entries whose number the SIM cannot hold, not restored: "phonebook SM, location 5:
  // 'F' cannot be stored in a SIM number." Their locations keep what the SIM holds.
  std::vector<std::string> refused;
  int namesCut = 0;  // entries restored with their names cut to what the SIM holds
};
// Reads `file` and replaces both local stores, and each other phonebook store of the
// backup that can be written, with restoredRows, in one transaction. An entry the SIM
// already holds as it is stays; any other goes in as admitEntry takes it into its store's
// room in `rooms` (a store not named there: EntryRoom's defaults, the safe limits).
// Refused (Invalid, nothing changed) when the copy holds changes not yet written and
// `discardMarks` is false, or when the SIM of the copy is smaller than the backup (a
// location above `maxSIM`, more messages than `maxSMS`; 0 means not known). Errors of the
// file: NotFound, Io, TooLarge, Invalid with "<file>: " before the reason.
Result<BackupRestore> restoreBackup(const std::filesystem::path& file, const std::filesystem::path& database,
                                    int maxSIM, int maxSMS, bool discardMarks, BusyPolicy busy = kShellBusy,
                                    const std::map<Phonebook, EntryRoom>& rooms = {});

}  // namespace voryx::entries
