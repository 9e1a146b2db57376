#pragma once
// Where the application keeps its files, after the platform mapping:
//   documents (writable database)  $XDG_DATA_HOME/voryx          (~/.local/share/voryx), 0700
//   resources (shipped database)   <binary dir>/resources, or <prefix>/share/voryx
//   export folder                  $XDG_DOCUMENTS_DIR            (~/Documents)
//   debug log                      $XDG_STATE_HOME/voryx/Voryx.log (~/.local/state/voryx)
//   access token of voryx serve    $XDG_STATE_HOME/voryx/token, 0600
//   the running voryx serve        $XDG_STATE_HOME/voryx/serve, 0600 (its process and address)
//   preferences                    $XDG_CONFIG_HOME/voryx/preferences.json
//   address book                   $XDG_DATA_HOME/voryx/contacts.vcf (or --contacts, or the
//                                  "contacts" preference, or the desktop's: see chooseAddressBook)
// VORYX_HOME=DIR puts data, config, state and documents under DIR (tests, demos).
// A plain value: other layers receive it and read its fields.
#include <filesystem>

namespace voryx {

struct Paths {
  std::filesystem::path documents;   // folder of the writable database
  std::filesystem::path resources;   // folder of the shipped database and string table
  std::filesystem::path exportDir;   // folder of the CSV export
  std::filesystem::path logFile;     // the debug log
  std::filesystem::path tokenFile;   // the access token of `voryx serve`, beside the log
  std::filesystem::path serveRecord; // what the running `voryx serve` leaves, beside the token
  std::filesystem::path preferences; // the preferences file
  std::filesystem::path contacts;    // the address book in use (contacts/Book.h names its forms)

  static constexpr const char* kDatabaseName = "Voryx.sqlitedb";
  std::filesystem::path database() const { return documents / kDatabaseName; }
  std::filesystem::path shippedDatabase() const { return resources / kDatabaseName; }
  // The vCard file that is the address book when nothing names another.
  std::filesystem::path vcardBook() const { return documents / "contacts.vcf"; }

  // Reads the environment (VORYX_HOME, XDG_*, HOME) and the binary's location. Creates
  // nothing: start-up creates the folders it needs.
  static Paths fromEnvironment();
};

}  // namespace voryx
