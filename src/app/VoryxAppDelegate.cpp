#include "app/VoryxAppDelegate.h"

#include <fcntl.h>
#include <unistd.h>

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

// The whole of a file, or the failure's description.
Result<std::string> readWhole(const fs::path& from) {
  const UniqueFd in(::open(from.c_str(), O_RDONLY | O_CLOEXEC));
  if (!in) return Error{Errc::Io, "cannot read " + from.string() + ": " + std::strerror(errno)};
  std::string data;
  char buffer[1 << 16];
  while (true) {
    const ssize_t n = ::read(in.get(), buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return Error{Errc::Io, "cannot read " + from.string() + ": " + std::strerror(errno)};
    if (n == 0) break;
    data.append(buffer, static_cast<std::size_t>(n));
  }
  return data;
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
  auto shipped = readWhole(paths_.shippedDatabase());
  if (!shipped) return failed(shipped.error());
  auto created = createFileAtomically(writable, *shipped, 0600);
  if (!created) return failed(created.error());
  return std::nullopt;
}

}  // namespace voryx
