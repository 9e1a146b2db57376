// The access token kept across restarts of the server, and the page a refused browser
// is shown.
#include <sys/stat.h>

#include <gtest/gtest.h>
#include <httplib.h>

#include <functional>

#include "store/TempDir.h"
#include "ui/kit/UiApplication.h"
#include "web/AccessToken.h"
#include "web/WebServer.h"

namespace voryx::web {
namespace {

namespace fs = std::filesystem;
using test::modeOf;
using test::readFile;
using test::TempDir;

const std::string kGood = "0123456789abcdef0123456789abcdef";

// What may lie where the token is kept, and whether it is taken as the token.
TEST(KeptTokenTest, ReadsAGoodTokenElseWritesANewOnePrivately) {
  auto file = [](std::string text, mode_t mode = 0600) {
    return [=](const fs::path& f) {
      test::writeFile(f, text);
      ::chmod(f.c_str(), mode);
    };
  };
  struct Case {
    const char* name;
    std::function<void(const fs::path&)> lay;
    bool renew, kept;
  };
  const Case kCases[] = {
      {"token and line break", file(kGood + "\n"), false, true},
      {"token alone", file(kGood), false, true},
      {"asked for a new one", file(kGood + "\n"), true, false},
      {"nothing", [](const fs::path&) {}, false, false},
      {"upper-case digits", file("0123456789ABCDEF0123456789ABCDEF"), false, false},
      {"a digit more", file(kGood + "0"), false, false},
      {"two line breaks", file(kGood + "\n\n"), false, false},
      {"NUL inside", file(kGood.substr(0, 8) + '\0' + kGood.substr(9)), false, false},
      {"a megabyte of digits", file(std::string(1 << 20, 'a')), false, false},
      {"readable by others", file(kGood + "\n", 0644), false, false},
      {"a FIFO (never waited for)", [](const fs::path& f) { ::mkfifo(f.c_str(), 0600); }, false, false},
      {"a link to a good token", [file](const fs::path& f) {
         file(kGood)(f.parent_path() / "elsewhere");
         fs::create_symlink(f.parent_path() / "elsewhere", f);
       }, false, false},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    c.lay(dir / "token");
    auto token = keptToken(dir / "token", c.renew);
    ASSERT_TRUE(token.ok()) << token.error().detail;
    EXPECT_EQ(*token == kGood, c.kept);
    EXPECT_TRUE(isToken(*token)) << *token;
    if (c.kept) continue;
    EXPECT_EQ(readFile(dir / "token"), *token + "\n");
    EXPECT_EQ(modeOf(dir / "token"), 0600u);
  }
  TempDir dir;
  fs::create_directory(dir / "token");  // a folder where the file belongs: no token at all
  EXPECT_FALSE(keptToken(dir / "token", false).ok());
}

class TokenServerTest : public ::testing::Test {
 protected:
  std::unique_ptr<WebServer> started(WebServerOptions options) {
    auto server = std::make_unique<WebServer>(ui_, std::move(options));
    EXPECT_TRUE(server->start().ok());
    return server;
  }
  kit::UiApplication ui_;  // refusals never reach the screens: no main loop needed
  TempDir dir_;
};

// The printed address, a bookmark and an open tab keep working after a restart; a new
// token is made only when asked for.
TEST_F(TokenServerTest, ARestartedServerKeepsItsToken) {
  WebServerOptions options;
  options.tokenFile = dir_ / "token";
  const std::string first = started(options)->token();
  EXPECT_EQ(started(options)->token(), first);
  options.newToken = true;
  const std::string renewed = started(options)->token();
  EXPECT_NE(renewed, first);
  EXPECT_EQ(readFile(options.tokenFile), renewed + "\n");
}

// A browser without a valid token is shown a page; the page's script gets plain text.
TEST_F(TokenServerTest, ARefusedPageRequestGetsTheStyledPage) {
  auto server = started({});
  const std::string port = std::to_string(server->port());
  const std::string ended = "<p>This session has ended: open the address that voryx serve printed.</p>";
  struct Case {
    const char* name;
    std::string path;
    httplib::Headers headers;
    int status;
    std::string type, says;
  };
  const Case kCases[] = {
      {"no cookie", "/", {}, 401, "text/html", ended},
      {"wrong token", "/?token=" + std::string(32, '0'), {}, 403, "text/html", ended},
      {"stale cookie", "/app.js", {{"Cookie", server->cookieName() + "=" + kGood}}, 403, "text/html", ended},
      {"foreign host", "/", {{"Host", "rebind.example:" + port}}, 403, "text/html",
       "<p>This server answers only at http://127.0.0.1:" + port + ".</p>"},
      {"the script's state", "/api/state", {}, 401, "text/plain", "Open the address that voryx serve printed"},
  };
  httplib::Client client("127.0.0.1", server->port());
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    auto r = client.Get(c.path, c.headers);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, c.status);
    EXPECT_EQ(r->get_header_value("Content-Type").rfind(c.type, 0), 0u) << r->get_header_value("Content-Type");
    EXPECT_NE(r->body.find(c.says), std::string::npos) << r->body;
  }
}

}  // namespace
}  // namespace voryx::web
