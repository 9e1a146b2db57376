#include "web/WebServer.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <atomic>
#include <thread>

#include "ui/kit/UiApplication.h"

namespace voryx::web {
namespace {

using nlohmann::json;

class WebServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ui_.setWindow(&window_);
    main_ = std::thread([this] { ui_.loop().run(); });
    show("Vorx (0/250)");
    options_.heartbeat = std::chrono::milliseconds(300);
    server_ = std::make_unique<WebServer>(ui_, options_);
    ASSERT_TRUE(server_->start().ok());
    host_ = "127.0.0.1:" + std::to_string(server_->port());
    cookie_ = server_->cookieName() + "=" + server_->token();
  }

  void TearDown() override {
    server_.reset();
    ui_.loop().stop();
    main_.join();
  }
  // Shows one screen with this title: a new version of the state.
  void show(const std::string& title) {
    ui_.loop().performOnMain([&] {
      ui_.navigation().setRoot(std::make_unique<kit::Screen>("RootViewController"));
      ui_.navigation().top()->setTitle(title);
    }, true);
    ui_.loop().waitUntilIdle();
  }

  httplib::Client client() {
    httplib::Client c("127.0.0.1", server_->port());
    c.set_read_timeout(10);
    return c;
  }
  httplib::Headers authed(httplib::Headers extra = {}) {
    extra.emplace("Cookie", "other=1; " + cookie_);
    return extra;
  }
  int get(const std::string& path, const httplib::Headers& headers) {
    auto r = client().Get(path, headers);
    return r ? r->status : -1;
  }
  httplib::Result post(const std::string& body, httplib::Headers headers) {
    return client().Post("/api/event", headers, body, "application/json");
  }
  httplib::Headers postHeaders() { return authed({{"Origin", "http://" + host_}}); }

  // Takes the touches whose y is 20.
  struct : kit::Window {
    bool sendEvent(const kit::Touch& t) override { return t.y == 20; }
  } window_;
  kit::UiApplication ui_;
  std::thread main_;
  WebServerOptions options_;
  std::unique_ptr<WebServer> server_;
  std::string host_;
  std::string cookie_;
};

TEST_F(WebServerTest, RefusesRequestsWithoutTheRightCredentials) {
  struct Case {
    const char* name;
    std::string path;
    httplib::Headers headers;
    int status;
  };
  const Case cases[] = {
      {"no token, no cookie", "/", {}, 401},
      {"no cookie on the API", "/api/state", {}, 401},
      {"wrong token", "/?token=00000000000000000000000000000000", {}, 403},
      {"token of other length", "/?token=abc", {}, 403},
      {"wrong cookie", "/api/state", {{"Cookie", server_->cookieName() + "=nope"}}, 403},
      {"cookie of another port", "/api/state", {{"Cookie", "voryx_1=" + server_->token()}}, 401},
      {"foreign host", "/api/state", authed({{"Host", "evil.example:" + std::to_string(server_->port())}}), 403},
      {"right address, wrong port", "/api/state", authed({{"Host", "127.0.0.1:1"}}), 403},
      {"localhost on loopback", "/api/state", authed({{"Host", "localhost:" + std::to_string(server_->port())}}), 200},
      {"cookie", "/api/state", authed(), 200},
      {"page", "/", authed(), 200},
      {"unknown path", "/nothing.js", authed(), 404},
      {"path climbing out", "/../etc/passwd", authed(), 404},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(get(c.path, c.headers), c.status);
  }
}

TEST_F(WebServerTest, TokenSetsAStrictCookieAndRedirects) {
  auto r = client().Get("/?token=" + server_->token());
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status, 303);
  EXPECT_EQ(r->get_header_value("Location"), "/");
  const std::string setCookie = r->get_header_value("Set-Cookie");
  EXPECT_EQ(setCookie.rfind(cookie_ + ";", 0), 0u) << setCookie;
  for (const char* attr : {"HttpOnly", "SameSite=Strict", "Path=/"}) EXPECT_NE(setCookie.find(attr), std::string::npos);

  auto page = client().Get("/", authed());
  ASSERT_TRUE(page);
  EXPECT_EQ(page->get_header_value("Content-Type"), "text/html; charset=utf-8");
  EXPECT_EQ(page->get_header_value("X-Content-Type-Options"), "nosniff");
  EXPECT_NE(page->get_header_value("Content-Security-Policy").find("script-src 'self'"), std::string::npos);
  auto state = client().Get("/api/state", authed());
  ASSERT_TRUE(state);
  EXPECT_EQ(state->get_header_value("Cache-Control"), "no-store");
  EXPECT_EQ(json::parse(state->body)["version"], ui_.version());
}

TEST_F(WebServerTest, EventsNeedTheServersOriginAndAWellFormedBody) {
  const std::string event = R"({"version":1,"target":"leggi","action":"tap"})";
  struct Case {
    const char* name;
    std::string body;
    httplib::Headers headers;
    int status;
  };
  const Case cases[] = {
      {"no origin", event, authed(), 403},
      {"foreign origin", event, authed({{"Origin", "http://evil.example"}}), 403},
      {"origin with another port", event, authed({{"Origin", "http://127.0.0.1:1"}}), 403},
      {"not JSON", "{\"version\":1,", postHeaders(), 400},
      {"empty body", "", postHeaders(), 400},
      {"nested deeply", std::string(60000, '['), postHeaders(), 400},
      {"NUL bytes", std::string("{\"version\":1,\0}", 15), postHeaders(), 400},
      {"over 64 KiB", R"({"version":1,"target":"search","action":"change","value":")" +
                          std::string(70 * 1024, 'a') + "\"}",
       postHeaders(), 413},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto r = post(c.body, c.headers);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, c.status);
  }
  // The screens' answer comes back: the touch reached the window whole.
  auto ok = post(R"({"version":1,"target":"window","action":"touch","value":{"x":10,"y":20,"tapCount":1,"inList":true}})",
                 postHeaders());
  ASSERT_TRUE(ok);
  EXPECT_EQ(ok->status, 200);
  EXPECT_EQ(json::parse(ok->body)["consumed"], true);
  auto stale = post(event, postHeaders());
  ASSERT_TRUE(stale);
  EXPECT_EQ(stale->status, 409);
  EXPECT_EQ(json::parse(stale->body)["error"], "version 1 is not the current " + std::to_string(ui_.version()));
}

TEST_F(WebServerTest, EventStreamSendsTheLatestStateAfterAChange) {
  std::string received;
  std::mutex mu;
  std::atomic<bool> enough{false};
  std::thread reader([&] {
    client().Get("/api/events", authed(), [&](const char* data, std::size_t n) {
      std::lock_guard lock(mu);
      received.append(data, n);
      if (received.find("Vorx (2/250)") != std::string::npos && received.find(": ping") != std::string::npos)
        enough = true;
      return !enough;
    });
  });
  auto has = [&](const char* text) {
    std::lock_guard lock(mu);
    return received.find(text) != std::string::npos;
  };
  // The first state arrives at once; the changes after it arrive coalesced or one by one,
  // but the latest always arrives.
  for (int i = 0; i < 400 && !has("event: state"); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(25));
  show("Vorx (1/250)");
  show("Vorx (2/250)");
  for (int i = 0; i < 400 && !enough; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(25));
  EXPECT_TRUE(enough) << received;
  reader.join();
  EXPECT_NE(received.find("id: " + std::to_string(ui_.version()) + "\ndata: {"), std::string::npos) << received;
}

TEST_F(WebServerTest, StopEndsOpenStreamsAndCapsTheirNumber) {
  options_.maxStreams = 1;
  WebServer small(ui_, options_);
  ASSERT_TRUE(small.start().ok());
  httplib::Headers headers{{"Cookie", small.cookieName() + "=" + small.token()}};
  std::atomic<bool> open{false};
  std::thread reader([&] {
    httplib::Client c("127.0.0.1", small.port());
    c.Get("/api/events", headers, [&](const char*, std::size_t) {
      open = true;
      return true;
    });
  });
  for (int i = 0; i < 400 && !open; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(25));
  ASSERT_TRUE(open);
  httplib::Client second("127.0.0.1", small.port());
  auto refused = second.Get("/api/events", headers);
  ASSERT_TRUE(refused);
  EXPECT_EQ(refused->status, 503);
  small.stop();  // returns only once the open stream has ended
  reader.join();
}

TEST_F(WebServerTest, SecondServerCannotTakeTheSamePort) {
  options_.port = server_->port();
  WebServer second(ui_, options_);
  EXPECT_FALSE(second.start().ok());
  EXPECT_EQ(get("/api/state", authed()), 200);
}

TEST(HostAllowedTest, NamesTheBoundAddressOnly) {
  struct Case {
    std::string_view host, listen;
    bool allowed;
  };
  constexpr Case kCases[] = {
      {"LOCALHOST:8080", "127.0.0.1", true},
      {"localhost:8080", "192.168.1.5", false},
      {"192.168.1.5:8080", "192.168.1.5", true},
      {"127.0.0.1", "127.0.0.1", false},
      {"127.0.0.1:08080", "127.0.0.1", false},
      {"127.0.0.1.nip.io:8080", "127.0.0.1", false},
      {"[::1]:8080", "::1", true},
      {"localhost:8080", "::1", true},
      {"::1:8080", "::1", false},
      {"[::1", "::1", false},
      {"10.0.0.7:8080", "0.0.0.0", true},
      {"myhost.lan:8080", "0.0.0.0", false},
      {"", "127.0.0.1", false},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(std::string(c.host) + " on " + std::string(c.listen));
    EXPECT_EQ(hostAllowed(c.host, c.listen, 8080), c.allowed);
  }
}

TEST(CookieValueTest, FindsTheNamedCookieOnly) {
  EXPECT_EQ(cookieValue("a=1; voryx_80=tok; b=2", "voryx_80"), "tok");
  EXPECT_EQ(cookieValue("xvoryx_80=bad;voryx_80=ok", "voryx_80"), "ok");
  EXPECT_EQ(cookieValue("voryx_80", "voryx_80"), "");
  EXPECT_EQ(cookieValue("", "voryx_80"), "");
}

}  // namespace
}  // namespace voryx::web
