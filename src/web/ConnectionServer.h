#pragma once
// An httplib::Server whose workers only ever serve whole requests.
//
// cpp-httplib hands each accepted socket to a pool worker that then waits for the request
// with a timeout per recv, so a client that trickles its head one byte at a time holds a
// worker for as long as it likes. Here the accept loop hands each socket to one reception
// thread instead, which waits for all of them at once (poll) until a request head has
// arrived whole, and only then passes the connection to a worker. The worker has httplib
// parse and answer that one request, then gives the connection back to the reception
// (keep-alive) or closes it. Every wait has an absolute end:
//   - a request head must be complete within `requestDeadline` of its first byte (of the
//     accept for a fresh connection), and its body within the same deadline;
//   - a kept-alive connection may stay silent for `keepAlive`, then it is closed;
//   - a head larger than `maxHead` is answered 431, a late one 408, both closing;
//   - at most `maxWaiting` connections wait for their request (at the reception or for a
//     free worker); one more closes the one that has waited longest;
//   - each write must make progress within `writeTimeout`.
// An answer that a handler marks with closeAfterAnswer() goes out with "Connection: close"
// and ends its connection.
//
// Threads: the accept loop (listen_after_bind), one reception thread and `workers`
// workers, all started by begin() and joined by end().
//
// This reaches into httplib::Server beyond its public interface: it overrides the private
// virtual process_and_close_socket (to take each accepted socket) and calls the protected
// process_request (to have one whole request parsed and answered). Both change between
// httplib versions without notice, so the build takes only the version this was checked
// against (VORYX_HTTPLIB_VERSION in CMakeLists.txt), and a test fails on any other.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include <httplib.h>

#include "base/FileIo.h"
#include "base/Result.h"

namespace voryx::web {

struct HttpConnection;  // one client connection; ConnectionServer.cpp

struct ConnectionLimits {
  std::size_t workers = 40;
  std::size_t maxWaiting = 128;
  std::size_t maxHead = 16 * 1024;
  std::size_t maxBody = 64 * 1024;
  std::chrono::milliseconds requestDeadline{5000};
  std::chrono::milliseconds keepAlive{2000};
  std::size_t keepAliveRequests = 5;  // the last answer on a connection closes it
  std::chrono::milliseconds writeTimeout{5000};
};

class ConnectionServer : public httplib::Server {
 public:
  // Takes the server's task queue and post-routing handler for itself.
  explicit ConnectionServer(ConnectionLimits limits);
  ~ConnectionServer() override;  // end()

  // Starts the reception thread and the workers. Call once the port is bound and before
  // listen_after_bind().
  Status begin();
  // Closes every connection and joins the threads. Call after stop(), once the accept
  // loop has returned. Idempotent.
  void end();

  // The answer being written on this thread is a refusal: it goes out with
  // "Connection: close" and its connection ends after it. Handlers only (worker threads).
  static void closeAfterAnswer();

 private:
  // Accept thread: queues the socket for the reception thread and returns at once.
  bool process_and_close_socket(socket_t sock) override;

  void receive();                          // reception thread
  void work();                             // worker threads
  bool serve(HttpConnection& c);               // one request; true: keep the connection
  void handIn(std::unique_ptr<HttpConnection> c);  // to the reception, from any thread
  void wake() const;

  const ConnectionLimits limits_;
  UniqueFd wakeFd_;  // eventfd: the inbox has connections; cleared by the reception
  UniqueFd stopFd_;  // eventfd: set once by end(); every wait of every thread polls it
  std::mutex mutex_;
  std::condition_variable readyCv_;
  std::vector<std::unique_ptr<HttpConnection>> inbox_;  // for the reception
  std::deque<std::unique_ptr<HttpConnection>> ready_;   // whole requests, for the workers
  std::atomic<bool> stopping_{false};               // set under mutex_
  bool begun_ = false;
  bool ended_ = false;
  std::thread reception_;
  std::vector<std::thread> workers_;
};

}  // namespace voryx::web
