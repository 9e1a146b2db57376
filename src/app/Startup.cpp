#include "app/Startup.h"

#include <cstdlib>
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
  loadStringTables(paths.resources);
  // The user's language as the environment names it (the page's language may change it).
  for (const char* name : {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = std::getenv(name);
    if (value && *value) {
      setLanguage(chooseLanguage(value));
      break;
    }
  }
  return paths;
}

}  // namespace voryx
