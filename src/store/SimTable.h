#pragma once
// One SIM store's table in the local database (`sim` for the phonebook, `simsms` for the
// SMS store): the only place that holds SQL text. The reads, the writes, the list
// loading, the edits, and (next) import and restore all go through it.
//
// A SimTable owns one connection, opened by open() and closed when it goes; it belongs to
// one thread at a time. Every operation waits out another program's lock for at most the
// policy's bound and then fails with Errc::Busy, changing nothing. Every operation that
// changes rows runs in one transaction: it is stored whole or not at all.
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/Result.h"
#include "store/Database.h"
#include "store/Phonebooks.h"
#include "store/SimEntry.h"

namespace voryx {

// The phonebook (table `sim`, or another store's table: Phonebooks.h) or the SMS store
// (table `simsms`).
enum class ListStore { Phonebook, Sms };

// How long an operation waits for a lock held by another connection before it fails
// with Errc::Busy.
struct BusyPolicy {
  std::chrono::milliseconds wait;
};
inline constexpr BusyPolicy kScreenBusy{std::chrono::milliseconds(1000)};   // main loop
inline constexpr BusyPolicy kShellBusy{std::chrono::milliseconds(10000)};   // shell, jobs

// What a write pass confirmed for one entry: the modem answered OK for the commands that
// carried it. `sent` is the row exactly as the pass read it from the table.
struct Confirmed {
  enum class What {
    Written,  // the entry's name/text and number are on the SIM
    Erased,   // the entry's location (message) is gone from the SIM; nothing written
  };
  SimEntry sent;
  What what = What::Written;
  // SMS written: the index the modem stored the message at ("+CMGW: <index>"), which is
  // not always the row's `entry`. Always empty for the phonebook.
  std::optional<std::int32_t> storedAt;
  // SMS written for a changed row (mark 3) whose old message the SIM refused to delete:
  // the old copy stays at `sent.posizione`, and the table keeps a row there marked
  // deleted (2), so that the next write deletes it.
  bool oldKept = false;
  // Written: the name (message text) the SIM holds now, when it is not the row's own: cut
  // to what the SIM holds, or with "?" for a letter the character set lacks. The row
  // takes it, so that the list shows what the SIM has.
  std::optional<std::string> took;
  // SMS written: the message as the SIM now holds it (MessageRecords); empty when not known.
  std::string record;
  // SMS written: the part of a long message it is (a restored part is stored as it was).
  std::optional<MessagePart> part;
  // A confirmation of `what` for `sent`, and nothing more.
  static Confirmed of(const SimEntry& sent, What what) {
    Confirmed c;
    c.sent = sent;
    c.what = what;
    return c;
  }

  // In the pass journal only: the pass is about to store this message (`storedAt`: the
  // record it chose, on the records path) and has not read the SIM's answer. A pass that
  // ends before it does leaves the message unsettled: the SIM may hold it or not.
  bool pending = false;
};

// Which SIM a store's rows were read from: its ICCID (the card's serial number) and its
// IMSI (the subscriber), as the modem gave them; either is empty when the modem refused it.
struct SimIdentity {
  std::string iccid;
  std::string imsi;
  bool known() const { return !iccid.empty() || !imsi.empty(); }
  bool operator==(const SimIdentity&) const = default;
};
// "…4567895": the last seven digits of the ICCID, else of the IMSI; "" when neither is known.
std::string shortSimName(const SimIdentity& sim);
// Whether two identities name one SIM: by the ICCID when both have one, else by the IMSI
// when both have one, else Unknown.
enum class SameSim { Yes, No, Unknown };
SameSim sameSim(const SimIdentity& a, const SimIdentity& b);

// What the SIM held at a location when it was last read or written.
struct SeenEntry {
  std::string nome;
  std::string telefono;
  bool operator==(const SeenEntry&) const = default;
};

// What the SMS rows' locations (entry) name: the SIM's own indexes (the modem's message
// commands, the SIM's records), or ModemManager's numbers for the messages (its Messaging
// interface), which are its own and new each time it starts. A write goes only the way the
// rows were read: an index of one is no message of the other.
enum class Locations { SimIndexes, ModemManager };

class SimTable {
 public:
  // Opens the database file for `store`. A file that lacks the store's table gets it
  // (the shipped schema's CREATE statement); an existing table is never touched.
  // Errors (detail: "<file>: <reason>", readable as it stands by a user):
  //   NotFound  the file does not exist (no file is created)
  //   Io        the file cannot be opened or written: permission denied, read-only
  //             file system, a missing folder ... (detail ends in "permission denied"
  //             for EACCES/EPERM)
  //   Corrupt   SQLite's own verdict: SQLITE_CORRUPT or SQLITE_NOTADB
  //   Busy      locked past the policy's bound
  // open() never moves or deletes a file; loadEntries (EntryList.h) moves a file SQLite
  // judges damaged aside.
  // `book`: which phonebook store (ignored for the SMS store).
  static Result<SimTable> open(const std::filesystem::path& file, ListStore store,
                               BusyPolicy busy = kShellBusy, Phonebook book = Phonebook::SM);

  ListStore store() const { return store_; }
  Phonebook book() const { return book_; }

  // The rows of the table. The phonebook applies `search` (a non-empty text matched as a
  // LIKE pattern "%text%" against name and number: "%" and "_" act as wildcards, letter
  // case ignored for ASCII only) and the order (sortField 0 by location, otherwise by name
  // in the database's byte order). The SMS store ignores both and orders by location.
  // NULL text reads as "". Errors: Busy, Corrupt, Io.
  Result<std::vector<SimEntry>> list(std::string_view search = "", int sortField = 0);

  // How many rows hold exactly this number, whatever their mark.
  Result<int> countNumber(std::string_view number);
  // How many rows carry a mark other than 0 (changes not yet written to the SIM).
  Result<int> countMarked();
  // A number that changes whenever another connection (another program, or another
  // SimTable of this one) has committed a change to the file since this one last asked
  // (SQLite's data_version). Only its changes mean anything, within this SimTable.
  Result<std::int64_t> dataVersion();

  // Replaces every row by `rows` in one transaction. A row whose `entry` repeats an
  // earlier one is skipped. With `discardMarks` false the replacement is refused with
  // Errc::Invalid (and nothing changes) when the table holds marked rows at the moment of
  // the replacement, so that changes made by another program while a read ran are never
  // dropped without the user's word.
  // The SIM's identity and what it held stay as they were: a restore changes the copy, not
  // its SIM.
  Status replaceAll(const std::vector<SimEntry>& rows, bool discardMarks);
  // A whole SIM restored: replaceAll of this store with `rows` and of the other store
  // (phonebook or SMS) of the same file with `otherRows`, in one transaction: both or
  // neither, refused when either holds marked rows and `discardMarks` is false.
  // `otherParts`: those of the SMS rows that stay parts of a long message (parts()). With
  // `books`, the phonebook stores named there are replaced too, in the same transaction.
  // `otherRecords`: what the SMS rows are to be on the SIM (records()).
  Status replaceBothStores(const std::vector<SimEntry>& rows, const std::vector<SimEntry>& otherRows,
                           bool discardMarks, const MessageParts& otherParts = {},
                           const std::map<Phonebook, std::vector<SimEntry>>& books = {},
                           const MessageRecords& otherRecords = {});
  // A read: replaceAll, and in the same transaction the store's rows become what `sim`
  // holds (seen()) and `sim` the SIM the rows were read from (identity()).
  // With `parts`, the SMS among the rows that are parts of a long message (parts()).
  // With `records`, the SMS as the SIM holds them (records()).
  Status storeRead(const std::vector<SimEntry>& rows, const SimIdentity& sim, bool discardMarks,
                   const MessageParts& parts = {}, const MessageRecords& records = {},
                   Locations locations = Locations::SimIndexes);
  // What the store's locations name, as its last read recorded (storeRead); SimIndexes when
  // no read recorded it.
  Result<Locations> locations();
  // The SIM the store's rows were read from; nothing when no read recorded one (a database
  // of an older program, a fresh one).
  Result<std::optional<SimIdentity>> identity();
  // What that SIM held at each location, as its last read or write saw it.
  Result<std::map<std::int32_t, SeenEntry>> seen();
  // SMS: which messages are parts of a long message (by index), as the read that stored
  // them found them (storeRead); replaceAll forgets them all, and a write those where it
  // erased or stored a message. Empty for the phonebook.
  Result<MessageParts> parts();
  // SMS: each row's message as the SIM holds it (a read), or is to hold it (a restore of a
  // backup), by the row's index: the write sends it byte for byte while the row's text and
  // number are its own, and keeps its status (and a received one's sender and time) when
  // the user changed them. A write updates it where it stored or erased a message. Empty
  // for the phonebook.
  Result<MessageRecords> records();

  // Adds `entry` as a new row at the location `choose` picks from the locations of every
  // row of the table (whatever its mark; in no particular order), in one transaction, so
  // that no other program can take the location in between. Answers the location, or
  // nothing (and adds nothing) when `choose` picks none.
  Result<std::optional<std::int32_t>> add(
      const SimEntry& entry,
      const std::function<std::optional<std::int32_t>(const std::vector<std::int32_t>&)>& choose);
  // Gives the row at `entry.posizione` the entry's name, number and mark; Errc::NotFound
  // when there is no such row (another program's write removed it), Errc::Invalid for a
  // part of a long message (it can only be deleted, as a whole).
  Status change(const SimEntry& entry);
  // Marks the row at `entry` deleted (2), and with a part of a long message every part of
  // it (the parts of one sender with its reference and count); Errc::NotFound when there
  // is none.
  Status markDeleted(std::int32_t entry);
  // Marks every row deleted (2).
  Status markAllDeleted();

  // Applies what a write pass confirmed, in one transaction. A row is matched by the
  // `entry` the pass read; it is "unchanged" when its mark, name and number are still
  // what the pass read (another program may have changed it meanwhile).
  //   Written, row unchanged        mark 0 (and `took` for its name, when set); with
  //                                 storedAt, `entry` becomes storedAt
  //   Written, row changed since    keeps its mark (a mark 1 becomes 3: the SIM now holds
  //                                 a version of it); with storedAt, `entry` becomes
  //                                 storedAt all the same (that is where the SIM has it)
  //   Erased, sent mark 2           the row is removed if unchanged, else kept as it is
  //   Erased, sent mark 3 (SMS: the old message was deleted, the new one not stored)
  //                                 a row still marked 3 becomes 1 (new: the next pass
  //                                 must not delete at the old index again); a row now
  //                                 marked 2 is removed (its message is gone); else kept
  //   a row that is gone            nothing
  // Index moves (storedAt) happen after the removals, through temporary entries, so no
  // two rows ever share an `entry`. A row that this sweep does not move but that holds a
  // storedAt index (the table was out of step with the SIM, which reported that index
  // free) moves to the first free entry above every entry of the table and becomes new
  // (1) — or is removed when it is marked 2 — so nothing is lost and no delete ever
  // aims at a message it does not describe.
  // A Written entry with oldKept leaves, once its row has moved to storedAt, a row at the
  // old index marked deleted (2), with the text the SIM was last seen holding there (else
  // the sent text): the pending delete of the old copy, which the next pass sends.
  // What the pass confirmed also becomes what the SIM holds (seen()). With `copiedOnto`
  // (a whole list written onto another SIM), that SIM becomes the store's identity and the
  // first SIM's values are forgotten.
  // With a journal `token`, the same transaction records that journal as applied.
  Status sweep(const std::vector<Confirmed>& confirmed,
               const std::optional<SimIdentity>& copiedOnto = std::nullopt,
               std::string_view token = {});

  // The pass journal: a file next to the database ("<file>.pass-<table>", mode 0600) in
  // which a write pass records each entry the SIM took as soon as the modem confirmed it.
  // It needs no lock of the database: when the sweep cannot run (another program holds
  // the database), the next job applies the journal before it lists or sends anything,
  // so no message is stored twice and no entry the SIM took is taken for another one.
  // Job thread only.
  //
  // Adds one confirmed entry under `token` (a pass's own: the first record of a new
  // token starts the file anew), on the disk before it returns; the file is replaced
  // whole (writeFileAtomically), so it never holds a line cut short. Errors: Io.
  Status journal(std::string_view token, const Confirmed& confirmed);
  // Before it stores a message, a pass records it here as `pending` (on the disk before the
  // message is sent), so that a pass that ends before the SIM's answer (killed, the line
  // lost) never leads to the message being stored twice.
  //
  // Applies a journal a pass left (sweep with its token), then removes it; a journal the
  // table already took is only removed. Lines that cannot be read are skipped. Messages
  // the pass was about to store without a record of the SIM's answer are unsettled: only
  // the SIM can tell whether it holds them. With any, the journal stays and they come back
  // in `unsettled` (the rows as the pass read them); settleJournal then applies what the
  // SIM was found to hold. Errors: those of sweep (the journal stays), Io.
  Status applyJournal(std::vector<Confirmed>* unsettled = nullptr);
  // Applies what a look at the SIM found of the unsettled messages (sweep) and removes the
  // journal; a read, which lists the whole SIM anyway, passes none.
  Status settleJournal(const std::vector<Confirmed>& found);

  Database& database() { return db_; }

 private:
  SimTable(Database db, ListStore store, Phonebook book, BusyPolicy busy);
  // In a transaction.
  Status replaceRows(ListStore store, Phonebook book, const std::vector<SimEntry>& rows, bool discardMarks,
                     const MessageParts& parts = {}, const MessageRecords& records = {});
  Result<int> countMarkedIn(std::string_view table);
  std::filesystem::path journalFile() const;
  Database db_;
  ListStore store_;
  Phonebook book_;
  BusyPolicy busy_;
  std::string journalToken_;  // the token the journal file was last started with
  std::string journalText_;   // what this table last wrote to the journal file
};

}  // namespace voryx
