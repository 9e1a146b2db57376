#pragma once
// The screens over HTTP: the embedded page, the state snapshot, server-sent events and
// events in. The server never touches screen state: it authenticates, validates and hands
// events to the `UiPort`, which runs them on the main loop.
//
// Access control, in the order it is checked:
//   1. Host must name the bound address and port ("localhost:PORT" too when bound to
//      loopback; any IP literal with the port when bound to the wildcard address), so a
//      page reached through a foreign DNS name cannot talk to us (DNS rebinding): 403.
//   2. `?token=T` with the right token sets the session cookie and redirects to "/";
//      a wrong token is 403. Otherwise the cookie must be present (401) and right (403).
//   3. POST must carry an Origin equal to "http://" + the accepted Host: 403.
#include <atomic>
#include <chrono>
#include <cstddef>
#include <memory>
#include <string>
#include <thread>

#include "base/Result.h"
#include "ui/kit/UiPort.h"

namespace httplib {
class Server;
}

namespace voryx::web {

struct WebServerOptions {
  std::string listen = "127.0.0.1";  // an IPv4 or IPv6 literal
  int port = 0;                      // 0: any free port
  std::size_t maxStreams = 8;        // open /api/events streams at once
  std::chrono::milliseconds heartbeat{15000};  // comment line on an idle event stream
  std::size_t maxBody = 64 * 1024;   // POST /api/event
};

class WebServer {
 public:
  WebServer(kit::UiPort& port, WebServerOptions options);
  ~WebServer();  // stops
  WebServer(const WebServer&) = delete;
  WebServer& operator=(const WebServer&) = delete;

  // Binds (refusing a port another server holds) and serves on a thread pool of its own.
  Status start();
  // Ends every event stream, stops accepting and joins the threads. Idempotent; any
  // thread except the server's own.
  void stop();

  int port() const { return port_; }
  std::string origin() const;  // "http://127.0.0.1:PORT"
  std::string url() const;     // origin + "/?token=..."
  const std::string& token() const { return token_; }
  std::string cookieName() const;  // per port, so two servers on one host do not clash

 private:
  void routes();

  kit::UiPort& ui_;
  WebServerOptions options_;
  std::string token_;
  std::string hostLiteral_;  // the listen address as a Host header writes it
  int port_ = 0;
  std::unique_ptr<httplib::Server> server_;
  std::thread thread_;
  std::atomic<bool> stopping_{false};
  std::atomic<bool> listenEnded_{false};
  std::atomic<std::size_t> streams_{0};
};

// Checks of the access rules, pure so that they can be table-tested. `listen` is the
// bound address literal.
bool hostAllowed(std::string_view host, std::string_view listen, int port);
bool constantTimeEquals(std::string_view a, std::string_view b);
// The value of cookie `name` in a Cookie header, empty when absent.
std::string cookieValue(std::string_view header, std::string_view name);
std::string contentTypeFor(std::string_view path);

}  // namespace voryx::web
