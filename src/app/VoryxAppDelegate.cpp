#include "app/VoryxAppDelegate.h"

#include <cerrno>
#include <cstring>
#include <system_error>

#include "base/FileIo.h"
#include "base/AtomicFile.h"
#include "base/DebugLog.h"
#include "store/Files.h"

namespace voryx {
namespace {

namespace fs = std::filesystem;

// What a failed readWholeFile of `from` says, as this alert words it: "cannot read <file>:
// <reason>", a missing file's reason in the system's words.
Error cannotRead(const fs::path& from, const Error& error) {
  const std::string name = from.string();
  std::string reason = error.detail;
  if (error.code == Errc::NotFound) {
    reason = std::strerror(ENOENT);
  } else if (reason.starts_with(name + ": ")) {
    reason.erase(0, name.size() + 2);
  }
  return Error{Errc::Io, "cannot read " + name + ": " + reason};
}

}  // namespace

std::optional<std::string> VoryxAppDelegate::createEditableCopyOfDatabaseIfNeeded() {
  const fs::path writable = paths_.database();
  std::error_code ec;
  if (fs::exists(writable, ec)) return std::nullopt;
  // A folder that cannot be made is only logged: the copy then reports the failure.
  const bool made = createPrivateFolders(paths_.documents, ec);
  DebugLog::append("creo folder rc |%d|   folder %s\n", made ? 1 : 0, paths_.documents.c_str());
  // The copy is 0600 (phone numbers and messages go into it). Another process may have
  // put a database there meanwhile: that one is kept.
  auto failed = [](const Error& e) {
    return "Failed to create writable database file with message '" + e.detail + "'.";
  };
  auto shipped = readWholeFile(paths_.shippedDatabase());
  if (!shipped) return failed(cannotRead(paths_.shippedDatabase(), shipped.error()));
  auto created = createFileAtomically(writable, *shipped, 0600);
  if (!created) return failed(created.error());
  return std::nullopt;
}

}  // namespace voryx
