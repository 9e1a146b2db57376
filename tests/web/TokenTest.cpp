// The access token kept across restarts of the server. (The server keeping it, or making a
// new one when asked: the browser suite, connection.test.mjs; the page a refused browser
// is shown: WebServerTest's refusals.)
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <functional>

#include "support/TempDir.h"
#include "web/AccessToken.h"

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
  struct Case { const char* name; std::function<void(const fs::path&)> lay; bool renew, kept; };
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

}  // namespace
}  // namespace voryx::web
