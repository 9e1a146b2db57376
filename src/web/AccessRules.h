#pragma once
// The access rules and the policies of the page (WebServer.h gives the order they are
// checked in): which Host names us, the token's comparison, the session cookie, the frame
// address, the content types, the Content-Security-Policy and the refusal page. Pure
// functions, any thread, so that they can be table-tested.
#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace voryx::web {

// `listen` is the
// bound address literal, `name` the host name the server was asked to listen on (empty:
// none).
bool hostAllowed(std::string_view host, std::string_view listen, int port, std::string_view name = {});
bool constantTimeEquals(std::string_view a, std::string_view b);
// The value of cookie `name` in a Cookie header, empty when absent.
std::string cookieValue(std::string_view header, std::string_view name);
std::string contentTypeFor(std::string_view path);
// "scheme://host[:port]" of an absolute http(s) address, scheme and host in lower case, or
// nothing: a path of this server, another scheme, user info, or a byte that has no place
// in a policy (blanks, ';', ',', quotes, controls, anything outside ASCII).
std::optional<std::string> frameOrigin(std::string_view address);


// The guide's pages, the only ones that may be shown in a frame (by the page itself).
inline constexpr std::string_view kFramablePath = "/howto/";
// The icon and the web-app manifest are answered without the token: a browser fetches them
// for its home screen or its tab without our cookie (a manifest by default without
// credentials), and they hold nothing that the package does not ship to anyone.
inline constexpr std::array<std::string_view, 2> kPublicPaths{"/voryx.svg", "/manifest.webmanifest"};

// The Content-Security-Policy of the page, its frames allowed `extraOrigin` too (empty:
// none), and that of the guide's pages.
std::string pagePolicy(const std::string& extraOrigin);
const std::string& framedPolicy();

// The page shown for a refused page request, saying `why` (plain text).
std::string refusalPage(std::string_view why);

// An IP literal, v4 or v6; none for anything else.
struct Address {
  int family = 0;  // AF_INET or AF_INET6
  std::array<unsigned char, 16> bytes{};
  bool operator==(const Address&) const = default;
};
std::optional<Address> parseAddress(std::string_view text);

}  // namespace voryx::web
