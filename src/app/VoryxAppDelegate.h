#pragma once
// The application delegate: makes sure the writable database exists before any screen
// touches it. The screens layer wraps it with the window start-up; the command line
// faces call it directly. Main thread, before anything else runs.
#include <optional>
#include <string>

#include "base/Paths.h"

namespace voryx {

class VoryxAppDelegate {
 public:
  explicit VoryxAppDelegate(const Paths& paths) : paths_(paths) {}

  // When the writable database is missing: creates the documents folder (0700, parents
  // too), appends "creo folder rc |%d|   folder %s\n" to the debug log (1 when the
  // folder was made now, 0 when it existed; written whether or not logging is on) and
  // copies the shipped database into place (through a temporary file, so a failed copy
  // leaves no half file behind). Returns the alert message "Failed to create writable
  // database file with message '...'." when the copy failed, nothing on success or when
  // the file was already there (it is not checked: the list loading finds damage).
  std::optional<std::string> createEditableCopyOfDatabaseIfNeeded();

 private:
  Paths paths_;
};

}  // namespace voryx
