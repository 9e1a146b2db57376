#include "base/Desktop.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string_view>

namespace voryx {

bool hasDesktop() {
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"}) {
    const char* value = std::getenv(name);
    if (value && *value) return true;
  }
  return false;
}

std::filesystem::path findProgram(const std::string& name) {
  if (name.empty()) return {};
  if (name.find('/') != std::string::npos) return ::access(name.c_str(), X_OK) == 0 ? std::filesystem::path(name) : std::filesystem::path();
  const char* path = std::getenv("PATH");
  std::string_view folders = path ? path : "/usr/local/bin:/usr/bin:/bin";
  while (true) {
    const std::size_t colon = folders.find(':');
    const std::string_view folder = folders.substr(0, colon);
    const std::filesystem::path candidate = std::filesystem::path(folder.empty() ? "." : folder) / name;
    std::error_code ec;
    if (std::filesystem::is_regular_file(candidate, ec) && ::access(candidate.c_str(), X_OK) == 0) return candidate;
    if (colon == std::string_view::npos) return {};
    folders.remove_prefix(colon + 1);
  }
}

bool startDetached(const std::vector<std::string>& argv) {
  if (argv.empty()) return false;
  const std::filesystem::path program = findProgram(argv[0]);
  if (program.empty()) return false;
  // Everything the children need is made before the fork: between fork and exec a child
  // of a process with threads may only make async-signal-safe calls.
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  sigset_t none;
  sigemptyset(&none);
  const long openMax = ::sysconf(_SC_OPEN_MAX);
  const int lastFd = openMax > 0 && openMax < 65536 ? static_cast<int>(openMax) - 1 : 65535;

  // The child starts the program as a grandchild and ends at once: it is reaped here
  // straight away, and the grandchild, orphaned, belongs to init from then on.
  const pid_t child = ::fork();
  if (child < 0) return false;
  if (child == 0) {
    ::setsid();
    const pid_t grandchild = ::fork();
    if (grandchild == 0) {
      ::sigprocmask(SIG_SETMASK, &none, nullptr);
      const int null = ::open("/dev/null", O_RDWR);
      if (null >= 0) {
        for (int fd = 0; fd <= 2; ++fd) ::dup2(null, fd);
      }
      // Nothing of ours stays open in it (a listening socket would keep the port taken
      // after this program ends).
      if (::close_range(3, ~0U, 0) != 0) {
        for (int fd = 3; fd <= lastFd; ++fd) ::close(fd);
      }
      ::execve(program.c_str(), args.data(), environ);
      ::_exit(127);
    }
    ::_exit(grandchild < 0 ? 1 : 0);
  }
  int status = 0;
  while (::waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) return false;
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool openOnDesktop(const std::filesystem::path& path) {
  return hasDesktop() && startDetached({"xdg-open", path.string()});
}

}  // namespace voryx
