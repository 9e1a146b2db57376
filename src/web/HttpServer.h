#pragma once
// The web server's transport: GNU libmicrohttpd behind a small interface of our own, so
// that the routes (WebServer) see no HTTP library's types. This is the only file that
// knows the library.
//
// Threads: the library's one polling thread (epoll) reads requests, calls the handler and
// writes answers; it never waits on anything but its sockets. A request whose answer must
// wait (on the main loop) is a `Deferred`: its connection is set aside while the server's
// worker thread makes the answer. An event stream that has nothing to send is set aside
// too, and the keeper thread takes it back when `wakeStreams()` is called, when its
// `wakeBy` passes or when its reader goes away. No thread is spent on a waiting client.
//
// The defences are the library's own, set from `HttpLimits`:
//   - a connection silent for `idleTimeout` is closed (a request trickled in byte by byte
//     keeps it, as long as the bytes come);
//   - at most `maxConnections` at once, `maxPerAddress` from one address;
//   - a request head larger than `connectionMemory` is refused (431) and closed;
// and two of ours:
//   - a body over `maxBody` is refused (413, or closed when its length was not announced);
//   - at most `maxWaiting` connections wait for a request head: one more closes the one
//     that has waited longest, so a crowd of trickling clients cannot keep the page out.
#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "base/Result.h"

namespace voryx::web {

using HttpFields = std::vector<std::pair<std::string, std::string>>;

struct HttpRequest {
  std::string method;
  std::string path;   // percent-decoded, without the query
  HttpFields headers;
  HttpFields query;   // the query's arguments, decoded
  std::string body;

  // Names compare without regard to case. header(): the first one's value, "" when absent.
  std::string header(std::string_view name) const;
  std::size_t headerCount(std::string_view name) const;
  const std::string* param(std::string_view name) const;  // first ?name=, or null
};

struct HttpResponse {
  int status = 200;
  HttpFields headers;
  std::string body;
  std::string_view staticBody;  // when `body` is empty: bytes that outlive the server
  bool close = false;           // "Connection: close": the connection ends after it

  void set(std::string name, std::string value) { headers.emplace_back(std::move(name), std::move(value)); }
};

// What an open stream does next.
struct StreamStep {
  enum Kind { Send, Sleep, End } kind = End;
  std::string text;                                   // Send
  std::chrono::steady_clock::time_point wakeBy = {};  // Sleep: ask again by then at the latest
};

// An endless answer (server-sent events). next() runs on the polling thread: it must not
// wait. The stream is destroyed, on that thread, when its connection ends.
class EventStream {
 public:
  virtual ~EventStream() = default;
  virtual StreamStep next() = 0;
};

struct Streaming {
  HttpResponse head;  // status and headers; its body is not sent
  std::unique_ptr<EventStream> stream;
};

// An answer that may wait: `make` runs on the server's worker thread. Once the server
// stops, a deferred request not yet begun is answered 503 instead.
struct Deferred {
  std::function<HttpResponse()> make;
};

using HttpReply = std::variant<HttpResponse, Streaming, Deferred>;

struct HttpLimits {
  std::chrono::seconds idleTimeout{5};
  unsigned maxConnections = 256;
  unsigned maxPerAddress = 128;
  unsigned maxWaiting = 64;
  std::size_t connectionMemory = 32 * 1024;
  std::size_t maxBody = 64 * 1024;
};

struct HttpServerCore;  // HttpServer.cpp

class HttpServer {
 public:
  // `handler` runs on the polling thread, for every whole request: it must not wait.
  using Handler = std::function<HttpReply(HttpRequest&&)>;
  HttpServer(HttpLimits limits, Handler handler);
  ~HttpServer();  // stop()
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  // Binds `address` (an IP literal) and `port` (0: any free one) with SO_REUSEADDR only, so
  // that a port another server holds is refused (Io), and listens. Returns the port bound.
  // Clients may connect from here on; nothing is answered before start(), so the handler
  // can be told the port first.
  Result<int> listen(const std::string& address, int port);
  // Serves the socket of listen(). The threads it starts inherit the caller's signal mask.
  Status start();
  // Every sleeping stream is asked for its next step. Any thread.
  void wakeStreams();
  // Ends every stream, answers deferred requests not yet begun with 503, stops accepting
  // and joins the threads. Idempotent; not on the server's own threads.
  void stop();

 private:
  std::unique_ptr<HttpServerCore> impl_;
};

}  // namespace voryx::web
