#include "app/Startup.h"

#include <cstdlib>
#include <system_error>

#include "base/Localized.h"
#include "base/DebugLog.h"
#include "store/Files.h"
#include "store/Preferences.h"
#include "contacts/Book.h"

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

void chooseAddressBook(Paths& paths, const std::string& given) {
  std::string path = given;
  if (path.empty()) path = Preferences(paths.preferences).text(kPrefContacts).value_or("");
  // Nothing names a book: the desktop's own when EDS answers, except under VORYX_HOME,
  // whose tests and demos keep to their own folder.
  const char* root = std::getenv("VORYX_HOME");
  if (path.empty() && !(root && *root) && contacts::edsAnswers()) path = "eds:";
  if (path.empty()) return;
  const char* home = std::getenv("HOME");
  if (path.starts_with("~/") && home && *home) path = std::string(home) + path.substr(1);
  paths.contacts = path;
}

std::filesystem::path loggingFlag(const Paths& paths) {
  return paths.logFile.parent_path() / "logging-on";
}

int shellCreateLog(const Paths& paths) {
  std::error_code ec;
  return std::filesystem::exists(loggingFlag(paths), ec) ? 1 : 0;
}

}  // namespace voryx
