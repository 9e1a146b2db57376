#include "web/WebServer.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>
#include <memory>
#include <optional>
#include <string_view>

#include <httplib.h>

#include "web/AccessRules.h"
#include "web/AccessToken.h"
#include "web/ConnectionServer.h"
#include "web/EventBody.h"

namespace voryx::web {

struct EmbeddedAsset {
  std::string_view path;
  std::string_view data;
};
extern const EmbeddedAsset kEmbeddedAssets[];
extern const std::size_t kEmbeddedAssetCount;


namespace {

using nlohmann::json;

// What a browser that opened a page without a valid token is told.
constexpr const char* kSessionEnded = "This session has ended: open the address that voryx serve printed.";

std::string dumpJson(const json& j) {
  // Texts come from the SIM and the address book: never let a stray byte end a response.
  return j.dump(-1, ' ', false, json::error_handler_t::replace);
}

// A refused request also ends its connection, so that a client without the token (or
// past a limit) does not keep a connection open on the strength of a refusal.
void refuse(httplib::Response& res, int status, const std::string& why) {
  ConnectionServer::closeAfterAnswer();
  res.status = status;
  res.set_header("Cache-Control", "no-store");
  res.set_content(why + "\n", "text/plain; charset=utf-8");
}

// A refusal of a page request (outside /api/) is a page a person reads; the API's
// refusals stay plain text for the page's script.
void refusePage(const httplib::Request& req, httplib::Response& res, int status, const std::string& why,
                const std::string& apiWhy) {
  if (req.path.starts_with("/api/")) {
    refuse(res, status, apiWhy);
    return;
  }
  ConnectionServer::closeAfterAnswer();
  res.status = status;
  res.set_header("Cache-Control", "no-store");
  res.set_content(refusalPage(why), "text/html; charset=utf-8");
}

// The address to bind for `listen`: the literal itself, else the name's first IPv4
// address (the loopback name "localhost" gives 127.0.0.1, as the default listens), else
// its first address.
Result<std::string> resolveListen(const std::string& listen) {
  if (parseAddress(listen)) return listen;
  if (listen.empty() || listen.size() > 253) return Error{Errc::Invalid, "not an address or a host name: " + listen};
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (int rc = ::getaddrinfo(listen.c_str(), nullptr, &hints, &found); rc != 0) {
    return Error{Errc::Invalid, "cannot resolve " + listen + ": " + ::gai_strerror(rc)};
  }
  const addrinfo* chosen = nullptr;
  for (const addrinfo* a = found; a; a = a->ai_next) {
    if (a->ai_family == AF_INET && !chosen) chosen = a;
  }
  for (const addrinfo* a = found; a && !chosen; a = a->ai_next) {
    if (a->ai_family == AF_INET6) chosen = a;
  }
  char text[INET6_ADDRSTRLEN] = {};
  const void* bytes = nullptr;
  if (chosen && chosen->ai_family == AF_INET) bytes = &reinterpret_cast<const sockaddr_in*>(chosen->ai_addr)->sin_addr;
  if (chosen && chosen->ai_family == AF_INET6) bytes = &reinterpret_cast<const sockaddr_in6*>(chosen->ai_addr)->sin6_addr;
  const bool named = bytes && ::inet_ntop(chosen->ai_family, bytes, text, sizeof(text));
  ::freeaddrinfo(found);
  if (!named) return Error{Errc::Invalid, "no IP address for " + listen};
  return std::string(text);
}

void replyJson(httplib::Response& res, int status, const json& body) {
  res.status = status;
  res.set_header("Cache-Control", "no-store");
  res.set_content(dumpJson(body), "application/json");
}

}  // namespace

WebServer::WebServer(kit::UiPort& port, WebServerOptions options)
    : ui_(port), options_(std::move(options)) {}

WebServer::~WebServer() { stop(); }

std::string WebServer::cookieName() const { return "voryx_" + std::to_string(port_); }

std::string WebServer::origin() const {
  return "http://" + hostLiteral_ + ":" + std::to_string(port_);
}

std::string WebServer::url() const { return origin() + "/?token=" + token_; }

Status WebServer::start() {
  if (options_.port < 0 || options_.port > 65535)
    return Error{Errc::Invalid, "not a port: " + std::to_string(options_.port)};
  auto address = resolveListen(options_.listen);
  if (!address) return address.error();
  bound_ = *address;
  name_ = bound_ == options_.listen ? "" : options_.listen;
  hostLiteral_ = !name_.empty() ? name_ : parseAddress(bound_)->family == AF_INET6 ? "[" + bound_ + "]" : bound_;
  pagePolicy_ = pagePolicy(frameOrigin(options_.frameAddress).value_or(""));
  if (options_.tokenFile.empty()) {
    token_ = makeToken();
  } else {
    auto kept = keptToken(options_.tokenFile, options_.newToken);
    if (!kept) return kept.error();
    token_ = *kept;
  }

  ConnectionLimits limits;
  // Each event stream holds a worker for as long as it is open; the pool leaves room for
  // the page's other requests when every stream is taken.
  limits.workers = options_.maxStreams + 8;
  limits.maxWaiting = options_.maxWaiting;
  limits.maxBody = options_.maxBody;
  limits.requestDeadline = options_.requestDeadline;
  limits.keepAlive = options_.keepAlive;
  server_ = std::make_unique<ConnectionServer>(limits);
  // SO_REUSEADDR alone: a second server on the same port must fail to bind (the default
  // SO_REUSEPORT would let it share the port and steal half the connections).
  server_->set_socket_options([](int sock) {
    int yes = 1;
    setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof(yes));
  });
  server_->set_tcp_nodelay(true);
  routes();

  if (options_.port == 0) {
    port_ = server_->bind_to_any_port(bound_);
  } else {
    port_ = server_->bind_to_port(bound_, options_.port) ? options_.port : -1;
  }
  if (port_ < 0) {
    port_ = 0;
    server_.reset();
    return Error{Errc::Io, "cannot listen on " + hostLiteral_ + ":" + std::to_string(options_.port) +
                               " (is another server using it?)"};
  }
  if (Status begun = server_->begin(); !begun) {
    port_ = 0;
    server_.reset();
    return begun;
  }
  thread_ = std::thread([this] {
    server_->listen_after_bind();
    listenEnded_ = true;
  });
  return Ok{};
}

void WebServer::stop() {
  if (!server_ || stopping_.exchange(true)) return;
  // stop() is ignored until the accept loop runs.
  while (!server_->is_running() && !listenEnded_) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  server_->stop();
  if (thread_.joinable()) thread_.join();
  server_->end();
}

void WebServer::routes() {
  server_->set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
    res.set_header("X-Content-Type-Options", "nosniff");
    const bool framable = req.path.starts_with(kFramablePath);
    res.set_header("Content-Security-Policy", framable ? framedPolicy() : pagePolicy_);
    res.set_header("Referrer-Policy", "no-referrer");
    res.set_header("X-Frame-Options", framable ? "SAMEORIGIN" : "DENY");

    const std::string host = req.get_header_value("Host");
    if (req.get_header_value_count("Host") != 1 || !hostAllowed(host, bound_, port_, name_)) {
      const std::string why = "This server answers only at " + origin() + ".";
      refusePage(req, res, 403, why, why);
      return httplib::Server::HandlerResponse::Handled;
    }
    if (req.method == "GET" && std::find(kPublicPaths.begin(), kPublicPaths.end(), req.path) != kPublicPaths.end()) {
      return httplib::Server::HandlerResponse::Unhandled;
    }
    if (req.has_param("token")) {
      if (!constantTimeEquals(req.get_param_value("token"), token_)) {
        refusePage(req, res, 403, kSessionEnded, "Wrong token: open the address that voryx serve printed.");
        return httplib::Server::HandlerResponse::Handled;
      }
      res.set_header("Set-Cookie", cookieName() + "=" + token_ + "; Path=/; HttpOnly; SameSite=Strict");
      res.set_header("Cache-Control", "no-store");
      res.set_redirect("/", 303);
      return httplib::Server::HandlerResponse::Handled;
    }
    const std::string cookie = cookieValue(req.get_header_value("Cookie"), cookieName());
    if (cookie.empty()) {
      refusePage(req, res, 401, kSessionEnded,
                 "Open the address that voryx serve printed (it carries the access token).");
      return httplib::Server::HandlerResponse::Handled;
    }
    if (!constantTimeEquals(cookie, token_)) {
      refusePage(req, res, 403, kSessionEnded, "Stale session: open the address that voryx serve printed.");
      return httplib::Server::HandlerResponse::Handled;
    }
    if (req.method == "POST" && req.get_header_value("Origin") != "http://" + host) {
      refuse(res, 403, "Cross-origin requests are refused.");
      return httplib::Server::HandlerResponse::Handled;
    }
    return httplib::Server::HandlerResponse::Unhandled;
  });

  server_->set_error_handler(httplib::Server::HandlerWithResponse([](const httplib::Request&,
                                                                     httplib::Response& res) {
    if (!res.body.empty()) return httplib::Server::HandlerResponse::Unhandled;
    ConnectionServer::closeAfterAnswer();  // httplib's own refusals: unparsable, too large, no route
    const char* text = res.status == 404   ? "Not found"
                       : res.status == 413 ? "Request body too large"
                                           : "Bad request";
    res.set_content(std::string(text) + "\n", "text/plain; charset=utf-8");
    return httplib::Server::HandlerResponse::Handled;
  }));

  server_->Get("/api/state", [this](const httplib::Request&, httplib::Response& res) {
    replyJson(res, 200, ui_.snapshot());
  });

  server_->Get("/api/events", [this](const httplib::Request&, httplib::Response& res) {
    if (streams_.fetch_add(1) >= options_.maxStreams) {
      streams_.fetch_sub(1);
      res.set_header("Retry-After", "5");
      refuse(res, 503, "Too many open event streams.");
      return;
    }
    struct Stream {
      std::uint64_t seen = 0;
      bool sentFirst = false;
      std::chrono::steady_clock::time_point lastWrite = std::chrono::steady_clock::now();
    };
    auto stream = std::make_shared<Stream>();
    res.set_header("Cache-Control", "no-store");
    res.set_chunked_content_provider(
        "text/event-stream",
        [this, stream](std::size_t, httplib::DataSink& sink) {
          auto send = [&](const std::string& text) {
            stream->lastWrite = std::chrono::steady_clock::now();
            return sink.write(text.data(), text.size());
          };
          if (stopping_) {
            sink.done();
            return true;
          }
          // The reader has gone (closed its side): end now and free the slot, rather than
          // at the next heartbeat that fails.
          if (!sink.is_writable()) return false;
          std::uint64_t now = stream->sentFirst
                                  ? ui_.waitForChange(stream->seen, std::chrono::milliseconds(200))
                                  : ui_.version();
          if (stopping_) {
            sink.done();
            return true;
          }
          if (!stream->sentFirst || now != stream->seen) {
            // Coalesced: however many changes happened, the reader gets the latest state.
            json snap = ui_.snapshot();
            auto v = snap.find("version");
            stream->seen = (v != snap.end() && v->is_number_unsigned()) ? v->get<std::uint64_t>() : now;
            stream->sentFirst = true;
            return send("event: state\nid: " + std::to_string(stream->seen) + "\ndata: " + dumpJson(snap) +
                        "\n\n");
          }
          // An event, not a comment: the page's script sees it and knows the line is alive.
          if (std::chrono::steady_clock::now() - stream->lastWrite >= options_.heartbeat) {
            return send("event: ping\ndata:\n\n");
          }
          return true;
        },
        [this](bool) { streams_.fetch_sub(1); });
  });

  server_->Post("/api/event", [this](const httplib::Request& req, httplib::Response& res) {
    // The screens check the event's members; here only that it is shallow JSON.
    json ev = parseEventBody(req.body);
    if (ev.is_discarded()) {
      replyJson(res, 400, {{"consumed", false}, {"error", "the body is not JSON, or nests too deeply"}});
      return;
    }
    kit::EventResult r = ui_.dispatch(ev);
    json body{{"consumed", r.consumed}, {"version", ui_.version()}};
    if (!r.error.empty()) body["error"] = r.error;
    replyJson(res, (r.status >= 200 && r.status <= 599) ? r.status : 500, body);
  });

  server_->Get(R"(/api/files/([0-9A-Za-z-]{1,64}))", [this](const httplib::Request& req, httplib::Response& res) {
    auto file = ui_.file(req.matches[1].str());
    if (!file) {
      refuse(res, 404, "Not found");
      return;
    }
    res.set_header("Cache-Control", "private, max-age=3600");
    res.set_header("X-Content-Type-Options", "nosniff");
    if (!file->name.empty()) {
      res.set_header("Content-Disposition", "attachment; filename=\"" + file->name + "\"");
    }
    res.set_content(file->data, file->type);
  });

  server_->Get(R"(/.*)", [this](const httplib::Request& req, httplib::Response& res) {
    const std::string path = req.path.ends_with('/') ? req.path + "index.html" : req.path;
    if (path == "/index.html" && options_.onPageLoad) options_.onPageLoad(req.get_header_value("Accept-Language"));
    for (std::size_t i = 0; i < kEmbeddedAssetCount; ++i) {
      if (kEmbeddedAssets[i].path == path) {
        res.set_header("Cache-Control", "no-cache");
        res.set_content(kEmbeddedAssets[i].data.data(), kEmbeddedAssets[i].data.size(), contentTypeFor(path));
        return;
      }
    }
    refuse(res, 404, "Not found");
  });
}

}  // namespace voryx::web
