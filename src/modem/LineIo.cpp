#include "modem/LineIo.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>

namespace voryx::modem {

// poll rather than select: a descriptor numbered past FD_SETSIZE (a busy server process)
// would overrun an fd_set.
LineIo::Wait FdLineIo::waitReadable(std::chrono::microseconds timeout) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + timeout;
  for (;;) {
    auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() < 0) left = std::chrono::milliseconds(0);
    pollfd p{fd_, POLLIN, 0};
    int r = ::poll(&p, 1, static_cast<int>(left.count()));
    if (r > 0) {
      // A hang-up or error also counts as readable: the read that follows reports it.
      return (p.revents & POLLNVAL) != 0 ? Wait::Failed : Wait::Readable;
    }
    if (r == 0) return Wait::TimedOut;
    if (errno != EINTR) return Wait::Failed;
  }
}

ssize_t FdLineIo::read(std::span<char> into) {
  for (;;) {
    ssize_t n = ::read(fd_, into.data(), into.size());
    if (n >= 0 || errno != EINTR) return n;
  }
}

ssize_t FdLineIo::write(std::span<const char> bytes) {
  for (;;) {
    ssize_t n = ::write(fd_, bytes.data(), bytes.size());
    if (n >= 0 || errno != EINTR) return n;
  }
}

std::chrono::microseconds FdLineIo::now() const {
  return std::chrono::duration_cast<std::chrono::microseconds>(
      std::chrono::steady_clock::now().time_since_epoch());
}

}  // namespace voryx::modem
