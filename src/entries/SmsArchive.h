#pragma once
// The SMS store kept in files before it is cleared: a SIM whose message store is full
// takes no new message, and the way out must not cost the user the messages it holds.
//
// An archive is two files. FILE is a SIM backup (Backup.h) that holds the messages alone,
// each as the SIM holds it (status byte, PDU, part): `voryx restore-backup FILE` gives them
// back to a SIM byte for byte, and leaves the phonebook alone. Beside it, with the
// extension ".mbox", the same messages for a person to read: an mbox file (RFC 4155, the
// "mboxrd" quoting), one mail a message with Date (a received message's time stamp), From,
// To and Subject headers and the text. mbox rather than plain text: every mail program
// opens it (Thunderbird, Evolution, mutt, Apple Mail), lists the messages by date and
// sender, and searches them, while the file stays readable in any text editor.
//
// Clearing waits for the backup to have been read back whole: nothing is marked until the
// file on the disk gives back every message it was to hold.
#include <ctime>
#include <filesystem>
#include <string>

#include "base/Result.h"
#include "entries/Backup.h"
#include "store/SimTable.h"

namespace voryx::entries {

// The SIM store counts as full from two messages short of its capacity: a long message's
// parts, or two messages in a row, fill it before the user looks again. Nothing when the
// capacity is not known (0) or nothing is stored.
bool messageStoreFull(int used, int capacity);
// What the shell and the screen say after such a read: "The SIM's message store is full (30
// of 30): new messages cannot arrive." or "... is nearly full (28 of 30): new messages will
// soon stop arriving."; "" when the store is not full. In the application's language.
std::string messageStoreFullMessage(int used, int capacity);

// The readable file of the archive FILE: FILE with ".mbox" for its extension (FILE itself
// when that is its extension: ".mbox" is added).
std::filesystem::path mboxBeside(const std::filesystem::path& file);

// The messages as an mbox file's text: one mail each, a message in parts as one mail with
// its parts' texts joined (joinMessageParts). A received message's time comes from its
// PDU (its service centre time stamp); a message without one (sent, a draft, a record
// that cannot be read) has no Date header, and its "From " line carries `archived`.
// Received messages are from their sender to "SIM"; the others from "SIM" to their
// recipient.
std::string messagesMbox(const SimBackup& messages, std::time_t archived);

struct SmsArchive {
  std::filesystem::path file;  // the backup form
  std::filesystem::path mbox;  // the readable form, beside it
  int messages = 0;            // the SIM's messages (each part counts) in it
  bool cleared = false;        // every message of the local list is now marked deleted
};

// Writes the SMS store of the local copy (messagesOfCopy, with `smsCapacity`, 0 unknown)
// as `file` and mboxBeside(file), both 0600 and written atomically; folders are not
// created. Then reads `file` back and checks that it holds the same messages, each with
// the same record and part. Only then, with `clear`, marks every message of the local
// list deleted (2), for the next SMS write to erase them from the SIM.
// Errors, detail readable as it stands, and nothing marked:
//   Invalid  the messages were never read from a SIM; with `clear`, the list holds changes
//            not yet written (the archive would not hold them); the file read back differs
//   Io       a file cannot be written (its folder is missing, read-only, the disk full)
//   and those of the database.
Result<SmsArchive> archiveMessages(const std::filesystem::path& file, const std::filesystem::path& database,
                                   int smsCapacity, bool clear, BusyPolicy busy = kShellBusy);

}  // namespace voryx::entries
