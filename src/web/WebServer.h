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
// Every refusal (these, 404, 413, 503, a request httplib cannot parse) is answered with
// "Connection: close" and ends its connection; the page's own answers keep it alive. A
// refused request for a page (anything outside /api/) gets a small styled page that says
// what to do; the page's script reads the plain text answers of /api/. The how-to guide
// (/howto/..., embedded beside the page) is guarded like the page's other files; it alone
// may be shown in a frame, and only by the page itself (frame-ancestors 'self').
//
// Bounds (defaults; see ConnectionServer.h for how they are kept):
//   - a request must arrive whole, head and body, within 5 s of its first byte (of the
//     accept for a fresh connection), else 408 and closed; head at most 16 KiB (431),
//     body at most 64 KiB (413);
//   - a kept-alive connection is closed after 2 s of silence or after its 5th answer;
//   - at most 128 connections wait for a request or for a worker; one more closes the one
//     that has waited longest. Waiting costs no worker: workers serve whole requests only;
//   - 32 event streams at once (the 33rd is answered 503 and closed), 40 workers: each
//     open stream holds one, 8 are left for the page's other requests;
//   - an event stream whose reader has gone frees its worker and its slot within 0.2 s
//     (the peer's close is seen between two waits for a change); each write must make
//     progress within 5 s;
//   - an idle event stream gets a "ping" event every 0.75 s, so that the page learns
//     within 2 s that the server or the network has gone (connection.js).
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
#include "ui/kit/UiPort.h"

namespace voryx::web {

class ConnectionServer;

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
  std::chrono::milliseconds requestDeadline{5000};  // a whole request, from its first byte
  std::chrono::milliseconds keepAlive{2000};        // silence allowed between requests
  std::size_t maxWaiting = 128;      // connections without a whole request, or queued
  // An address of another site the page may show in a web frame (the how-to address);
  // its origin joins the page's frame-src and connect-src (the page asks it whether it
  // answers). Empty, this server's own path, or not an http(s) address: none.
  std::string frameAddress;
  // Called with the request's Accept-Language each time the page itself is served,
  // before the answer goes (on a worker thread): the page's texts follow the browser's
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
  // token, binds (refusing a port another server holds: Io) and serves on a thread pool
  // of its own.
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
  void routes();

  kit::UiPort& ui_;
  WebServerOptions options_;
  std::string token_;
  std::string bound_;        // the address bound, an IP literal
  std::string name_;         // the host name asked for, empty for an IP literal
  std::string hostLiteral_;  // what the printed address names: the name, else the address
  int port_ = 0;
  std::string pagePolicy_;   // Content-Security-Policy of the page, with the frame address's origin
  std::unique_ptr<ConnectionServer> server_;
  std::thread thread_;
  std::atomic<bool> stopping_{false};
  std::atomic<bool> listenEnded_{false};
  std::atomic<std::size_t> streams_{0};
};

}  // namespace voryx::web
