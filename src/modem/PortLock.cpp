#include "modem/PortLock.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <utility>

#include "base/FileIo.h"

namespace voryx::modem {
namespace {

namespace fs = std::filesystem;

// A lock file is eleven bytes; anything much longer is not one.
constexpr std::size_t kMaxLockBytes = 64;

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

enum class Read { Pid, Gone, Unreadable };

// The PID in `file`: Gone when there is no such file (any more), Unreadable when it
// cannot be read or names no PID.
Read readLock(const fs::path& file, pid_t& pid) {
  const UniqueFd fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
  if (!fd) return errno == ENOENT ? Read::Gone : Read::Unreadable;
  char buf[kMaxLockBytes + 1];
  const ssize_t n = ::read(fd.get(), buf, sizeof buf);
  if (n <= 0) return Read::Unreadable;
  const auto parsed = parseLockPid({buf, static_cast<std::size_t>(n)});
  if (!parsed) return Read::Unreadable;
  pid = *parsed;
  return Read::Pid;
}

// This process counts as alive: another channel of it holds the port.
bool alive(pid_t pid) { return pid == ::getpid() || ::kill(pid, 0) == 0 || errno == EPERM; }

}  // namespace

std::optional<pid_t> parseLockPid(std::string_view bytes) {
  if (bytes.empty() || bytes.size() > kMaxLockBytes) return std::nullopt;
  const bool text = std::all_of(bytes.begin(), bytes.end(),
                                [](char c) { return isSpace(c) || (c >= '0' && c <= '9'); });
  if (!text) {
    if (bytes.size() != sizeof(std::int32_t)) return std::nullopt;
    std::int32_t binary = 0;
    std::memcpy(&binary, bytes.data(), sizeof binary);
    if (binary <= 0) return std::nullopt;
    return static_cast<pid_t>(binary);
  }
  std::size_t i = 0;
  while (i < bytes.size() && isSpace(bytes[i])) ++i;
  std::size_t end = i;
  while (end < bytes.size() && bytes[end] >= '0' && bytes[end] <= '9') ++end;
  // One number, blanks around it: "4711 12" is not a lock file.
  for (std::size_t j = end; j < bytes.size(); ++j) {
    if (!isSpace(bytes[j])) return std::nullopt;
  }
  long long value = 0;
  const auto [ptr, ec] = std::from_chars(bytes.data() + i, bytes.data() + end, value);
  if (ec != std::errc{} || ptr != bytes.data() + end || value <= 0 || value > INT_MAX) {
    return std::nullopt;
  }
  return static_cast<pid_t>(value);
}

fs::path lockFileFor(const fs::path& device, const fs::path& folder) {
  std::error_code ec;
  fs::path node = fs::canonical(device, ec);
  if (ec) node = device;
  return folder / ("LCK.." + node.filename().string());
}

PortLock& PortLock::operator=(PortLock&& other) noexcept {
  if (this != &other) {
    release();
    file_ = std::move(other.file_);
    owned_ = std::exchange(other.owned_, false);
    held_ = other.held_;
    holder_ = other.holder_;
  }
  return *this;
}

PortLock PortLock::take(const fs::path& device, const fs::path& folder) {
  PortLock lock;
  std::error_code ec;
  // A device that does not exist needs no lock: its open will say what is wrong.
  if (folder.empty() || !fs::exists(device, ec)) return lock;
  lock.file_ = lockFileFor(device, folder);

  // The lock appears whole or not at all: written to a file of our own, then linked to
  // its name, which fails when the name exists. A reader never sees it half-written.
  static std::atomic<unsigned> serial{0};
  const pid_t self = ::getpid();
  const fs::path temp =
      folder / ("LTMP." + std::to_string(self) + "." + std::to_string(serial.fetch_add(1)));
  char text[16];
  std::snprintf(text, sizeof text, "%10d\n", static_cast<int>(self));
  UniqueFd fd(::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
  if (!fd) return lock;  // no folder or no right to write there: go on without a lock
  const bool written = ::write(fd.get(), text, 11) == 11;
  fd.reset();

  // A stale lock is removed and the link tried again; a few rounds settle a race with
  // another program doing the same. Rounds all lost to other takers: someone holds it.
  bool settled = !written;
  for (int round = 0; !settled && round < 3; ++round) {
    if (::link(temp.c_str(), lock.file_.c_str()) == 0) {
      lock.owned_ = settled = true;
      break;
    }
    if (errno != EEXIST) break;  // a folder that takes no links: go on without a lock
    pid_t pid = 0;
    const Read read = readLock(lock.file_, pid);
    if (read == Read::Gone) continue;
    if (read == Read::Unreadable || alive(pid) || round == 2) {
      lock.held_ = settled = true;
      if (read == Read::Pid) lock.holder_ = pid;
      break;
    }
    ::unlink(lock.file_.c_str());  // its PID is gone: stale
  }
  ::unlink(temp.c_str());
  return lock;
}

void PortLock::release() {
  if (!owned_) return;
  owned_ = false;
  pid_t pid = 0;
  if (readLock(file_, pid) == Read::Pid && pid == ::getpid()) ::unlink(file_.c_str());
}

}  // namespace voryx::modem
