// The hidden PIN prompt of `voryx read` on a real terminal (a pty): the typed PIN is not
// shown, and the terminal gets its echo back however the prompt ends.
#include <pty.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <csignal>
#include <string>

#include "sim/VirtualModem.h"
#include "support/TempDir.h"

namespace voryx {
namespace {

bool echoes(int terminal) {
  termios t{};
  return ::tcgetattr(terminal, &t) == 0 && (t.c_lflag & ECHO) != 0;
}

// Reads the child's terminal until `mark` shows (or it ends): what it said so far.
std::string readUntil(int terminal, const std::string& mark) {
  std::string said;
  char buf[512];
  while (said.find(mark) == std::string::npos) {
    const ssize_t n = ::read(terminal, buf, sizeof buf);
    if (n <= 0) break;
    said.append(buf, static_cast<std::size_t>(n));
  }
  return said;
}

TEST(PromptTest, ThePinIsNotShownAndEchoComesBackAfterEnterOrCtrlC) {
  sim::SimCard card = sim::SimCard::demo();
  card.pinLock() = *sim::PinLock::make("2468");
  sim::VirtualModem modem(card);
  ASSERT_TRUE(modem.start());
  test::TempDir home;
  const std::string bin = std::string(VORYX_BINARY_DIR) + "/voryx";
  struct Case { const char* name; std::string typed; int signal, status; };
  const Case kCases[] = {
      {"Ctrl-C", "24\x03", SIGINT, 0},
      {"Enter", "2468\r", 0, 0},  // the SIM is unlocked from then on
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    int terminal = -1;
    const pid_t pid = ::forkpty(&terminal, nullptr, nullptr, nullptr);
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      ::setenv("VORYX_HOME", home.path.c_str(), 1);
      ::execl(bin.c_str(), "voryx", "read", "--fast", "--quiet", "--device", modem.devicePath().c_str(), nullptr);
      ::_exit(127);
    }
    EXPECT_NE(readUntil(terminal, "SIM PIN: ").find("SIM PIN: "), std::string::npos);
    EXPECT_FALSE(echoes(terminal));
    ASSERT_EQ(::write(terminal, c.typed.data(), c.typed.size()), static_cast<ssize_t>(c.typed.size()));
    const std::string after = readUntil(terminal, "\n");
    int status = 0;
    ::waitpid(pid, &status, 0);
    EXPECT_EQ(after.find("24"), std::string::npos) << after;
    EXPECT_EQ(WIFSIGNALED(status) ? WTERMSIG(status) : 0, c.signal);
    if (!c.signal) {
      EXPECT_EQ(WEXITSTATUS(status), c.status);
    }
    EXPECT_TRUE(echoes(terminal));
    ::close(terminal);
  }
  EXPECT_EQ(modem.commandCount("AT+CPIN=\""), 1);  // Ctrl-C sent nothing
}

}  // namespace
}  // namespace voryx
