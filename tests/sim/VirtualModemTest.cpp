// The virtual modem on a real pseudo-terminal, driven like a serial device.
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "sim/VirtualModem.h"

using namespace voryx::sim;
using namespace std::chrono_literals;

namespace {

// A client on the slave side, with the line settings the modem gave it (raw: a tty that
// echoed or turned CR into NL would show in every reply).
struct Client {
  explicit Client(const std::string& path) : fd(::open(path.c_str(), O_RDWR | O_NOCTTY)) {}
  ~Client() { if (fd >= 0) ::close(fd); }
  void send(std::string_view bytes) { EXPECT_EQ(::write(fd, bytes.data(), bytes.size()), ssize_t(bytes.size())); }
  // Bytes until the reply ends in `until` or nothing came for 3 s (generous: the line is
  // real); `closed` is set when the modem side went away.
  std::string read(std::string_view until = "OK\r\n") {
    std::string out;
    for (;;) {
      pollfd p{fd, POLLIN, 0};
      if (::poll(&p, 1, 3000) <= 0) return out;
      char buf[4096];
      const ssize_t n = ::read(fd, buf, sizeof buf);
      if (n <= 0) {
        closed = true;
        return out;
      }
      out.append(buf, static_cast<std::size_t>(n));
      if (!until.empty() && out.ends_with(until)) return out;
    }
  }
  std::string at(std::string_view command, std::string_view until = "OK\r\n") {
    send(std::string(command) + "\r");
    return read(until);
  }

  const int fd;
  bool closed = false;
};

}  // namespace

// Replies come late, in small chunks with gaps and a pause before each listing entry, and
// still arrive whole and in order.
TEST(VirtualModemTest, WritesListsDeletesAndReportsEveryChangeOverASlowLine) {
  VirtualModem modem{SimCard::demo(),
                     {.replyDelay = 20ms, .entryDelay = 5ms, .chunkBytes = 7, .chunkGap = 5ms, .faults = {}}};
  std::vector<std::string> changed;  // location 50's name after each change, for saving
  modem.setOnChange([&](const SimCard& sim) { changed.push_back(sim.name(50)); });
  std::string error;
  ASSERT_TRUE(modem.start(&error)) << error;
  Client c{modem.devicePath()};
  ASSERT_GE(c.fd, 0);
  EXPECT_EQ(c.at("AT V1E0"), "AT V1E0\r\r\nOK\r\n");
  EXPECT_EQ(c.at("AT+CSCS=\"HEX\";+CPBS=\"SM\""), "\r\nOK\r\n");
  EXPECT_EQ(c.at("AT+CPBW=50,\"3912345\",145,\"810208C141\""), "\r\nOK\r\n");
  EXPECT_EQ(c.at("AT+CSCS=\"GSM\";+CPBR=21,22"),
            "\r\n+CPBR: 21,\"0612233445\",129,\"Pizzeria Gino\"\r\n\r\n"
            "+CPBR: 22,\"0264748\",129,\"Taxi\"\r\n\r\nOK\r\n");
  EXPECT_EQ(c.at("AT+CPBW=50,\"\",129,\"\""), "\r\nOK\r\n");
  EXPECT_EQ(c.at("AT+CMGF=1"), "\r\nOK\r\n");
  EXPECT_EQ(c.at("AT+CMGW=\"393331234567\",145,\"STO SENT\"", "> "), "\r\n> ");
  EXPECT_EQ(c.at("Hello\x1a"), "\r\n+CMGW: 9\r\n\r\nOK\r\n");
  ASSERT_TRUE(modem.waitIdle());
  EXPECT_EQ(modem.sim().message(9)->text, "Hello");
  modem.stop();
  EXPECT_FALSE(modem.running());
  EXPECT_EQ(changed, (std::vector<std::string>{"сA", "", ""}));  // the reads changed nothing
}

TEST(VirtualModemTest, StopsMidReplyAndRestarts) {
  VirtualModem modem{SimCard::demo(), {.replyDelay = 60s, .faults = {}}};  // stop() must not wait for it
  ASSERT_TRUE(modem.start());
  {
    Client c{modem.devicePath()};
    c.send("ATE0\r");
    ASSERT_TRUE(c.read("ATE0\r").ends_with("ATE0\r"));  // the echo comes at once
    modem.stop();
    EXPECT_EQ(c.read(""), "");
  }
  modem.modifySim([](SimCard& sim) { sim.erase(1); });
  ASSERT_TRUE(modem.start());
  EXPECT_FALSE(modem.start());  // already running
  modem.stop();
  EXPECT_TRUE(modem.sim().isEmpty(1));  // the state survives the restart
}

TEST(VirtualModemTest, HangsUpAtTheKthWrite) {
  VirtualModem modem{SimCard::demo(), {.faults = {.hangupAtWrite = 2}}};
  ASSERT_TRUE(modem.start());
  Client c{modem.devicePath()};
  c.at("ATE0");
  EXPECT_EQ(c.at("AT+CPBW=60,\"1\",129,\"A\""), "\r\nOK\r\n");
  c.send("AT+CPBW=61,\"1\",129,\"B\"\r");
  EXPECT_EQ(c.read(), "");
  EXPECT_TRUE(c.closed);
  ASSERT_TRUE(modem.waitIdle());
  EXPECT_FALSE(modem.running());
  ASSERT_TRUE(modem.start());  // a new line after the hang-up; the count starts afresh
  Client again{modem.devicePath()};
  again.at("ATE0");
  EXPECT_EQ(again.at("AT+CPBW=61,\"1\",129,\"B\""), "\r\nOK\r\n");
}
