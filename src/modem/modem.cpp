// The serial channel: device opening and configuration, the quiet-window reply
// collection, the handshake, and the device choice of the jobs. Job thread only.
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <string>
#include <thread>
#include <utility>

#include "modem/Channel.h"
#include "modem/Ports.h"
#include "modem/Reply.h"

namespace voryx::modem {
namespace {

// A modem that never stops talking would keep a full buffer draining forever: past this
// many dropped bytes the reply ends anyway and the rest goes to the next read.
constexpr std::size_t kMaxDroppedBytes = std::size_t{1} << 20;

// Why a device did not open, with what to try.
std::pair<OpenFailure, std::string> failureOf(int err) {
  switch (err) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
      return {OpenFailure::Missing, "no such device; try --device with another port, or --simulate"};
    case EACCES:
    case EPERM:
      return {OpenFailure::Permission, std::string("permission denied; ") + kPermissionAdvice};
    case EBUSY:
      return {OpenFailure::Busy, std::string("in use by another program; ") + kBusyAdvice};
    default:
      return {OpenFailure::Other, std::strerror(err)};
  }
}

}  // namespace

bool answersAT(const Reply& r) {
  return r.kind == ReplyKind::Ok ||
         (r.kind == ReplyKind::Incomplete && r.lines.size() == 1 && r.lines[0] == "0");
}

Channel::Channel() : readbuf(std::make_unique<char[]>(kReadBufSize)) {}

Channel::~Channel() { CloseConn(); }

void Channel::setOpenError(std::string why, OpenFailure kind) {
  openError_ = std::move(why);
  openFailure_ = kind;
}

int Channel::InitConnPath(const std::filesystem::path& device, int speed) {
  CloseConn();
  openError_.clear();
  openFailure_ = OpenFailure::None;
  lockHolder_.reset();
  auto fail = [&](OpenFailure kind, const std::string& why) {
    openFailure_ = kind;
    openError_ = device.string() + ": " + why;
    return -1;
  };
  // A speed the terminal interface refuses would leave B0 in the control flags: a
  // hang-up on a real modem. Refuse it before touching the line.
  termios probe{};
  if (::cfsetspeed(&probe, static_cast<speed_t>(speed)) != 0) {
    return fail(OpenFailure::NotSerial, "unsupported speed");
  }
  PortLock lock = PortLock::take(device, lockFolder_);
  if (lock.held()) {
    lockHolder_ = lock.holder();
    const std::string who = lock.holder() ? "PID " + std::to_string(*lock.holder())
                                          : "its lock " + lock.file().string() + " names no process";
    return fail(OpenFailure::Busy, "in use by another program (" + who + "); " + kBusyAdvice);
  }
  // O_NONBLOCK only for the open itself, so a serial line without carrier cannot hold
  // it; the status flags are cleared right after and reads and writes block.
  UniqueFd opened(::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  const int fd = opened.get();
  if (!opened) {
    const auto [kind, why] = failureOf(errno);
    return fail(kind, why);
  }
  // A regular file or /dev/null would take the AT commands without a word: only a
  // terminal is a modem's port.
  term = termios{};
  if (::tcgetattr(fd, &term) != 0) {
    return fail(OpenFailure::NotSerial, "not a serial port");
  }
  gOriginalTTYAttrs = term;
  ::ioctl(fd, TIOCEXCL);
  ::fcntl(fd, F_SETFL, 0);
  ::cfmakeraw(&term);
  // Control flags before the speed: on Linux the speed lives in c_cflag, and writing the
  // flags afterwards would set it to B0 (a hang-up on a real modem).
  term.c_cflag = CS8 | CREAD | CLOCAL;
  ::cfsetspeed(&term, static_cast<speed_t>(speed));
  term.c_cc[VMIN] = 0;
  term.c_cc[VTIME] = 0;
  term.c_iflag = 0;
  term.c_oflag = 0;
  term.c_lflag = 0;
  ::tcsetattr(fd, TCSANOW, &term);

  fd_ = std::move(opened);
  fdLine_.setFd(fd);
  line_ = &fdLine_;
  device_ = device;
  lock_ = std::move(lock);
  resetState();
  return fd;
}

void Channel::resetState() {
  broken_ = hungUp_ = truncated_ = overran_ = late_ = false;
  quietWaited_ = std::chrono::microseconds{0};
  fill_ = 0;
  readbuf[0] = '\0';
}

void Channel::attach(LineIo& line) {
  CloseConn();
  openError_.clear();
  line_ = &line;
  resetState();
}

void Channel::CloseConn() {
  if (fd_) {
    ::tcdrain(fd_.get());
    ::tcsetattr(fd_.get(), TCSANOW, &gOriginalTTYAttrs);
    // The exclusive claim outlives close() while the other side stays open: the next
    // open by a normal user would fail with EBUSY.
    ::ioctl(fd_.get(), TIOCNXCL);
    fd_.reset();
    fdLine_.setFd(-1);
    lock_.release();
  }
  device_.clear();
  line_ = nullptr;
  loan_.reset();
}

bool Channel::isOpen() const { return line_ != nullptr; }

// A pty whose other side is gone answers EIO (no SIGPIPE): a node opened read-write
// never raises SIGPIPE, so no signal handling is needed here.
bool Channel::SendCmd(const char* bytes, std::size_t length) {
  if (line_ == nullptr) return false;
  sentAt_ = line_->now();
  // The command line as the modem would echo it (a text step's body is not a command).
  const std::string_view text(bytes, length);
  sentLine_.assign(text.substr(0, std::min<std::size_t>(text.find('\r'), 512)));
  while (length > 0) {
    ssize_t n = line_->write({bytes, length});
    if (n <= 0) {
      broken_ = true;
      return false;
    }
    const auto sent = std::min(static_cast<std::size_t>(n), length);
    bytes += sent;
    length -= sent;
  }
  return true;
}

bool Channel::SendStrCmd(std::string_view text) { return SendCmd(text.data(), text.size()); }

bool Channel::SendAT() { return SendStrCmd("AT\r"); }

bool Channel::broken() const { return broken_ || hungUp_; }

bool Channel::hungUp() const { return hungUp_; }

bool Channel::AT(int attempts) {
  for (int i = 0; i < attempts; ++i) {
    drain();
    if (!SendAT()) return false;
    ReadResp();
    if (broken()) return false;
    const Reply r = classify(reply());
    if (answersAT(r)) return true;
    if (r.kind == ReplyKind::Incomplete) {
      settle();
      if (late_ || broken()) return false;
    }
  }
  return false;
}

std::string Channel::gather(std::chrono::microseconds firstByte,
                            std::chrono::microseconds quiet) {
  std::string out;
  if (line_ == nullptr) return out;
  const auto deadline = line_->now() + completion_.overall;
  std::array<char, 4096> buf;
  auto wait = line_->waitReadable(firstByte);
  while (wait == LineIo::Wait::Readable) {
    const ssize_t n = line_->read(buf);
    if (n < 0) break;
    if (n == 0) {
      hungUp_ = true;
      break;
    }
    const auto got = std::min(static_cast<std::size_t>(n), buf.size());
    if (out.size() < kReadBufSize) out.append(buf.data(), std::min(got, kReadBufSize - out.size()));
    if (line_->now() >= deadline) break;
    wait = line_->waitReadable(quiet);
  }
  return out;
}

std::string Channel::drain() {
  return gather(std::chrono::microseconds{0}, std::chrono::microseconds{0});
}

std::string Channel::settle() {
  // Measured from the command, not from the reply's end: an echo (or any early byte)
  // ends the wait for the first byte long before a slow modem's answer comes.
  const auto sinceSent = line_ ? line_->now() - sentAt_ : std::chrono::microseconds{0};
  const auto wait = std::max(kSettle, completion_.firstByte + kSettle - sinceSent);
  std::string late = gather(wait, completion_.quiet);
  const Reply r = classify(late);
  if (r.kind != ReplyKind::Incomplete || !r.lines.empty()) late_ = true;
  return late;
}

std::size_t Channel::ReadResp() { return collect(completion_.firstByte, completion_.quiet); }

std::size_t Channel::ReadModem(std::span<char> dest) {
  const std::size_t count = ReadResp();
  if (!dest.empty()) {
    const std::size_t len = ::strnlen(readbuf.get(), std::min(count, dest.size() - 1));
    std::memcpy(dest.data(), readbuf.get(), len);
    dest[len] = '\0';
  }
  return count;
}

std::string_view Channel::reply() const { return {readbuf.get(), fill_}; }

bool Channel::truncated() const { return truncated_; }

void Channel::setCompletion(ReplyCompletion rule) { completion_ = std::move(rule); }

// Collects one reply: waits up to 1.5 s for the first byte (the command's echo does not
// count: a modem echoes as it takes the command), then until the line has been quiet for
// 0.5 s, and never longer than the overall bound. Never stops at "OK" unless a
// completion rule says so: late unsolicited lines belong to this reply. Bytes past the
// buffer are read and dropped, so they do not become the start of the next reply. A
// failed read ends the reply with what came.
std::size_t Channel::collect(std::chrono::microseconds firstByte, std::chrono::microseconds quiet) {
  fill_ = 0;
  truncated_ = overran_ = false;
  readbuf[0] = '\0';
  if (line_ == nullptr) return 0;
  constexpr std::size_t kRoom = kReadBufSize - 1;  // one byte kept for the NUL
  constexpr std::chrono::microseconds kProgressEvery{1'000'000};
  std::size_t dropped = 0;
  std::array<char, 4096> sink;
  const auto start = line_->now();
  auto nextProgress = start + kProgressEvery;
  auto lastByte = start;

  auto wait = line_->waitReadable(firstByte);
  while (wait == LineIo::Wait::Readable) {
    const bool full = fill_ == kRoom;
    std::span<char> into = full ? std::span<char>(sink)
                                : std::span<char>(readbuf.get() + fill_, kRoom - fill_);
    const ssize_t n = line_->read(into);
    if (n < 0) break;
    if (n == 0) {
      hungUp_ = true;
      break;
    }
    const auto got = std::min(static_cast<std::size_t>(n), into.size());
    if (full) {
      truncated_ = true;
      dropped += got;
      if (dropped >= kMaxDroppedBytes) break;
    } else {
      fill_ += got;
    }
    const auto now = line_->now();
    lastByte = now;
    std::chrono::microseconds next = quiet;
    if (completion_.fast && !full) {
      const ReplyEnd end = replyEnd(reply(), sentLine_);
      if (end == ReplyEnd::Final) break;
      if (end == ReplyEnd::AfterLines) next = completion_.grace;
    }
    // The echo comes at once, the answer when the modem has one: until the first byte
    // past the echo, the wait for the first byte goes on.
    if (!full && onlyEcho(reply(), sentLine_)) next = std::max(next, firstByte - (now - start));
    if (now - start >= completion_.overall) {
      overran_ = true;
      break;
    }
    if (completion_.progress && now >= nextProgress) {
      completion_.progress(fill_ + dropped);
      nextProgress = now + kProgressEvery;
    }
    wait = line_->waitReadable(std::min(next, completion_.overall - (now - start)));
  }
  readbuf[fill_] = '\0';
  // A complete reply that waited out the quiet window all the same.
  if (wait == LineIo::Wait::TimedOut && !completion_.fast && fill_ > 0 && !truncated_ &&
      replyEnd(reply(), sentLine_) != ReplyEnd::Open) {
    quietWaited_ += line_->now() - lastByte;
  }
  return fill_;
}

namespace {

// ModemManager answers InhibitDevice once it has closed the modem's ports; a port may still
// be busy a moment longer (the kernel, a lock file being removed).
constexpr std::chrono::milliseconds kFreeWait{10'000};
constexpr std::chrono::milliseconds kFreeStep{200};

// Probes `port` until it is no longer busy, at most kFreeWait; an answering port stays open.
PortProbe probeFreed(Channel& ch, const std::filesystem::path& port, const DeviceChoice& choice) {
  const auto until = std::chrono::steady_clock::now() + kFreeWait;
  for (;;) {
    PortProbe probe = probePort(ch, {port, port}, {.lockFolder = choice.lockFolder, .identify = false}, true);
    if (probe.failure != OpenFailure::Busy || std::chrono::steady_clock::now() >= until) return probe;
    std::this_thread::sleep_for(kFreeStep);
  }
}

// Borrows `modem` and opens the first of its AT ports that answers "AT".
bool openManaged(Channel& ch, const ManagedModem& modem, const DeviceChoice& choice) {
  auto loan = std::make_unique<ModemLoan>();
  if (loan->borrow(modem) != LoanOutcome::Borrowed) {
    ch.setOpenError(loan->why(), OpenFailure::Busy);
    return false;
  }
  std::string said;
  for (const std::filesystem::path& port : modem.atPorts()) {
    const PortProbe probe = probeFreed(ch, port, choice);
    if (probe.answers) {
      ch.holdLoan(std::move(loan));
      return true;
    }
    said += (said.empty() ? "" : "; ") + port.string() + ": " + probe.describe();
  }
  ch.setOpenError("ModemManager lent its modem " + modem.name() + ", but none of its AT ports answered (" +
                  said + ")");
  return false;
}

}  // namespace

bool openModem(Channel& ch, const DeviceChoice& choice) {
  if (choice.line != nullptr) {
    ch.attach(*choice.line);
    return true;
  }
  ch.setLockFolder(choice.lockFolder);
  if (choice.device) {
    auto loan = std::make_unique<ModemLoan>();
    switch (loan->borrow(*choice.device)) {
      case LoanOutcome::NotManaged:
        return ch.InitConnPath(*choice.device, kSpeed) >= 0;
      case LoanOutcome::Borrowed:
        break;
      default:
        ch.setOpenError(loan->why(), OpenFailure::Busy);
        return false;
    }
    const auto until = std::chrono::steady_clock::now() + kFreeWait;
    while (ch.InitConnPath(*choice.device, kSpeed) < 0) {
      if (ch.openFailure() != OpenFailure::Busy || std::chrono::steady_clock::now() >= until) return false;
      std::this_thread::sleep_for(kFreeStep);
    }
    ch.holdLoan(std::move(loan));
    return true;
  }
  const std::vector<Port> candidates = candidatePorts(choice);
  const ManagerSurvey survey = surveyModemManager();
  if (const ManagedModem* modem = managedCandidate(survey, candidates)) return openManaged(ch, *modem, choice);
  const std::vector<PortProbe> probes =
      scanPorts(ch, candidates, {.lockFolder = choice.lockFolder, .identify = false}, true);
  if (!probes.empty() && probes.back().answers) return true;
  ch.setOpenError(scanFailure(probes, choice.ports),
                  probes.empty() ? OpenFailure::Missing : OpenFailure::Other);
  return false;
}

OpenOutcome openForJob(Channel& ch, const DeviceChoice& choice, int attempts) {
  if (!openModem(ch, choice)) return OpenOutcome::NoDevice;
  if (!ch.AT(attempts)) {
    ch.CloseConn();
    return OpenOutcome::HandshakeFailed;
  }
  if (choice.answered && !ch.device().empty()) choice.answered(ch.device());
  return OpenOutcome::Ready;
}

std::string getSysInfoByName(const char* name) {
  if (name == nullptr || std::strcmp(name, "hw.machine") != 0) return {};
  utsname u{};
  if (::uname(&u) != 0) return {};
  return u.machine;
}

}  // namespace voryx::modem
