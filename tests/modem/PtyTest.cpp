// The channel on real pseudo-terminals: line settings, an explicit device, hang-up, and a
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
#include "support/TempDir.h"

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

DeviceChoice deviceAt(const fs::path& device) {
  DeviceChoice choice;
  choice.device = device;
  return choice;
}

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

TEST(PtyTest, AnExplicitDeviceIsTheOnlyOneTried) {
  // A port that answers is among the candidates, yet a device given explicitly that is
  // missing, or is not a terminal, opens nothing: no scan behind the user's back. (What
  // the user is told of either: CommandLineTest.)
  sim::VirtualModem modem;
  ASSERT_TRUE(modem.start());
  const test::TempDir dir;
  DeviceChoice choice;
  choice.ports = {modem.devicePath()};
  Channel ch;
  choice.device = dir / "missing";
  EXPECT_EQ(openForJob(ch, choice), OpenOutcome::NoDevice);
  EXPECT_EQ(ch.openFailure(), OpenFailure::Missing);
  const fs::path file = dir / "somefile";
  { std::ofstream(file) << "notes"; }
  choice.device = file;
  EXPECT_EQ(openForJob(ch, choice), OpenOutcome::NoDevice);
  EXPECT_EQ(ch.openFailure(), OpenFailure::NotSerial);
  EXPECT_EQ(fs::file_size(file), 5u);
  EXPECT_FALSE(ch.isOpen());
  EXPECT_EQ(modem.commandCount("AT"), 0);

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
      job.outcome = openForJob(ch, deviceAt(job.modem.devicePath()));
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
  EXPECT_EQ(openForJob(ch, deviceAt(silent.devicePath()), 2),
            OpenOutcome::HandshakeFailed);
  EXPECT_FALSE(ch.isOpen());
  EXPECT_EQ(silent.commandCount("AT"), 2);
}

}  // namespace
}  // namespace voryx::modem
