// The modem's refusals as the user reads them: the numbers and the modem's words that
// reach a sentence, the ones that must not (garbage, no code, a code of the other source,
// a number out of range), and a sentence in both languages for every code the table knows.
#include "modem/ErrorText.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "base/Localized.h"

namespace voryx::modem {
namespace {

using namespace std::string_literals;

TEST(ErrorTextTest, RefusalsReachTheirSentenceAndGarbageTheModemsOwnWords) {
  struct Case {
    std::string reply;
    std::optional<int> code;
    std::string sentence;  // the start of what the user reads
  };
  const Case kRefusals[] = {
      {"+CME ERROR: 10", 10, "There is no SIM in the modem."},
      // The modem's words in any case, with runs of blanks, '_' for '-', a full stop.
      {"+CME ERROR: sim NOT \t  inserted. ", 10, "There is no SIM in the modem."},
      {"+CME ERROR: PH_SIM PIN required", 5, "The modem is locked to another SIM"},
      {"+CME ERROR: unknown error", 100, "The modem reported an unknown error."},  // a second wording
      {"+CME ERROR: 22", 22, "The SIM holds nothing at that location."},           // NotFound, still a refusal
      // The same number or words mean another thing from the other source.
      {"+CME ERROR: 21", 21, "The SIM has no such location."},
      {"+CMS ERROR: 21", 21, "The modem refused the command: +CMS ERROR: 21"},
      {"+CME ERROR: memory full", 20, "The SIM's memory is full."},
      {"+CMS ERROR: memory full", 322, "The SIM's message store is full."},
      {"+CME ERROR: 321", 321, "The modem refused the command: +CME ERROR: 321"},
      // Unknown codes and words, no code, numbers out of range and garbage keep the
      // modem's words.
      {"+CME ERROR: 50", 50, "The modem refused the command: +CME ERROR: 50"},
      {"+CME ERROR: -10", -10, "The modem refused the command: +CME ERROR: -10"},
      {"+CMS ERROR: 99999999999", std::nullopt, "The modem refused the command: +CMS ERROR: 99999999999"},
      {"+CME ERROR: 10 10", std::nullopt, "The modem refused the command: +CME ERROR: 10 10"},
      {"+CME ERROR:", std::nullopt, "The modem refused the command: +CME ERROR:"},
      {"+CME ERROR: no such thing", std::nullopt, "The modem refused the command: +CME ERROR: no such thing"},
      {"+CME ERROR: " + std::string(300, 'x'), std::nullopt, "The modem refused the command: +CME ERROR: xxx"},
      {"+CME ERROR: SIM\0busy"s, std::nullopt, "The modem refused the command: +CME ERROR: SIM"},
      {"+CMS ERROR: \xff\xfe memory full", std::nullopt, "The modem refused the command: +CMS ERROR: \xff"},
      {"ERROR", std::nullopt, "The modem refused the command without saying why."},
      {"OK", std::nullopt, ""},
      {"+CPBR: 1,\"12", std::nullopt, ""},
  };
  for (const Case& c : kRefusals) {
    SCOPED_TRACE(c.reply);
    const std::string reply = "\r\n" + c.reply + "\r\n";  // the reply's views point into it
    const Reply r = classify(reply);
    EXPECT_EQ(r.errorCode, c.code);
    EXPECT_EQ(refusalSentence(r).substr(0, c.sentence.size()), c.sentence);
    EXPECT_EQ(refusalSentenceForLog(r), refusalSentence(r));  // no table loaded: English
  }
}

// Every code the table knows, by number from either source, has its English sentence,
// and the user reads it in Italian too; the log stays English.
TEST(ErrorTextTest, EveryKnownCodeHasAnEnglishAndAnItalianSentence) {
  loadStringTables(std::filesystem::path(VORYX_SOURCE_DIR) / "resources");
  setLanguage("it");
  int known = 0;
  for (const char* source : {"+CME ERROR: ", "+CMS ERROR: "}) {
    for (int code = 0; code < 1000; ++code) {
      const std::string reply = source + std::to_string(code) + "\r\n";
      const Reply r = classify(reply);
      const char* key = errorSentenceKey(r.errorSource, code);
      if (!key) continue;
      SCOPED_TRACE(reply);
      ++known;
      EXPECT_NE(std::string(key), "");
      EXPECT_NE(refusalSentence(r), key);
      EXPECT_NE(refusalSentence(r), "");
      EXPECT_EQ(refusalSentenceForLog(r), key);
    }
  }
  EXPECT_GT(known, 0);
  setLanguage("en");
  loadStringTables({});
}

}  // namespace
}  // namespace voryx::modem
