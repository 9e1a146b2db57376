#include "base/Localized.h"

#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <set>
#include <sstream>

#include <nlohmann/json.hpp>

namespace voryx {
namespace {

namespace fs = std::filesystem;

TEST(LocalizedTest, TheFirstLanguageNamedDecides) {
  const std::pair<const char*, const char*> kCases[] = {
      {"it-IT,it;q=0.9,en-US;q=0.8", "it"}, {"it", "it"},       {"IT-ch", "it"},
      {"it_IT.UTF-8", "it"},                {"en-US,it;q=0.9", "en"}, {"de-DE", "en"},
      {"", "en"},                           {"C", "en"},        {"*", "en"},
      {"italian", "en"},                    {"\xff\xfe", "en"},
  };
  for (const auto& [preference, language] : kCases) EXPECT_EQ(chooseLanguage(preference), language) << preference;
}

nlohmann::json table(const char* name) {
  std::ifstream in(fs::path(VORYX_SOURCE_DIR) / "resources" / name);
  return nlohmann::json::parse(in);
}

// Every key the program looks up as a literal, and every key of the English table, has
// an Italian text; the short codes have English texts.
TEST(LocalizedTest, TheItalianTableHasEveryKey) {
  const auto english = table("Localizable.json");
  const auto italian = table("Localizable.it.json");
  std::set<std::string> keys;
  for (const auto& [key, text] : english.items()) keys.insert(key);
  const std::regex call(R"re(localized\("([^"]+)"\))re");
  for (const auto& file : fs::recursive_directory_iterator(fs::path(VORYX_SOURCE_DIR) / "src")) {
    if (file.path().extension() != ".cpp") continue;
    std::ifstream in(file.path());
    std::stringstream text;
    text << in.rdbuf();
    const std::string source = text.str();
    for (std::sregex_iterator m(source.begin(), source.end(), call), end; m != end; ++m) keys.insert((*m)[1]);
  }
  EXPECT_GT(keys.size(), 50u);
  for (const auto& key : keys) {
    EXPECT_TRUE(italian.contains(key)) << key;
    const bool code = std::regex_match(key, std::regex("[A-Z][0-9]|[RW]Initializing\\.\\.\\."));
    if (code) {
      EXPECT_TRUE(english.contains(key)) << key;
    }
  }
}

TEST(LocalizedTest, LooksUpInTheCurrentLanguageWithTheKeyAsFallback) {
  loadStringTables(fs::path(VORYX_SOURCE_DIR) / "resources");
  setLanguage("it-IT");
  EXPECT_EQ(localized("SIM is full!"), "La SIM è piena!");
  EXPECT_EQ(localized("no such key"), "no such key");
  setLanguage("fr");
  EXPECT_EQ(language(), "en");
  EXPECT_EQ(localized("T0"), "Delete all SIM entries");
  EXPECT_EQ(localized("SIM is full!"), "SIM is full!");
  loadStringTables({});
}

}  // namespace
}  // namespace voryx
