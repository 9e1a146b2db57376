#pragma once
// The main screen's commands on files, apart from the screen itself: the import of the
// address book, the CSV export and restore, the vCard export, the debug log and its
// support mail. Each says in an alert what went wrong, and in a notice what it did; the
// list stays the screen's, which reloads it after an import or a restore. Main loop only.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "base/Paths.h"
#include "entries/Import.h"
#include "store/Preferences.h"
#include "store/SimEntry.h"
#include "ui/kit/UiApplication.h"

namespace voryx {

class FileCommands {
 public:
  // Everything given must outlive the commands.
  FileCommands(kit::UiApplication& app, const Paths& paths, Preferences& preferences)
      : app_(app), paths_(paths), preferences_(preferences) {}

  // What the import and the restore need of the SIM as the last read found it.
  struct Sim {
    int maxSIM = 0;
    int maxSIMLen = 0;
    int createLog = 0;
  };
  // "Please wait..." over the whole screen (overlay `tag`), for the import and the restore.
  void showWaitOverlay(int tag);
  // The import's plan as a question's text (notices::importPlan): what it will add, what
  // does not fit, what is on the list already, the names it cuts and the numbers it
  // leaves out. None after an alert saying why: no address book, a list that cannot be
  // read, or nothing to add (then the alert has the counts).
  std::optional<std::string> importPlan(const Sim& sim);
  // Every number of every person of the address book into free locations, as the plan
  // says (entries::importAll); a notice says how many were added and how many were on
  // the list already ("Added 1; 2 were already on the list"). A full SIM: the "SIM is
  // full!" alert, answered to `fullAnswer`; a database failure stops it with an alert;
  // the rows added before stay. Answers the locations of the rows added.
  std::vector<std::int32_t> importAll(const Sim& sim, kit::AlertDelegate* fullAnswer);
  // The phonebook replaced by the CSV file's entries; a notice says how many, an alert
  // what was skipped or left out.
  void restore(const Sim& sim);
  // The file the CSV export writes and the restore reads.
  std::filesystem::path csvFile() const { return paths_.exportDir / "Voryx.csv"; }
  // A path as a screen shows it: a zero-width space after each "/", so that a long path
  // wraps only there, never inside a folder's name.
  static std::string breakablePath(const std::filesystem::path& path);

  // The question after an export: whether to view the file.
  struct Exported {
    std::string title;
    std::string message;
  };
  // `list` into Voryx.csv of the export folder (what cannot come back from it is told in
  // the question), or as vCards 4.0 into Voryx.vcf, names split by the name order. None
  // when the file was not written: the alert has said why.
  std::optional<Exported> exportCsv(const std::vector<SimEntry>& list);
  std::optional<Exported> exportVCard(const std::vector<SimEntry>& list);
  // The SIM phonebook's `list` into the address book, merged (numbers the book has left
  // out, "/M", "/H" ... entries of one name one contact): the plan as a question's text
  // (none after an alert saying why there is nothing to copy), then the copy, which a
  // notice sums up.
  std::optional<std::string> copyToBookPlan(const std::vector<SimEntry>& list);
  void copyToBook(const std::vector<SimEntry>& list);
  // The exported file `name` as a download of type `type`, and the folder on the desktop.
  void viewExport(const char* name, const char* type);

  // The SMS store's archive in the export folder (made when missing): a backup of the
  // messages alone and its mbox file, "Voryx-SMS-<date>-<time>.json" and ".mbox", never
  // over an earlier archive; once it reads back whole, every message of the list is
  // marked deleted (entries::archiveMessages). `maxSMS`: the store's capacity, 0 unknown.
  // False, after an alert saying why, when anything failed: then nothing is marked.
  bool archiveMessages(int maxSMS);
  // Empties the debug log ("LOG START"), turns logging on and says so in a notice; false,
  // after an alert saying so, when the log cannot be written.
  bool startLog();
  // The support mail of the log as it stands now, in the composer.
  void sendLog();

 private:
  void failed(const char* title, const std::string& why, const std::string& detail);
  entries::ImportOptions importOptions(const Sim& sim) const;

  kit::UiApplication& app_;
  const Paths& paths_;
  Preferences& preferences_;
};

}  // namespace voryx
