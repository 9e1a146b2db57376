#include "web/HttpServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <microhttpd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <strings.h>
#include <thread>

#include "base/FileIo.h"

namespace voryx::web {

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::size_t kStreamBlock = 16 * 1024;

bool sameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() && ::strncasecmp(a.data(), b.data(), a.size()) == 0;
}

HttpResponse plain(int status, std::string text) {
  HttpResponse r;
  r.status = status;
  r.body = std::move(text) + "\n";
  r.set("Content-Type", "text/plain; charset=utf-8");
  r.set("Cache-Control", "no-store");
  r.close = true;
  return r;
}

}  // namespace

std::string HttpRequest::header(std::string_view name) const {
  for (const auto& [key, value] : headers) {
    if (sameName(key, name)) return value;
  }
  return {};
}

std::size_t HttpRequest::headerCount(std::string_view name) const {
  return static_cast<std::size_t>(
      std::count_if(headers.begin(), headers.end(), [&](const auto& h) { return sameName(h.first, name); }));
}

const std::string* HttpRequest::param(std::string_view name) const {
  for (const auto& [key, value] : query) {
    if (key == name) return &value;
  }
  return nullptr;
}

// One client connection, from its accept to its close (the library's socket context).
struct Peer {
  MHD_Connection* connection = nullptr;
  int fd = -1;
  bool waiting = true;  // for a request head: fresh, or kept alive after an answer
  Clock::time_point since = Clock::now();
};

// One request, from its head to its answer (the library's request context).
struct Exchange {
  HttpRequest request;
  enum State { Reading, Deferring, Ready } state = Reading;  // under HttpServerCore::mutex once Deferring
  bool tooLarge = false;    // answered 413 at once; the body that follows is dropped
  std::size_t dropped = 0;
  Deferred job;
  HttpResponse ready;
  MHD_Connection* connection = nullptr;
};

// One open event stream (the content reader's context).
struct StreamSlot {
  struct HttpServerCore* impl = nullptr;
  MHD_Connection* connection = nullptr;
  int fd = -1;
  std::unique_ptr<EventStream> stream;
  std::string pending;
  std::size_t offset = 0;
  // Under HttpServerCore::mutex:
  bool sleeping = false;
  bool gone = false;  // the reader has closed its side
  std::uint64_t sleep = 0;  // which sleep this is, so that a stale poll result is not taken for it
  Clock::time_point wakeBy;
};

struct HttpServerCore {
  HttpLimits limits;
  HttpServer::Handler handler;
  MHD_Daemon* daemon = nullptr;
  UniqueFd listening;  // bound and listening, until start() hands it to the library
  std::string where;   // "address:port", for the errors of start()
  int listenFd = -1;   // the library's once it runs
  UniqueFd keeperFd;  // eventfd: a stream went to sleep, or the server stops

  std::mutex mutex;
  std::condition_variable workerCv, answeredCv;
  bool stopping = false;
  std::size_t deferred = 0;      // deferred requests whose answer has not gone yet
  std::uint64_t wakeGen = 0;     // bumped by wakeStreams()
  std::uint64_t sleepCount = 0;
  std::vector<StreamSlot*> sleepers;
  std::deque<Exchange*> jobs;
  std::thread worker, keeper;

  std::vector<Peer*> peers;  // the polling thread's alone

  // Under `mutex`.
  void resume(StreamSlot* slot) {
    slot->sleeping = false;
    sleepers.erase(std::remove(sleepers.begin(), sleepers.end(), slot), sleepers.end());
    MHD_resume_connection(slot->connection);
  }
  void pokeKeeper() const {
    const std::uint64_t one = 1;
    [[maybe_unused]] auto n = ::write(keeperFd.get(), &one, sizeof(one));
  }

  MHD_Result queue(MHD_Connection* c, const HttpResponse& r);
  MHD_Result queueStream(MHD_Connection* c, Streaming&& s);
  MHD_Result answer(Exchange& ex);
  void work();
  void keep();
  void started(MHD_Connection* c, void** context);
};

namespace {

Peer* peerOf(MHD_Connection* c) {
  const MHD_ConnectionInfo* info = MHD_get_connection_info(c, MHD_CONNECTION_INFO_SOCKET_CONTEXT);
  return info ? static_cast<Peer*>(info->socket_context) : nullptr;
}

void addHeaders(MHD_Response* r, const HttpResponse& from) {
  for (const auto& [name, value] : from.headers) MHD_add_response_header(r, name.c_str(), value.c_str());
  if (from.close) MHD_add_response_header(r, MHD_HTTP_HEADER_CONNECTION, "close");
}

MHD_Result collect(void* cls, MHD_ValueKind, const char* key, std::size_t keySize, const char* value,
                   std::size_t valueSize) {
  static_cast<HttpFields*>(cls)->emplace_back(std::string(key, keySize),
                                              value ? std::string(value, valueSize) : std::string());
  return MHD_YES;
}

ssize_t readStream(void* cls, std::uint64_t, char* buf, std::size_t max) noexcept {
  auto* slot = static_cast<StreamSlot*>(cls);
  HttpServerCore& impl = *slot->impl;
  try {
    for (;;) {
      if (slot->offset < slot->pending.size()) {
        const std::size_t n = std::min(max, slot->pending.size() - slot->offset);
        std::memcpy(buf, slot->pending.data() + slot->offset, n);
        slot->offset += n;
        return static_cast<ssize_t>(n);
      }
      std::uint64_t generation = 0;
      {
        std::lock_guard lock(impl.mutex);
        if (slot->gone) return MHD_CONTENT_READER_END_WITH_ERROR;
        if (impl.stopping) return MHD_CONTENT_READER_END_OF_STREAM;
        generation = impl.wakeGen;
      }
      StreamStep step = slot->stream->next();
      if (step.kind == StreamStep::Send) {
        slot->pending = std::move(step.text);
        slot->offset = 0;
        continue;
      }
      if (step.kind == StreamStep::End) return MHD_CONTENT_READER_END_OF_STREAM;
      // Nothing to send: set the connection aside until woken. Checked under the lock that
      // wakeStreams() and stop() take, so that no wake-up falls between the step and the sleep.
      std::lock_guard lock(impl.mutex);
      if (impl.stopping) return MHD_CONTENT_READER_END_OF_STREAM;
      if (generation != impl.wakeGen) continue;
      slot->sleeping = true;
      slot->sleep = ++impl.sleepCount;
      slot->wakeBy = step.wakeBy;
      impl.sleepers.push_back(slot);
      MHD_suspend_connection(slot->connection);
      impl.pokeKeeper();
      return 0;
    }
  } catch (...) {
    return MHD_CONTENT_READER_END_WITH_ERROR;
  }
}

void freeStream(void* cls) noexcept { delete static_cast<StreamSlot*>(cls); }

MHD_Result onRequest(void* cls, MHD_Connection* c, const char* url, const char* method, const char*,
                     const char* upload, std::size_t* uploadSize, void** context) noexcept {
  auto& impl = *static_cast<HttpServerCore*>(cls);
  try {
    auto* ex = static_cast<Exchange*>(*context);
    if (!ex) {  // the head has arrived whole
      if (Peer* peer = peerOf(c)) peer->waiting = false;
      ex = new Exchange;
      *context = ex;
      ex->connection = c;
      ex->request.method = method;
      ex->request.path = url;
      MHD_get_connection_values_n(c, MHD_HEADER_KIND, &collect, &ex->request.headers);
      MHD_get_connection_values_n(c, MHD_GET_ARGUMENT_KIND, &collect, &ex->request.query);
      const std::string length = ex->request.header("Content-Length");
      std::size_t announced = 0;
      const auto [end, ec] = std::from_chars(length.data(), length.data() + length.size(), announced);
      if (!length.empty() && (ec != std::errc() || end != length.data() + length.size() ||
                              announced > impl.limits.maxBody)) {
        ex->tooLarge = true;
        return impl.queue(c, plain(413, "Request body too large"));
      }
      return MHD_YES;
    }
    if (*uploadSize != 0) {
      if (ex->tooLarge) {  // read on a while, so that the 413 is not lost to a reset
        ex->dropped += *uploadSize;
        *uploadSize = 0;
        return ex->dropped > 4 * impl.limits.maxBody ? MHD_NO : MHD_YES;
      }
      // A body sent in chunks has announced no length: the connection ends at the bound.
      if (ex->request.body.size() + *uploadSize > impl.limits.maxBody) return MHD_NO;
      ex->request.body.append(upload, *uploadSize);
      *uploadSize = 0;
      return MHD_YES;
    }
    if (ex->tooLarge) return MHD_YES;  // answered already
    return impl.answer(*ex);
  } catch (...) {
    return MHD_NO;
  }
}

void onCompleted(void* cls, MHD_Connection* c, void** context, MHD_RequestTerminationCode) noexcept {
  auto& impl = *static_cast<HttpServerCore*>(cls);
  if (auto* ex = static_cast<Exchange*>(*context); ex && ex->state != Exchange::Reading) {
    std::lock_guard lock(impl.mutex);
    --impl.deferred;
    impl.answeredCv.notify_all();
  }
  delete static_cast<Exchange*>(*context);
  *context = nullptr;
  if (Peer* peer = peerOf(c)) {  // kept alive: it waits for its next request from now
    peer->waiting = true;
    peer->since = Clock::now();
  }
}

void onConnection(void* cls, MHD_Connection* c, void** context, MHD_ConnectionNotificationCode code) noexcept {
  auto& impl = *static_cast<HttpServerCore*>(cls);
  try {
    if (code == MHD_CONNECTION_NOTIFY_STARTED) {
      impl.started(c, context);
    } else if (auto* peer = static_cast<Peer*>(*context)) {
      impl.peers.erase(std::remove(impl.peers.begin(), impl.peers.end(), peer), impl.peers.end());
      delete peer;
      *context = nullptr;
    }
  } catch (...) {
  }
}

}  // namespace

void HttpServerCore::started(MHD_Connection* c, void** context) {
  auto peer = std::make_unique<Peer>();
  peer->connection = c;
  if (const MHD_ConnectionInfo* info = MHD_get_connection_info(c, MHD_CONNECTION_INFO_CONNECTION_FD)) {
    peer->fd = info->connect_fd;
  }
  peers.push_back(peer.get());
  *context = peer.release();
  // One more waiter than allowed: the one that has waited longest gives way. Its socket is
  // shut down, not closed: the library sees the end and closes it as its own.
  Peer* oldest = nullptr;
  std::size_t waiting = 0;
  for (Peer* p : peers) {
    if (!p->waiting || p->fd < 0) continue;
    ++waiting;
    if (!oldest || p->since < oldest->since) oldest = p;
  }
  if (waiting > limits.maxWaiting && oldest) {
    ::shutdown(oldest->fd, SHUT_RDWR);
    oldest->waiting = false;
  }
}

MHD_Result HttpServerCore::queue(MHD_Connection* c, const HttpResponse& r) {
  MHD_Response* response =
      r.body.empty() && !r.staticBody.empty()
          ? MHD_create_response_from_buffer(r.staticBody.size(), const_cast<char*>(r.staticBody.data()),
                                            MHD_RESPMEM_PERSISTENT)
          : MHD_create_response_from_buffer(r.body.size(), const_cast<char*>(r.body.data()),
                                            MHD_RESPMEM_MUST_COPY);
  if (!response) return MHD_NO;
  addHeaders(response, r);
  const MHD_Result queued = MHD_queue_response(c, static_cast<unsigned>(r.status), response);
  MHD_destroy_response(response);
  return queued;
}

MHD_Result HttpServerCore::queueStream(MHD_Connection* c, Streaming&& s) {
  auto slot = std::make_unique<StreamSlot>();
  slot->impl = this;
  slot->connection = c;
  if (const MHD_ConnectionInfo* info = MHD_get_connection_info(c, MHD_CONNECTION_INFO_CONNECTION_FD)) {
    slot->fd = info->connect_fd;
  }
  slot->stream = std::move(s.stream);
  MHD_Response* response =
      MHD_create_response_from_callback(MHD_SIZE_UNKNOWN, kStreamBlock, &readStream, slot.get(), &freeStream);
  if (!response) return MHD_NO;
  slot.release();  // the response owns it now: freeStream
  s.head.close = true;
  addHeaders(response, s.head);
  const MHD_Result queued = MHD_queue_response(c, static_cast<unsigned>(s.head.status), response);
  MHD_destroy_response(response);
  return queued;
}

MHD_Result HttpServerCore::answer(Exchange& ex) {
  {
    std::lock_guard lock(mutex);
    if (ex.state == Exchange::Ready) return queue(ex.connection, ex.ready);
    if (ex.state == Exchange::Deferring) return MHD_YES;  // still being made
  }
  HttpReply reply = handler(std::move(ex.request));
  if (auto* r = std::get_if<HttpResponse>(&reply)) return queue(ex.connection, *r);
  if (auto* s = std::get_if<Streaming>(&reply)) return queueStream(ex.connection, std::move(*s));
  std::lock_guard lock(mutex);
  if (stopping) return queue(ex.connection, plain(503, "The server is stopping."));
  ex.job = std::move(std::get<Deferred>(reply));
  ex.state = Exchange::Deferring;
  ++deferred;
  jobs.push_back(&ex);
  MHD_suspend_connection(ex.connection);
  workerCv.notify_one();
  return MHD_YES;
}

// The worker: makes deferred answers one after another, then hands each back to the polling
// thread, which sends it when the connection is resumed.
void HttpServerCore::work() {
  std::unique_lock lock(mutex);
  for (;;) {
    workerCv.wait(lock, [&] { return stopping || !jobs.empty(); });
    if (jobs.empty()) return;
    Exchange* ex = jobs.front();
    jobs.pop_front();
    HttpResponse made;
    if (stopping) {
      made = plain(503, "The server is stopping.");
    } else {
      lock.unlock();
      try {
        made = ex->job.make();
      } catch (...) {
        made = plain(500, "Internal error");
      }
      lock.lock();
    }
    ex->ready = std::move(made);
    ex->state = Exchange::Ready;
    MHD_resume_connection(ex->connection);
  }
}

// The keeper: wakes sleeping streams whose time has come or whose reader has gone. A
// set-aside connection is out of the library's sight, so its socket is watched here.
void HttpServerCore::keep() {
  std::vector<pollfd> fds;
  std::vector<std::pair<StreamSlot*, std::uint64_t>> watched;
  for (;;) {
    int timeout = -1;
    fds.assign(1, pollfd{keeperFd.get(), POLLIN, 0});
    watched.clear();
    {
      std::lock_guard lock(mutex);
      if (stopping) return;
      const auto now = Clock::now();
      for (StreamSlot* slot : std::vector<StreamSlot*>(sleepers)) {
        if (slot->wakeBy <= now) {
          resume(slot);
          continue;
        }
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(slot->wakeBy - now).count();
        timeout = timeout < 0 ? static_cast<int>(left) : std::min(timeout, static_cast<int>(left));
        if (slot->fd >= 0) {
          fds.push_back(pollfd{slot->fd, POLLRDHUP, 0});
          watched.emplace_back(slot, slot->sleep);
        }
      }
    }
    if (::poll(fds.data(), fds.size(), timeout) < 0 && errno != EINTR) return;
    if (fds[0].revents & POLLIN) {
      std::uint64_t count = 0;
      [[maybe_unused]] auto n = ::read(keeperFd.get(), &count, sizeof(count));
    }
    std::lock_guard lock(mutex);
    for (std::size_t i = 1; i < fds.size(); ++i) {
      if (!(fds[i].revents & (POLLRDHUP | POLLHUP | POLLERR | POLLNVAL))) continue;
      auto [slot, sleep] = watched[i - 1];
      // Still the same sleep of the same stream: another thread may have woken it meanwhile.
      const bool same = std::find(sleepers.begin(), sleepers.end(), slot) != sleepers.end() && slot->sleep == sleep;
      if (!same) continue;
      slot->gone = true;
      resume(slot);
    }
  }
}

HttpServer::HttpServer(HttpLimits limits, Handler handler) : impl_(std::make_unique<HttpServerCore>()) {
  impl_->limits = limits;
  impl_->handler = std::move(handler);
}

HttpServer::~HttpServer() { stop(); }

Result<int> HttpServer::listen(const std::string& address, int port) {
  HttpServerCore& impl = *impl_;
  if (impl.daemon || impl.listening) return Error{Errc::Invalid, "the server listens already"};
  const std::string where = (address.find(':') != std::string::npos ? "[" + address + "]" : address) + ":" +
                            std::to_string(port);
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV | AI_PASSIVE;
  addrinfo* found = nullptr;
  if (int rc = ::getaddrinfo(address.c_str(), std::to_string(port).c_str(), &hints, &found); rc != 0 || !found) {
    return Error{Errc::Invalid, "not an address: " + address};
  }
  UniqueFd sock(::socket(found->ai_family, SOCK_STREAM | SOCK_CLOEXEC, 0));
  int yes = 1;
  // SO_REUSEADDR alone: a second server on the same port must fail to bind (SO_REUSEPORT
  // would let it share the port and take half the connections).
  // The accept queue as long as the system allows: the connection requests of a burst
  // beyond it are dropped, and a client dropped (the page, too) tries again only a second
  // later. Queued, each is accepted in turn and the limits (HttpServer.h) decide which stay.
  const bool bound = sock && ::setsockopt(sock.get(), SOL_SOCKET, SO_REUSEADDR, &yes, sizeof(yes)) == 0 &&
                     ::bind(sock.get(), found->ai_addr, found->ai_addrlen) == 0 &&
                     ::listen(sock.get(), SOMAXCONN) == 0;
  ::freeaddrinfo(found);
  if (!bound) {
    return Error{Errc::Io, "cannot listen on " + where + ": " + std::strerror(errno) + " (is another server using it?)"};
  }
  sockaddr_storage local{};
  socklen_t length = sizeof(local);
  if (::getsockname(sock.get(), reinterpret_cast<sockaddr*>(&local), &length) != 0) {
    return Error{Errc::Io, "cannot listen on " + where + ": " + std::strerror(errno)};
  }
  const int boundPort = ntohs(local.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&local)->sin6_port
                                                          : reinterpret_cast<sockaddr_in*>(&local)->sin_port);
  impl.listening = std::move(sock);
  impl.where = where;
  return boundPort;
}

Status HttpServer::start() {
  HttpServerCore& impl = *impl_;
  if (impl.daemon) return Ok{};
  if (!impl.listening) return Error{Errc::Invalid, "the server does not listen"};
  const std::string& where = impl.where;
  impl.keeperFd = UniqueFd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
  if (!impl.keeperFd) return Error{Errc::Io, std::string("cannot make an event descriptor: ") + std::strerror(errno)};

  const unsigned polling = MHD_is_feature_supported(MHD_FEATURE_EPOLL) == MHD_YES ? MHD_USE_EPOLL : MHD_USE_POLL;
  impl.listenFd = impl.listening.release();  // the library's from here on, even when it fails to start
  impl.daemon = MHD_start_daemon(
      MHD_USE_INTERNAL_POLLING_THREAD | polling | MHD_ALLOW_SUSPEND_RESUME, 0, nullptr, nullptr, &onRequest, &impl,
      MHD_OPTION_LISTEN_SOCKET, static_cast<MHD_socket>(impl.listenFd),
      MHD_OPTION_CONNECTION_TIMEOUT, static_cast<unsigned>(impl.limits.idleTimeout.count()),
      MHD_OPTION_CONNECTION_LIMIT, impl.limits.maxConnections,
      MHD_OPTION_PER_IP_CONNECTION_LIMIT, impl.limits.maxPerAddress,
      MHD_OPTION_CONNECTION_MEMORY_LIMIT, impl.limits.connectionMemory,
      MHD_OPTION_NOTIFY_COMPLETED, &onCompleted, &impl,
      MHD_OPTION_NOTIFY_CONNECTION, &onConnection, &impl,
      MHD_OPTION_END);
  if (!impl.daemon) return Error{Errc::Io, "cannot serve on " + where + ": the HTTP server did not start"};
  impl.worker = std::thread([&impl] { impl.work(); });
  impl.keeper = std::thread([&impl] { impl.keep(); });
  return Ok{};
}

void HttpServer::wakeStreams() {
  HttpServerCore& impl = *impl_;
  std::lock_guard lock(impl.mutex);
  ++impl.wakeGen;
  while (!impl.sleepers.empty()) impl.resume(impl.sleepers.back());
}

void HttpServer::stop() {
  HttpServerCore& impl = *impl_;
  if (!impl.daemon) return;
  {
    // From here on nothing is set aside: every stream ends, every deferred request not yet
    // begun is answered 503. The library stops only with no connection set aside.
    std::lock_guard lock(impl.mutex);
    impl.stopping = true;
    while (!impl.sleepers.empty()) impl.resume(impl.sleepers.back());
  }
  impl.workerCv.notify_all();
  impl.pokeKeeper();
  if (impl.worker.joinable()) impl.worker.join();
  if (impl.keeper.joinable()) impl.keeper.join();
  MHD_quiesce_daemon(impl.daemon);
  {
    // The answers made meanwhile go out before the connections are closed.
    std::unique_lock lock(impl.mutex);
    impl.answeredCv.wait_for(lock, std::chrono::seconds(1), [&] { return impl.deferred == 0; });
  }
  MHD_stop_daemon(impl.daemon);
  impl.daemon = nullptr;
  ::close(impl.listenFd);
  impl.listenFd = -1;
}

}  // namespace voryx::web
