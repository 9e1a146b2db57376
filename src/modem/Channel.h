#pragma once
// The serial channel to the modem: open and configure a device node, send a command,
// collect a reply, run the "AT" handshake, restore and close. One Channel per job; the
// job thread that opened it is the only user. (Draft interface: the modem channel owner
// completes it; callers rely on the names below.)
#include <sys/types.h>
#include <termios.h>

#include <array>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace voryx::modem {

inline constexpr std::size_t kReadBufSize = 65636;  // reply buffer, terminating NUL included
inline constexpr int kSpeed = 115200;

class Channel {
 public:
  Channel();
  ~Channel();  // closes the device if still open
  Channel(const Channel&) = delete;
  Channel& operator=(const Channel&) = delete;

  // Opens the node for `selector` (0 "/dev/tty.debug", 1 "/dev/dlci.spi-baseband.extra_13",
  // 2 "/dev/dlci.spi-baseband.extra_0"); -1 when it cannot be opened.
  int InitConn(int speed, int selector);
  // Opens an explicit device path (--device, VORYX_DEVICE, the virtual modem's pty).
  int InitConnPath(const std::filesystem::path& device, int speed);
  void CloseConn();
  bool isOpen() const;

  // Writes once. A failed write (device unplugged, hung up) marks the channel broken:
  // the job must end as if the channel had failed; the process keeps running.
  bool SendCmd(const char* bytes, std::size_t length);
  bool SendStrCmd(std::string_view text);
  bool SendAT();
  bool broken() const;

  // Handshake: "AT\r" until a reply holds "OK", at most `attempts` times (about 1.5 s
  // each when silent). False when the modem never answered OK or the channel broke.
  bool AT(int attempts = 10);

  // Collects one reply (1.5 s for the first byte, then until 0.5 s quiet) into the reply
  // buffer; returns the byte count (0 when nothing came).
  std::size_t ReadResp();
  // The same, then copies the NUL-terminated content into `dest` (never past its end,
  // always NUL-terminated when dest is not empty) and returns the byte count collected.
  std::size_t ReadModem(std::span<char> dest);
  // The last reply as collected (may hold NUL bytes).
  std::string_view reply() const;
};

// The device choice shared by all four jobs: an explicit device wins; otherwise the
// hardware model decides (see Channel::InitConn selectors).
struct DeviceChoice {
  std::optional<std::filesystem::path> device;  // --device / VORYX_DEVICE / --simulate
  std::string machine;                          // "hw.machine"; empty: read from uname
};
// Opens the channel as the jobs do; false when no device opened.
bool openModem(Channel& ch, const DeviceChoice& choice);

// "hw.machine": the uname machine field here.
std::string getSysInfoByName(const char* name);

}  // namespace voryx::modem
