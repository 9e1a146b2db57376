#include "base/AtomicFile.h"

#include <fcntl.h>  // AT_FDCWD
#include <stdio.h>  // renameat2
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "base/FileIo.h"

namespace voryx {
namespace {

namespace fs = std::filesystem;

Error failure(const char* what, const fs::path& path, int err) {
  return Error{Errc::Io, std::string(what) + " " + path.string() + ": " + std::strerror(err)};
}

bool writeAll(int fd, std::string_view data) {
  while (!data.empty()) {
    ssize_t n = ::write(fd, data.data(), data.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;
      return false;
    }
    data.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

// Writes the temporary file and puts it in place. True when `file` now holds `data`; false
// with no error when `replace` is off and `file` exists.
Result<bool> writeAndRename(const fs::path& file, std::string_view data, mode_t mode,
                            bool replace) {
  const fs::path dir = file.parent_path().empty() ? fs::path(".") : file.parent_path();
  std::string tmp = (dir / (file.filename().string() + ".tmp-XXXXXX")).string();
  const int fd = ::mkostemp(tmp.data(), O_CLOEXEC);  // 0600 until the fchmod below
  if (fd < 0) return failure("cannot create a file in", dir, errno);

  bool ok = writeAll(fd, data) && ::fchmod(fd, mode) == 0 && ::fsync(fd) == 0;
  int err = errno;
  if (::close(fd) != 0 && ok) {  // by hand: a failed close is a failed write (NFS, quotas)
    ok = false;
    err = errno;
  }
  bool created = false;
  if (ok) {
    created = replace ? ::rename(tmp.c_str(), file.c_str()) == 0 : renameNoReplace(tmp, file);
    err = errno;
    if (!created && !replace && err == EEXIST) {
      ::unlink(tmp.c_str());
      return false;
    }
    ok = created;
  }
  if (!ok) {
    ::unlink(tmp.c_str());
    return failure("cannot write", file, err);
  }
  // The rename reaches the disk with the folder; a failure here changes nothing for a
  // reader, so it is not reported.
  const UniqueFd folder(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (folder) ::fsync(folder.get());
  return true;
}

}  // namespace

Status writeFileAtomically(const fs::path& file, std::string_view data, mode_t mode) {
  auto written = writeAndRename(file, data, mode, /*replace=*/true);
  if (!written) return written.error();
  return Ok{};
}

Result<bool> createFileAtomically(const fs::path& file, std::string_view data, mode_t mode) {
  return writeAndRename(file, data, mode, /*replace=*/false);
}

bool renameNoReplace(const fs::path& from, const fs::path& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
    return true;
  }
  if (errno != EINVAL && errno != ENOSYS) return false;
  // A file system without the flag: a hard link fails on an existing name as well.
  if (::link(from.c_str(), to.c_str()) != 0) return false;
  ::unlink(from.c_str());
  return true;
}

}  // namespace voryx
