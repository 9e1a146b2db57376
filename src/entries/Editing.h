#pragma once
// Adding, changing and deleting entries, and emptying the SIM: the one place that does
// it, for the main screen and the shell alike. Each call opens the database, makes its
// change in one transaction and closes it again; it changes only the local table and
// its change marks, which the next write carries to the SIM. Any thread, one database
// connection per call.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/Result.h"
#include "codec/SimName.h"
#include "store/SimEntry.h"
#include "store/SimTable.h"

namespace voryx::entries {

// What one location of a phonebook store takes, as the last read of it learned.
struct EntryRoom {
  int maxSIMLen = 14;  // bytes a name may take on the SIM
  int nameSets = 0;    // the sets the write stores names in (kNameSetHex ... bits); 0 unknown
  // Digits a number may have ("+" is none): the modem's own limit (+CPBR=?) through its
  // phonebook commands, 20 for each EF_EXT1 record besides the record's own 20 through the
  // SIM's files, 20 where no read has said.
  int maxNumberLen = codec::kSimNumberDigits;
};

// Where an edit goes and what the SIM can take.
struct EditTarget {
  std::filesystem::path database;
  ListStore store = ListStore::Phonebook;
  int capacity = 0;    // locations of the store on the SIM (maxSIM or maxSMS); 0 unknown
  int maxSIMLen = 14;  // bytes a phonebook name may take on the SIM
  BusyPolicy busy = kShellBusy;
  int nameSets = 0;    // the sets the write stores names in (kNameSetHex ... bits); 0 unknown
  Phonebook book = Phonebook::SM;  // which phonebook store (the SMS store has one)
  int maxNumberLen = codec::kSimNumberDigits;  // digits of a phonebook number (EntryRoom)
  EntryRoom room() const { return {maxSIMLen, nameSets, maxNumberLen}; }
};

enum class EditOutcome {
  Stored,    // `entry` is in the table as given
  SimFull,   // no free location: nothing was added
  NotSaved,  // the database did not take it (detail says why); nothing changed
  Refused,   // the text cannot be stored as given (detail says why, for a user); nothing changed
};

struct EditResult {
  EditOutcome outcome = EditOutcome::Stored;
  SimEntry entry;      // as stored (or as it would have been stored)
  std::string detail;  // NotSaved: "<file>: <reason>"; Refused: what to change. Readable by a user
};

// A name or number as it may be stored from typing or from a file: a line break or a tab
// becomes one blank ("\r\n" one blank), every other control character (NUL, the rest of
// C0, DEL, C1) is dropped. A line break inside a name would break the CSV file's lines
// and the modem's command; what a read brings from the SIM is kept as the SIM holds it.
std::string withoutControlCharacters(std::string_view text);

// Why a message text cannot be stored, or "" when it can: it must fit one message (160
// characters of the GSM alphabet, 70 otherwise), as the SMS write stores it.
std::string messageTextRefusal(std::string_view text);

// The name as an edit stores it: a phonebook name loses its control characters and is
// cut to what the SIM holds in maxSIMLen bytes in the form the write will choose, so the
// list shows what the SIM will hold. Message texts stay whole.
std::string cleanName(const EditTarget& target, std::string_view name);
std::string cleanName(const EntryRoom& room, std::string_view name);

// A phonebook number as it is stored (codec::readTypedNumber's form), or why it cannot be
// (Invalid, readable by a user, naming the character the SIM cannot hold, or the digits
// past `maxDigits`; 0 or less takes the safe 20). Nothing is dropped but separators: a
// number with a letter is refused, never stored without it.
Result<std::string> cleanNumber(std::string_view number, int maxDigits = codec::kSimNumberDigits);

// A name and number from a file or another program (import, CSV restore, backup restore)
// on their way into a phonebook store of `room`: what an edit would store, whether the
// name was cut to get there, or why the number cannot go (then `refusal` says so and
// `number` is empty).
struct Admitted {
  std::string name;
  std::string number;
  bool nameCut = false;
  std::string refusal;
};
Admitted admitEntry(const EntryRoom& room, std::string_view name, std::string_view number);

// The location of a new entry, given the locations the table holds (any order,
// repeats allowed): the lowest location from 1 up that no entry holds. When the entries
// hold exactly 1 to n and n has reached the capacity, the SIM is full (nothing). A
// capacity of 0 is not known yet (the SIM has not been read): there is no upper bound,
// since the write asks the SIM whether the location is empty before it puts a new entry
// there, and stops with the reason when it is not.
std::optional<std::int32_t> freeLocation(std::vector<std::int32_t> taken, int capacity);

// A new entry, marked new (1), at the free location of the whole table (rows a search
// hides and rows marked for deletion count as taken). Refused for a name or number that
// is not UTF-8, for a phonebook number cleanNumber refuses (with the target's
// maxNumberLen), and for a message text longer than one message. A message's number
// keeps what codec::filterNumber keeps.
EditResult addEntry(const EditTarget& target, std::string_view name, std::string_view number);
// The entry at `location` gets the name and number, marked changed (3) — also an entry
// still marked new, which the SIM has not seen yet. NotSaved when the table has no row
// there.
EditResult changeEntry(const EditTarget& target, std::int32_t location, std::string_view name,
                       std::string_view number);
// Marks the entry at `location` for deletion (2); NotFound when there is no row there.
Status deleteEntry(const EditTarget& target, std::int32_t location);
// Marks every row of the phonebook for deletion (the next write erases every location),
// after the debug log's "start empty sim" record.
Status emptySim(const std::filesystem::path& database, BusyPolicy busy, Phonebook book = Phonebook::SM);

}  // namespace voryx::entries
