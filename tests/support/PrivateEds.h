#pragma once
// A private session bus with evolution-data-server's source registry and address-book
// factory on it, in a home of its own (HOME and the XDG folders of this process point
// there while it lives, so that libebook and any voryx started meanwhile find it).
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "support/TempDir.h"

namespace voryx::test {

// Everything it started is stopped when it goes.
class PrivateEds {
 public:
  PrivateEds() {
    for (const char* dir : {"config", "data", "cache", "runtime"}) std::filesystem::create_directories(home_ / dir);
    ::chmod((home_ / "runtime").c_str(), 0700);
    const std::string address = "unix:path=" + (home_ / "bus").string();
    set("HOME", home_.path.string());
    set("XDG_CONFIG_HOME", (home_ / "config").string());
    set("XDG_DATA_HOME", (home_ / "data").string());
    set("XDG_CACHE_HOME", (home_ / "cache").string());
    set("XDG_RUNTIME_DIR", (home_ / "runtime").string());
    set("GSETTINGS_BACKEND", "memory");
    set("DBUS_SESSION_BUS_ADDRESS", address);
    start({"/usr/bin/dbus-daemon", "--session", "--nofork", "--nosyslog", "--address=" + address});
    ready_ = waitFor([&] { return std::filesystem::exists(home_ / "bus"); }) &&
             (start({"/usr/libexec/evolution-source-registry"}), waitFor(owned("org.gnome.evolution.dataserver.Sources5"))) &&
             // The registry owns its name before it has loaded its sources (seen under
             // ThreadSanitizer's load): the default book is there only once it lists it.
             waitFor(listsBuiltinBook) &&
             (start({"/usr/libexec/evolution-addressbook-factory"}), waitFor(owned("org.gnome.evolution.dataserver.AddressBook10")));
  }
  ~PrivateEds() {
    for (auto it = children_.rbegin(); it != children_.rend(); ++it) {
      ::kill(*it, SIGTERM);
      ::waitpid(*it, nullptr, 0);
    }
    for (const auto& [name, value] : saved_) {
      if (value) {
        ::setenv(name.c_str(), value->c_str(), 1);
      } else {
        ::unsetenv(name.c_str());
      }
    }
  }
  bool ready() const { return ready_; }

 private:
  void set(const std::string& name, const std::string& value) {
    const char* before = std::getenv(name.c_str());
    saved_.emplace_back(name, before ? std::optional<std::string>(before) : std::nullopt);
    ::setenv(name.c_str(), value.c_str(), 1);
  }
  void start(const std::vector<std::string>& args) {
    const pid_t pid = ::fork();
    if (pid == 0) {
      std::vector<char*> argv;
      for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
    children_.push_back(pid);
  }
  static std::function<bool()> owned(const std::string& name) {
    return [name] {
      const std::string command = "dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus "
                                  "org.freedesktop.DBus.NameHasOwner string:" + name + " 2>/dev/null | grep -q 'boolean true'";
      return std::system(command.c_str()) == 0;
    };
  }
  static bool listsBuiltinBook() {
    return std::system("dbus-send --session --print-reply --dest=org.gnome.evolution.dataserver.Sources5 "
                       "/org/gnome/evolution/dataserver/SourceManager "
                       "org.freedesktop.DBus.ObjectManager.GetManagedObjects 2>/dev/null | "
                       "grep -q system-address-book") == 0;
  }
  static bool waitFor(const std::function<bool()>& done) {
    for (int i = 0; i < 200; ++i) {
      if (done()) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
  }

  TempDir home_;
  std::vector<pid_t> children_;
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
  bool ready_ = false;
};

}  // namespace voryx::test
