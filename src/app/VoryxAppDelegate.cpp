#include "app/VoryxAppDelegate.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>

#include "entries/DebugLog.h"
#include "store/Files.h"

namespace voryx {
namespace {

namespace fs = std::filesystem;

std::string describe(const char* what, const fs::path& path, int err) {
  return std::string(what) + " " + path.string() + ": " + std::strerror(err);
}

// Copies from to to through a temporary file in to's folder, so that a copy cut short
// (full disk, crash) never leaves a half database under the real name. The copy is 0600.
// Returns the failure's description, or nothing.
std::optional<std::string> copyFile(const fs::path& from, const fs::path& to) {
  int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return describe("cannot read", from, errno);
  std::string tmp = to.string() + ".tmp-XXXXXX";
  int out = ::mkostemp(tmp.data(), O_CLOEXEC);
  if (out < 0) {
    int err = errno;
    ::close(in);
    return describe("cannot create a file in", to.parent_path(), err);
  }
  std::optional<std::string> failure;
  char buffer[1 << 16];
  while (!failure) {
    ssize_t n = ::read(in, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) failure = describe("cannot read", from, errno);
    if (n <= 0) break;
    for (ssize_t done = 0; done < n && !failure;) {
      ssize_t w = ::write(out, buffer + done, static_cast<std::size_t>(n - done));
      if (w < 0 && errno != EINTR) failure = describe("cannot write", tmp, errno);
      if (w > 0) done += w;
    }
  }
  ::close(in);
  if (!failure && ::fsync(out) != 0) failure = describe("cannot write", tmp, errno);
  if (::close(out) != 0 && !failure) failure = describe("cannot write", tmp, errno);
  // Another process may have put a database there meanwhile: keep that one.
  if (!failure && !renameNoReplace(tmp, to) && errno != EEXIST) {
    failure = describe("cannot create", to, errno);
  }
  ::unlink(tmp.c_str());  // gone already after a successful rename
  return failure;
}

}  // namespace

std::optional<std::string> VoryxAppDelegate::createEditableCopyOfDatabaseIfNeeded() {
  const fs::path writable = paths_.database();
  std::error_code ec;
  if (fs::exists(writable, ec)) return std::nullopt;
  // A folder that cannot be made is only logged: the copy then reports the failure.
  const bool made = createPrivateFolders(paths_.documents, ec);
  DebugLog::append("creo folder rc |%d|   folder %s\n", made ? 1 : 0, paths_.documents.c_str());
  if (auto failure = copyFile(paths_.shippedDatabase(), writable)) {
    return "Failed to create writable database file with message '" + *failure + "'.";
  }
  return std::nullopt;
}

}  // namespace voryx
