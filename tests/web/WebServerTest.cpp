#include "web/WebServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <functional>
#include <stop_token>
#include <thread>

#include "ui/kit/UiApplication.h"

namespace voryx::web {
namespace {

using nlohmann::json;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

struct Answer {
  int status = -1;  // -1: none came
  std::string head, body;
};

// A client connection driven byte by byte, as a browser or an attacker would; from
// 127.0.0.1, or from another loopback address.
class RawClient {
 public:
  explicit RawClient(int port, const char* from = nullptr) : fd_(::socket(AF_INET, SOCK_STREAM, 0)) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    if (from) {
      ::inet_pton(AF_INET, from, &a.sin_addr);
      if (::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof(a)) != 0) return;
    }
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
  // Sends a request and reads its answer (the head, and the body its Content-Length names).
  Answer exchange(std::string_view request, milliseconds within = milliseconds(10000)) {
    const std::size_t from = got_.size();
    if (!send(request)) return {};
    auto whole = [from](const std::string& s) {
      const auto end = s.find("\r\n\r\n", from);
      if (end == std::string::npos) return false;
      const auto at = s.find("Content-Length: ", from);
      const std::size_t length = at < end ? std::stoul(s.substr(at + 16)) : 0;
      return s.size() >= end + 4 + length;
    };
    const std::string got = read(within, whole).substr(from);
    const auto end = got.find("\r\n\r\n");
    if (got.rfind("HTTP/1.1 ", 0) != 0 || end == std::string::npos) return {};
    return {std::stoi(got.substr(9, 3)), got.substr(0, end + 2), got.substr(end + 4)};
  }
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
const auto kStreamOpened = [](const std::string& s) { return s.find("event: state") != std::string::npos; };

// Keeps `count` connections from `from` that send one byte of an endless request head every
// `interval`; a connection the server ends is opened again at the next tick.
void trickle(const std::stop_token& stop, int port, const char* from, int count, milliseconds interval) {
  std::vector<std::unique_ptr<RawClient>> clients(count);
  while (!stop.stop_requested()) {
    for (auto& c : clients) {
      if (!c || c->spent()) {
        c = std::make_unique<RawClient>(port, from);
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
    options_.idleTimeout = kIdle;
    server_ = std::make_unique<WebServer>(ui_, options_);
    ASSERT_TRUE(server_->start().ok());
    host_ = "127.0.0.1:" + std::to_string(server_->port());
    cookie_ = server_->cookieName() + "=" + server_->token();
    cookieLine_ = "Cookie: other=1; " + cookie_ + "\r\n";
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

  std::string rawHead(std::string_view line, std::string_view extra = "") {
    return std::string(line) + "\r\nHost: " + host_ + "\r\n" + std::string(extra) + "\r\n";
  }
  // The page's own requests, each on a new connection.
  int getState() { return RawClient(server_->port()).exchange(rawHead("GET /api/state HTTP/1.1", cookieLine_)).status; }
  Answer postEvent(const std::string& body) {
    return RawClient(server_->port())
        .exchange(rawHead("POST /api/event HTTP/1.1", cookieLine_ + "Origin: http://" + host_ +
                                                          "\r\nContent-Type: application/json\r\nContent-Length: " +
                                                          std::to_string(body.size()) + "\r\n") +
                  body);
  }

  // Asks for the state as the page does, on a new connection each time, for `span`;
  // every answer must come within a second.
  void expectStateAnswersPromptlyDuring(milliseconds span) {
    for (auto end = Clock::now() + span; Clock::now() < end; std::this_thread::sleep_for(milliseconds(50))) {
      const auto sent = Clock::now();
      EXPECT_EQ(getState(), 200);
      EXPECT_LT(Clock::now() - sent, milliseconds(1000));
    }
  }

  static constexpr std::chrono::seconds kIdle{1};  // silence allowed on a connection

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
  std::string cookieLine_;  // a request head's line, the session cookie among others
};

// An event's body is outside input: garbage is refused whole (the origin rules:
// RefusalsEndTheConnectionAndThePagesAnswersKeepIt).
TEST_F(WebServerTest, EventsNeedAWellFormedBody) {
  const std::string garbage[] = {
      "{\"version\":1,", "", std::string(60000, '['), std::string("{\"version\":1,\0}", 15),
  };  // cut short, empty, nested deeply, NUL bytes
  for (const auto& body : garbage) {
    SCOPED_TRACE(body.substr(0, 20));
    EXPECT_EQ(postEvent(body).status, 400);
  }
  // The screens' answer comes back: the touch reached the window whole.
  Answer ok = postEvent(R"({"version":1,"target":"window","action":"touch","value":{"x":10,"y":20,"tapCount":1,"inList":true}})");
  ASSERT_EQ(ok.status, 200);
  EXPECT_EQ(json::parse(ok.body)["consumed"], true);
}

// The changes after the first state arrive coalesced or one by one, but the latest always
// arrives; an idle stream gets a heartbeat; stop() returns only once every open stream has
// ended. (The cap on open streams: RefusedEventStreamsEndAtOnce.)
TEST_F(WebServerTest, EventStreamSendsTheLatestStateAndStopEndsIt) {
  RawClient stream(server_->port());
  ASSERT_TRUE(stream.send(rawHead("GET /api/events HTTP/1.1", cookieLine_)));
  ASSERT_TRUE(kStreamOpened(stream.read(milliseconds(10000), kStreamOpened)));
  show("Vorx (1/250)");
  show("Vorx (2/250)");
  const std::string got = stream.read(milliseconds(10000), [](const std::string& s) {
    return s.find("Vorx (2/250)") != std::string::npos && s.find(": ping") != std::string::npos;
  });
  EXPECT_NE(got.find(": ping"), std::string::npos) << got;
  EXPECT_NE(got.find("id: " + std::to_string(ui_.version()) + "\ndata: {"), std::string::npos) << got;
  server_->stop();
  stream.read(milliseconds(2000));
  EXPECT_TRUE(stream.closed());
}

// A port is one server's at a time. A server started again on a port answers as itself
// from its first request on, also the requests of a page that kept asking while it was
// down (here without the cookie of the new session: 401).
TEST_F(WebServerTest, SecondServerCannotTakeTheSamePort) {
  options_.port = server_->port();
  WebServer second(ui_, options_);
  EXPECT_FALSE(second.start().ok());
  EXPECT_EQ(getState(), 200);

  server_->stop();
  std::vector<int> answers;
  std::jthread page([&](const std::stop_token& stop) {
    while (!stop.stop_requested() && answers.size() < 20) {
      const int status = RawClient(options_.port).exchange(rawHead("GET /api/state HTTP/1.1")).status;
      if (status != -1) answers.push_back(status);  // -1: nobody listens yet
    }
  });
  WebServer again(ui_, options_);
  ASSERT_TRUE(again.start().ok());
  page.join();
  EXPECT_EQ(answers, std::vector<int>(20, 401));
}

// Who may ask what, and what becomes of the connection: every refusal ends it, the
// page's own answers keep it for the page's next request.
TEST_F(WebServerTest, RefusalsEndTheConnectionAndThePagesAnswersKeepIt) {
  const std::string& cookie = cookieLine_;
  const std::string origin = "Origin: http://" + host_ + "\r\n";
  const std::string port = std::to_string(server_->port());
  auto request = [&](std::string_view line, const std::string& headers, const std::string& host) {
    return std::string(line) + " HTTP/1.1\r\nHost: " + host + "\r\n" + headers + "\r\n";
  };
  auto get = [&](std::string_view target, const std::string& headers = "") {
    return request("GET " + std::string(target), headers, host_);
  };
  auto post = [&](const std::string& headers, const std::string& body) {
    return request("POST /api/event", headers + "Content-Length: " + std::to_string(body.size()) + "\r\n", host_) +
           body;
  };
  const std::string event = R"({"version":1,"target":"leggi","action":"tap"})";
  // status "": closed without an answer, or with the server library's own 400. shows: what
  // the answer holds, in its head or its body.
  struct Case { const char* name; std::string request; const char* status; bool closes; std::vector<std::string> shows = {}; };
  const std::string ended = "<p>This session has ended: open the address that voryx serve printed.</p>";
  const std::string html = "Content-Type: text/html", text = "Content-Type: text/plain";
  const Case cases[] = {
      {"no token, no cookie", get("/"), "401", true, {html, ended}},
      {"no cookie on the API", get("/api/state"), "401", true, {text, "Open the address that voryx serve printed"}},
      {"wrong token", get("/?token=00000000000000000000000000000000"), "403", true, {html, ended}},
      {"token of other length", get("/?token=abc"), "403", true},
      {"wrong cookie", get("/api/state", "Cookie: " + server_->cookieName() + "=nope\r\n"), "403", true, {text}},
      {"stale cookie on a page file", get("/app.js", "Cookie: " + server_->cookieName() + "=" + std::string(32, '0') + "\r\n"),
       "403", true, {html, ended}},
      {"cookie of another port", get("/api/state", "Cookie: voryx_1=" + server_->token() + "\r\n"), "401", true},
      {"foreign host", request("GET /", cookie, "evil.example:" + port), "403", true,
       {html, "<p>This server answers only at http://127.0.0.1:" + port + ".</p>"}},
      {"the right host twice", request("GET /api/state", cookie + "Host: " + host_ + "\r\n", host_), "403", true},
      {"unknown path", get("/nothing.js", cookie), "404", true},
      {"path climbing out", get("/../etc/passwd", cookie), "404", true},
      {"method without a route", request("OPTIONS /api/state", cookie, host_), "404", true},
      {"post without origin", post(cookie, event), "403", true},
      {"post from a foreign origin", post(cookie + "Origin: http://evil.example\r\n", event), "403", true},
      {"post from another port", post(cookie + "Origin: http://127.0.0.1:1\r\n", event), "403", true},
      {"post body over 64 KiB", post(cookie + origin, std::string(70 * 1024, 'a')), "413", true},
      {"chunked post body over 64 KiB",  // no length to refuse it by: it ends at the bound
       request("POST /api/event", cookie + origin + "Transfer-Encoding: chunked\r\n", host_) + "11800\r\n" +
           std::string(70 * 1024, 'a') + "\r\n0\r\n\r\n",
       "", true},
      {"not HTTP", "\x16\x03\x01\x02\xfc\x03\x03\r\n\r\n", "", true},
      {"state", get("/api/state", cookie), "200", false, {"Cache-Control: no-store"}},
      {"page", get("/", cookie), "200", false,
       {"Content-Type: text/html; charset=utf-8", "X-Content-Type-Options: nosniff", "script-src 'self'",
        "connect-src 'self'; frame-src 'self';", "frame-ancestors 'none'", "X-Frame-Options: DENY"}},
      {"how-to guide, framable by the page", get("/howto/", cookie), "200", false,
       {"Content-Type: text/html; charset=utf-8", ">How to use Voryx</h1>", "frame-ancestors 'self'",
        "X-Frame-Options: SAMEORIGIN"}},
      {"how-to guide without cookie", get("/howto/howto.css"), "401", true, {html, ended, "frame-ancestors 'self'"}},
      {"token: a strict cookie", get("/?token=" + server_->token()), "303", false,
       {"Location: /\r\n", "Set-Cookie: " + cookie_ + ";", "HttpOnly", "SameSite=Strict", "Path=/"}},
      {"stale event", post(cookie + origin, event), "409", false,
       {"\"error\":\"version 1 is not the current " + std::to_string(ui_.version()) + "\""}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    RawClient client(server_->port());
    ASSERT_TRUE(client.send(c.request));
    const std::string head = client.read(milliseconds(2000), kHeadRead);
    if (*c.status || !head.empty()) {
      EXPECT_EQ(head.substr(0, 12), std::string("HTTP/1.1 ") + (*c.status ? c.status : "400")) << head;
      EXPECT_EQ(head.find("Connection: close") != std::string::npos, c.closes) << head;
    }
    const std::string answer = client.read(milliseconds(300));
    for (const auto& line : c.shows) EXPECT_NE(answer.find(line), std::string::npos) << line << "\n" << answer;
    EXPECT_EQ(client.closed(), c.closes);
    if (!c.closes) {  // the same connection serves the page's next request
      ASSERT_TRUE(client.send(get("/api/state", cookie)));
      auto second = [&](const std::string& s) { return s.find("HTTP/1.1 200", head.size()) != std::string::npos; };
      EXPECT_TRUE(second(client.read(milliseconds(2000), second)));
    }
  }
}

// Silence closes a connection, whatever it waits for; a head too large for a connection's
// memory is refused at once.
TEST_F(WebServerTest, SilentConnectionsAreClosed) {
  const std::string& cookie = cookieLine_;
  const milliseconds idle = kIdle;
  // answer: what comes before the close; after: since the connection's last byte.
  struct Case { const char* name; std::string sent; std::string_view answer; milliseconds after; };
  const Case cases[] = {
      {"nothing", "", "", idle},
      {"half a head", "GET /api/state HTTP/1.1\r\nHo", "", idle},
      {"body shorter than its length",
       rawHead("POST /api/event HTTP/1.1", cookie + "Origin: http://" + host_ + "\r\nContent-Length: 100\r\n") + "{\"v",
       "", idle},
      {"head over 32 KiB", "GET / HTTP/1.1\r\nX-Pad: " + std::string(40 * 1024, 'a'), "HTTP/1.1 431", milliseconds(0)},
      {"silent after an answer", rawHead("GET /api/state HTTP/1.1", cookie), "HTTP/1.1 200", idle},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    RawClient client(server_->port());
    const auto start = Clock::now();
    ASSERT_TRUE(c.sent.empty() || client.send(c.sent));
    const std::string got = client.read(idle + milliseconds(2000));
    const auto took = std::chrono::duration_cast<milliseconds>(Clock::now() - start);
    EXPECT_TRUE(client.closed());
    EXPECT_EQ(got.substr(0, c.answer.size()), c.answer) << got.substr(0, 200);
    EXPECT_GE(took.count(), c.after.count() - 50);
    EXPECT_LE(took.count(), c.after.count() + 1500);
  }
}

// The page keeps being answered whatever else goes on: a crowd of clients that trickle
// their heads a byte at a time (more than may wait: the ones that have waited longest give
// way), from the page's own address or another; and a main loop busy with something else,
// which holds up the events only.
TEST_F(WebServerTest, ThePageIsAnsweredPromptlyWhateverElseGoesOn) {
  for (const char* from : {"127.0.0.1", "127.0.0.2"}) {
    for (int count : {14, 60, 200}) {
      SCOPED_TRACE(std::to_string(count) + " connections from " + from);
      std::jthread slow(trickle, server_->port(), from, count, milliseconds(kIdle) * 3 / 5);
      expectStateAnswersPromptlyDuring(milliseconds(kIdle) * 5 / 2);
    }
  }
  RawClient stream(server_->port());
  ASSERT_TRUE(stream.send(rawHead("GET /api/events HTTP/1.1", cookieLine_)));
  ASSERT_TRUE(kStreamOpened(stream.read(milliseconds(10000), kStreamOpened)));
  ui_.loop().performOnMain([] { std::this_thread::sleep_for(milliseconds(1500)); }, false);
  Answer event;
  std::thread page([&] { event = postEvent(R"({"version":1,"target":"window","action":"touch","value":{"x":1,"y":20,"tapCount":1,"inList":true}})"); });
  expectStateAnswersPromptlyDuring(milliseconds(1000));
  const std::string pings = stream.read(milliseconds(1000), [](const std::string& s) {
    return s.find("event: ping") != std::string::npos;
  });
  EXPECT_NE(pings.find("event: ping"), std::string::npos);
  // Stopped while the event waits: the event is answered, then the server ends.
  server_->stop();
  page.join();
  EXPECT_EQ(event.status, 200);
}

TEST_F(WebServerTest, RefusedEventStreamsEndAtOnce) {
  const std::string request = rawHead("GET /api/events HTTP/1.1", cookieLine_);
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
  for (int i = 0; i < 6; ++i) {
    bool accepted = false;
    for (auto closedAt = Clock::now(); !accepted && Clock::now() - closedAt < milliseconds(1000);) {
      RawClient client(small.port());  // closed by the client at the end of the block
      accepted = client.send(request) && kStreamOpened(client.read(milliseconds(1000), kStreamOpened));  // a 503 ends at once
    }
    EXPECT_TRUE(accepted) << i;
  }
}

// The bound address, and with `voryx serve --listen NAME` that name too, and nothing else.
// (The printed address and a name that does not resolve: the browser suite, access.test.mjs.)
TEST(HostAllowedTest, NamesTheBoundAddressOrTheNameAskedFor) {
  struct Case { std::string_view host, listen, name; bool allowed; };
  constexpr Case kCases[] = {
      {"LOCALHOST:8080", "127.0.0.1", "", true},      {"localhost:8080", "192.168.1.5", "", false},
      {"192.168.1.5:8080", "192.168.1.5", "", true},  {"127.0.0.1", "127.0.0.1", "", false},
      {"127.0.0.1:08080", "127.0.0.1", "", false},    {"127.0.0.1:8081", "127.0.0.1", "", false},
      {"127.0.0.1.nip.io:8080", "127.0.0.1", "", false},
      {"[::1]:8080", "::1", "", true},                {"localhost:8080", "::1", "", true},
      {"::1:8080", "::1", "", false},                 {"[::1", "::1", "", false},
      {"10.0.0.7:8080", "0.0.0.0", "", true},         {"myhost.lan:8080", "0.0.0.0", "", false},
      {"10.0.0.7:8080", "192.168.1.5", "", false},    {"10.0.0.7:8080", "192.168.1.5", "myhost.lan", false},
      {"", "127.0.0.1", "", false},
      {"MyHost.LAN:8080", "192.168.1.5", "myhost.lan", true},
      {"192.168.1.5:8080", "192.168.1.5", "myhost.lan", true},
      {"myhost.lan:8081", "192.168.1.5", "myhost.lan", false},
      {"myhost.lan.rebind.example:8080", "192.168.1.5", "myhost.lan", false},
      {"localhost:8080", "192.168.1.5", "myhost.lan", false},
      {"localhost:8080", "127.0.0.1", "ip6-localhost", true},
      {"[myhost.lan]:8080", "192.168.1.5", "myhost.lan", false},
  };

  for (const auto& c : kCases) {
    SCOPED_TRACE(std::string(c.host) + " on " + std::string(c.listen) + " as " + std::string(c.name));
    EXPECT_EQ(hostAllowed(c.host, c.listen, 8080, c.name), c.allowed);
  }
}

// The how-to address comes from the preferences file, which the user edits by hand: only a
// clean http(s) origin may reach the page's policy.
TEST(FrameOriginTest, TakesTheOriginOfHttpAddressesOnly) {
  struct Case { std::string_view address; std::optional<std::string> origin; };
  const Case kCases[] = {
      {"http://127.0.0.1:9/", "http://127.0.0.1:9"},
      {"HTTPS://Example.ORG/guide/index.html?x=1#top", "https://example.org"},
      {"http://[::1]:8080", "http://[::1]:8080"},
      {"http://example.org:0080/", "http://example.org:80"},
      {"/howto/", std::nullopt},
      {"howto/index.html", std::nullopt},
      {"//example.org/", std::nullopt},
      {"javascript:alert(1)", std::nullopt},
      {"file:///etc/passwd", std::nullopt},
      {"http://", std::nullopt},
      {"http://:80/", std::nullopt},
      {"http://example.org:/", std::nullopt},
      {"http://example.org:65536/", std::nullopt},
      {"http://example.org:99999999999999999999/", std::nullopt},
      {"http://user@example.org/", std::nullopt},
      {"http://a.example; script-src *", std::nullopt},
      {"http://a.example,b.example/", std::nullopt},
      {"http://a.example'/", std::nullopt},
      {"http://[::1/", std::nullopt},
      {"http://[::1]x/", std::nullopt},
      {"http://[a b]/", std::nullopt},
      {"http://ex\xc3\xa4mple.org/", std::nullopt},
      {std::string_view("http://a\0b/", 11), std::nullopt},
      {" http://example.org/", std::nullopt},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(std::string(c.address));
    EXPECT_EQ(frameOrigin(c.address), c.origin);
  }
}

TEST_F(WebServerTest, ThePagesPolicyLetsItFrameAndAskTheFrameAddress) {
  options_.frameAddress = "http://127.0.0.1:9/guide/";
  WebServer framing(ui_, options_);
  ASSERT_TRUE(framing.start().ok());
  Answer r = RawClient(framing.port())
                 .exchange("GET / HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(framing.port()) + "\r\nCookie: " +
                           framing.cookieName() + "=" + framing.token() + "\r\n\r\n");
  EXPECT_EQ(r.status, 200);
  EXPECT_NE(r.head.find("connect-src 'self' http://127.0.0.1:9; frame-src 'self' http://127.0.0.1:9;"), std::string::npos)
      << r.head;
}

// The token matches whole: not one byte more, less or other, wherever it lies.
TEST(TokenMatchTest, TakesTheWholeTokenOnly) {
  const std::string token = "0123456789abcdef0123456789abcdef";
  EXPECT_TRUE(constantTimeEquals(token, token));
  for (const std::string& other : {"x" + token.substr(1), token.substr(0, 31) + "x", token + std::string(1, '\0'),
                                   token.substr(0, 31), std::string()}) {
    EXPECT_FALSE(constantTimeEquals(other, token)) << other;
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
