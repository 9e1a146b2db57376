// `voryx serve --listen NAME` accepts that name in the Host header, and no other name. (The
// printed address and a name that does not resolve: the browser suite, access.test.mjs.)
#include <gtest/gtest.h>

#include "web/WebServer.h"

namespace voryx::web {
namespace {

TEST(HostAllowedTest, AcceptsTheNameAskedFor) {
  struct Case {
    std::string_view host, listen, name;
    bool allowed;
  };
  constexpr Case kCases[] = {
      {"MyHost.LAN:8080", "192.168.1.5", "myhost.lan", true},
      {"192.168.1.5:8080", "192.168.1.5", "myhost.lan", true},
      {"myhost.lan:8081", "192.168.1.5", "myhost.lan", false},
      {"myhost.lan.rebind.example:8080", "192.168.1.5", "myhost.lan", false},
      {"localhost:8080", "192.168.1.5", "myhost.lan", false},
      {"localhost:8080", "127.0.0.1", "ip6-localhost", true},
      {"[myhost.lan]:8080", "192.168.1.5", "myhost.lan", false},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(std::string(c.host) + " on " + std::string(c.name));
    EXPECT_EQ(hostAllowed(c.host, c.listen, 8080, c.name), c.allowed);
  }
}

}  // namespace
}  // namespace voryx::web
