// The modem's port when none is given: UUCP lock files, the candidate ports and the scan,
// on real pseudo-terminals (virtual modems, silent ones among them) with a lock folder of
// the test's own.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "modem/Ports.h"
#include "sim/ModemPorts.h"
#include "support/TempDir.h"

namespace voryx::modem {
namespace {

namespace fs = std::filesystem;

// A live process that is not this one: a child that waits to be killed.
struct Sleeper {
  Sleeper() : pid(::fork()) {
    if (pid == 0) {
      ::pause();
      ::_exit(0);
    }
  }
  ~Sleeper() {
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
  }
  pid_t pid;
};

// The PID of a process that has ended.
pid_t deadPid() {
  const pid_t pid = ::fork();
  if (pid == 0) ::_exit(0);
  ::waitpid(pid, nullptr, 0);
  return pid;
}

std::string hdb(pid_t pid) {
  char text[16];
  std::snprintf(text, sizeof text, "%10d\n", static_cast<int>(pid));
  return text;
}

std::string binary(std::int32_t pid) {
  std::string bytes(sizeof pid, '\0');
  std::memcpy(bytes.data(), &pid, sizeof pid);
  return bytes;
}

TEST(PortLockTest, ReadsTheLockFormats) {
  struct Case { std::string bytes; std::optional<pid_t> pid; };
  const Case kCases[] = {
      {"      4711\n", 4711}, {"4711\n", 4711}, {"4711", 4711}, {" \t4711 \r\n\n", 4711},
      {binary(4711), 4711},  // the old binary form
      {"", std::nullopt}, {"\n", std::nullopt}, {"0000000000\n", std::nullopt},
      {"-4711\n", std::nullopt}, {"4711 12\n", std::nullopt}, {"pid 4711\n", std::nullopt},
      {"99999999999\n", std::nullopt}, {std::string("47\0" "11\n", 5), std::nullopt},
      {std::string(65, '1'), std::nullopt}, {binary(0), std::nullopt}, {binary(-1), std::nullopt},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(testing::PrintToString(c.bytes));
    EXPECT_EQ(parseLockPid(c.bytes), c.pid);
  }
}

TEST(PortLockTest, TakesFreeAndStaleLocksAndHonoursLiveOnes) {
  sim::VirtualModem modem;
  ASSERT_TRUE(modem.start());
  const fs::path port = modem.devicePath();
  const test::TempDir dir;
  // A stable name leads to the node's own lock, as /dev/serial/by-id does.
  fs::create_symlink(port, dir / "usb-Modem-if02");
  const fs::path lockFile = dir / ("LCK.." + port.filename().string());
  EXPECT_EQ(lockFileFor(dir / "usb-Modem-if02", dir.path), lockFile);

  const Sleeper other;
  struct Case { const char* name; std::optional<std::string> found; bool held; std::optional<pid_t> holder; };
  const Case kCases[] = {
      {"no lock: taken", std::nullopt, false, std::nullopt},
      {"a live program's lock", hdb(other.pid), true, other.pid},
      {"a live program's lock, binary", binary(other.pid), true, other.pid},
      {"this process's lock (another channel of it)", hdb(::getpid()), true, ::getpid()},
      {"a stale lock: taken over", hdb(deadPid()), false, std::nullopt},
      {"a lock naming no process: left alone", "garbage\n", true, std::nullopt},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    fs::remove(lockFile);
    if (c.found) test::writeFile(lockFile, *c.found);
    {
      PortLock lock = PortLock::take(dir / "usb-Modem-if02", dir.path);
      EXPECT_EQ(lock.held(), c.held);
      EXPECT_EQ(lock.owned(), !c.held);
      EXPECT_EQ(lock.holder(), c.holder);
      EXPECT_EQ(test::readFile(lockFile), c.held ? *c.found : hdb(::getpid()));
    }
    EXPECT_EQ(fs::exists(lockFile), c.held);  // ours is removed, theirs stays
  }
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path), fs::directory_iterator()), 2);

  // A lock taken over by someone else meanwhile is not ours to remove.
  fs::remove(lockFile);
  {
    PortLock lock = PortLock::take(port, dir.path);
    ASSERT_TRUE(lock.owned());
    test::writeFile(lockFile, hdb(other.pid));
  }
  EXPECT_EQ(test::readFile(lockFile), hdb(other.pid));

  // No lock folder (or no right to write there): the port is used without a lock.
  const PortLock without = PortLock::take(port, dir / "missing");
  EXPECT_FALSE(without.held());
  EXPECT_FALSE(without.owned());
}

TEST(PortsTest, JobsOpenRefusedOnALockedPortWithTheAdvice) {
  sim::VirtualModem modem;
  ASSERT_TRUE(modem.start());
  const test::TempDir dir;
  const fs::path lockFile = lockFileFor(modem.devicePath(), dir.path);
  DeviceChoice choice;
  choice.device = modem.devicePath();
  choice.lockFolder = dir.path;

  const Sleeper other;
  test::writeFile(lockFile, hdb(other.pid));
  Channel ch;
  EXPECT_EQ(openForJob(ch, choice), OpenOutcome::NoDevice);
  EXPECT_EQ(ch.openFailure(), OpenFailure::Busy);
  EXPECT_EQ(ch.lockHolder(), other.pid);
  EXPECT_EQ(ch.openError(), modem.devicePath() + ": in use by another program (PID " +
                                std::to_string(other.pid) + "); " + kBusyAdvice);
  EXPECT_EQ(modem.commandLog().size(), 0u);  // not a byte was sent

  // Once the other program is gone the job takes the port, and gives it up on close.
  fs::remove(lockFile);
  ASSERT_EQ(openForJob(ch, choice), OpenOutcome::Ready);
  EXPECT_EQ(test::readFile(lockFile), hdb(::getpid()));
  ch.CloseConn();
  EXPECT_FALSE(fs::exists(lockFile));
}

// Three ports of which only the last answers, reached by stable names in a folder as
// /dev/serial/by-id holds them, and again by their own paths.
struct ThreePorts {
  ThreePorts() {
    if (!ports.start()) return;
    paths = ports.paths();
    fs::create_directory(dir / "by-id");
    for (std::size_t i = 0; i < paths.size(); ++i) {
      fs::create_symlink(paths[i], dir / "by-id" / ("usb-Voryx-if0" + std::to_string(i)));
    }
    fs::create_symlink(dir / "nowhere", dir / "by-id" / "usb-Unplugged-if00");
    patterns = {(dir / "by-id" / "*").string(), paths[0], paths[1], paths[2]};
  }
  fs::path byId(std::size_t i) const { return dir / "by-id" / ("usb-Voryx-if0" + std::to_string(i)); }
  DeviceChoice choice() const {
    DeviceChoice c;
    c.ports = patterns;
    c.lockFolder = dir.path;
    return c;
  }
  sim::ModemPorts ports{3};
  const test::TempDir dir;
  std::vector<std::string> paths;
  std::vector<std::string> patterns;
};

TEST(PortsTest, ScanListsEachPortOnceAndFindsTheOneThatAnswers) {
  ThreePorts three;
  ASSERT_EQ(three.paths.size(), 3u);
  const std::vector<Port> ports = listPorts(three.patterns);
  ASSERT_EQ(ports.size(), 3u);  // the dangling name is left out, the own paths not repeated
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(ports[i].path, three.byId(i));
    EXPECT_EQ(ports[i].target, three.paths[i]);
  }
  EXPECT_EQ(ports[2].label(), three.byId(2).string() + " -> " + three.paths[2]);

  // The first port is held by a live program, the second's lock is stale.
  const Sleeper other;
  test::writeFile(lockFileFor(three.paths[0], three.dir.path), hdb(other.pid));
  test::writeFile(lockFileFor(three.paths[1], three.dir.path), hdb(deadPid()));
  Channel ch;
  const std::vector<PortProbe> probes = scanPorts(ch, ports, {.lockFolder = three.dir.path}, false);
  ASSERT_EQ(probes.size(), 3u);
  EXPECT_EQ(probes[0].describe(), "busy: held by another program (PID " + std::to_string(other.pid) + ")");
  EXPECT_EQ(probes[1].describe(), "no answer to AT");
  EXPECT_EQ(probes[2].describe(), "answers AT: Voryx virtual modem");
  EXPECT_EQ(probes[2].manufacturer, "Voryx");
  EXPECT_EQ(three.ports.port(0).commandLog().size(), 0u);  // the held port was left alone
  EXPECT_FALSE(ch.isOpen());
  EXPECT_FALSE(fs::exists(lockFileFor(three.paths[1], three.dir.path)));  // taken over, given back
}

TEST(PortsTest, JobsTryTheRememberedPortFirstAndTellWhichAnswered) {
  ThreePorts three;
  ASSERT_EQ(three.paths.size(), 3u);
  struct Case { const char* name; std::optional<fs::path> preferred; std::vector<std::string> ports; bool opens; std::string error; };
  const Case kCases[] = {
      {"the remembered port answers: nothing else is probed", three.byId(2), three.patterns, true, ""},
      {"the remembered port is gone: the scan", three.dir / "by-id" / "usb-Old-if02", three.patterns, true, ""},
      {"no port at all", std::nullopt, {(three.dir / "none*").string()}, false,
       "no serial port found (looked for " + (three.dir / "none*").string() +
           "); connect the modem, or give --device PATH, or --simulate"},
      {"no port answers", std::nullopt, {three.paths[0]}, false, "no port answered AT: " + three.paths[0] + " no answer to AT"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    for (std::size_t i = 0; i < 3; ++i) three.ports.port(i).clearLog();
    DeviceChoice choice = three.choice();
    choice.ports = c.ports;
    choice.preferred = c.preferred;
    std::vector<fs::path> heard;
    choice.answered = [&heard](const fs::path& port) { heard.push_back(port); };
    Channel ch;
    EXPECT_EQ(openForJob(ch, choice), c.opens ? OpenOutcome::Ready : OpenOutcome::NoDevice);
    EXPECT_EQ(ch.openError(), c.error);
    EXPECT_EQ(heard, c.opens ? std::vector<fs::path>{three.byId(2)} : std::vector<fs::path>{});
    if (c.opens) {
      EXPECT_EQ(ch.device(), three.byId(2));
      EXPECT_GE(three.ports.answering().commandCount("AT"), 2);  // the probe, the handshake
      // The scan starts at the first port unless the remembered one answered first.
      EXPECT_EQ(three.ports.port(0).commandCount("AT") == 0, c.preferred == three.byId(2));
    }
  }
}

}  // namespace
}  // namespace voryx::modem
