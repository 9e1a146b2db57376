#include "app/Startup.h"

#include <system_error>

#include "base/Localized.h"
#include "entries/DebugLog.h"
#include "store/Files.h"

namespace voryx {

void prepareFolders(const Paths& paths) {
  std::error_code ec;
  createPrivateFolders(paths.logFile.parent_path(), ec);
  createPrivateFolders(paths.preferences.parent_path(), ec);
}

Paths startUp() {
  Paths paths = Paths::fromEnvironment();
  prepareFolders(paths);
  DebugLog::setPath(paths.logFile);
  loadStringTable(paths.resources / "Localizable.json");
  return paths;
}

}  // namespace voryx
