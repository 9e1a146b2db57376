#include "web/ConnectionServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <string>
#include <string_view>

namespace voryx::web {

namespace {

using Clock = std::chrono::steady_clock;

// Pending connections the kernel keeps for the accept loop. httplib listens with a
// backlog of 5, which drops connections when a page opens many at once.
constexpr int kBacklog = 128;
// What a closing connection reads of the peer's unread bytes, so that closing does not
// reset the connection under an answer the peer has not read yet.
constexpr std::size_t kDrainOnClose = 256 * 1024;

thread_local bool tCloseAfterAnswer = false;

// Fixed answers of the reception, which ends the connection after them.
constexpr std::string_view kTimeoutAnswer =
    "HTTP/1.1 408 Request Timeout\r\nConnection: close\r\nContent-Length: 0\r\n\r\n";
constexpr std::string_view kHeadTooLargeAnswer =
    "HTTP/1.1 431 Request Header Fields Too Large\r\nConnection: close\r\nContent-Length: 0\r\n\r\n";

int pollTimeout(Clock::time_point until, Clock::time_point now) {
  if (until <= now) return 0;
  auto ms = std::chrono::ceil<std::chrono::milliseconds>(until - now).count();
  return static_cast<int>(std::min<decltype(ms)>(ms, 60'000));
}

// Waits for `events` on `fd` until `until` or until `stopFd` is set. Returns the events
// that happened; 0 on timeout or stop.
short waitFor(int fd, short events, Clock::time_point until, int stopFd) {
  for (;;) {
    const auto now = Clock::now();
    if (now >= until) return 0;
    pollfd p[2] = {{fd, events, 0}, {stopFd, POLLIN, 0}};
    const int r = ::poll(p, 2, pollTimeout(until, now));
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) return POLLERR;
    if (p[1].revents != 0) return 0;
    if (r > 0) return p[0].revents;
  }
}

void sendBestEffort(int fd, std::string_view text) {
  (void)::send(fd, text.data(), text.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
}

void endpoint(int fd, bool peer, std::string& ip, int& port) {
  sockaddr_storage addr{};
  socklen_t len = sizeof(addr);
  const int r = peer ? ::getpeername(fd, reinterpret_cast<sockaddr*>(&addr), &len)
                     : ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  if (r != 0) return;
  char text[INET6_ADDRSTRLEN] = {};
  if (addr.ss_family == AF_INET) {
    const auto* a = reinterpret_cast<const sockaddr_in*>(&addr);
    ::inet_ntop(AF_INET, &a->sin_addr, text, sizeof(text));
    port = ntohs(a->sin_port);
  } else if (addr.ss_family == AF_INET6) {
    const auto* a = reinterpret_cast<const sockaddr_in6*>(&addr);
    ::inet_ntop(AF_INET6, &a->sin6_addr, text, sizeof(text));
    port = ntohs(a->sin6_port);
  }
  ip = text;
}

// Runs each hand-over on the accept thread itself: handing over only queues the socket
// for the reception thread.
class InlineQueue final : public httplib::TaskQueue {
 public:
  void enqueue(std::function<void()> fn) override { fn(); }
  void shutdown() override {}
};

}  // namespace

// One client connection. Owns the socket (non-blocking) and the bytes received and not
// yet consumed. Belongs to exactly one thread at a time: the reception, the ready queue
// or one worker.
struct HttpConnection {
  explicit HttpConnection(int socket) : owned(socket), fd(socket) {}
  HttpConnection(const HttpConnection&) = delete;
  HttpConnection& operator=(const HttpConnection&) = delete;

  bool headComplete() const { return in.find("\r\n\r\n") != std::string::npos; }

  // Ends the connection after an answer (the destructor closes it). Reads what the peer
  // has already sent first: closing over unread bytes resets the connection, and the
  // reset may take the answer with it.
  void finish() {
    ::shutdown(fd, SHUT_WR);
    std::array<char, 4096> sink;
    for (std::size_t drained = 0; drained < kDrainOnClose;) {
      const ssize_t n = ::recv(fd, sink.data(), sink.size(), MSG_DONTWAIT);
      if (n <= 0) break;
      drained += static_cast<std::size_t>(n);
    }
  }

  UniqueFd owned;  // closed when the connection goes
  const int fd;
  std::string in;            // received, not yet consumed by httplib
  Clock::time_point since;   // began waiting at the reception
  Clock::time_point deadline;
  bool started = false;      // a byte of the next request has arrived (or a fresh accept)
  std::size_t served = 0;
};

namespace {

// httplib's view of one request on a connection: the buffered head first, then the
// socket, never past the request's deadline nor past `budget` bytes in all (a body without
// a length would otherwise be read for as long as the peer sends). Writes wait at most
// `writeTimeout` for progress. Worker thread; consumed bytes leave the buffer on
// destruction, a pipelined request's bytes stay.
class RequestStream final : public httplib::Stream {
 public:
  RequestStream(HttpConnection& c, int stopFd, std::size_t budget, std::chrono::milliseconds writeTimeout)
      : c_(c), stopFd_(stopFd), budget_(budget), writeTimeout_(writeTimeout) {}
  ~RequestStream() override { c_.in.erase(0, pos_); }
  RequestStream(const RequestStream&) = delete;
  RequestStream& operator=(const RequestStream&) = delete;

  bool is_readable() const override {
    return pos_ < c_.in.size() || (waitFor(c_.fd, POLLIN, c_.deadline, stopFd_) & POLLIN) != 0;
  }

  // False once the peer has closed (or half-closed) its side: an event stream ends as
  // soon as its reader is gone, not at the next write that fails.
  bool is_writable() const override {
    const short r = waitFor(c_.fd, POLLOUT | POLLRDHUP, Clock::now() + writeTimeout_, stopFd_);
    return (r & POLLOUT) != 0 && (r & (POLLRDHUP | POLLHUP | POLLERR)) == 0;
  }

  ssize_t read(char* ptr, size_t size) override {
    if (pos_ < c_.in.size()) {
      const std::size_t n = std::min(size, c_.in.size() - pos_);
      std::memcpy(ptr, c_.in.data() + pos_, n);
      pos_ += n;
      delivered_ += n;
      return static_cast<ssize_t>(n);
    }
    if (delivered_ >= budget_) return -1;
    size = std::min(size, budget_ - delivered_);
    for (;;) {
      const ssize_t n = ::recv(c_.fd, ptr, size, 0);
      if (n >= 0) {
        delivered_ += static_cast<std::size_t>(n);
        return n;
      }
      if (errno == EINTR) continue;
      if (errno != EAGAIN && errno != EWOULDBLOCK) return -1;
      if ((waitFor(c_.fd, POLLIN, c_.deadline, stopFd_) & (POLLIN | POLLHUP | POLLERR)) == 0) return -1;
    }
  }

  ssize_t write(const char* ptr, size_t size) override {
    const auto until = Clock::now() + writeTimeout_;
    for (;;) {
      const ssize_t n = ::send(c_.fd, ptr, size, MSG_NOSIGNAL);
      if (n >= 0) return n;
      if (errno == EINTR) continue;
      if (errno != EAGAIN && errno != EWOULDBLOCK) return -1;
      if ((waitFor(c_.fd, POLLOUT, until, stopFd_) & POLLOUT) == 0) return -1;
    }
  }

  void get_remote_ip_and_port(std::string& ip, int& port) const override { endpoint(c_.fd, true, ip, port); }
  void get_local_ip_and_port(std::string& ip, int& port) const override { endpoint(c_.fd, false, ip, port); }
  socket_t socket() const override { return c_.fd; }

 private:
  HttpConnection& c_;
  int stopFd_;
  std::size_t budget_;
  std::chrono::milliseconds writeTimeout_;
  std::size_t pos_ = 0;
  std::size_t delivered_ = 0;
};

}  // namespace

ConnectionServer::ConnectionServer(ConnectionLimits limits) : limits_(limits) {
  new_task_queue = [] { return new InlineQueue; };
  set_keep_alive_max_count(limits_.keepAliveRequests);
  set_keep_alive_timeout(std::chrono::ceil<std::chrono::seconds>(limits_.keepAlive).count());
  set_payload_max_length(limits_.maxBody);
  set_post_routing_handler([](const httplib::Request&, httplib::Response& res) {
    if (!tCloseAfterAnswer) return;
    res.headers.erase("Keep-Alive");
    if (!res.has_header("Connection")) res.set_header("Connection", "close");
  });
}

ConnectionServer::~ConnectionServer() {
  end();
}

void ConnectionServer::closeAfterAnswer() { tCloseAfterAnswer = true; }

Status ConnectionServer::begin() {
  wakeFd_.reset(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
  stopFd_.reset(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
  if (!wakeFd_ || !stopFd_) return Error{Errc::Io, std::string("eventfd: ") + std::strerror(errno)};
  // Listening again on the bound socket only raises its backlog.
  if (::listen(svr_sock_, kBacklog) != 0) return Error{Errc::Io, std::string("listen: ") + std::strerror(errno)};
  begun_ = true;
  reception_ = std::thread([this] { receive(); });
  for (std::size_t i = 0; i < limits_.workers; ++i) workers_.emplace_back([this] { work(); });
  return Ok{};
}

void ConnectionServer::end() {
  {
    std::lock_guard lock(mutex_);
    if (!begun_ || ended_) return;
    ended_ = true;
    stopping_ = true;
  }
  const std::uint64_t one = 1;
  (void)!::write(stopFd_.get(), &one, sizeof(one));
  readyCv_.notify_all();
  reception_.join();
  for (auto& t : workers_) t.join();
  std::lock_guard lock(mutex_);
  inbox_.clear();
  ready_.clear();
}

void ConnectionServer::wake() const {
  const std::uint64_t one = 1;
  (void)!::write(wakeFd_.get(), &one, sizeof(one));
}

bool ConnectionServer::process_and_close_socket(socket_t sock) {
  ::fcntl(sock, F_SETFL, ::fcntl(sock, F_GETFL) | O_NONBLOCK);
  auto c = std::make_unique<HttpConnection>(sock);
  c->since = Clock::now();
  c->deadline = c->since + limits_.requestDeadline;
  c->started = true;
  handIn(std::move(c));
  return true;
}

void ConnectionServer::handIn(std::unique_ptr<HttpConnection> c) {
  {
    std::lock_guard lock(mutex_);
    if (stopping_) return;  // closes it
    inbox_.push_back(std::move(c));
  }
  wake();
}

void ConnectionServer::receive() {
  std::vector<std::unique_ptr<HttpConnection>> waiting;
  std::vector<std::unique_ptr<HttpConnection>> arrived;
  std::vector<pollfd> fds;
  auto toWorkers = [this](std::unique_ptr<HttpConnection> c) {
    {
      std::lock_guard lock(mutex_);
      ready_.push_back(std::move(c));
    }
    readyCv_.notify_one();
  };
  for (;;) {
    std::size_t queued = 0;
    {
      std::lock_guard lock(mutex_);
      arrived.swap(inbox_);
      queued = ready_.size();
    }
    for (auto& c : arrived) {
      if (c->headComplete()) {  // a pipelined request left over from the last answer
        toWorkers(std::move(c));
        continue;
      }
      if (waiting.size() + queued >= limits_.maxWaiting) {
        // Full: the connection that has waited longest gives way, so that a flood of
        // silent connections cannot lock out the page's next request.
        if (waiting.empty()) continue;  // closes the newcomer
        auto oldest = std::min_element(waiting.begin(), waiting.end(),
                                       [](const auto& a, const auto& b) { return a->since < b->since; });
        *oldest = std::move(c);
        continue;
      }
      waiting.push_back(std::move(c));
    }
    arrived.clear();

    auto now = Clock::now();
    std::erase_if(waiting, [&](const std::unique_ptr<HttpConnection>& c) {
      if (now < c->deadline) return false;
      if (!c->in.empty()) sendBestEffort(c->fd, kTimeoutAnswer);
      return true;
    });

    fds.assign({{stopFd_.get(), POLLIN, 0}, {wakeFd_.get(), POLLIN, 0}});
    auto next = now + std::chrono::hours(1);
    for (const auto& c : waiting) {
      fds.push_back({c->fd, POLLIN, 0});
      next = std::min(next, c->deadline);
    }
    if (::poll(fds.data(), fds.size(), pollTimeout(next, now)) < 0 && errno != EINTR) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));  // only ENOMEM: try again
      continue;
    }
    if (fds[0].revents != 0) break;
    if (fds[1].revents != 0) {
      std::uint64_t count = 0;
      (void)!::read(wakeFd_.get(), &count, sizeof(count));
    }

    now = Clock::now();
    std::array<char, 4096> chunk;
    for (std::size_t i = 0; i < waiting.size(); ++i) {
      if (fds[i + 2].revents == 0) continue;
      HttpConnection& c = *waiting[i];
      enum { Partial, Whole, Gone, TooLarge } state = Partial;
      while (state == Partial) {
        const std::size_t room = limits_.maxHead - c.in.size();
        if (room == 0) {
          state = TooLarge;
          break;
        }
        const ssize_t n = ::recv(c.fd, chunk.data(), std::min(room, chunk.size()), 0);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
        if (n <= 0) {
          state = Gone;
          break;
        }
        if (!c.started) {
          c.started = true;
          c.deadline = now + limits_.requestDeadline;
        }
        const std::size_t from = c.in.size() < 3 ? 0 : c.in.size() - 3;
        c.in.append(chunk.data(), static_cast<std::size_t>(n));
        if (c.in.find("\r\n\r\n", from) != std::string::npos) state = Whole;
      }
      if (state == Whole) toWorkers(std::move(waiting[i]));
      if (state == TooLarge) {
        sendBestEffort(c.fd, kHeadTooLargeAnswer);
        c.finish();
      }
      if (state == Gone || state == TooLarge) waiting[i].reset();
    }
    std::erase(waiting, nullptr);
  }
}

void ConnectionServer::work() {
  for (;;) {
    std::unique_ptr<HttpConnection> c;
    {
      std::unique_lock lock(mutex_);
      readyCv_.wait(lock, [this] { return stopping_ || !ready_.empty(); });
      if (stopping_) return;
      c = std::move(ready_.front());
      ready_.pop_front();
    }
    if (!serve(*c)) {
      c->finish();
      continue;
    }
    // Kept alive: the reception waits for the next request.
    const auto now = Clock::now();
    c->since = now;
    c->started = !c->in.empty();
    c->deadline = now + (c->started ? limits_.requestDeadline : limits_.keepAlive);
    handIn(std::move(c));
  }
}

bool ConnectionServer::serve(HttpConnection& c) {
  RequestStream stream(c, stopFd_.get(), limits_.maxHead + limits_.maxBody + 4096, limits_.writeTimeout);
  tCloseAfterAnswer = false;
  const bool last = ++c.served >= limits_.keepAliveRequests;
  bool clientCloses = false;
  const bool answered = process_request(stream, last, clientCloses, nullptr);
  return answered && !last && !clientCloses && !tCloseAfterAnswer && !stopping_;
}

}  // namespace voryx::web
