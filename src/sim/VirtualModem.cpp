#include "sim/VirtualModem.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

#include "sim/ModemEngine.h"

namespace voryx::sim {

using Clock = std::chrono::steady_clock;

struct VirtualModem::Impl {
  // Guarded by mu: everything but the descriptors' use on the serving thread.
  mutable std::mutex mu;
  std::condition_variable cv;
  SimCard card;
  ModemOptions options;
  std::vector<std::string> log;
  std::function<void(const SimCard&)> onChange;
  std::unique_ptr<ModemEngine> engine;
  std::string path;
  bool stopping = false;
  bool serving = false;
  bool busy = false;  // bytes taken from the line and not yet fully answered
  Clock::time_point lastActivity = Clock::now();
  Clock::time_point simBusyUntil{};  // the SIM answers "SIM busy" until then

  // Owned by start()/stop(); the serving thread only uses them.
  int master = -1;
  int slave = -1;  // held open so that the line stays up between clients
  int wake[2] = {-1, -1};
  std::thread thread;

  void serve();
  // Waits for `d` unless stop() comes first; false when stopping.
  bool pause(std::chrono::milliseconds d);
  bool writeAll(std::string_view bytes);
  bool send(const Output& out, bool& firstChunk);
  void hangUp();
  bool isStopping() {
    std::lock_guard lock(mu);
    return stopping;
  }
};

namespace {
void closeFd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}
}  // namespace

VirtualModem::VirtualModem(SimCard card, ModemOptions options) : impl_(std::make_unique<Impl>()) {
  impl_->card = std::move(card);
  impl_->options = options;
}

VirtualModem::~VirtualModem() { stop(); }

bool VirtualModem::start(std::string* error) {
  auto fail = [error](const std::string& what) {
    if (error) *error = what + ": " + std::strerror(errno);
    return false;
  };
  Impl& m = *impl_;
  if (m.thread.joinable() && running()) {
    if (error) *error = "the virtual modem already runs";
    return false;
  }
  stop();  // after a hang-up: collect the thread
  if (::openpty(&m.master, &m.slave, nullptr, nullptr, nullptr) != 0) return fail("openpty");
  char name[128] = {};
  termios tio{};
  // A serial line in raw mode: no echo by the tty, no CR/NL translation, 8 bits.
  if (::ttyname_r(m.slave, name, sizeof name) != 0 || ::tcgetattr(m.slave, &tio) != 0) {
    closeFd(m.master), closeFd(m.slave);
    return fail("pty slave");
  }
  ::cfmakeraw(&tio);
  tio.c_cflag |= CLOCAL | CREAD;
  ::cfsetspeed(&tio, B115200);
  if (::tcsetattr(m.slave, TCSANOW, &tio) != 0 || ::pipe2(m.wake, O_CLOEXEC | O_NONBLOCK) != 0) {
    closeFd(m.master), closeFd(m.slave);
    return fail("pty settings");
  }
  ::fcntl(m.master, F_SETFL, ::fcntl(m.master, F_GETFL) | O_NONBLOCK);
  ::fcntl(m.master, F_SETFD, FD_CLOEXEC);
  ::fcntl(m.slave, F_SETFD, FD_CLOEXEC);
  {
    std::lock_guard lock(m.mu);
    m.path = name;
    m.stopping = false;
    m.serving = true;
    m.busy = false;
    m.lastActivity = Clock::now();
    m.card.pinLock().powerUp();
    m.simBusyUntil = m.lastActivity + m.options.simBusy;
    m.engine = std::make_unique<ModemEngine>(m.card, m.log, m.options);
  }
  m.thread = std::thread([&m] { m.serve(); });
  return true;
}

void VirtualModem::stop() {
  Impl& m = *impl_;
  if (!m.thread.joinable()) return;
  {
    std::lock_guard lock(m.mu);
    m.stopping = true;
  }
  m.cv.notify_all();
  const char byte = 1;
  [[maybe_unused]] auto n = ::write(m.wake[1], &byte, 1);
  m.thread.join();
  closeFd(m.master);
  closeFd(m.slave);
  closeFd(m.wake[0]);
  closeFd(m.wake[1]);
  std::lock_guard lock(m.mu);
  m.serving = false;
  m.busy = false;
  m.engine.reset();
}

bool VirtualModem::running() const {
  std::lock_guard lock(impl_->mu);
  return impl_->serving;
}

std::string VirtualModem::devicePath() const {
  std::lock_guard lock(impl_->mu);
  return impl_->path;
}

SimCard VirtualModem::sim() const {
  std::lock_guard lock(impl_->mu);
  return impl_->card;
}

void VirtualModem::modifySim(const std::function<void(SimCard&)>& change) {
  std::lock_guard lock(impl_->mu);
  change(impl_->card);
}

void VirtualModem::setOnChange(std::function<void(const SimCard&)> onChange) {
  std::lock_guard lock(impl_->mu);
  impl_->onChange = std::move(onChange);
}

std::vector<std::string> VirtualModem::commandLog() const {
  std::lock_guard lock(impl_->mu);
  return impl_->log;
}

int VirtualModem::commandCount(std::string_view prefix) const {
  std::lock_guard lock(impl_->mu);
  int n = 0;
  for (const auto& line : impl_->log) n += line.starts_with(prefix) ? 1 : 0;
  return n;
}

void VirtualModem::clearLog() {
  std::lock_guard lock(impl_->mu);
  impl_->log.clear();
}

bool VirtualModem::waitIdle(std::chrono::milliseconds quiet, std::chrono::milliseconds timeout) {
  Impl& m = *impl_;
  const auto deadline = Clock::now() + timeout;
  std::unique_lock lock(m.mu);
  for (;;) {
    int pending = 0;
    if (m.serving && m.master >= 0) ::ioctl(m.master, FIONREAD, &pending);
    const auto now = Clock::now();
    if (!m.busy && pending == 0 && now - m.lastActivity >= quiet) return true;
    if (now >= deadline) return false;
    m.cv.wait_for(lock, std::chrono::milliseconds{20});
  }
}

bool VirtualModem::Impl::pause(std::chrono::milliseconds d) {
  if (d.count() <= 0) return !isStopping();
  std::unique_lock lock(mu);
  return !cv.wait_for(lock, d, [this] { return stopping; });
}

bool VirtualModem::Impl::writeAll(std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(master, bytes.data(), bytes.size());
    if (n > 0) {
      bytes.remove_prefix(static_cast<std::size_t>(n));
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EINTR) return false;
    // The client is not reading: wait for room, or for stop().
    pollfd fds[2] = {{master, POLLOUT, 0}, {wake[0], POLLIN, 0}};
    ::poll(fds, 2, 200);
    if (fds[1].revents || isStopping()) return false;
  }
  return true;
}

// One output on the line: a reply waits for the reply delay, each listing entry for the
// entry delay; with chunking, every chunk but the reply's first waits for the gap.
bool VirtualModem::Impl::send(const Output& out, bool& firstChunk) {
  if (out.kind == Output::Kind::Echo) return writeAll(out.bytes());
  if (!pause(options.replyDelay + out.delay)) return false;
  for (const auto& part : out.parts) {
    if (part.entry && !pause(options.entryDelay)) return false;
    std::string_view rest = part.bytes;
    const std::size_t chunk = options.chunkBytes ? options.chunkBytes : rest.size();
    while (!rest.empty()) {
      if (!firstChunk && options.chunkBytes && !pause(options.chunkGap)) return false;
      firstChunk = false;
      const std::size_t n = std::min(chunk, rest.size());
      if (!writeAll(rest.substr(0, n))) return false;
      rest.remove_prefix(n);
    }
  }
  return true;
}

void VirtualModem::Impl::hangUp() {
  std::lock_guard lock(mu);
  ::close(master);
  master = -1;
  ::close(slave);
  slave = -1;
  serving = false;
  busy = false;
  cv.notify_all();
}

// The serving thread: reads what the client sends, feeds the engine under the lock and
// writes the answers outside it, so that state queries never wait for a slow reply.
void VirtualModem::Impl::serve() {
  char buf[4096];
  for (;;) {
    pollfd fds[2] = {{master, POLLIN, 0}, {wake[0], POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0 && errno != EINTR) return;
    if (fds[1].revents || isStopping()) return;
    if (!(fds[0].revents & POLLIN)) continue;
    const ssize_t n = ::read(master, buf, sizeof buf);
    if (n <= 0) {
      if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
      if (!pause(std::chrono::milliseconds{50})) return;  // no client side: wait for one
      continue;
    }
    std::vector<Output> outputs;
    std::optional<SimCard> changed;
    std::function<void(const SimCard&)> notify;
    {
      std::lock_guard lock(mu);
      busy = true;
      lastActivity = Clock::now();
      engine->setSimBusy(lastActivity < simBusyUntil);
      outputs = engine->feed(std::string_view(buf, static_cast<std::size_t>(n)));
      if (engine->takeUnlocked()) simBusyUntil = Clock::now() + options.simBusy;
      if (engine->takeChanged() && onChange) {
        changed = card;
        notify = onChange;
      }
    }
    if (changed) notify(*changed);
    for (const auto& out : outputs) {
      if (out.kind == Output::Kind::HangUp) return hangUp();
      bool firstChunk = true;
      if (!send(out, firstChunk)) break;
    }
    {
      std::lock_guard lock(mu);
      busy = false;
      lastActivity = Clock::now();
    }
    cv.notify_all();
  }
}

}  // namespace voryx::sim
