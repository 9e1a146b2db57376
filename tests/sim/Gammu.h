#pragma once
// gammu, a standard client, run against a device for the tests that check what it reads.
// The tests that drive it count its absence as a failure (the install script installs it).
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "support/TempDir.h"

namespace voryx::test {

inline bool gammuInstalled() { return std::system("command -v gammu >/dev/null") == 0; }

// Runs gammu with a configuration for `device`; its standard output and error.
inline std::string runGammu(const std::string& device, const std::string& args) {
  TempDir dir;
  const auto rc = dir / "gammurc";
  std::ofstream(rc) << "[gammu]\ndevice = " << device << "\nconnection = at\n";
  std::string out;
  if (FILE* p = ::popen(("gammu -c " + rc.string() + " " + args + " 2>&1").c_str(), "r")) {
    char buf[4096];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
    ::pclose(p);
  }
  return out;
}

}  // namespace voryx::test
