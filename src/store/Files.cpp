#include "store/Files.h"

#include <sys/stat.h>

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

}  // namespace voryx
