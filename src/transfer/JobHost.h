#pragma once
// What a transfer job sees of the screen that started it. RootViewController is one
// host, the command line another. Progress texts are performed on the host's main loop
// and waited for; alerts and the end handlers are posted and not waited for. A job
// never writes the host's fields or the preferences: it ends with a report, which the
// end handler applies on the main loop.
#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "modem/Channel.h"
#include "store/Phonebooks.h"
#include "transfer/CharsetChoice.h"

namespace voryx::transfer {

// How a job ended, for hosts that tell outcomes apart (the command line's exit status).
enum class JobOutcome {
  Done,           // the whole dialogue ran: a read stored the listing, a write cleared the marks
  WriteRefused,   // the modem answered a write with something other than OK, a command
                  // did not fit its buffer, or a new entry's location holds another entry
                  // on the SIM (`retcode` 1, unsent marks kept)
  NoReply,        // the modem fell silent during a write (its alert was shown, marks kept)
  ListingFailed,  // the listing failed or did not end: the local table was kept
  UnsentChanges,  // a read found changes not yet written and was not told to drop them
  NoModem,        // no device opened, the handshake gave up, or the line broke
  TooSlow,        // the modem answers after the wait for a reply (or never ends one)
  SimNotReady,    // the SIM is missing, failed, stayed busy, or asks for a PIN or PUK that
                  // was not given (the user cancelled) or was refused: nothing was read
                  // or written
  CharsetRefused, // the modem took none of the character sets the job can talk in (or
                  // not the one the user forced): nothing was read or written
  DatabaseError,  // the local database could not be read or written
  OtherSim,       // a write found a SIM other than the one the list was read from and was
                  // not told to copy the list onto it: nothing was written, marks kept
  StoreMissing,   // the modem (or the way the SIM is reached) has no such phonebook store,
                  // or the store is read only: nothing was read or written
};

// A capacity a read learned: the host's field takes `value`; the preferences only when
// `remember` (a reply that could not be read gives 9999 for this run only).
struct Capacity {
  int value = 0;
  bool remember = true;
};

struct JobReport {
  JobOutcome outcome = JobOutcome::Done;
  std::optional<Capacity> maxSIM;   // phonebook read
  std::optional<int> maxSIMLen;     // phonebook read (always remembered)
  // Phonebook read: the digits a number may have on this path (always remembered): the
  // number length the modem gives in +CPBR=? (20 when it gives none), or through the
  // SIM's files 20 and 20 more for each EF_EXT1 record a number may chain.
  std::optional<int> maxNumberLen;
  // Phonebook read through the modem's commands: the stores it offers (AT+CPBS=?), by
  // code, as it named them; nothing when it did not say.
  std::optional<std::vector<std::string>> phonebooks;
  // Phonebook read and write: the sets names may be stored in on this modem
  // (kNameSetHex ... bits, Charset.h), remembered as the "nameSets" preference for the cut
  // warning of add, edit and import.
  std::optional<int> nameSets;
  std::optional<Capacity> maxSMS;   // SMS read
  bool createLog = false;           // the job switched the debug log on (SMS jobs)
  std::optional<int> retcode;       // write: 0 after a complete pass, 1 when the modem
                                    // refused an entry; otherwise it keeps its value
  int confirmed = 0;                // write: entries the SIM took (their marks are cleared)
  int marked = 0;                   // write: entries the pass had to send
  int added = 0, changed = 0, deleted = 0;  // write: what the SIM took, by the rows' marks
  // SMS write: changed messages stored anew whose old copy the SIM refused to delete. The
  // old copy stays on the SIM and its row marked deleted: the next write deletes it.
  int oldKept = 0;
  // Write: entries the path cannot store as they are (a command too long for the modem, a
  // number its records cannot hold): each was told, keeps its mark, and the rest went on.
  int skipped = 0;
  // Write: rows still marked once the pass ended, counted as `voryx status` counts them.
  int unsent = 0;
  bool sms = false;                 // write: the SMS store was written (else the phonebook)
  // DatabaseError after a pass: the SIM took `confirmed` entries but the marks could not
  // be cleared; the pass journal holds them, and the next job clears them first.
  bool marksPending = false;
  int rows = 0;                     // read: rows stored
  std::string refusal;              // write: what the modem's refusal means, for the user
  // OtherSim: the SIM the list was read from and the one in the modem, as shortSimName
  // shows them ("…4567895").
  std::string readFrom, thisSim;
  bool copiedOnto = false;          // write: the list went whole onto another SIM
  // Write, copied onto another SIM: what that SIM held beside the list, read back after
  // the copy and now rows of the list.
  int leftovers = 0;
  // The time the job's replies waited for the quiet window after their final result code
  // had come (modem::Channel::quietWaited): what fast transfers would have saved.
  std::chrono::milliseconds quietWaited{0};
  // Write, dry run: every command line of the session in order (codes masked), and
  // whether it was held back (a change) or sent (a query, the handshake, the set-up).
  std::vector<std::pair<std::string, bool>> commands;
};

// A code the SIM asks for, and what the job knows of it.
struct CodeQuestion {
  enum class Code { Pin, Puk, NewPin, Pin2 };  // Pin2: a write of fixed dialling
  Code code = Code::Pin;
  std::optional<int> triesLeft;  // when the modem tells
};

class JobHost {
 public:
  virtual ~JobHost() = default;

  virtual void updateCaption(const std::string& text) = 0;  // waited for
  virtual void updateLabel(const std::string& text) = 0;    // waited for
  // A remark that stands for the rest of the job (the modem borrowed from ModemManager).
  // Waited for; hosts that show no remarks ignore it.
  virtual void showNote(const std::string& /*text*/) {}
  // How far the job is: `done` of `total` entries (listed by a read, to send for a write).
  // Waited for; hosts that draw no bar ignore it.
  virtual void updateProgress(int /*done*/, int /*total*/) {}
  // An alert raised by a job (write errors, a failed read); not waited for.
  virtual void showAlert(const std::string& title, const std::string& message) = 0;
  // Asks the user for a code the SIM needs (the PIN before a job's dialogue, the PUK and a
  // new PIN for an unlock). Waited for, however long the user takes; nothing when the user
  // cancels or the host cannot ask (no terminal, the screens went away). The job sends the
  // answer once and keeps it nowhere; a host never stores it either.
  virtual std::optional<std::string> askCode(const CodeQuestion& /*question*/) { return std::nullopt; }
  // The end handlers, posted (not waited for) once the job's thread is done with the
  // modem and the database.
  virtual void endLoadSIM(const JobReport& report) = 0;
  virtual void endSaveSIM(const JobReport& report) = 0;
};

// What a job needs besides its host; copied into the job when it starts.
struct JobContext {
  std::filesystem::path database;  // the writable Voryx.sqlitedb
  modem::DeviceChoice device;
  int sortField = 0;     // the list's order, which the write passes follow
  std::string search{};  // the search the list on display was loaded with: a write
                         // walks the rows it shows first, then the rest
  int maxSIM = 0;        // the host's fields as the job starts
  int maxSIMLen = 14;
  // Digits a phonebook number may have through the modem's commands, as the last read
  // learned (+CPBR=?); 0 unknown.
  int maxNumberLen = 0;
  int createLog = 0;
  bool discardChanges = false;  // a read may replace rows that carry marks
  // How long a SIM that answers "SIM busy" is waited for before the job gives up.
  std::chrono::milliseconds simBusyWait{10'000};
  CharsetPreference charset{};  // forced from the shell, or UCS2 first (the setup screen)
  // Replies end at their final result code instead of after half a second of quiet (the
  // "Fast transfers" setting); a reply without one still ends at the quiet window.
  bool fast = false;
  // Write: a SIM other than the one the list was read from takes the whole list (every
  // row, not only the marked ones: its other locations are unknown).
  bool toOtherSim = false;
  // Write: everything up to the first change command as usual, then the change commands
  // are listed in the report instead of sent; the local table is left as it is.
  bool dryRun = false;
  // The SIM's files record by record (EF_ADN, EF_EXT1, EF_SMS) instead of the modem's
  // phonebook and message commands, through the modem's AT+CRSM; always so when the device
  // choice names a card reader or a QMI port.
  bool records = false;
  // Which phonebook store the phonebook jobs read and write (AT+CPBS), and so which of
  // the local tables.
  Phonebook phonebook = Phonebook::SM;
  // The SMS jobs: the modem is borrowed from ModemManager (InhibitDevice) and talked to over
  // its AT port even when ModemManager offers its Messaging interface ("--access modem").
  bool borrowModem = false;
  // The SMS jobs: the modem whose messages go through ModemManager's Messaging interface
  // (messagingModem, MessagingJobs.h), chosen as the job starts; no modem line is opened.
  std::optional<modem::ManagedModem> messaging{};
  bool viaRecords() const { return records || device.reader.has_value() || device.qmi.has_value(); }
};

}  // namespace voryx::transfer
