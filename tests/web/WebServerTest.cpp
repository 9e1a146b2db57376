#include "web/WebServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <httplib.h>

#include <atomic>
#include <functional>
#include <stop_token>
#include <thread>

#include "ui/kit/UiApplication.h"

namespace voryx::web {
namespace {

using nlohmann::json;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// A client connection driven byte by byte, as a browser or an attacker would.
class RawClient {
 public:
  explicit RawClient(int port) : fd_(::socket(AF_INET, SOCK_STREAM, 0)) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof(a)) == 0;
  }
  ~RawClient() { ::close(fd_); }
  RawClient(const RawClient&) = delete;
  RawClient& operator=(const RawClient&) = delete;

  bool send(std::string_view text) {
    return connected_ && ::send(fd_, text.data(), text.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(text.size());
  }
  // Reads until `until` holds for all that arrived, the server closes, or `within` passes.
  std::string read(milliseconds within, const std::function<bool(const std::string&)>& until = nullptr) {
    const auto end = Clock::now() + within;
    for (pollfd p{fd_, POLLIN, 0}; !(until && until(got_)) && !closed_;) {
      const auto left = std::chrono::duration_cast<milliseconds>(end - Clock::now()).count();
      char buf[4096];
      if (left <= 0 || ::poll(&p, 1, static_cast<int>(left)) <= 0) break;
      const ssize_t n = ::recv(fd_, buf, sizeof(buf), 0);
      closed_ = n <= 0;
      if (n > 0) got_.append(buf, static_cast<std::size_t>(n));
    }
    return got_;
  }
  bool closed() const { return closed_; }
  // The server has answered or closed: nothing more to send on this connection.
  bool spent() {
    char c;
    return ::recv(fd_, &c, 1, MSG_DONTWAIT | MSG_PEEK) >= 0 || (errno != EAGAIN && errno != EWOULDBLOCK);
  }

 private:
  int fd_;
  bool connected_ = false;
  bool closed_ = false;
  std::string got_;
};

const auto kHeadRead = [](const std::string& s) { return s.find("\r\n\r\n") != std::string::npos; };

// Keeps `count` connections that send one byte of an endless request head every
// `interval`; a connection the server ends is opened again at the next tick.
void trickle(const std::stop_token& stop, int port, int count, milliseconds interval) {
  std::vector<std::unique_ptr<RawClient>> clients(count);
  while (!stop.stop_requested()) {
    for (auto& c : clients) {
      if (!c || c->spent()) {
        c = std::make_unique<RawClient>(port);
        c->send("GET /api/state HTTP/1.1\r\nX-Slow: ");
      }
      c->send("a");
    }
    for (auto end = Clock::now() + interval; !stop.stop_requested() && Clock::now() < end;)
      std::this_thread::sleep_for(milliseconds(10));
  }
}

class WebServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ui_.setWindow(&window_);
    main_ = std::thread([this] { ui_.loop().run(); });
    show("Vorx (0/250)");
    options_.heartbeat = std::chrono::milliseconds(300);
    options_.requestDeadline = kDeadline;
    options_.keepAlive = milliseconds(500);
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
  std::string rawHead(std::string_view line, std::string_view extra = "") {
    return std::string(line) + "\r\nHost: " + host_ + "\r\n" + std::string(extra) + "\r\n";
  }

  // Asks for the state as the page does, on a new connection each time, for `span`;
  // every answer must come within a second.
  void expectStateAnswersPromptlyDuring(milliseconds span) {
    for (auto end = Clock::now() + span; Clock::now() < end; std::this_thread::sleep_for(milliseconds(50))) {
      const auto sent = Clock::now();
      EXPECT_EQ(get("/api/state", authed()), 200);
      EXPECT_LT(Clock::now() - sent, milliseconds(1000));
    }
  }

  static constexpr milliseconds kDeadline{1000};  // of a whole request, from its first byte

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

TEST_F(WebServerTest, RefusalsEndTheConnectionAndThePagesAnswersKeepIt) {
  const std::string cookie = "Cookie: " + cookie_ + "\r\n";
  const std::string origin = "Origin: http://" + host_ + "\r\n";
  auto post = [&](const std::string& headers, const std::string& body) {
    return rawHead("POST /api/event HTTP/1.1", headers + "Content-Length: " + std::to_string(body.size()) + "\r\n") + body;
  };
  const std::string event = R"({"version":1,"target":"leggi","action":"tap"})";
  struct Case {
    const char* name;
    std::string request;
    const char* status;
    bool closes;
  };
  const Case cases[] = {
      {"no cookie", rawHead("GET /api/state HTTP/1.1"), "401", true},
      {"foreign host", "GET /api/state HTTP/1.1\r\nHost: evil.example\r\n" + cookie + "\r\n", "403", true},
      {"unknown path", rawHead("GET /nothing.js HTTP/1.1", cookie), "404", true},
      {"method without a route", rawHead("OPTIONS /api/state HTTP/1.1", cookie), "404", true},
      {"post without origin", post(cookie, event), "403", true},
      {"post body over 64 KiB", post(cookie + origin, std::string(70 * 1024, 'a')), "413", true},
      {"not HTTP", "\x16\x03\x01\x02\xfc\x03\x03\r\n\r\n", "400", true},
      {"state", rawHead("GET /api/state HTTP/1.1", cookie), "200", false},
      {"token", rawHead("GET /?token=" + server_->token() + " HTTP/1.1"), "303", false},
      {"stale event", post(cookie + origin, event), "409", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    RawClient client(server_->port());
    ASSERT_TRUE(client.send(c.request));
    const std::string head = client.read(milliseconds(2000), kHeadRead);
    EXPECT_EQ(head.substr(0, 12), std::string("HTTP/1.1 ") + c.status) << head;
    EXPECT_EQ(head.find("Connection: close") != std::string::npos, c.closes) << head;
    EXPECT_EQ(head.find("Keep-Alive:") == std::string::npos, c.closes) << head;
    client.read(milliseconds(300));
    EXPECT_EQ(client.closed(), c.closes);
    if (!c.closes) {  // the same connection serves the page's next request
      ASSERT_TRUE(client.send(rawHead("GET /api/state HTTP/1.1", cookie)));
      auto second = [&](const std::string& s) { return s.find("HTTP/1.1 200", head.size()) != std::string::npos; };
      EXPECT_TRUE(second(client.read(milliseconds(2000), second)));
    }
  }
}

TEST_F(WebServerTest, IncompleteOrSilentConnectionsAreClosedAfterTheirDeadline) {
  const std::string cookie = "Cookie: " + cookie_ + "\r\n";
  struct Case {
    const char* name;
    std::string sent;
    std::string_view answer;  // before the close
    milliseconds after;       // since the connection's first byte
  };
  const Case cases[] = {
      {"nothing", "", "", kDeadline},
      {"half a head", "GET /api/state HTTP/1.1\r\nHo", "HTTP/1.1 408", kDeadline},
      {"body shorter than its length",
       rawHead("POST /api/event HTTP/1.1", cookie + "Origin: http://" + host_ + "\r\nContent-Length: 100\r\n") + "{\"v",
       "HTTP/1.1 400", kDeadline},
      {"head over 16 KiB", "GET / HTTP/1.1\r\nX-Pad: " + std::string(17 * 1024, 'a'), "HTTP/1.1 431", milliseconds(0)},
      {"silent after an answer", rawHead("GET /api/state HTTP/1.1", cookie), "HTTP/1.1 200", options_.keepAlive},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    RawClient client(server_->port());
    const auto start = Clock::now();
    ASSERT_TRUE(c.sent.empty() || client.send(c.sent));
    const std::string got = client.read(kDeadline + milliseconds(1500));
    const auto took = std::chrono::duration_cast<milliseconds>(Clock::now() - start);
    EXPECT_TRUE(client.closed());
    EXPECT_EQ(got.substr(0, c.answer.size()), c.answer) << got.substr(0, 200);
    EXPECT_GE(took.count(), c.after.count() - 50);
    EXPECT_LE(took.count(), c.after.count() + 700);
  }
}

TEST_F(WebServerTest, TricklingHeadsDoNotHoldUpThePage) {
  // A byte every 3/5 of the deadline, for ever; 200 is more than the server keeps
  // waiting, so the ones that have waited longest give way.
  for (int count : {14, 60, 200}) {
    SCOPED_TRACE(std::to_string(count) + " connections");
    std::jthread slow(trickle, server_->port(), count, kDeadline * 3 / 5);
    expectStateAnswersPromptlyDuring(kDeadline * 5 / 2);
  }
}

TEST_F(WebServerTest, RefusedEventStreamsEndAtOnce) {
  const std::string request = rawHead("GET /api/events HTTP/1.1", "Cookie: " + cookie_ + "\r\n");
  std::vector<std::unique_ptr<RawClient>> open;
  std::thread page([&] { expectStateAnswersPromptlyDuring(milliseconds(2000)); });
  for (int i = 0; i < 200; ++i) {
    auto client = std::make_unique<RawClient>(server_->port());
    ASSERT_TRUE(client->send(request));
    const std::string head = client->read(milliseconds(2000), kHeadRead);
    if (head.rfind("HTTP/1.1 200", 0) == 0) {
      open.push_back(std::move(client));
    } else {
      EXPECT_EQ(head.rfind("HTTP/1.1 503", 0), 0u) << i << head;
      client->read(milliseconds(500));
      EXPECT_TRUE(client->closed()) << i;
    }
  }
  page.join();
  EXPECT_EQ(open.size(), WebServerOptions{}.maxStreams);
}

TEST_F(WebServerTest, AClosedEventStreamFreesItsSlotWithinASecond) {
  options_.maxStreams = 2;
  options_.heartbeat = WebServerOptions{}.heartbeat;  // no write for a while: the close itself must be seen
  WebServer small(ui_, options_);
  ASSERT_TRUE(small.start().ok());
  const std::string request = "GET /api/events HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(small.port()) +
                              "\r\nCookie: " + small.cookieName() + "=" + small.token() + "\r\n\r\n";
  auto opened = [](const std::string& s) { return s.find("event: state") != std::string::npos; };
  for (int i = 0; i < 6; ++i) {
    bool accepted = false;
    for (auto closedAt = Clock::now(); !accepted && Clock::now() - closedAt < milliseconds(1000);) {
      RawClient client(small.port());  // closed by the client at the end of the block
      accepted = client.send(request) && opened(client.read(milliseconds(1000), opened));  // a 503 ends at once
    }
    EXPECT_TRUE(accepted) << i;
  }
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
