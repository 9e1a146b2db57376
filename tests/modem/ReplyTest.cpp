// The one place that decides what a reply came to.
#include "modem/Reply.h"

#include <gtest/gtest.h>

#include <string>

namespace voryx::modem {
namespace {

using namespace std::string_literals;

struct Case { std::string reply; ReplyKind kind; std::string final = ""; std::optional<int> code = std::nullopt; std::size_t lines = 0; };
const Case kReplies[] = {
    {"\r\nOK\r\n", ReplyKind::Ok, "OK"},
    {"OK\r\n", ReplyKind::Ok, "OK"},
    {"AT\r\r\nOK\r\n", ReplyKind::Ok, "OK", {}, 1},  // with the echo
    {"OK", ReplyKind::Ok, "OK"},
    {"", ReplyKind::Incomplete},
    {"\r\n\r\n", ReplyKind::Incomplete},
    {"\r\n+CPBR: 1,\"12", ReplyKind::Incomplete, "", {}, 1},
    {"ERROR\r\n", ReplyKind::Error, "ERROR"},
    {"\r\n+CME ERROR: 22\r\n", ReplyKind::NotFound, "+CME ERROR: 22", 22},
    {"+CME ERROR: not found\r\n", ReplyKind::NotFound, "+CME ERROR: not found", 22},
    {"+CME ERROR: Not Found\r\n", ReplyKind::NotFound, "+CME ERROR: Not Found", 22},
    {"+CMS ERROR: not found\r\n", ReplyKind::Error, "+CMS ERROR: not found"},
    {"+CMS ERROR: 22\r\n", ReplyKind::Error, "+CMS ERROR: 22", 22},  // "not found" is the phone's 22 only
    {"+CME ERROR: 21\r\n", ReplyKind::Error, "+CME ERROR: 21", 21},
    {"+CMS ERROR: 321", ReplyKind::Error, "+CMS ERROR: 321", 321},
    {"+CMS ERROR: memory full\r\n", ReplyKind::Error, "+CMS ERROR: memory full", 322},
    {"\r\n> ", ReplyKind::Prompt},
    {"AT+CMGW=\"1\"\r\r\n> ", ReplyKind::Prompt, "", {}, 1},
    // Unsolicited lines after the final result, or among the lines, are set aside.
    {"\r\nOK\r\n\r\n+CMTI: \"SM\",3\r\n", ReplyKind::Ok, "OK"},
    {"\r\n^RSSI: 12\r\n\r\nOK\r\n", ReplyKind::Ok, "OK"},
    {"+CPBR: 1,\"1\",129,\"41\"\r\n\r\nERROR\r\n\r\n+CMTI: \"SM\",1\r\n", ReplyKind::Error, "ERROR", {}, 1},
    {"\r\n+CMGW: 4\r\n\r\nOK\r\n\r\nRING\r\n", ReplyKind::Ok, "OK", {}, 1},
    // A SIM that has just taken its PIN announces its state after the result.
    {"\r\nOK\r\n\r\n+CPIN: READY\r\n", ReplyKind::Ok, "OK"},
    {"\r\n+CPIN: SIM PIN\r\n\r\nOK\r\n", ReplyKind::Ok, "OK", {}, 1},
    {"\r\n+CPIN: READY\r\n", ReplyKind::Incomplete, "", {}, 1},
    // The last final result counts: "ERROR" in a message text is not one.
    {"+CMGL: 1,\"REC READ\",\"1\",,\r\nERROR 404\r\nERROR\r\n\r\nOK\r\n", ReplyKind::Ok, "OK", {}, 3},
    {"\0\r\nOK\r\n"s, ReplyKind::Ok, "OK", {}, 1},
    // A text line that only begins like a final result is none; a number with more after
    // it is no error number.
    {"+CMGL: 1,\"REC READ\",\"1\",,\r\nOKAY\r\n", ReplyKind::Incomplete, "", {}, 2},
    {"+CME ERROR: 3x\r\n", ReplyKind::Error, "+CME ERROR: 3x"},
};

TEST(ReplyTest, ClassifiesByTheLastFinalResult) {
  for (const auto& c : kReplies) {
    SCOPED_TRACE(c.reply);
    const Reply r = classify(c.reply);
    EXPECT_EQ(r.kind, c.kind);
    EXPECT_EQ(r.final, c.final);
    EXPECT_EQ(r.errorCode, c.code);
    EXPECT_EQ(r.lines.size(), c.lines);
  }
}

}  // namespace
}  // namespace voryx::modem
