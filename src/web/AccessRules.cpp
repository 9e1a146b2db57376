#include "web/AccessRules.h"

#include <arpa/inet.h>
#include <sys/socket.h>

#include <algorithm>
#include <cctype>

namespace voryx::web {
namespace {

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

}  // namespace

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

// The page shown for a refused page request, saying `why` (plain text).
std::string refusalPage(std::string_view why) {
  return std::string("<!doctype html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
                     "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"
                     "<title>Voryx</title><link rel=\"icon\" href=\"data:,\"><style>") +
         std::string(kRefusalStyle) + "</style></head>\n<body><main><h1>Voryx</h1><p>" + htmlEscaped(why) +
         "</p></main></body></html>\n";
}

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

}  // namespace voryx::web
