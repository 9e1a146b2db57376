// The modem's refusals as the user reads them: every code the table knows, numeric and
// in the modem's words, lands on its sentence.
#include "modem/ErrorText.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "base/Localized.h"

namespace voryx::modem {
namespace {

using namespace std::string_literals;

struct Case {
  std::string reply;
  std::optional<int> code;
  std::string sentence;  // the start of what the user reads
};
const Case kRefusals[] = {
    {"+CME ERROR: 3", 3, "The modem did not allow this command."},
    {"+CME ERROR: operation not supported", 4, "The modem does not support this command."},
    {"+CME ERROR: PH_SIM PIN required", 5, "The modem is locked to another SIM"},
    {"+CME ERROR: 10", 10, "There is no SIM in the modem."},
    {"+CME ERROR: SIM not inserted", 10, "There is no SIM in the modem."},
    {"+CME ERROR: sim NOT   inserted.", 10, "There is no SIM in the modem."},
    {"+CME ERROR: SIM PIN required", 11, "The SIM asks for its PIN."},
    {"+CME ERROR: 12", 12, "The SIM is blocked after too many wrong PINs."},
    {"+CME ERROR: SIM failure", 13, "The SIM does not respond."},
    {"+CME ERROR: 14", 14, "The SIM is busy"},
    {"+CME ERROR: SIM wrong", 15, "The modem does not accept this SIM."},
    {"+CME ERROR: Incorrect password", 16, "The SIM refused the code"},
    {"+CME ERROR: 17", 17, "The SIM asks for its PIN2"},
    {"+CME ERROR: SIM PUK2 required", 18, "The SIM's PIN2 is blocked"},
    {"+CME ERROR: memory full", 20, "The SIM's memory is full."},
    {"+CME ERROR: 21", 21, "The SIM has no such location."},
    {"+CME ERROR: not found", 22, "The SIM holds nothing at that location."},
    {"+CME ERROR: Memory failure", 23, "The SIM's memory failed."},
    {"+CME ERROR: text string too long", 24, "A name is too long for the SIM."},
    {"+CME ERROR: 25", 25, "A name holds characters the SIM cannot store."},
    {"+CME ERROR: dial string too long", 26, "A number is too long for the SIM."},
    {"+CME ERROR: invalid characters in dial string", 27, "A number holds characters"},
    {"+CME ERROR: no network service", 30, "The modem has no network service."},
    {"+CME ERROR: unknown", 100, "The modem reported an unknown error."},
    {"+CMS ERROR: ME failure", 300, "The modem reported a failure."},
    {"+CMS ERROR: 302", 302, "The modem did not allow this command."},
    {"+CMS ERROR: invalid PDU mode parameter", 304, "The modem refused the message as encoded."},
    {"+CMS ERROR: 305", 305, "The modem refused the message's text or number."},
    {"+CMS ERROR: SIM not inserted", 310, "There is no SIM in the modem."},
    {"+CMS ERROR: 311", 311, "The SIM asks for its PIN."},
    {"+CMS ERROR: SIM failure", 313, "The SIM does not respond."},
    {"+CMS ERROR: SIM busy", 314, "The SIM is busy"},
    {"+CMS ERROR: 316", 316, "The SIM is blocked"},
    {"+CMS ERROR: memory failure", 320, "The SIM's memory failed."},
    {"+CMS ERROR: invalid memory index", 321, "The SIM has no such message location."},
    {"+CMS ERROR: memory full", 322, "The SIM's message store is full."},
    {"+CMS ERROR: 500", 500, "The modem reported an unknown error."},
    // The same number means another thing from the other source; unknown ones keep the
    // modem's words; a bare ERROR says nothing more.
    {"+CMS ERROR: 21", 21, "The modem refused the command: +CMS ERROR: 21"},
    {"+CME ERROR: 50", 50, "The modem refused the command: +CME ERROR: 50"},
    {"+CME ERROR: no such thing", std::nullopt, "The modem refused the command: +CME ERROR: no such thing"},
    {"+CME ERROR: " + std::string(300, 'x'), std::nullopt, "The modem refused the command: +CME ERROR: xxx"},
    {"+CME ERROR: SIM\0busy"s, std::nullopt, "The modem refused the command: +CME ERROR: SIM"},
    {"ERROR", std::nullopt, "The modem refused the command without saying why."},
    {"OK", std::nullopt, ""},
    {"+CPBR: 1,\"12", std::nullopt, ""},
};

TEST(ErrorTextTest, EveryRefusalHasItsSentence) {
  for (const Case& c : kRefusals) {
    SCOPED_TRACE(c.reply);
    const std::string reply = "\r\n" + c.reply + "\r\n";
    const Reply r = classify(reply);
    EXPECT_EQ(r.errorCode, c.code);
    EXPECT_EQ(refusalSentence(r).substr(0, c.sentence.size()), c.sentence);
    EXPECT_EQ(refusalSentenceForLog(r), refusalSentence(r));  // no table loaded: English
  }
}

// Every sentence of the table, the user reads in Italian too.
TEST(ErrorTextTest, EverySentenceIsInItalian) {
  loadStringTables(std::filesystem::path(VORYX_SOURCE_DIR) / "resources");
  setLanguage("it");
  for (const Case& c : kRefusals) {
    const std::string reply = c.reply + "\r\n";
    const Reply r = classify(reply);
    if (!c.code || !errorSentenceKey(r.errorSource, *c.code)) continue;
    SCOPED_TRACE(c.reply);
    EXPECT_NE(refusalSentence(r), errorSentenceKey(r.errorSource, *c.code));
    EXPECT_EQ(refusalSentenceForLog(r), errorSentenceKey(r.errorSource, *c.code));  // the log stays English
  }
  setLanguage("en");
  loadStringTables({});
}

}  // namespace
}  // namespace voryx::modem
