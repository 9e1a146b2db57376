#include "sim/VirtualQmi.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <thread>

namespace voryx::sim {

struct VirtualQmi::Impl {
  mutable std::mutex mu;  // guards everything but the descriptors' use on the serving thread
  SimCard card;
  QmiFaults faults;
  bool usim = true;
  std::unique_ptr<QmiEngine> engine;
  std::function<void(const SimCard&)> onChange;
  std::string path;
  bool serving = false;
  std::chrono::milliseconds delay{0};

  int master = -1;
  int slave = -1;  // held open: the line stays up while the proxy reopens the device
  int wake[2] = {-1, -1};
  std::thread thread;

  void serve();
  bool writeAll(std::string_view bytes);
};

namespace {
void closeFd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}
}  // namespace

VirtualQmi::VirtualQmi(SimCard card, QmiFaults faults, bool usim) : impl_(std::make_unique<Impl>()) {
  impl_->card = std::move(card);
  impl_->faults = faults;
  impl_->usim = usim;
}

VirtualQmi::~VirtualQmi() { stop(); }

bool VirtualQmi::start(std::string* error) {
  Impl& m = *impl_;
  stop();
  auto fail = [&](const char* what) {
    if (error) *error = std::string(what) + ": " + std::strerror(errno);
    closeFd(m.master), closeFd(m.slave), closeFd(m.wake[0]), closeFd(m.wake[1]);
    return false;
  };
  if (::openpty(&m.master, &m.slave, nullptr, nullptr, nullptr) != 0) return fail("openpty");
  char name[128] = {};
  termios tio{};
  if (::ttyname_r(m.slave, name, sizeof name) != 0 || ::tcgetattr(m.slave, &tio) != 0) return fail("pty slave");
  ::cfmakeraw(&tio);  // QMUX is binary: no echo, no translation of any byte
  tio.c_cflag |= CLOCAL | CREAD;
  if (::tcsetattr(m.slave, TCSANOW, &tio) != 0 || ::pipe2(m.wake, O_CLOEXEC | O_NONBLOCK) != 0) {
    return fail("pty settings");
  }
  ::fcntl(m.master, F_SETFL, ::fcntl(m.master, F_GETFL) | O_NONBLOCK);
  ::fcntl(m.master, F_SETFD, FD_CLOEXEC);
  ::fcntl(m.slave, F_SETFD, FD_CLOEXEC);
  {
    std::lock_guard lock(m.mu);
    m.path = name;
    m.serving = true;
    m.card.pinLock().powerUp();
    m.engine = std::make_unique<QmiEngine>(m.card, m.usim, m.faults);
  }
  m.thread = std::thread([&m] { m.serve(); });
  return true;
}

void VirtualQmi::stop() {
  Impl& m = *impl_;
  if (m.thread.joinable()) {
    const char byte = 1;
    [[maybe_unused]] auto n = ::write(m.wake[1], &byte, 1);
    m.thread.join();
  }
  closeFd(m.master), closeFd(m.slave), closeFd(m.wake[0]), closeFd(m.wake[1]);
  std::lock_guard lock(m.mu);
  m.serving = false;
}

bool VirtualQmi::running() const {
  std::lock_guard lock(impl_->mu);
  return impl_->serving;
}

std::string VirtualQmi::devicePath() const {
  std::lock_guard lock(impl_->mu);
  return impl_->path;
}

SimCard VirtualQmi::sim() const {
  std::lock_guard lock(impl_->mu);
  return impl_->card;
}

void VirtualQmi::modifySim(const std::function<void(SimCard&)>& change) {
  std::lock_guard lock(impl_->mu);
  change(impl_->card);
}

void VirtualQmi::setOnChange(std::function<void(const SimCard&)> onChange) {
  std::lock_guard lock(impl_->mu);
  impl_->onChange = std::move(onChange);
}

void VirtualQmi::setDelay(std::chrono::milliseconds delay) {
  std::lock_guard lock(impl_->mu);
  impl_->delay = delay;
}

int VirtualQmi::requestCount(std::uint8_t service, std::uint16_t message) const {
  std::lock_guard lock(impl_->mu);
  return impl_->engine ? impl_->engine->requestCount(service, message) : 0;
}

bool VirtualQmi::Impl::writeAll(std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(master, bytes.data(), bytes.size());
    if (n > 0) {
      bytes.remove_prefix(static_cast<std::size_t>(n));
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EINTR) return false;
    pollfd fds[2] = {{master, POLLOUT, 0}, {wake[0], POLLIN, 0}};
    ::poll(fds, 2, 200);
    if (fds[1].revents) return false;
  }
  return true;
}

void VirtualQmi::Impl::serve() {
  char buf[4096];
  for (;;) {
    pollfd fds[2] = {{master, POLLIN, 0}, {wake[0], POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0 && errno != EINTR) return;
    if (fds[1].revents) return;
    if (!(fds[0].revents & POLLIN)) {
      // No client has the device open (the proxy closes it between clients): wait.
      if (fds[0].revents & POLLHUP) {
        pollfd wait{wake[0], POLLIN, 0};
        if (::poll(&wait, 1, 20) > 0) return;
      }
      continue;
    }
    const ssize_t n = ::read(master, buf, sizeof buf);
    if (n <= 0) continue;
    QmiEngine::Output out;
    std::optional<SimCard> changed;
    std::function<void(const SimCard&)> notify;
    {
      std::lock_guard lock(mu);
      out = engine->feed(std::string_view(buf, static_cast<std::size_t>(n)));
      if (engine->takeChanged() && onChange) {
        changed = card;
        notify = onChange;
      }
    }
    if (changed) notify(*changed);
    if (delay.count() > 0 && !out.frames.empty()) {
      pollfd stop{wake[0], POLLIN, 0};
      if (::poll(&stop, 1, static_cast<int>(delay.count() * static_cast<long>(out.frames.size()))) > 0) return;
    }
    for (const std::string& frame : out.frames) {
      if (!writeAll(frame)) break;
    }
    if (out.hangUp) {
      std::lock_guard lock(mu);
      closeFd(master);
      closeFd(slave);
      serving = false;
      return;
    }
  }
}

}  // namespace voryx::sim
