#pragma once
// The real binary, run as a user runs it: in a home folder of its own, stdin /dev/null.
#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "support/TempDir.h"

namespace voryx::test {

struct Ran {
  int status;  // the exit status; -1 when it did not exit (a signal ended it)
  std::string out, err;
};

using Env = std::vector<std::pair<std::string, std::string>>;

// The binary and its resources copied into `home`: another user may not reach the build
// tree (a checkout under /root), but reaches the home the test gave it.
inline std::string copyFor(const TempDir& home) {
  namespace fs = std::filesystem;
  const fs::path dir = home / "bin";
  std::error_code ec;
  fs::create_directories(dir, ec);
  fs::copy_file(fs::path(VORYX_BINARY_DIR) / "voryx", dir / "voryx", fs::copy_options::overwrite_existing, ec);
  fs::copy(fs::path(VORYX_BINARY_DIR) / "resources", dir / "resources",
           fs::copy_options::recursive | fs::copy_options::overwrite_existing, ec);
  return (dir / "voryx").string();
}

// build/voryx started with `args` in `home`, `env` set; wait() collects what it said.
class Started {
 public:
  // `uid`: the user it runs as (a test run as root tries what a user meets), else the test's.
  Started(const TempDir& home, const std::vector<std::string>& args, const Env& env, int uid = -1) {
    const std::string bin = uid >= 0 ? copyFor(home) : std::string(VORYX_BINARY_DIR) + "/voryx";
    int out[2], err[2];
    if (::pipe(out) != 0 || ::pipe(err) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(::open("/dev/null", O_RDONLY), 0);
      ::dup2(out[1], 1);
      ::dup2(err[1], 2);
      ::setenv("VORYX_HOME", home.path.c_str(), 1);
      ::unsetenv("VORYX_DEVICE");
      ::unsetenv("DISPLAY");  // no desktop: nothing starts the mail client of the machine
      ::unsetenv("WAYLAND_DISPLAY");
      // A shell's background job ignores SIGINT and SIGQUIT, and the ignoring is inherited:
      // the run gets Ctrl-C's default, as it has on a terminal.
      ::signal(SIGINT, SIG_DFL);
      ::signal(SIGQUIT, SIG_DFL);
      for (const auto& [name, value] : env) ::setenv(name.c_str(), value.c_str(), 1);
      if (uid >= 0 && (::setgroups(0, nullptr) != 0 || ::setgid(static_cast<gid_t>(uid)) != 0 ||
                       ::setuid(static_cast<uid_t>(uid)) != 0)) {
        ::_exit(126);
      }
      std::vector<char*> argv{const_cast<char*>(bin.c_str())};
      for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      ::execv(bin.c_str(), argv.data());
      ::_exit(127);
    }
    ::close(out[1]);
    ::close(err[1]);
    out_ = out[0];
    err_ = err[0];
  }
  Started(const Started&) = delete;
  Started& operator=(const Started&) = delete;
  ~Started() {
    if (pid_ > 0) wait();
  }
  pid_t pid() const { return pid_; }

  Ran wait() {
    Ran ran{-1, {}, {}};
    if (pid_ <= 0) return ran;
    auto drain = [](int fd, std::string& into) {
      char buf[4096];
      for (ssize_t n; (n = ::read(fd, buf, sizeof buf)) > 0;) into.append(buf, static_cast<std::size_t>(n));
      ::close(fd);
    };
    drain(out_, ran.out);
    drain(err_, ran.err);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
    ran.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return ran;
  }

 private:
  pid_t pid_ = -1;
  int out_ = -1, err_ = -1;
};

inline Ran runVoryx(const TempDir& home, const std::vector<std::string>& args, const Env& env = {}, int uid = -1) {
  return Started(home, args, env, uid).wait();
}

}  // namespace voryx::test
