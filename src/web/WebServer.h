#pragma once
// The screens over HTTP: the embedded page, the state snapshot, server-sent events and
// events in. The server never touches screen state: it authenticates, validates and hands
// events to the `UiPort`, which runs them on the main loop.
//
// Access control, in the order it is checked:
//   1. Host must name the bound address and port ("localhost:PORT" too when bound to
//      loopback; any IP literal with the port when bound to the wildcard address; the
//      host name the server was asked to listen on), so a page reached through a foreign
//      DNS name cannot talk to us (DNS rebinding): 403.
//      The icon and the web-app manifest (/voryx.svg, /manifest.webmanifest) are then
//      answered without the token: browsers fetch them without the cookie.
//   2. `?token=T` with the right token sets the session cookie and redirects to "/";
//      a wrong token is 403. Otherwise the cookie must be present (401) and right (403).
//   3. POST must carry an Origin equal to "http://" + the accepted Host: 403.
// Every refusal (these, 404, 413, 503, a request the server cannot parse) is answered with
// "Connection: close" and ends its connection; the page's own answers keep it alive. A
// refused request for a page (anything outside /api/) gets a small styled page that says
// what to do; the page's script reads the plain text answers of /api/. The how-to guide
// (/howto/..., embedded beside the page) is guarded like the page's other files; it alone
// may be shown in a frame, and only by the page itself (frame-ancestors 'self').
//
// Bounds (defaults; HttpServer.h says how they are kept):
//   - a connection silent for 5 s is closed, whether it waits for its request, in the
//     middle of one, or kept alive after an answer; a request head larger than 32 KiB is
//     refused (431), a body larger than 64 KiB too (413);
//   - at most 256 connections, 128 from one address; at most 64 wait for a request: one
//     more closes the one that has waited longest;
//   - 32 event streams at once (the 33rd is answered 503 and closed); a stream with
//     nothing to send costs no thread, and one whose reader has gone frees its slot at once;
//   - an idle event stream gets a "ping" event every 0.75 s, so that the page learns
//     within 2 s that the server or the network has gone (connection.js);
//   - what waits on the main loop (an event, the page's language) is answered by a worker
//     thread of its own: a busy main loop never holds up the state, the streams or the files.
#include <atomic>
#include <chrono>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "base/Result.h"
#include "web/AccessRules.h"
#include "web/HttpServer.h"
#include "ui/kit/UiPort.h"

namespace voryx::web {

struct WebServerOptions {
  // An IPv4 or IPv6 literal, or a host name: the server binds the name's first IPv4
  // address (else its first address) and prints its address with the name.
  std::string listen = "127.0.0.1";
  int port = 0;                      // 0: any free port
  std::filesystem::path tokenFile;   // where the token is kept (AccessToken.h); empty: a
                                     // token for this run only
  bool newToken = false;             // replace the kept token with a new one
  std::size_t maxStreams = 32;       // open /api/events streams at once
  std::chrono::milliseconds heartbeat{750};  // "ping" event on an idle event stream
  std::size_t maxBody = 64 * 1024;   // POST /api/event
  std::chrono::seconds idleTimeout{5};  // silence allowed on a connection, whatever it waits for
  unsigned maxWaiting = 64;          // connections waiting for a request head
  // An address of another site the page may show in a web frame (the how-to address);
  // its origin joins the page's frame-src and connect-src (the page asks it whether it
  // answers). Empty, this server's own path, or not an http(s) address: none.
  std::string frameAddress;
  // Called with the request's Accept-Language each time the page itself is served,
  // before the answer goes (on the server's worker thread): the page's texts follow the browser's
  // language from its first snapshot on.
  std::function<void(const std::string& acceptLanguage)> onPageLoad;
};

class WebServer {
 public:
  WebServer(kit::UiPort& port, WebServerOptions options);
  ~WebServer();  // stops
  WebServer(const WebServer&) = delete;
  WebServer& operator=(const WebServer&) = delete;

  // Resolves the listen address (Invalid when it does not resolve), reads or makes the
  // token, binds (refusing a port another server holds: Io) and serves on threads of its
  // own, which inherit the caller's signal mask.
  Status start();
  // Ends every event stream, stops accepting and joins the threads. Idempotent; any
  // thread except the server's own.
  void stop();

  int port() const { return port_; }
  std::string origin() const;  // "http://127.0.0.1:PORT", "http://localhost:PORT"
  std::string url() const;     // origin + "/?token=..."
  const std::string& token() const { return token_; }  // once started
  std::string cookieName() const;  // per port, so two servers on one host do not clash

 private:
  class StateStream;
  // Every request, in the order of the rules above. The server's polling thread: it never waits.
  HttpReply answer(HttpRequest&& request);
  HttpReply route(HttpRequest& request);

  kit::UiPort& ui_;
  WebServerOptions options_;
  std::string token_;
  std::string bound_;        // the address bound, an IP literal
  std::string name_;         // the host name asked for, empty for an IP literal
  std::string hostLiteral_;  // what the printed address names: the name, else the address
  int port_ = 0;
  std::string pagePolicy_;   // Content-Security-Policy of the page, with the frame address's origin
  std::unique_ptr<HttpServer> server_;
  std::thread watcher_;  // wakes the event streams when the state changes
  std::atomic<bool> stopping_{false};
  std::atomic<std::size_t> streams_{0};
};

}  // namespace voryx::web
