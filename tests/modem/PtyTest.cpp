// The channel on real pseudo-terminals: line settings, device choice, hang-up, and a
// real-time dialogue. These spend real seconds; the timing margins are generous.
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/utsname.h>
#include <termios.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "modem/Channel.h"
#include "sim/VirtualModem.h"
#include "store/TempDir.h"

namespace voryx::modem {
namespace {

using std::chrono::milliseconds;
namespace fs = std::filesystem;

// The far end of a real pseudo-terminal: the test keeps the master and one slave
// descriptor (to inspect the line settings and the exclusive claim).
struct PtyPeer {
  PtyPeer() {
    char name[128] = {};
    if (::openpty(&master, &slave, name, nullptr, nullptr) == 0) path = name;
  }
  ~PtyPeer() {
    closeMaster();
    if (slave >= 0) ::close(slave);
  }
  PtyPeer(const PtyPeer&) = delete;
  void closeMaster() {  // hangs up the line as an unplugged modem would
    if (master >= 0) ::close(master);
    master = -1;
  }
  int master = -1, slave = -1;
  std::string path;
};

int exclusive(int fd) {
  int excl = -1;
  ::ioctl(fd, TIOCGEXCL, &excl);
  return excl;
}

TEST(PtyTest, OpensRaw8N1AtSpeedAndCloseRestoresWhatItFound) {
  PtyPeer peer;
  ASSERT_FALSE(peer.path.empty());
  // A cooked line at another speed, with parity and hang-up on close.
  termios found{};
  ASSERT_EQ(tcgetattr(peer.slave, &found), 0);
  found.c_cflag |= PARENB | HUPCL;
  found.c_lflag |= ECHO | ICANON;
  cfsetspeed(&found, B9600);
  ASSERT_EQ(tcsetattr(peer.slave, TCSANOW, &found), 0);
  ASSERT_EQ(tcgetattr(peer.slave, &found), 0);

  Channel ch;
  EXPECT_EQ(ch.InitConnPath(peer.path, 12345), -1);  // would have hung up the line
  ASSERT_GE(ch.InitConnPath(peer.path, kSpeed), 0);
  termios t{};
  ASSERT_EQ(tcgetattr(peer.slave, &t), 0);
  EXPECT_EQ(t.c_cflag & ~tcflag_t{CBAUD | CBAUDEX | CIBAUD}, tcflag_t{CS8 | CREAD | CLOCAL});
  EXPECT_EQ(cfgetospeed(&t), speed_t{B115200});
  EXPECT_EQ(cfgetispeed(&t), speed_t{B115200});
  EXPECT_EQ(t.c_iflag | t.c_oflag | t.c_lflag, 0u);
  EXPECT_EQ(t.c_cc[VMIN] | t.c_cc[VTIME], 0);
  EXPECT_EQ(exclusive(peer.slave), 1);

  ch.CloseConn();
  EXPECT_FALSE(ch.isOpen());
  termios after{};
  ASSERT_EQ(tcgetattr(peer.slave, &after), 0);
  EXPECT_EQ(std::memcmp(&after, &found, sizeof after), 0);  // both zero-filled before
  EXPECT_EQ(exclusive(peer.slave), 0);  // the next user can open the line
}

TEST(PtyTest, DeviceChoiceFollowsTheModelAndTheNodesThatExist) {
  // Three model nodes and one explicit device, each its own line.
  std::vector<std::unique_ptr<PtyPeer>> peers;
  for (int i = 0; i < 4; ++i) ASSERT_FALSE(peers.emplace_back(std::make_unique<PtyPeer>())->path.empty());
  const test::TempDir dir;
  const DeviceNodes nodes{dir / "tty.debug", dir / "extra_13", dir / "extra_0"};

  // present: bit i set when nodes[i] exists; expected: the peer whose line was opened, -1 none.
  struct Case { const char* name; std::string machine; unsigned present; bool explicitDevice; int expected; };
  const Case cases[] = {
      {"iPhone3,1 opens extra_0", "iPhone3,1", 0b111, false, 2},
      {"iPhone3,1 without extra_0 falls back to extra_13", "iPhone3,1", 0b011, false, 1},
      {"iPhone3,1 without either opens nothing", "iPhone3,1", 0b001, false, -1},
      {"another model opens tty.debug", "iPhone4,1", 0b111, false, 0},
      {"another model without tty.debug opens nothing", "iPhone2,1", 0b110, false, -1},
      {"this machine's own model opens tty.debug", "", 0b111, false, 0},
      {"an explicit device wins", "iPhone3,1", 0b111, true, 3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    for (std::size_t i = 0; i < 3; ++i) {
      fs::remove(nodes[i]);
      if ((c.present >> i) & 1u) fs::create_symlink(peers[i]->path, nodes[i]);
    }
    DeviceChoice choice{c.explicitDevice ? std::optional<fs::path>(peers[3]->path) : std::nullopt,
                        c.machine, nodes};
    Channel ch;
    EXPECT_EQ(openModem(ch, choice), c.expected >= 0);
    EXPECT_EQ(ch.isOpen(), c.expected >= 0);
    for (int p = 0; p < 4; ++p) {
      EXPECT_EQ(exclusive(peers[static_cast<std::size_t>(p)]->slave), p == c.expected ? 1 : 0) << p;
    }
  }

  // An explicit device that is missing does not fall back to the model's nodes; one
  // that is not a terminal is refused before a byte is written to it. (What the user is
  // told of either: CommandLineTest.)
  Channel ch;
  EXPECT_EQ(openForJob(ch, {dir / "missing", "iPhone4,1", nodes}), OpenOutcome::NoDevice);
  EXPECT_FALSE(ch.isOpen());
  const fs::path file = dir / "somefile";
  { std::ofstream(file) << "notes"; }
  EXPECT_EQ(openForJob(ch, {file, "", nodes}), OpenOutcome::NoDevice);
  EXPECT_EQ(fs::file_size(file), 5u);

  utsname u{};
  ASSERT_EQ(::uname(&u), 0);
  EXPECT_EQ(getSysInfoByName("hw.machine"), u.machine);
  EXPECT_EQ(getSysInfoByName("hw.nonesuch"), "");
}

TEST(PtyTest, HungUpDeviceFailsTheWriteAndTheProcessGoesOn) {
  PtyPeer peer;
  ASSERT_FALSE(peer.path.empty());
  Channel ch;
  ASSERT_GE(ch.InitConnPath(peer.path, kSpeed), 0);
  ASSERT_TRUE(ch.SendAT());
  peer.closeMaster();

  EXPECT_FALSE(ch.SendStrCmd("AT+CPBW=1,\"123\",129,\"41\"\r"));
  EXPECT_TRUE(ch.broken());
  EXPECT_TRUE(ch.isOpen());
  EXPECT_EQ(ch.ReadResp(), 0u);
  EXPECT_TRUE(ch.hungUp());
  EXPECT_FALSE(ch.AT(3));
  ch.CloseConn();  // restoring a hung-up line is harmless
  EXPECT_FALSE(ch.isOpen());
}

// Two jobs' channels side by side, each on its own virtual modem and thread: replies sent
// in small chunks with gaps well inside the quiet window still arrive as one reply.
TEST(PtyTest, HandshakeAndDialogueWithVirtualModemsAtOnce) {
  const sim::ModemOptions chunked{
      .replyDelay = milliseconds(100), .chunkBytes = 4, .chunkGap = milliseconds(100), .faults = {}};
  sim::VirtualModem a{sim::SimCard::demo(), chunked}, b{sim::SimCard::demo(), chunked};
  ASSERT_TRUE(a.start());
  ASSERT_TRUE(b.start());

  struct Job { sim::VirtualModem& modem; OpenOutcome outcome{}; std::size_t count = 0; std::string copy{}; };
  Job jobs[] = {{a}, {b}};
  std::vector<std::thread> threads;
  for (Job& job : jobs) {
    threads.emplace_back([&job] {
      Channel ch;
      job.outcome = openForJob(ch, {fs::path(job.modem.devicePath()), "", std::nullopt});
      ch.SendStrCmd("AT+CPBS=\"SM\"\r");
      std::vector<char> dest(165000);
      job.count = ch.ReadModem(dest);
      job.copy = dest.data();
    });
  }
  for (std::thread& t : threads) t.join();
  for (const Job& job : jobs) {
    EXPECT_EQ(job.outcome, OpenOutcome::Ready);
    EXPECT_GT(job.count, 4u);  // more than one chunk
    EXPECT_EQ(job.copy.size(), job.count);
    EXPECT_TRUE(job.copy.ends_with("OK\r\n")) << job.copy;
    EXPECT_EQ(job.modem.commandCount("AT+CPBS="), 1);
  }

  // A modem that never answers: the handshake gives up and the channel is closed again.
  sim::VirtualModem silent{sim::SimCard::demo(), {.faults = {.silence = true}}};
  ASSERT_TRUE(silent.start());
  Channel ch;
  EXPECT_EQ(openForJob(ch, {fs::path(silent.devicePath()), "", std::nullopt}, 2),
            OpenOutcome::HandshakeFailed);
  EXPECT_FALSE(ch.isOpen());
  EXPECT_EQ(silent.commandCount("AT"), 2);
}

}  // namespace
}  // namespace voryx::modem
