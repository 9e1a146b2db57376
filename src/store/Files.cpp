#include "store/Files.h"

#include <fcntl.h>  // AT_FDCWD
#include <stdio.h>  // renameat2
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace voryx {

bool createPrivateFolders(const std::filesystem::path& dir, std::error_code& ec) {
  ec.clear();
  if (dir.empty()) return false;
  std::filesystem::path parent = dir.parent_path();
  if (!parent.empty() && parent != dir) {
    std::error_code statEc;
    if (!std::filesystem::is_directory(parent, statEc)) {
      createPrivateFolders(parent, ec);
      if (ec) return false;
    }
  }
  if (::mkdir(dir.c_str(), 0700) == 0) return true;
  int err = errno;
  std::error_code statEc;
  if (err == EEXIST && std::filesystem::is_directory(dir, statEc)) return false;
  ec.assign(err, std::generic_category());
  return false;
}

bool renameNoReplace(const std::filesystem::path& from, const std::filesystem::path& to) {
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
