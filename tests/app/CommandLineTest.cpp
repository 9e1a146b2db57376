// The shell's manners, from the real binary: exit status and the first line it says.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "store/TempDir.h"

namespace voryx {
namespace {

struct Ran {
  int status;
  std::string out, err;
};

// Runs build/voryx with `args` in a home folder of its own; stdin is /dev/null.
Ran runVoryx(const test::TempDir& home, const std::vector<std::string>& args) {
  const std::string bin = std::string(VORYX_BINARY_DIR) + "/voryx";
  int out[2], err[2];
  if (::pipe(out) != 0 || ::pipe(err) != 0) return {-1, {}, {}};
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(::open("/dev/null", O_RDONLY), 0);
    ::dup2(out[1], 1);
    ::dup2(err[1], 2);
    ::setenv("VORYX_HOME", home.path.c_str(), 1);
    ::unsetenv("VORYX_DEVICE");
    ::unsetenv("DISPLAY");  // no desktop: nothing starts the mail client of the machine
    ::unsetenv("WAYLAND_DISPLAY");
    std::vector<char*> argv{const_cast<char*>(bin.c_str())};
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execv(bin.c_str(), argv.data());
    ::_exit(127);
  }
  ::close(out[1]);
  ::close(err[1]);
  Ran ran{-1, {}, {}};
  auto drain = [](int fd, std::string& into) {
    char buf[4096];
    for (ssize_t n; (n = ::read(fd, buf, sizeof buf)) > 0;) into.append(buf, static_cast<std::size_t>(n));
    ::close(fd);
  };
  drain(out[0], ran.out);
  drain(err[0], ran.err);
  int status = 0;
  ::waitpid(pid, &status, 0);
  ran.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return ran;
}

std::string firstLine(const std::string& text) { return text.substr(0, text.find('\n')); }

TEST(CommandLineTest, SaysWhatHappenedAndExitsAccordingly) {
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string said;  // the first line of stderr (of stdout when stderr is empty)
  };
  test::TempDir home;
  const std::string kNoEntry = "voryx delete: The change was not saved. " +
                               (home.path / "data" / "Voryx.sqlitedb").string() + ": no entry 999 in sim";
  const std::string kNoSuchDevice =
      "no such device; try --device with another port, or --simulate)";
  const std::string kLogOn = "voryx log: logging is on for the commands that follow (read, write, import ...); "
                             "the log is " + (home.path / "state" / "Voryx.log").string();
  const std::string kEml = (home.path / "support.eml").string();
  const Case kCases[] = {
      {{"--version"}, 0, "voryx 0.1"},
      {{"foo"}, 2, "voryx: unknown command 'foo'; the commands are:"},
      {{"help", "nope"}, 2, "voryx: unknown command 'nope'; the commands are:"},
      {{"help", "read"}, 0, "Read the SIM's phonebook (or SMS store) into the local database (a "
                            "failed read keeps the local list)"},
      {{"read", "--simulate", "--device", "/dev/null"}, 2, "--device excludes --simulate"},
      {{"read", "--device", "/dev/null"}, 3,
       "Read from SIM: No modem could be opened; the local list was kept. (/dev/null: not a "
       "serial port)"},
      {{"write", "--device", "/dev/ttyNONE9"}, 3,
       "Write to SIM: No modem could be opened; nothing was written. (/dev/ttyNONE9: " + kNoSuchDevice},
      {{"list"}, 0, "voryx list: the local phonebook is empty; \"voryx read\" copies the SIM's "
                    "phonebook here"},
      {{"read", "--simulate"}, 0, "Read 36 entries (SIM capacity 250)"},
      {{"read", "--simulate", "--quiet"}, 0, ""},
      // A modem without HEX: its UCS2 forced, or HEX forced and refused.
      {{"read", "--simulate", "--charsets", "UCS2,IRA", "--hex-numbers", "--charset", "ucs2"}, 0,
       "Read 36 entries (SIM capacity 250)"},
      {{"read", "--simulate", "--charsets", "UCS2,IRA", "--charset", "HEX"}, 1,
       "Read from SIM: The modem refused the character set; the local list was kept. (HEX)"},
      {{"modem-sim", "--charsets", "UCS2,LATIN1"}, 2,
       "voryx modem-sim: unknown character sets \"UCS2,LATIN1\" (a list of GSM, IRA, HEX, UCS2, UTF-8)"},
      {{"write", "--simulate"}, 0, "Nothing to write"},
      {{"list", "--search", "zzz"}, 0, "voryx list: no entry matches \"zzz\""},
      // Editing from the shell: the list's format on stdout, a word on stderr.
      {{"add", "Zoe Zanetti Bellini", "+39 02-55 x"}, 0,
       "voryx add: the name is cut to \"Zoe Zanetti Be\": the SIM holds no more of it"},
      {{"list", "--search", "Zoe"}, 0, "37\tZoe Zanetti Be\t+390255\t1"},
      {{"edit", "37", "Zoe", "555"}, 0, "37\tZoe\t555\t3"},
      {{"delete", "999"}, 1, kNoEntry},
      {{"add", "--sms", "Ciao", "1"}, 0, "1\tCiao\t1\t1"},
      {{"add", "--sms", "Ciao", "1"}, 1,
       "voryx add: SIM is full! (its size is not known yet: \"voryx read\" learns it)"},
      {{"empty"}, 0, "voryx empty: every phonebook entry is marked for deletion; \"voryx write\" "
                     "erases them from the SIM"},
      {{"write", "--simulate", "--quiet"}, 0, ""},
      {{"list"}, 0, "voryx list: the local phonebook is empty; \"voryx read\" copies the SIM's "
                    "phonebook here"},
      {{"export"}, 0, "voryx export: 0 entries written to " + (home.path / "Documents" / "Voryx.csv").string()},
      {{"restore", "/nonexistent.csv"}, 1, "voryx restore: nothing was restored: /nonexistent.csv: no such file"},
      {{"log", "start"}, 0, kLogOn},
      {{"list"}, 0, "voryx list: the local phonebook is empty; \"voryx read\" copies the SIM's "
                    "phonebook here"},
      {{"log", "show"}, 0, "LOG START"},
      {{"log", "stop"}, 0, "voryx log: logging is off; the log stays in " + (home.path / "state" / "Voryx.log").string()},
      // The support mail: without a desktop only as a file; then logging is off.
      {{"log", "start"}, 0, kLogOn},
      {{"mail"}, 1, "voryx mail: no desktop mail client here (that needs a desktop and xdg-email); nothing was "
                    "sent: use --eml FILE to write the message to a file, and send that with any mail program"},
      {{"mail", "--eml", kEml}, 0, "voryx mail: the message to support@voryx.invalid is in " + kEml +
                                       "; logging is off (open the file with your mail program to send it)"},
  };
  for (const Case& c : kCases) {
    std::string line;
    for (const auto& a : c.args) line += a + " ";
    SCOPED_TRACE(line);
    const Ran ran = runVoryx(home, c.args);
    EXPECT_EQ(ran.status, c.status);
    EXPECT_EQ(firstLine(ran.err.empty() ? ran.out : ran.err), c.said);
  }
  EXPECT_EQ(test::readFile(kEml).substr(0, 19), "MIME-Version: 1.0\r\n");
  EXPECT_FALSE(std::filesystem::exists(home.path / "state" / "logging-on"));
}

}  // namespace
}  // namespace voryx
