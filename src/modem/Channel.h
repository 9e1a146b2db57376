#pragma once
// The serial channel to the modem: open and configure a device node, send a command,
// collect a reply, run the "AT" handshake, restore and close. One Channel per job; the
// job thread that opened it is its only user. All state (terminal settings, reply
// buffer) lives in the object, so channels never share anything.
#include <termios.h>

#include <array>
#include <chrono>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/FileIo.h"
#include "modem/LineIo.h"
#include "modem/ModemManager.h"
#include "modem/PortLock.h"
#include "modem/Reply.h"

namespace voryx::modem {

inline constexpr std::size_t kReadBufSize = 65636;  // reply buffer, terminating NUL included
inline constexpr int kSpeed = 115200;
// A silent attempt costs the first-byte wait and the settle time: about 15 s in all.
inline constexpr int kHandshakeAttempts = 6;
// After a reply that did not end in a final result code, late bytes are waited for this
// long (then until the line is quiet), so that they are never taken as the next
// command's reply.
inline constexpr std::chrono::microseconds kSettle{1'000'000};
// With fast completion, how long a listing that ended in a final result code is watched
// for more bytes: modems send a reply in bursts a few milliseconds apart, so a pause this
// long after "OK" means the "OK" was the end and not a message text in the listing.
inline constexpr std::chrono::microseconds kGrace{40'000};
// No reply may take longer than this in all, however it trickles in.
inline constexpr std::chrono::microseconds kReplyBound{120'000'000};

// Why a device did not open, for callers that tell the cases apart (the port scan).
enum class OpenFailure {
  None,
  Missing,     // no such node
  Permission,  // not ours to open: the dialout group
  Busy,        // another program holds it (its lock file, or the exclusive claim)
  NotSerial,   // not a terminal, or a speed the terminal interface refuses
  Other,
};
// What a user can do about a port another program holds.
inline constexpr const char* kBusyAdvice =
    "if it is the modem manager, stop it (sudo systemctl stop ModemManager) or keep it off "
    "this port (a udev rule with ENV{ID_MM_DEVICE_IGNORE}=\"1\"); or point Voryx at another "
    "port (--device PATH)";
inline constexpr const char* kPermissionAdvice =
    "add yourself to the dialout group (sudo adduser $USER dialout, then log in again)";

// The handshake's test of a reply to "AT": OK, or "0" from a modem left with numeric
// result codes (V0).
bool answersAT(const Reply& reply);

// When a reply is complete. By default only the quiet line ends a reply: 1.5 s for the
// first byte (past the command's echo), then 0.5 s without a byte, and never more than
// `overall` in all. With
// `fast`, a reply also ends at its final result code (see replyEnd): at once when it is
// the whole reply, after `grace` without a byte when information lines came before it;
// a reply that never shows a final result still ends at the quiet window. `progress`,
// when set, hears the byte count of a reply that is still arriving, about once a second.
struct ReplyCompletion {
  std::chrono::microseconds firstByte{1'500'000};
  std::chrono::microseconds quiet{500'000};
  std::chrono::microseconds overall = kReplyBound;
  bool fast = false;
  std::chrono::microseconds grace = kGrace;
  std::function<void(std::size_t received)> progress;
};

class Channel {
 public:
  Channel();
  ~Channel();  // closes the device if still open
  Channel(const Channel&) = delete;
  Channel& operator=(const Channel&) = delete;

  // Opens a device path (--device, VORYX_DEVICE, a scanned port, the virtual modem's
  // pty): takes its UUCP lock in lockFolder() first (a port whose lock names a live
  // program is not even opened: an open raises the modem's control lines), then opens it
  // without becoming its controlling terminal, claims it exclusively (TIOCEXCL) and sets
  // raw 8N1 at `speed`, modem status lines ignored, reads that return at once. Returns
  // the descriptor, -1 when the port is held by another program, cannot be opened, is not
  // a terminal (a regular file, /dev/null: nothing is ever written to it) or the speed is
  // not one the terminal interface knows; openError() then says why. A channel already
  // open is closed first.
  int InitConnPath(const std::filesystem::path& device, int speed);
  // Why the last open failed, e.g. "/dev/ttyUSB2: not a serial port"; empty after a
  // successful open.
  const std::string& openError() const { return openError_; }
  OpenFailure openFailure() const { return openFailure_; }
  // Busy: the PID the holder's lock file names, when it could be read.
  std::optional<pid_t> lockHolder() const { return lockHolder_; }
  // For a device choice that opened nothing (a scan that found no modem): why.
  void setOpenError(std::string why, OpenFailure kind = OpenFailure::Other);
  // The path the open device was opened by; empty when none is (or a line is attached).
  const std::filesystem::path& device() const { return device_; }
  // Where the UUCP lock files are (default kLockFolder); empty: no locking.
  void setLockFolder(std::filesystem::path folder) { lockFolder_ = std::move(folder); }
  const std::filesystem::path& lockFolder() const { return lockFolder_; }
  // Talks over `line` (not owned, must outlive the use) instead of a device, until
  // CloseConn. For tests and in-process peers.
  void attach(LineIo& line);
  // Waits for pending output, restores the settings found at open, gives up the
  // exclusive claim, closes and removes the lock file. Harmless when nothing is open.
  // Then gives back the modem borrowed from ModemManager, if it was.
  void CloseConn();
  bool isOpen() const;
  // The modem this open channel talks to was borrowed from ModemManager: the loan lasts
  // until CloseConn.
  void holdLoan(std::unique_ptr<ModemLoan> loan) { loan_ = std::move(loan); }
  // The loan, while the channel holds one; null otherwise.
  const ModemLoan* loan() const { return loan_.get(); }

  // Writes the whole command. A failed write (device unplugged, hung up) returns false
  // and marks the channel broken: the job must end as if the channel had failed; the
  // process keeps running and nothing is closed here.
  bool SendCmd(const char* bytes, std::size_t length);
  bool SendStrCmd(std::string_view text);
  bool SendAT();
  // The channel can no longer carry a dialogue: a write failed or the other side hung up.
  // Both keep telling why after CloseConn, until the next open.
  bool broken() const;
  bool hungUp() const;

  // Handshake: "AT\r" until the reply to that very attempt is OK, at most `attempts`
  // times (about 2.5 s each when silent: the first-byte wait, then settle()). Bytes that
  // arrive before an attempt are drained first. False when the modem never answered OK
  // in time, answered too late (late()), or the channel broke.
  bool AT(int attempts = kHandshakeAttempts);

  // Reads and drops whatever the line holds now (unsolicited lines, a late reply), so
  // that the next command is judged only by its own reply. Returns the bytes dropped,
  // for the debug log.
  std::string drain();
  // After a reply that did not end in a final result code: waits for late bytes until
  // kSettle past the first-byte wait of the last command sent (kSettle at least), then
  // until the line is quiet, and drops them. Sets late() when they held anything
  // but unsolicited lines: the modem answers, but slower than the first-byte wait.
  // Returns the bytes dropped.
  std::string settle();
  bool late() const { return late_; }

  // Collects one reply (1.5 s for the first byte past the command's echo, then until 0.5 s
  // quiet) into the reply buffer; returns the byte count (0 when nothing came).
  std::size_t ReadResp();
  // The same, then copies the NUL-terminated content into `dest` (never past its end,
  // always NUL-terminated when dest is not empty) and returns the byte count collected.
  std::size_t ReadModem(std::span<char> dest);
  // The last reply as collected (may hold NUL bytes).
  std::string_view reply() const;
  // The last reply did not fit the buffer: it holds the first kReadBufSize - 1 bytes and
  // the rest was read and dropped.
  bool truncated() const;
  // The last reply was still arriving when its overall bound ran out.
  bool overran() const { return overran_; }
  // Since the channel was opened (or attached): the time replies that had shown their
  // final result code spent waiting for the quiet window to close, which replies that end
  // at the final result code (ReplyCompletion::fast) would not have waited.
  std::chrono::microseconds quietWaited() const { return quietWaited_; }

  void setCompletion(ReplyCompletion rule);

 private:
  std::size_t collect(std::chrono::microseconds firstByte, std::chrono::microseconds quiet);
  // Reads until the line is quiet, into a string of its own (the last reply stays).
  std::string gather(std::chrono::microseconds firstByte, std::chrono::microseconds quiet);
  void resetState();

  UniqueFd fd_;
  FdLineIo fdLine_;
  LineIo* line_ = nullptr;  // fdLine_ or an attached line; null when closed
  termios term{};               // the settings handed to the device
  termios gOriginalTTYAttrs{};  // the settings found at open, written back at close
  std::unique_ptr<char[]> readbuf;  // kReadBufSize bytes, allocated once
  std::size_t fill_ = 0;
  bool broken_ = false;
  bool hungUp_ = false;
  bool truncated_ = false;
  bool overran_ = false;
  bool late_ = false;
  std::chrono::microseconds quietWaited_{0};
  std::chrono::microseconds sentAt_{0};  // the line's time of the last send
  std::string sentLine_;                 // what was sent last, up to its CR (the echo)
  std::string openError_;
  OpenFailure openFailure_ = OpenFailure::None;
  std::optional<pid_t> lockHolder_;
  std::filesystem::path device_;
  std::filesystem::path lockFolder_ = kLockFolder;
  PortLock lock_;  // taken with the descriptor, given up with it
  ReplyCompletion completion_;
  std::unique_ptr<ModemLoan> loan_;
};

// Where modems' AT ports show up, as glob patterns in the order they are tried: the
// stable names of /dev/serial/by-id first, then USB serial and CDC-ACM nodes, the WWAN AT
// ports and /dev/modem.
std::vector<std::string> defaultPortPatterns();

// The device choice shared by all four jobs: an explicit device wins; otherwise the
// first port that answers "AT" (the preferred one first, then the candidates in order).
struct DeviceChoice {
  std::optional<std::filesystem::path> device;  // --device / VORYX_DEVICE / --simulate
  std::string machine;  // the hardware model the debug log names; empty: read from uname
  std::vector<std::string> ports = defaultPortPatterns();  // no device: the candidates
  std::optional<std::filesystem::path> preferred;  // no device: tried first (the last that worked)
  std::filesystem::path lockFolder = kLockFolder;  // UUCP lock files; empty: no locking
  // Hears the device path a job's handshake succeeded on (not an attached line), on the
  // job's thread: the port to remember.
  std::function<void(const std::filesystem::path&)> answered;
  LineIo* line = nullptr;  // an in-process line (not owned): wins over everything else
  // A PC/SC card reader by its name ("": the first with a card in it), from --reader or
  // VORYX_READER: the jobs talk to the card there, record by record, and open no modem.
  std::optional<std::string> reader;
  // A QMI port ("/dev/cdc-wdm0"), from --qmi or from the ModemManager modem that lists one:
  // the jobs reach the SIM's files there through qmi-proxy, beside ModemManager, and open
  // no AT port; when the proxy refuses this user, they borrow the modem as without it.
  std::optional<std::filesystem::path> qmi;
  // The modem's AT ports stand behind the QMI port (it was found from ModemManager's modem,
  // or --device names one): a QMI port that does not open is not the end either.
  bool qmiFallback = false;
  std::chrono::seconds qmiWait{10};  // how long each QMI request may take
};
// Opens the channel as the jobs do; false when no device opened (openError() says why:
// with no device given, what each candidate port said). A modem ModemManager manages is
// borrowed first (see ModemManager.h) and lent to the channel: the device given when it
// is one of that modem's ports; with no device, the first candidate port's modem, whose
// AT ports are then tried in ModemManager's order. When ModemManager does not lend it,
// nothing is opened and openError() says why and what to do.
bool openModem(Channel& ch, const DeviceChoice& choice);

// A job's opening in one call: device choice, open, handshake.
enum class OpenOutcome {
  Ready,            // open and the modem answered OK
  NoDevice,         // nothing opened (openError() says why): send nothing, end the job
  HandshakeFailed,  // no OK within the attempts, too late (late()), or the line broke;
                    // already closed again
};
OpenOutcome openForJob(Channel& ch, const DeviceChoice& choice,
                       int attempts = kHandshakeAttempts);

// "hw.machine": the uname machine field here. Unknown names give "".
std::string getSysInfoByName(const char* name);

}  // namespace voryx::modem
