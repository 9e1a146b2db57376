// The access token kept across restarts of the server, and the page a refused browser
// is shown.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <httplib.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include "ui/kit/UiApplication.h"
#include "web/AccessToken.h"
#include "web/WebServer.h"

namespace voryx::web {
namespace {

namespace fs = std::filesystem;

const std::string kGood = "0123456789abcdef0123456789abcdef";

class TempFolder {
 public:
  TempFolder() {
    std::string name = (fs::temp_directory_path() / "voryx-token-XXXXXX").string();
    path_ = ::mkdtemp(name.data()) ? fs::path(name) : fs::path();
  }
  ~TempFolder() { fs::remove_all(path_); }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

void writeFile(const fs::path& file, const std::string& content, mode_t mode) {
  std::ofstream(file, std::ios::binary) << content;
  ::chmod(file.c_str(), mode);
}

std::string readFile(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

mode_t modeOf(const fs::path& file) {
  struct stat st {};
  return ::lstat(file.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

// What may lie where the token is kept, and whether it is taken as the token.
TEST(KeptTokenTest, ReadsAGoodTokenElseWritesANewOnePrivately) {
  struct Case {
    const char* name;
    std::function<void(const fs::path&)> lay;
    bool renew;
    bool kept;
  };
  auto content = [](std::string text, mode_t mode = 0600) {
    return [=](const fs::path& f) { writeFile(f, text, mode); };
  };
  const Case kCases[] = {
      {"token and line break", content(kGood + "\n"), false, true},
      {"token alone", content(kGood), false, true},
      {"asked for a new one", content(kGood + "\n"), true, false},
      {"nothing", [](const fs::path&) {}, false, false},
      {"empty", content(""), false, false},
      {"upper-case digits", content("0123456789ABCDEF0123456789ABCDEF\n"), false, false},
      {"a digit short", content(kGood.substr(1) + "\n"), false, false},
      {"a digit more", content(kGood + "0\n"), false, false},
      {"two line breaks", content(kGood + "\n\n"), false, false},
      {"blank before", content(" " + kGood), false, false},
      {"NUL inside", content(kGood.substr(0, 8) + std::string(1, '\0') + kGood.substr(9)), false, false},
      {"a megabyte of digits", content(std::string(1 << 20, 'a')), false, false},
      {"readable by others", content(kGood + "\n", 0644), false, false},
      {"a FIFO (never waited for)", [](const fs::path& f) { ::mkfifo(f.c_str(), 0600); }, false, false},
      {"a link to a good token",
       [](const fs::path& f) {
         writeFile(f.parent_path() / "elsewhere", kGood + "\n", 0600);
         fs::create_symlink(f.parent_path() / "elsewhere", f);
       },
       false, false},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    TempFolder dir;
    const fs::path file = dir.path() / "token";
    c.lay(file);
    auto token = keptToken(file, c.renew);
    ASSERT_TRUE(token.ok()) << token.error().detail;
    EXPECT_EQ(*token == kGood, c.kept);
    EXPECT_TRUE(isToken(*token)) << *token;
    if (c.kept) continue;
    EXPECT_EQ(readFile(file), *token + "\n");
    EXPECT_EQ(modeOf(file), 0600u);
  }
}

TEST(KeptTokenTest, AFolderThatCannotTakeTheFileIsAnError) {
  TempFolder dir;
  fs::create_directory(dir.path() / "token");  // a folder where the file belongs
  auto token = keptToken(dir.path() / "token", false);
  ASSERT_FALSE(token.ok());
  EXPECT_EQ(token.error().code, Errc::Io);
}

class TokenServerTest : public ::testing::Test {
 protected:
  std::unique_ptr<WebServer> started(WebServerOptions options) {
    auto server = std::make_unique<WebServer>(ui_, std::move(options));
    EXPECT_TRUE(server->start().ok());
    return server;
  }
  kit::UiApplication ui_;  // refusals never reach the screens: no main loop needed
  TempFolder dir_;
};

// The printed address, a bookmark and an open tab keep working after a restart; a new
// token is made only when asked for.
TEST_F(TokenServerTest, ARestartedServerKeepsItsToken) {
  WebServerOptions options;
  options.tokenFile = dir_.path() / "token";
  std::string first = started(options)->token();
  auto again = started(options);
  EXPECT_EQ(again->token(), first);
  EXPECT_EQ(again->url(), again->origin() + "/?token=" + first);
  again.reset();
  options.newToken = true;
  std::string renewed = started(options)->token();
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
    std::string type;
    std::string says;
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
    EXPECT_EQ(r->get_header_value("Connection"), "close");
  }
}

TEST(RefusalPageTest, EscapesWhatItSays) {
  const std::string page = refusalPage("<script>&\"");
  EXPECT_NE(page.find("<p>&lt;script&gt;&amp;&quot;</p>"), std::string::npos) << page;
  EXPECT_EQ(page.find("<script>"), std::string::npos);
}

}  // namespace
}  // namespace voryx::web
