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

#include "web/AccessRules.h"
#include "web/AccessToken.h"
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
HttpResponse refuse(int status, const std::string& why) {
  HttpResponse res;
  res.status = status;
  res.close = true;
  res.set("Cache-Control", "no-store");
  res.set("Content-Type", "text/plain; charset=utf-8");
  res.body = why + "\n";
  return res;
}

// A refusal of a page request (outside /api/) is a page a person reads; the API's
// refusals stay plain text for the page's script.
HttpResponse refusePage(const HttpRequest& req, int status, const std::string& why, const std::string& apiWhy) {
  if (req.path.starts_with("/api/")) return refuse(status, apiWhy);
  HttpResponse res = refuse(status, why);
  res.headers.back().second = "text/html; charset=utf-8";
  res.body = refusalPage(why);
  return res;
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

HttpResponse replyJson(int status, const json& body) {
  HttpResponse res;
  res.status = status;
  res.set("Cache-Control", "no-store");
  res.set("Content-Type", "application/json");
  res.body = dumpJson(body);
  return res;
}

// "/api/files/<id>": the id of a file the screens hand out, or empty.
std::string_view fileId(std::string_view path) {
  constexpr std::string_view prefix = "/api/files/";
  if (!path.starts_with(prefix)) return {};
  const std::string_view id = path.substr(prefix.size());
  const bool ok = !id.empty() && id.size() <= 64 && std::all_of(id.begin(), id.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '-';
  });
  return ok ? id : std::string_view{};
}

}  // namespace

// The state as server-sent events: the first state at once, then the latest state after
// each change (however many changes came in between), and a "ping" event on a stream
// idle for a heartbeat (an event, not a comment: the page's script sees it and knows the
// line is alive).
class WebServer::StateStream : public EventStream {
 public:
  explicit StateStream(WebServer& server) : server_(server) {}
  ~StateStream() override { server_.streams_.fetch_sub(1); }

  StreamStep next() override {
    const auto now = std::chrono::steady_clock::now();
    if (!sentFirst_ || server_.ui_.version() != seen_) {
      json snap = server_.ui_.snapshot();
      auto v = snap.find("version");
      seen_ = (v != snap.end() && v->is_number_unsigned()) ? v->get<std::uint64_t>() : server_.ui_.version();
      sentFirst_ = true;
      lastWrite_ = now;
      return {StreamStep::Send, "event: state\nid: " + std::to_string(seen_) + "\ndata: " + dumpJson(snap) + "\n\n"};
    }
    if (now - lastWrite_ >= server_.options_.heartbeat) {
      lastWrite_ = now;
      return {StreamStep::Send, "event: ping\ndata:\n\n"};
    }
    return {StreamStep::Sleep, {}, lastWrite_ + server_.options_.heartbeat};
  }

 private:
  WebServer& server_;
  std::uint64_t seen_ = 0;
  bool sentFirst_ = false;
  std::chrono::steady_clock::time_point lastWrite_;
};

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

  HttpLimits limits;
  limits.idleTimeout = options_.idleTimeout;
  limits.maxWaiting = options_.maxWaiting;
  limits.maxBody = options_.maxBody;
  server_ = std::make_unique<HttpServer>(limits, [this](HttpRequest&& request) { return answer(std::move(request)); });
  auto bound = server_->listen(bound_, options_.port);
  if (!bound) {
    server_.reset();
    if (bound.error().code != Errc::Io) return bound.error();
    return Error{Errc::Io, "cannot listen on " + hostLiteral_ + ":" + std::to_string(options_.port) +
                               " (is another server using it?)"};
  }
  // Known before the first request is answered: the Host rule and the cookie's name need
  // it (a page that kept asking while the server was down connects as soon as it listens).
  port_ = *bound;
  if (Status serving = server_->start(); !serving) {
    server_.reset();
    port_ = 0;
    return serving;
  }
  watcher_ = std::thread([this] {
    for (std::uint64_t seen = ui_.version(); !stopping_;) {
      const std::uint64_t now = ui_.waitForChange(seen, std::chrono::milliseconds(200));
      if (now != seen) server_->wakeStreams();
      seen = now;
    }
  });
  return Ok{};
}

void WebServer::stop() {
  if (!server_ || stopping_.exchange(true)) return;
  if (watcher_.joinable()) watcher_.join();
  server_->stop();
}

HttpReply WebServer::answer(HttpRequest&& request) {
  const bool framable = request.path.starts_with(kFramablePath);
  auto secure = [this, framable](HttpResponse& res) {  // also later, on the worker
    res.set("X-Content-Type-Options", "nosniff");
    res.set("Content-Security-Policy", framable ? framedPolicy() : pagePolicy_);
    res.set("Referrer-Policy", "no-referrer");
    res.set("X-Frame-Options", framable ? "SAMEORIGIN" : "DENY");
  };
  HttpReply reply = route(request);
  if (auto* res = std::get_if<HttpResponse>(&reply)) secure(*res);
  if (auto* streaming = std::get_if<Streaming>(&reply)) secure(streaming->head);
  if (auto* deferred = std::get_if<Deferred>(&reply)) {
    deferred->make = [make = std::move(deferred->make), secure]() mutable {
      HttpResponse res = make();
      secure(res);
      return res;
    };
  }
  return reply;
}

HttpReply WebServer::route(HttpRequest& req) {
  const std::string host = req.header("Host");
  if (req.headerCount("Host") != 1 || !hostAllowed(host, bound_, port_, name_)) {
    const std::string why = "This server answers only at " + origin() + ".";
    return refusePage(req, 403, why, why);
  }
  const bool get = req.method == "GET" || req.method == "HEAD";
  const bool isPublic = get && std::find(kPublicPaths.begin(), kPublicPaths.end(), req.path) != kPublicPaths.end();
  if (!isPublic) {
    if (const std::string* token = req.param("token")) {
      if (!constantTimeEquals(*token, token_)) {
        return refusePage(req, 403, kSessionEnded, "Wrong token: open the address that voryx serve printed.");
      }
      HttpResponse res;
      res.status = 303;
      res.set("Set-Cookie", cookieName() + "=" + token_ + "; Path=/; HttpOnly; SameSite=Strict");
      res.set("Cache-Control", "no-store");
      res.set("Location", "/");
      return res;
    }
    const std::string cookie = cookieValue(req.header("Cookie"), cookieName());
    if (cookie.empty()) {
      return refusePage(req, 401, kSessionEnded, "Open the address that voryx serve printed (it carries the access token).");
    }
    if (!constantTimeEquals(cookie, token_)) {
      return refusePage(req, 403, kSessionEnded, "Stale session: open the address that voryx serve printed.");
    }
    if (req.method == "POST" && req.header("Origin") != "http://" + host) {
      return refuse(403, "Cross-origin requests are refused.");
    }
  }

  if (req.method == "POST" && req.path == "/api/event") {
    // The screens check the event's members; here only that it is shallow JSON.
    json ev = parseEventBody(req.body);
    if (ev.is_discarded()) return replyJson(400, {{"consumed", false}, {"error", "the body is not JSON, or nests too deeply"}});
    return Deferred{[this, ev = std::move(ev)] {
      kit::EventResult r = ui_.dispatch(ev);
      json body{{"consumed", r.consumed}, {"version", ui_.version()}};
      if (!r.error.empty()) body["error"] = r.error;
      return replyJson((r.status >= 200 && r.status <= 599) ? r.status : 500, body);
    }};
  }
  if (!get) return refuse(404, "Not found");
  if (req.path == "/api/state") return replyJson(200, ui_.snapshot());
  if (req.path == "/api/events" && req.method == "GET") {
    if (streams_.fetch_add(1) >= options_.maxStreams) {
      streams_.fetch_sub(1);
      HttpResponse res = refuse(503, "Too many open event streams.");
      res.set("Retry-After", "5");
      return res;
    }
    Streaming streaming;
    streaming.stream = std::make_unique<StateStream>(*this);  // gives the slot back when it ends
    streaming.head.set("Content-Type", "text/event-stream");
    streaming.head.set("Cache-Control", "no-store");
    return streaming;
  }
  if (const std::string_view id = fileId(req.path); !id.empty()) {
    auto file = ui_.file(std::string(id));
    if (!file) return refuse(404, "Not found");
    HttpResponse res;
    res.set("Cache-Control", "private, max-age=3600");
    res.set("Content-Type", file->type);
    if (!file->name.empty()) res.set("Content-Disposition", "attachment; filename=\"" + file->name + "\"");
    res.body = std::move(file->data);
    return res;
  }
  const std::string path = req.path.ends_with('/') ? req.path + "index.html" : req.path;
  for (std::size_t i = 0; i < kEmbeddedAssetCount; ++i) {
    if (kEmbeddedAssets[i].path != path) continue;
    HttpResponse res;
    res.set("Cache-Control", "no-cache");
    res.set("Content-Type", contentTypeFor(path));
    res.staticBody = kEmbeddedAssets[i].data;
    if (path != "/index.html" || !options_.onPageLoad) return res;
    // The page's texts follow the browser's language: set before the page goes, on the
    // worker (the language is the main loop's).
    return Deferred{[this, res, language = req.header("Accept-Language")] {
      options_.onPageLoad(language);
      return res;
    }};
  }
  return refuse(404, "Not found");
}

}  // namespace voryx::web
