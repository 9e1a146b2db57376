#include "base/Paths.h"

#include <unistd.h>

#include <cstdlib>
#include <string>

namespace voryx {
namespace {

namespace fs = std::filesystem;

fs::path envPath(const char* name) {
  const char* v = std::getenv(name);
  return (v && *v) ? fs::path(v) : fs::path();
}

fs::path homeDir() {
  fs::path home = envPath("HOME");
  return home.empty() ? fs::path("/tmp") : home;
}

fs::path xdg(const char* name, const char* fallback) {
  fs::path p = envPath(name);
  return p.is_absolute() ? p : homeDir() / fallback;
}

fs::path binaryDir() {
  std::error_code ec;
  fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  return ec ? fs::path() : exe.parent_path();
}

fs::path resourcesDir() {
  fs::path override = envPath("VORYX_RESOURCES");
  if (!override.empty()) return override;
  fs::path bin = binaryDir();
  std::error_code ec;
  // The build tree keeps resources next to the binaries (benchmarks sit one folder
  // deeper); an installed binary finds them under share/.
  fs::path dir = bin;
  for (int up = 0; up < 2 && !dir.empty(); ++up, dir = dir.parent_path()) {
    if (fs::exists(dir / "resources" / Paths::kDatabaseName, ec)) return dir / "resources";
  }
  fs::path installed = bin.parent_path() / "share" / "voryx";
  return installed;
}

}  // namespace

Paths Paths::fromEnvironment() {
  Paths p;
  p.resources = resourcesDir();
  fs::path home = envPath("VORYX_HOME");
  if (!home.empty()) {
    home = fs::absolute(home);
    p.documents = home / "data";
    p.exportDir = home / "Documents";
    p.logFile = home / "state" / "Voryx.log";
    p.preferences = home / "config" / "preferences.json";
  } else {
    p.documents = xdg("XDG_DATA_HOME", ".local/share") / "voryx";
    p.exportDir = xdg("XDG_DOCUMENTS_DIR", "Documents");
    p.logFile = xdg("XDG_STATE_HOME", ".local/state") / "voryx" / "Voryx.log";
    p.preferences = xdg("XDG_CONFIG_HOME", ".config") / "voryx" / "preferences.json";
  }
  p.contacts = p.vcardBook();
  p.tokenFile = p.logFile.parent_path() / "token";
  p.serveRecord = p.logFile.parent_path() / "serve";
  return p;
}

}  // namespace voryx
