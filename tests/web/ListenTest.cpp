// `voryx serve --listen NAME`: the server binds the address the name resolves to, prints
// its address with the name, and accepts that name in the Host header, but no other.
#include <gtest/gtest.h>
#include <httplib.h>

#include "ui/kit/UiApplication.h"
#include "web/WebServer.h"

namespace voryx::web {
namespace {

TEST(HostAllowedTest, AcceptsTheNameAskedFor) {
  struct Case {
    std::string_view host, listen, name;
    bool allowed;
  };
  constexpr Case kCases[] = {
      {"myhost.lan:8080", "192.168.1.5", "myhost.lan", true},
      {"MyHost.LAN:8080", "192.168.1.5", "myhost.lan", true},
      {"192.168.1.5:8080", "192.168.1.5", "myhost.lan", true},
      {"myhost.lan:8081", "192.168.1.5", "myhost.lan", false},
      {"myhost.lan", "192.168.1.5", "myhost.lan", false},
      {"other.lan:8080", "192.168.1.5", "myhost.lan", false},
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

TEST(ListenTest, ServesAtTheNameAskedFor) {
  kit::UiApplication ui;  // only refusals are asked for: no main loop needed
  WebServerOptions options;
  options.listen = "localhost";
  WebServer server(ui, options);
  ASSERT_TRUE(server.start().ok());
  const std::string port = std::to_string(server.port());
  EXPECT_EQ(server.url(), "http://localhost:" + port + "/?token=" + server.token());
  httplib::Client client("127.0.0.1", server.port());
  struct Case {
    std::string host;
    int status;  // 401: past the Host check, stopped for the missing cookie
  };
  const Case kCases[] = {{"localhost:" + port, 401}, {"127.0.0.1:" + port, 401}, {"rebind.example:" + port, 403}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.host);
    auto r = client.Get("/api/state", {{"Host", c.host}});
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, c.status);
  }
}

TEST(ListenTest, ANameThatDoesNotResolveIsAUsageError) {
  kit::UiApplication ui;
  WebServerOptions options;
  options.listen = "no-such-host.invalid";
  WebServer server(ui, options);
  auto started = server.start();
  ASSERT_FALSE(started.ok());
  EXPECT_EQ(started.error().code, Errc::Invalid);
  EXPECT_NE(started.error().detail.find("no-such-host.invalid"), std::string::npos);
}

}  // namespace
}  // namespace voryx::web
