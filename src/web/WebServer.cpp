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

// The style of the refusal page, inline because a refused browser cannot fetch our
// stylesheet. The policy below allows exactly this text by its hash: after a change,
//   printf %s "$STYLE" | openssl dgst -sha256 -binary | base64
// gives the new one (the browser suite checks that the refusal page is styled).
constexpr std::string_view kRefusalStyle =
    "html,body{margin:0;height:100%;background:#2b2f36;font-family:system-ui,sans-serif}"
    "main{box-sizing:border-box;max-width:720px;min-height:100%;margin:0 auto;background:#fff}"
    "h1{margin:0;height:44px;line-height:43px;text-align:center;font-size:19px;color:#fff;"
    "background:linear-gradient(#b0bccd,#6d84a2);border-bottom:1px solid #2d3642;"
    "text-shadow:1px 0 #000,-1px 0 #000,0 1px #000,0 -1px #000,1px 1px #000,-1px -1px #000,"
    "1px -1px #000,-1px 1px #000}"
    "p{margin:0;padding:48px 24px;text-align:center;font-size:17px;line-height:1.4;color:#3d4a5c;"
    "overflow-wrap:anywhere}";

// What a page of ours may do: its own scripts and styles (and the refusal page's one
// style element), requests to its own origin, frames of its own (and of the frame
// address), nothing else inline, never inside a frame. The how-to guide runs no script
// and may be shown in a frame of the page, never of another site's.
constexpr std::string_view kStyleSources =
    "style-src 'self' 'sha256-LjCluPysV7GWcQ1c9Pf1TTYgKGFWe7HVCAvHRo7Wc04='; img-src 'self' data:; ";
constexpr std::string_view kFramablePath = "/howto/";
// The icon and the web-app manifest are answered without the token: a browser fetches them
// for its home screen or its tab without our cookie (a manifest by default without
// credentials), and they hold nothing that the package does not ship to anyone.
constexpr std::array<std::string_view, 2> kPublicPaths{"/voryx.svg", "/manifest.webmanifest"};

std::string pagePolicy(const std::string& extraOrigin) {
  const std::string sources = "'self'" + (extraOrigin.empty() ? "" : " " + extraOrigin);
  return "default-src 'none'; script-src 'self'; " + std::string(kStyleSources) + "connect-src " + sources +
         "; frame-src " + sources + "; manifest-src 'self'; base-uri 'none'; form-action 'none'; frame-ancestors 'none'";
}

const std::string& framedPolicy() {
  static const std::string policy = "default-src 'none'; " + std::string(kStyleSources) +
                                    "base-uri 'none'; form-action 'none'; frame-ancestors 'self'";
  return policy;
}

// What a browser that opened a page without a valid token is told.
constexpr const char* kSessionEnded = "This session has ended: open the address that voryx serve printed.";

struct Address {
  int family = 0;
  std::array<unsigned char, 16> bytes{};
  bool operator==(const Address&) const = default;
};

std::optional<Address> parseAddress(std::string_view text) {
  if (text.empty() || text.size() > 64) return std::nullopt;
  std::string s(text);
  Address a;
  if (inet_pton(AF_INET, s.c_str(), a.bytes.data()) == 1) {
    a.family = AF_INET;
    return a;
  }
  if (inet_pton(AF_INET6, s.c_str(), a.bytes.data()) == 1) {
    a.family = AF_INET6;
    return a;
  }
  return std::nullopt;
}

bool isLoopback(const Address& a) {
  if (a.family == AF_INET) return a.bytes[0] == 127;
  static constexpr std::array<unsigned char, 16> kV6Loopback{0, 0, 0, 0, 0, 0, 0, 0,
                                                            0, 0, 0, 0, 0, 0, 0, 1};
  return a.bytes == kV6Loopback;
}

bool isWildcard(const Address& a) {
  return a.bytes == std::array<unsigned char, 16>{};
}

bool equalsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

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

std::string htmlEscaped(std::string_view text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

// The page shown for a refused page request, saying `why` (plain text).
std::string refusalPage(std::string_view why) {
  return std::string("<!doctype html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
                     "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"
                     "<title>Voryx</title><link rel=\"icon\" href=\"data:,\"><style>") +
         std::string(kRefusalStyle) + "</style></head>\n<body><main><h1>Voryx</h1><p>" + htmlEscaped(why) +
         "</p></main></body></html>\n";
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

bool hostAllowed(std::string_view host, std::string_view listen, int port, std::string_view askedName) {
  std::string_view name;
  std::string_view portText;
  if (!host.empty() && host.front() == '[') {
    auto close = host.find(']');
    if (close == std::string_view::npos) return false;
    name = host.substr(1, close - 1);
    std::string_view rest = host.substr(close + 1);
    if (!rest.empty()) {
      if (rest.front() != ':') return false;
      portText = rest.substr(1);
    }
  } else {
    auto colon = host.rfind(':');
    if (colon != std::string_view::npos && host.find(':') != colon) return false;  // bare IPv6
    name = host.substr(0, colon);
    if (colon != std::string_view::npos) portText = host.substr(colon + 1);
  }
  // Browsers leave the port out only when it is the scheme's default.
  if (portText.empty() ? port != 80 : portText != std::to_string(port)) return false;
  auto bound = parseAddress(listen);
  if (!bound) return false;
  auto named = parseAddress(name);
  if (named) return *named == *bound || isWildcard(*bound);
  if (!host.empty() && host.front() == '[') return false;  // brackets hold an IPv6 literal, never a name
  if (!askedName.empty() && equalsIgnoreCase(name, askedName)) return true;
  return isLoopback(*bound) && equalsIgnoreCase(name, "localhost");
}

bool constantTimeEquals(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;  // the token's length is no secret
  unsigned char diff = 0;
  for (std::size_t i = 0; i < a.size(); ++i) diff |= static_cast<unsigned char>(a[i] ^ b[i]);
  return diff == 0;
}

std::string cookieValue(std::string_view header, std::string_view name) {
  while (!header.empty()) {
    auto semi = header.find(';');
    std::string_view pair = header.substr(0, semi);
    header = semi == std::string_view::npos ? std::string_view() : header.substr(semi + 1);
    while (!pair.empty() && pair.front() == ' ') pair.remove_prefix(1);
    auto eq = pair.find('=');
    if (eq != std::string_view::npos && pair.substr(0, eq) == name) return std::string(pair.substr(eq + 1));
  }
  return {};
}

std::optional<std::string> frameOrigin(std::string_view address) {
  auto lower = [](std::string_view text) {
    std::string out(text);
    for (char& c : out) c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    return out;
  };
  auto all = [](std::string_view text, auto allowed) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [&](char c) { return allowed(static_cast<unsigned char>(c)); });
  };
  const auto sep = address.find("://");
  if (sep == std::string_view::npos) return std::nullopt;
  const std::string scheme = lower(address.substr(0, sep));
  if (scheme != "http" && scheme != "https") return std::nullopt;
  const std::string_view rest = address.substr(sep + 3);
  const std::string_view authority = rest.substr(0, rest.find_first_of("/?#"));
  std::string_view host = authority;
  std::string_view port;
  bool hasPort = false;
  if (authority.starts_with('[')) {  // [IPv6]
    const auto close = authority.find(']');
    if (close == std::string_view::npos) return std::nullopt;
    host = authority.substr(0, close + 1);
    const std::string_view after = authority.substr(close + 1);
    if (!after.empty() && after.front() != ':') return std::nullopt;
    hasPort = !after.empty();
    if (hasPort) port = after.substr(1);
    if (!all(host.substr(1, host.size() - 2), [](unsigned char c) { return std::isxdigit(c) || c == ':' || c == '.'; }))
      return std::nullopt;
  } else {
    const auto colon = authority.find(':');
    hasPort = colon != std::string_view::npos;
    if (hasPort) {
      host = authority.substr(0, colon);
      port = authority.substr(colon + 1);
    }
    if (host.size() > 253 || !all(host, [](unsigned char c) { return std::isalnum(c) || c == '-' || c == '.'; }))
      return std::nullopt;
  }
  std::string origin = scheme + "://" + lower(host);
  if (hasPort) {
    if (port.size() > 5 || !all(port, [](unsigned char c) { return std::isdigit(c); })) return std::nullopt;
    const int number = std::stoi(std::string(port));
    if (number < 1 || number > 65535) return std::nullopt;
    origin += ":" + std::to_string(number);
  }
  return origin;
}

std::string contentTypeFor(std::string_view path) {
  struct Type {
    std::string_view ext, type;
  };
  static constexpr Type kTypes[] = {
      {".html", "text/html; charset=utf-8"}, {".js", "text/javascript; charset=utf-8"},
      {".mjs", "text/javascript; charset=utf-8"}, {".css", "text/css; charset=utf-8"},
      {".json", "application/json"}, {".webmanifest", "application/manifest+json"}, {".svg", "image/svg+xml"}, {".png", "image/png"},
      {".ico", "image/x-icon"}, {".txt", "text/plain; charset=utf-8"},
  };
  for (const auto& t : kTypes) {
    if (path.size() >= t.ext.size() && path.substr(path.size() - t.ext.size()) == t.ext)
      return std::string(t.type);
  }
  return "application/octet-stream";
}

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
